#pragma once
// The page side of the platform layer: what GLUT, the GL layer and the services ask of
// the page's script (platform/web/page/tarmik-page.js).

enum web_event_type {
    web_event_none = 0,
    web_event_key,
    web_event_button,
    web_event_motion,
    web_event_place,
    web_event_frame,
    web_event_language
};
struct web_event {
    int type;
    int a, b; // key: code; button: button, state; motion: dx, dy; place: x, y
};

// The next queued input, false when none is waiting.
bool web_take_event(web_event *e);
// A test steps the clock itself (the page was opened with ?clock=manual).
bool web_manual_clock();
// How far such a test has stepped the clock, in ms.
double web_clock_target();
// Tells such a test that the clock has come to ms with every tick due run.
void web_clock_reached(double ms);

// Makes the canvas's WebGL context and the GL layer's shaders; false without WebGL. Done
// while the console waits for its answer, so the window's first frame does not wait for it.
bool web_prepare_canvas();
// The canvas of the window, its size and title.
void web_open_canvas(int w, int h, const char *utf8_title);
void web_resize_canvas(int w, int h);
// Shown after every frame: the page counts frames and keeps the ranking it stores.
void web_frame_shown();
// The title line goes with the frame it was drawn on.
void web_clear_overlay();
// Hides the pointer and locks it to the canvas for relative motion (or shows it again).
void web_hide_pointer(bool hide);
// Moves the game's pointer to a window point; the motion event of the jump follows.
void web_warp_pointer(int x, int y);
int web_window_width();
int web_window_height();
// The player chose another language on the page: the game's texts follow from the next frame.
void web_take_language();
// Something the page cannot do at all.
void web_fatal(const char *what);
