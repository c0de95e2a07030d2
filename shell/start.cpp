// Start-up: the console menu, the first stage, the window and the main loop.
#include <GL/freeglut.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

#include "flow/gamestate.h"
#include "flow/stage.h"
#include "shell/console.h"
#include "shell/demo.h"
#include "shell/options.h"
#include "shell/shell.h"
#include "sound/music.h"

namespace {
void arm_real_timer() {
    glutTimerFunc(100, demo_timer, 0);
}
void real_main_loop() {
    glutMainLoop();
}
} // namespace

shell_hooks hooks = {arm_real_timer, real_main_loop};

void opening() {
    console_line("********************************************");
    console_line("*                                          *");
    console_line("*               ＴＡＲＭＩＫ               *");
    console_line("*                                          *");
    console_line("********************************************");
    for (;;) {
        console_line("１：ゲームを開始する２：終了");
        std::string word;
        // End of input can never bring an answer: leave as "2" does.
        if (!(std::cin >> word)) std::exit(-1);
        demo_menu_word(word);
        if (word == "1") {
            start_notice();
            return;
        }
        if (word == "2") std::exit(-1);
    }
}

void start_notice() {
    console_line("!!!注意!!!");
    console_line("ゲームが開始するとマウスポインタが見えなくなります．");
    console_line("ゲームを途中で終了するときはEscまたはQキーを押してください．");
}

void init() {
    glClearColor(1.0f, 1.0f, 1.0f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
}

int tarmik_main(int argc, char **argv) {
    // A console that has gone (a closed pipe) only loses its lines; the game goes on.
    std::signal(SIGPIPE, SIG_IGN);
    take_options(argc, argv);
    const int refused = demo_start();
    if (refused >= 0) return refused;
    console_line("NOW LOADING…");
    music_set[0].Init(2, "bgm.mid");
    music_set[0].Play();
    // Started without a console to answer: the menu is skipped, the notice still tells.
    if (options.play)
        start_notice();
    else
        opening();
    buttaiinit();
    glutInitWindowPosition(1, 1);
    glutInitWindowSize(500, 500);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    ry = 90.0;
    glutCreateWindow(u8"ＴＡＲＭＩＫ");
    // Through the demo module, which records what each callback gets when asked to.
    glutDisplayFunc(demo_display);
    glutReshapeFunc(demo_resize);
    glutKeyboardFunc(demo_keyboard);
    glutMouseFunc(demo_mouse);
    // Queued motion merged by the platform, as the game's motion handler expects it.
    plat_passive_motion(demo_mousemove);
    hWnd = plat_find_window();
    plat_watch_window(hWnd);
    // The window manager reads its title as UTF-8.
    plat_set_title(hWnd, u8"ＴＡＲＭＩＫ");
    // The desktop matches the window to its menu entry and icon by this class.
    plat_set_class(hWnd, "tarmik", "Tarmik");
    hooks.arm_timer();
    gs.init();
    init();
    ply.y = -120.0;
    plat_warp_cursor(gw / 2, gh / 2);
    moveon = 1;
    hooks.main_loop();
    music_set[0].Term();
    return 0;
}
