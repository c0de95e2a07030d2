#pragma once
#include <cstdint>

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
// Opens the stage file and reads the ranking again, in the working folder of now.
void reopen_game_files();
void init();

// Frame.
void display();
void scene();
void drawscope();
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

// What main does after start-up; the scripted driver replaces these.
struct shell_hooks {
    void (*arm_timer)();
    void (*main_loop)();
};
extern shell_hooks hooks;
