#pragma once
// The platform layer: window, cursor, title text and sound services. The only code
// that talks to X11, GLX, fontconfig/FreeType or SDL; the game sees just these effects.
#include <cstdint>
#include <string>
#include <vector>

struct media_control;

typedef unsigned long plat_window; // native handle of the game window
struct plat_rect {
    int32_t left, top, right, bottom;
};

// Handle of the current GLUT window (call after glutCreateWindow).
plat_window plat_find_window();
// Shows a UTF-8 title to the window manager (WM_NAME and _NET_WM_NAME).
void plat_set_title(plat_window w, const char *utf8);
// Names the window's instance and class (WM_CLASS) for the desktop.
void plat_set_class(plat_window w, const char *instance, const char *klass);
// Outer rectangle of the window in screen coordinates.
plat_rect plat_window_rect(plat_window w);
// Moves the pointer to a screen point.
void plat_warp_cursor(int32_t x, int32_t y);
// Registers the passive-motion handler. Motion reaches it merged, as from a queue that keeps
// only the latest pointer position: after each warp first the point where the warp put the
// pointer (its echo), then, if the pointer has moved on, one event where it stands now; never
// a position from before the warp, and nothing while the pointer stays where it was.
void plat_passive_motion(void (*handler)(int x, int y));
// Watches the game window: its rectangle is looked up again only when it has moved or been
// resized, focus changes reach plat_confine_pointer, and the window destroyed by another
// program ends the program with status 0, as closing it does.
void plat_watch_window(plat_window w);
// Keeps the pointer inside the window while on is true and the window has the focus, and
// lets it go otherwise (the end of the program lets it go too).
void plat_confine_pointer(plat_window w, bool on);
// Hides the pointer over the game window for good.
void plat_hide_cursor();
// One line of Shift-JIS text in a 30-pixel Japanese Gothic face, black on a transparent
// background, drawn onto the window at client position (x, y) after the frame is shown.
void plat_title_text(plat_window w, int32_t x, int32_t y, const char *sjis, int32_t len);

// The sound services (SDL2_mixer): music devices and effects.
media_control *plat_media();

// For the scripted driver: cursor and window operations are recorded instead of sent.
struct plat_event {
    std::string what; // "warp", "hide", "confine", "free"
    int32_t x, y;
};
// For the scripted driver: a motion event comes while the pointer stands at window point
// (x, y); the events queued behind it are merged into it. With always set the game gets the
// point even where the pointer has not moved.
void plat_motion_event(int32_t x, int32_t y, bool always);
void plat_set_recording(bool on);
bool plat_recording();
std::vector<plat_event> &plat_recorded();
