#pragma once
// The platform layer: the window, its events and timer, the pointer, the title text, shapes
// and sound. The game sees only these effects. Each platform is one implementation of this
// header: the desktop (X11, freeglut, SDL2_mixer), the browser (platform/web/), and none at
// all for runs without a display (platform/null/). The drawing itself is OpenGL 1.1.
#include <cstdint>
#include <string>
#include <vector>

struct media_control; // platform/media.h

typedef unsigned long plat_window; // native handle of the game window
struct plat_rect {
    int32_t left, top, right, bottom;
};

// Button codes and states as the mouse callback receives them.
enum : int { plat_left_button = 0, plat_middle_button = 1, plat_right_button = 2 };
enum : int { plat_down = 0, plat_up = 1 };

struct plat_window_setup {
    int x, y;                     // client area's position on the screen
    int width, height;            // client size
    const char *title;            // UTF-8
    const char *instance, *klass; // the names the desktop matches the window by
};

struct plat_callbacks {
    void (*display)();
    void (*reshape)(int w, int h);
    void (*keyboard)(unsigned char key, int x, int y);
    void (*mouse)(int button, int state, int x, int y);
    // Pointer motion with no button held reaches it merged, as from a queue that keeps only
    // the latest position: after each warp first the point where the warp put the pointer (its
    // echo), then, if the pointer has moved on, one event where it stands now; never a position
    // from before the warp, and nothing while the pointer stays where it was.
    void (*passive_motion)(int x, int y);
};

// How the window shows the game's frames. Plain (the default): the window is the frame, as it
// always was, and its reshapes reach the game. Scaled: the game draws into a frame off screen
// and keeps seeing it as its window (its size is the one the game was last given, see
// plat_frame_size); the window shows it scaled, centred on a dark border, and the window's own
// resizes never reach the game. The pointer's motion then reaches the game in frame pixels,
// times the sensitivity. F11 and Alt+Enter toggle fullscreen; from a plain window they turn the
// scaled frame on, at the size the game has.
struct plat_frame_setup {
    bool scaled = false;
    int scale = 1;            // the window's first size in frame pixels: N x N each; 0: auto
    bool fullscreen = false;  // from the start
    bool linear = false;      // fill the window, filtered; otherwise whole N x N blocks
    double sensitivity = 1.0; // frame pixels of motion per frame pixel the pointer travels
};
// Asked before the window opens.
void plat_set_frame(const plat_frame_setup &setup);
// The game's own reshape ran with w x h: a scaled frame takes that size.
void plat_frame_size(int w, int h);
// True while the window shows a scaled frame.
bool plat_frame_scaled();
// Volume of the music and of the effects, in percent of their full level.
void plat_set_volumes(int music, int effects);

// Whether a window could open, asked before anything else happens; why not in one line.
// argc/argv may name the display (-display NAME).
bool plat_window_possible(int argc, char **argv, std::string &why);
// Opens the game window (RGB, double-buffered, with a depth buffer) and registers the
// callbacks; the window system's own options are taken out of argc/argv. Also watches the
// window: a window destroyed by another program ends the program with status 0, as closing
// it does.
plat_window plat_open_window(int &argc, char **argv, const plat_window_setup &setup,
                             const plat_callbacks &cb);
// No window at all: a driver calls the callbacks itself (a run without a display). The merged
// motion is still set up, for plat_motion_event.
plat_window plat_driven_window(const plat_callbacks &cb);
// True once a window is open (drawing has somewhere to go).
bool plat_window_open();
// The timer callback, once, ms milliseconds from now.
void plat_arm_timer(unsigned ms, void (*cb)(int), int value);
// Runs the window system's loop; returns only if the window system ends it.
void plat_main_loop();
// One round of the loop: delivers what has come, runs due timers, then returns.
void plat_pump_events();
// Asks for a frame (the display callback) at the next round of the loop.
void plat_post_redisplay();
void plat_swap_buffers();
// Asks the window system to resize the window; the reshape callback follows when it has.
void plat_reshape_window(int w, int h);
// The client size of the window now; 0 x 0 without a window.
void plat_window_size(int &w, int &h);
// The largest window the screen holds; 0 x 0 without a display.
void plat_screen_size(int &w, int &h);
// What the window shows now, title line included: RGB rows, top row first.
bool plat_read_window(std::vector<uint8_t> &rgb, int &w, int &h);

// Solid shapes around the origin, with normals: a sphere of n slices and stacks, a cube.
void plat_solid_sphere(double radius, int slices, int stacks);
void plat_solid_cube(double size);

// Outer rectangle of the window in screen coordinates.
plat_rect plat_window_rect(plat_window w);
// Moves the pointer to a screen point.
void plat_warp_cursor(int32_t x, int32_t y);
// Keeps the pointer inside the window while on is true and the window has the focus, and
// lets it go otherwise (the end of the program lets it go too).
void plat_confine_pointer(plat_window w, bool on);
// Hides the pointer over the game window for good.
void plat_hide_cursor();
// One line of Shift-JIS text in a 30-pixel Japanese Gothic face, black on a transparent
// background, drawn onto the window at client position (x, y) after the frame is shown.
void plat_title_text(plat_window w, int32_t x, int32_t y, const char *sjis, int32_t len);

// The sound services: music devices and effects.
media_control *plat_media();

// A driven pointer: a script, a demo or a test moves it instead of a player. The cursor and
// window operations above are then noted instead of carried out (platform/driven.h).
struct plat_event {
    std::string what; // "warp", "hide", "confine", "free"
    int32_t x, y;
};
void plat_set_recording(bool on);
bool plat_recording();
// The latest noted operations (a bounded number: whoever follows them takes them as they come).
std::vector<plat_event> &plat_recorded();
// A motion event comes while the pointer stands at window point (x, y); the events queued
// behind it are merged into it. With always set the game gets the point even where the
// pointer has not moved.
void plat_motion_event(int32_t x, int32_t y, bool always);

// HTTP for the shared ranking: a POST sent in the background, never holding up a frame. Its
// answer (status 0 when no answer came, with why in body) is taken later with plat_http_take,
// on the game's own thread. False when this platform has no network.
bool plat_http_post(const std::string &url, const std::string &content_type,
                    const std::string &body, long id);
struct plat_http_answer {
    long id;
    int status;
    std::string body;
};
// The answers that have come since the last call.
std::vector<plat_http_answer> plat_http_take();
// A game has entered its result; its own demo is ready to share (the page then offers to send
// it to the shared ranking that serves it). The desktop sends it itself, when set up to.
void plat_game_finished(const std::string &demo);
