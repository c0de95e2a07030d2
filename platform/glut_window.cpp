// The window, its loop and the solid shapes on GLUT: shared by the desktop and the page.
#include "platform/glut_window.h"

#include <GL/freeglut.h>

namespace {
bool window_open = false;
}

plat_window plat_open_window(int &argc, char **argv, const plat_window_setup &setup,
                             const plat_callbacks &cb) {
    glutInitWindowPosition(setup.x, setup.y);
    glutInitWindowSize(setup.width, setup.height);
    glutInit(&argc, argv);
    int w = setup.width, h = setup.height;
    glut_window_size(w, h);
    if (w != setup.width || h != setup.height) glutInitWindowSize(w, h);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow(setup.title);
    glutDisplayFunc(cb.display);
    if (cb.reshape) glutReshapeFunc(cb.reshape);
    if (cb.keyboard) glutKeyboardFunc(cb.keyboard);
    if (cb.mouse) glutMouseFunc(cb.mouse);
    window_open = true;
    return glut_window_opened(setup, cb);
}

bool plat_window_open() {
    return window_open;
}

void plat_arm_timer(unsigned ms, void (*cb)(int), int value) {
    glutTimerFunc(ms, cb, value);
}

void plat_main_loop() {
    glutMainLoop();
}

void plat_pump_events() {
    if (window_open) glutMainLoopEvent();
}

void plat_post_redisplay() {
    if (window_open) glutPostRedisplay();
}

void plat_swap_buffers() {
    if (window_open) glut_swap();
}

// A scaled frame's window is the player's: the frame follows the game's own size instead.
void plat_reshape_window(int w, int h) {
    if (window_open && !plat_frame_scaled()) glutReshapeWindow(w, h);
}

void plat_window_size(int &w, int &h) {
    w = window_open ? glutGet(GLUT_WINDOW_WIDTH) : 0;
    h = window_open ? glutGet(GLUT_WINDOW_HEIGHT) : 0;
}

void plat_solid_sphere(double radius, int slices, int stacks) {
    glutSolidSphere(radius, slices, stacks);
}

void plat_solid_cube(double size) {
    glutSolidCube(size);
}
