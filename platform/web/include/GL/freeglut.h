#pragma once
// The GLUT calls the game makes, provided in the page by platform/web/glut.cpp.
#include <GL/gl.h>
#include <GL/gl.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GLUT_RGB 0x0000
#define GLUT_RGBA 0x0000
#define GLUT_DOUBLE 0x0002
#define GLUT_DEPTH 0x0010

#define GLUT_LEFT_BUTTON 0x0000
#define GLUT_MIDDLE_BUTTON 0x0001
#define GLUT_RIGHT_BUTTON 0x0002
#define GLUT_DOWN 0x0000
#define GLUT_UP 0x0001

#define GLUT_CURSOR_INHERIT 0x0064
#define GLUT_CURSOR_NONE 0x0065

#define GLUT_WINDOW_WIDTH 0x0066
#define GLUT_WINDOW_HEIGHT 0x0067
#define GLUT_ELAPSED_TIME 0x02BC

void glutInit(int *argcp, char **argv);
void glutInitWindowPosition(int x, int y);
void glutInitWindowSize(int width, int height);
void glutInitDisplayMode(unsigned int mode);
int glutCreateWindow(const char *title);
void glutDisplayFunc(void (*callback)(void));
void glutReshapeFunc(void (*callback)(int, int));
void glutKeyboardFunc(void (*callback)(unsigned char, int, int));
void glutMouseFunc(void (*callback)(int, int, int, int));
void glutMotionFunc(void (*callback)(int, int));
void glutPassiveMotionFunc(void (*callback)(int, int));
void glutTimerFunc(unsigned int msecs, void (*callback)(int), int value);
void glutMainLoop(void);
void glutMainLoopEvent(void);
void glutPostRedisplay(void);
void glutSwapBuffers(void);
void glutSetCursor(int cursor);
void glutReshapeWindow(int width, int height);
int glutGet(GLenum query);
void glutSolidSphere(double radius, GLint slices, GLint stacks);
void glutSolidCube(double size);

#ifdef __cplusplus
}
#endif
