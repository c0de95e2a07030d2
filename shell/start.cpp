// Start-up: the console menu, the first stage, the window and the main loop.
#include <GL/gl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "base/console.h"
#include "base/quit.h"
#include "flow/gamestate.h"
#include "flow/stage.h"
#include "shell/demo.h"
#include "shell/messages.h"
#include "shell/options.h"
#include "shell/settings.h"
#include "shell/submit.h"
#include "shell/shell.h"
#include "sound/music.h"

namespace {

// The game window: client area at (1, 1), 500 x 500, the title as the window manager shows it
// (UTF-8), and the class the desktop matches it to its menu entry and icon by.
plat_window open_real_window(int &argc, char **argv, const plat_callbacks &cb) {
    const plat_window_setup setup{1, 1, 500, 500, u8"ＴＡＲＭＩＫ", "tarmik", "Tarmik"};
    plat_set_frame(frame_setup(settings));
    return plat_open_window(argc, argv, setup, cb);
}
void arm_real_timer() {
    plat_arm_timer(100, demo_timer, 0);
}
void real_main_loop() {
    plat_main_loop();
}

} // namespace

shell_hooks hooks = {open_real_window, arm_real_timer, real_main_loop};

void opening() {
    console_line("********************************************");
    console_line("*                                          *");
    // TRANSLATORS: 44 columns, as the lines around it.
    console_say("*               ＴＡＲＭＩＫ               *");
    console_line("*                                          *");
    console_line("********************************************");
    for (;;) {
        console_say("１：ゲームを開始する２：終了");
        std::string word;
        // End of input can never bring an answer: leave as "2" does.
        if (!(std::cin >> word)) quit(-1);
        demo_menu_word(word);
        if (word == "1") {
            start_notice();
            return;
        }
        if (word == "2") quit(-1);
    }
}

// --lang (which the settings take in too, but a driver reads no settings), the settings'
// language, else the environment's.
language chosen_language() {
    language l = language_from_environment();
    if (!settings.language.empty()) find_language(settings.language, l);
    if (!options.lang.empty()) find_language(options.lang, l);
    return l;
}

void start_notice() {
    // From here on the window is where the game is: its lines show there too, when asked.
    if (settings.messages) window_messages_start();
    console_say("!!!注意!!!");
    console_say("ゲームが開始するとマウスポインタが見えなくなります．");
    console_say("ゲームを途中で終了するときはEscまたはQキーを押してください．");
}

void init() {
    if (!plat_window_open()) return;
    glClearColor(1.0f, 1.0f, 1.0f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
}

void start_world(int &argc, char **argv) {
    buttaiinit();
    ry = 90.0;
    // Through the demo module, which records what each callback gets when asked to; queued
    // motion reaches the game merged, as its motion handler expects it.
    const plat_callbacks cb{demo_display, demo_resize, demo_keyboard, demo_mouse, demo_mousemove};
    hWnd = hooks.open_window(argc, argv, cb);
    hooks.arm_timer();
    gs.init();
    init();
    ply.y = -120.0;
    plat_warp_cursor(gw / 2, gh / 2);
    moveon = 1;
}

int tarmik_main(int argc, char **argv) {
    // A console that has gone (a closed pipe) only loses its lines; the game goes on.
    std::signal(SIGPIPE, SIG_IGN);
    take_options(argc, argv);
    const bool real_window = hooks.open_window == open_real_window;
    // The player's settings; a driver keeps to the ones it was given.
    std::string why;
    if (real_window && !load_settings(why)) {
        std::fprintf(stderr, "tarmik: %s\n", why.c_str());
        return 2;
    }
    set_game_language(chosen_language());
    // Games go to a shared ranking only when the settings name both where and under whom.
    submit_configure(settings.server, settings.player);
    if (options.show_settings) {
        console_write(settings_report());
        return 0;
    }
    // Without a display there is nothing to play on: said before anything else is asked.
    if (real_window && !plat_window_possible(argc, argv, why)) {
        std::fprintf(stderr, "tarmik: %s\n", why.c_str());
        return 1;
    }
    const int refused = demo_start();
    if (refused >= 0) return refused;
    if (settings.music_volume != 100 || settings.effects_volume != 100)
        plat_set_volumes(settings.music_volume, settings.effects_volume);
    console_say("NOW LOADING…");
    music_set[0].Init(2, "bgm.mid");
    music_set[0].Play();
    // Started without a console to answer: the menu is skipped, the notice still tells.
    if (options.play)
        start_notice();
    else
        opening();
    start_world(argc, argv);
    hooks.main_loop();
    music_set[0].Term();
    return 0;
}
