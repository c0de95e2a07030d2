// GLUT in the page: the canvas as the window, its callbacks fed from the page's input queue,
// the timers and the main loop. The loop sleeps between rounds (through Asyncify), so the
// browser runs its own events meanwhile and the game's code keeps its plain control flow.
#include "platform/web/web.h"
#include "platform/web/webgl.h"

#include <GL/freeglut.h>
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

int init_w = 300, init_h = 300;
int win_w = 0, win_h = 0;
bool created = false;
bool redisplay = false;
bool reshape_pending = false;
int buttons_down = 0;

void (*display_cb)() = nullptr;
void (*reshape_cb)(int, int) = nullptr;
void (*keyboard_cb)(unsigned char, int, int) = nullptr;
void (*mouse_cb)(int, int, int, int) = nullptr;
void (*motion_cb)(int, int) = nullptr;
void (*passive_cb)(int, int) = nullptr;

struct timer_entry {
    double due;
    unsigned long order;
    void (*cb)(int);
    int value;
};
std::vector<timer_entry> timers;
unsigned long timer_order = 0;
double clock_now = 0; // the game's clock in ms: real, or stepped by a test

// The pointer in window coordinates: moved by relative motion, set by warps.
int pointer_x = 0, pointer_y = 0;
bool echo_pending = false;

double now() {
    return web_manual_clock() ? clock_now : emscripten_get_now();
}

void motion_at(int x, int y) {
    if (buttons_down) {
        if (motion_cb) motion_cb(x, y);
    } else if (passive_cb) {
        passive_cb(x, y);
    }
}

// A warp produces one motion event of its own at the point it jumped to, as X does; the
// platform's motion merge turns it into the warp's echo.
void after_callback() {
    for (int guard = 0; echo_pending && guard < 8; ++guard) {
        echo_pending = false;
        motion_at(pointer_x, pointer_y);
    }
}

void show_frame() {
    if (!redisplay || !display_cb) return;
    redisplay = false;
    display_cb();
    after_callback();
    web_frame_shown();
}

void do_reshape() {
    reshape_pending = false;
    if (reshape_cb)
        reshape_cb(win_w, win_h);
    else
        glViewport(0, 0, win_w, win_h);
    after_callback();
    redisplay = true;
}

void dispatch_input() {
    web_event e;
    while (web_take_event(&e)) {
        switch (e.type) {
        case web_event_key:
            if (keyboard_cb) keyboard_cb(static_cast<unsigned char>(e.a), pointer_x, pointer_y);
            break;
        case web_event_button:
            if (e.b == GLUT_DOWN)
                buttons_down |= 1 << e.a;
            else
                buttons_down &= ~(1 << e.a);
            if (mouse_cb) mouse_cb(e.a, e.b, pointer_x, pointer_y);
            break;
        case web_event_motion:
            pointer_x += e.a;
            pointer_y += e.b;
            motion_at(pointer_x, pointer_y);
            break;
        case web_event_place:
            // Where the pointer first shows up over the canvas, before any relative motion.
            pointer_x = e.a;
            pointer_y = e.b;
            break;
        case web_event_frame:
            redisplay = true;
            break;
        case web_event_language:
            web_take_language();
            break;
        default:
            break;
        }
        after_callback();
    }
}

// The earliest timer, or timers.end().
std::vector<timer_entry>::iterator next_timer() {
    auto best = timers.end();
    for (auto it = timers.begin(); it != timers.end(); ++it)
        if (best == timers.end() || it->due < best->due ||
            (it->due == best->due && it->order < best->order))
            best = it;
    return best;
}

void fire(std::vector<timer_entry>::iterator it) {
    const timer_entry t = *it;
    timers.erase(it);
    t.cb(t.value);
    after_callback();
}

void run_timers() {
    if (web_manual_clock()) {
        // A test steps the clock: every tick due up to its target runs, each with its frame.
        // Fifty at most a round, so the page stays responsive through a long stretch.
        const double target = web_clock_target();
        int n = 0;
        for (auto it = next_timer(); it != timers.end() && it->due <= target; it = next_timer()) {
            if (n++ == 50) return;
            if (it->due > clock_now) clock_now = it->due;
            fire(it);
            show_frame();
        }
        if (target > clock_now) clock_now = target;
        web_clock_reached(clock_now);
        return;
    }
    const double t = now();
    for (auto it = next_timer(); it != timers.end() && it->due <= t; it = next_timer())
        fire(it);
}

