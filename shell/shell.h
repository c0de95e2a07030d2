#pragma once
#include <cstdint>

#include "base/lang.h"
#include "platform/platform.h"

// The view translation: minus the eye point.
struct PLAYER {
    double x, y, z;
};

// The key waiting for the next frame.
enum _Key : int32_t { KEY_N = 0, KEY_Y, KEY_A, KEY_S, KEY_D, KEY_W, KEY_Z, KEY_X, KEY_R, KEY_NONE };

extern PLAYER ply;
extern double rx, ry;
extern int32_t gw, gh;
extern int32_t xo, yo;
extern int32_t moveon;
extern _Key key_press;
extern plat_window hWnd;
extern plat_rect winsize;

// Start-up (main's sequence) and the console menu.
int tarmik_main(int argc, char **argv);
void opening();
// The three lines after "1" at the menu.
void start_notice();
// The game's language: --lang, else the settings' language, else what the environment asks for.
language chosen_language();
// What start-up does after the menu: the first stage, the window, the timer, the game state,
// the fixed GL state and the view.
void start_world(int &argc, char **argv);
void init();

// Frame: first its rules (the pending key, the result of a finished game and its one entry
// into the ranking), then the drawing, which changes no game state. Without a window only the
// rules run.
void display();
void frame_rules();
void scene();
void drawscope();
// The window's new size; the projection follows where there is a window.
void resize(int w, int h);

// Tick.
void timer(int value);
// One tick without re-arming, for drivers that own the clock.
void timer_body();

// Input.
void keyboard(unsigned char key, int x, int y);
void mouse(int button, int state, int x, int y);
void mousemove(int x, int y);

// The restart sequence: a new game from the first stage.
void restart_game();

// What main does to open the window and after start-up; the scripted driver and a demo's
// playback replace these.
struct shell_hooks {
    // Opens the window with the callbacks; a driver without a display opens none.
    plat_window (*open_window)(int &argc, char **argv, const plat_callbacks &cb);
    void (*arm_timer)();
    void (*main_loop)();
};
extern shell_hooks hooks;