bool context_ready = false;

void one_round() {
    if (reshape_pending) do_reshape();
    dispatch_input();
    run_timers();
    show_frame();
}

} // namespace

bool web_prepare_canvas() {
    if (context_ready) return true;
    EmscriptenWebGLContextAttributes attr;
    emscripten_webgl_init_context_attributes(&attr);
    attr.alpha = false;
    attr.depth = true;
    attr.stencil = false;
    attr.antialias = false;
    attr.premultipliedAlpha = false;
    // The frame stays on the canvas between frames, for the title line and for screenshots.
    attr.preserveDrawingBuffer = true;
    attr.majorVersion = 1;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE ctx = emscripten_webgl_create_context("#canvas", &attr);
    if (ctx <= 0) return false;
    emscripten_webgl_make_context_current(ctx);
    web_gl_start();
    context_ready = true;
    return true;
}

void web_warp_pointer(int x, int y) {
    pointer_x = x;
    pointer_y = y;
    echo_pending = true;
}

int web_window_width() {
    return win_w;
}
int web_window_height() {
    return win_h;
}

extern "C" {

void glutInit(int *, char **) {}
void glutInitWindowPosition(int, int) {}
void glutInitWindowSize(int width, int height) {
    if (width > 0 && height > 0) {
        init_w = width;
        init_h = height;
    }
}
void glutInitDisplayMode(unsigned int) {}

int glutCreateWindow(const char *title) {
    if (created) return 1;
    win_w = init_w;
    win_h = init_h;
    web_open_canvas(win_w, win_h, title);
    if (!web_prepare_canvas()) {
        web_fatal("WebGL");
        std::exit(1);
    }
    created = true;
    reshape_pending = true;
    return 1;
}

void glutDisplayFunc(void (*callback)()) {
    display_cb = callback;
}
void glutReshapeFunc(void (*callback)(int, int)) {
    reshape_cb = callback;
}
void glutKeyboardFunc(void (*callback)(unsigned char, int, int)) {
    keyboard_cb = callback;
}
void glutMouseFunc(void (*callback)(int, int, int, int)) {
    mouse_cb = callback;
}
void glutMotionFunc(void (*callback)(int, int)) {
    motion_cb = callback;
}
void glutPassiveMotionFunc(void (*callback)(int, int)) {
    passive_cb = callback;
}

void glutTimerFunc(unsigned int msecs, void (*callback)(int), int value) {
    if (!callback) return;
    timers.push_back({now() + msecs, timer_order++, callback, value});
}

void glutPostRedisplay() {
    redisplay = true;
}

void glutSwapBuffers() {
    // The canvas shows what was drawn once control goes back to the browser; the title
    // line of the last frame goes with it.
    glFlush();
    web_clear_overlay();
}

void glutSetCursor(int cursor) {
    web_hide_pointer(cursor == GLUT_CURSOR_NONE);
}

void glutReshapeWindow(int width, int height) {
    if (width <= 0 || height <= 0) return;
    win_w = width;
    win_h = height;
    web_resize_canvas(width, height);
    reshape_pending = true;
}

int glutGet(GLenum query) {
    switch (query) {
    case GLUT_WINDOW_WIDTH:
        return win_w;
    case GLUT_WINDOW_HEIGHT:
        return win_h;
    case GLUT_ELAPSED_TIME:
        return static_cast<int>(now());
    default:
        return 0;
    }
}

// A loop of the game's own (a demo's playback) calls this between its steps: the page's
// input comes and its frames show only while the browser has its turn, so it gets one here.
void glutMainLoopEvent() {
    one_round();
    emscripten_sleep(0);
}

void glutMainLoop() {
    after_callback();
    for (;;) {
        one_round();
        double wait = 10;
        auto it = next_timer();
        if (!web_manual_clock() && it != timers.end()) {
            const double left = it->due - now();
            if (left < wait) wait = left > 1 ? left : 1;
        }
        emscripten_sleep(static_cast<unsigned int>(wait));
    }
}

} // extern "C"
