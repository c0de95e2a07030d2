// The platform services in the page: the window as a canvas, the pointer as relative motion
// under Pointer Lock, the title line on an overlay, and the console's input from the panel.
#include "base/lang.h"
#include "base/terminal.h"
#include "platform/driven.h"
#include "platform/glut_window.h"
#include "platform/motion.h"
#include "platform/platform.h"
#include "platform/web/web.h"

#include <GL/freeglut.h>
#include <emscripten.h>
#include <sys/stat.h>

#include <cstring>
#include <iostream>
#include <streambuf>

// clang-format off
EM_JS(int, js_take_event, (int *out), {
    const e = tarmik.takeEvent();
    if (!e) return 0;
    HEAP32[out >> 2] = e[1] | 0;
    HEAP32[(out >> 2) + 1] = e[2] | 0;
    return e[0];
});
EM_JS(int, js_manual_clock, (), { return tarmik.manualClock ? 1 : 0; });
EM_JS(double, js_clock_target, (), { return tarmik.clockTarget; });
EM_JS(void, js_clock_reached, (double ms), { tarmik.clockNow = ms; });
EM_JS(void, js_open_canvas, (int w, int h, const char *title), {
    tarmik.openCanvas(w, h, UTF8ToString(title));
});
EM_JS(void, js_resize_canvas, (int w, int h), { tarmik.resizeCanvas(w, h); });
EM_JS(void, js_frame_shown, (), { tarmik.frameShown(); });
EM_JS(void, js_clear_overlay, (), { tarmik.clearOverlay(); });
EM_JS(void, js_hide_pointer, (int hide), { tarmik.hidePointer(!!hide); });
EM_JS(void, js_confine_pointer, (int on), { tarmik.confinePointer(!!on); });
EM_JS(void, js_fatal, (const char *what), { tarmik.fatal(UTF8ToString(what)); });
EM_JS(void, js_set_title, (const char *utf8), { document.title = UTF8ToString(utf8); });
EM_JS(void, js_game_finished, (const char *text, int len), {
    tarmik.gameFinished(UTF8ToString(text, len));
});
EM_JS(void, js_title_text, (int x, int y, const char *sjis, int len), {
    tarmik.titleText(x, y, HEAPU8.slice(sjis, sjis + len));
});
EM_JS(void, js_language, (char *out, int size), { stringToUTF8(tarmik.language, out, size); });
EM_JS(int, js_take_input, (char *buf, int size), {
    return tarmik.takeInput(HEAPU8.subarray(buf, buf + size));
});
// clang-format on

bool web_take_event(web_event *e) {
    int ab[2] = {0, 0};
    e->type = js_take_event(ab);
    e->a = ab[0];
    e->b = ab[1];
    return e->type != web_event_none;
}
bool web_manual_clock() {
    return js_manual_clock() != 0;
}
double web_clock_target() {
    return js_clock_target();
}
void web_clock_reached(double ms) {
    js_clock_reached(ms);
}
void web_open_canvas(int w, int h, const char *utf8_title) {
    js_open_canvas(w, h, utf8_title);
}
void web_resize_canvas(int w, int h) {
    js_resize_canvas(w, h);
}
void web_frame_shown() {
    js_frame_shown();
}
void web_clear_overlay() {
    js_clear_overlay();
}
void web_hide_pointer(bool hide) {
    js_hide_pointer(hide ? 1 : 0);
}
void web_take_language() {
    char code[16];
    js_language(code, sizeof code);
    language l;
    if (find_language(code, l)) set_game_language(l);
}
void web_fatal(const char *what) {
    js_fatal(what);
}

namespace {

bool recording = false;
motion_merge merge;
driven_pointer driven(merge);

void passive_motion(int x, int y) {
    merge.pointer_at(x, y);
}

// The console's input: what the player types or clicks in the panel. A read waits for it,
// giving the browser the time meanwhile.
class panel_input : public std::streambuf {
  protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        for (;;) {
            const int n = js_take_input(buf_, sizeof buf_);
            if (n > 0) {
                setg(buf_, buf_, buf_ + n);
                return traits_type::to_int_type(*gptr());
            }
            if (n < 0) return traits_type::eof();
            web_prepare_canvas();
            emscripten_sleep(20);
        }
    }

  private:
    char buf_[256];
};

panel_input panel;

struct input_from_panel {
    input_from_panel() {
        std::cin.rdbuf(&panel);
        // The page's file system starts with a mask that leaves new files unreadable; the
        // ranking is rewritten with the mode a desktop session gives it.
        umask(022);
    }
} install_panel_input;

} // namespace

// The page's standard output is the panel, which shows Shift-JIS as it is: no terminal ever
// needs the bytes converted.
// The page has no command line to print settings on: only what is ASCII is kept.
std::string utf8_to_console(const std::string &utf8) {
    std::string out;
    for (char c : utf8)
        if (static_cast<unsigned char>(c) < 0x80) out += c;
    return out;
}

std::string terminal_text(const std::string &sjis) {
    return sjis;
}
bool terminal_shows_japanese() {
    return true;
}

void plat_set_recording(bool on) {
    recording = on;
}
bool plat_recording() {
    return recording;
}
std::vector<plat_event> &plat_recorded() {
    return driven.events();
}
void plat_motion_event(int32_t x, int32_t y, bool always) {
    merge.pointer_at(x, y, always);
}

plat_window plat_driven_window(const plat_callbacks &cb) {
    merge.set_handler(cb.passive_motion);
    return 1;
}

// The canvas is the whole window, and it lives as long as the page; a page has no window
// class, its own title names it.
plat_window glut_window_opened(const plat_window_setup &setup, const plat_callbacks &cb) {
    merge.set_handler(cb.passive_motion);
    glutPassiveMotionFunc(passive_motion);
    js_set_title(setup.title);
    return 1;
}

// The canvas is the page's: it keeps the size the game asks for, and the frame is the canvas.
void glut_window_size(int &, int &) {}
void glut_swap() {
    glutSwapBuffers();
}
void plat_set_frame(const plat_frame_setup &) {}
void plat_frame_size(int, int) {}
bool plat_frame_scaled() {
    return false;
}
// The page's sound keeps its own level.
void plat_set_volumes(int, int) {}

bool plat_window_possible(int, char **, std::string &) {
    return true;
}

// Its own coordinates serve as the screen's.
void plat_screen_size(int &w, int &h) {
    w = web_window_width();
    h = web_window_height();
}

bool plat_read_window(std::vector<uint8_t> &, int &, int &) {
    return false;
}

plat_rect plat_window_rect(plat_window) {
    return {0, 0, web_window_width(), web_window_height()};
}

void plat_warp_cursor(int32_t x, int32_t y) {
    if (recording) {
        driven.warp(x, y);
        return;
    }
    web_warp_pointer(x, y);
    merge.warped(x, y);
}

// While a game is played the pointer is locked to the canvas; the page asks for the lock on
// the player's gesture if the browser refused it here.
void plat_confine_pointer(plat_window, bool on) {
    static int confined = -1;
    if (recording) {
        driven.confine(on);
        return;
    }
    if (on == (confined == 1)) return;
    confined = on ? 1 : 0;
    js_confine_pointer(on ? 1 : 0);
}

void plat_hide_cursor() {
    if (recording) {
        driven.hide();
        return;
    }
    web_hide_pointer(true);
}

void plat_title_text(plat_window, int32_t x, int32_t y, const char *sjis, int32_t len) {
    if (!sjis || len <= 0) return;
    js_title_text(x, y, sjis, len);
}

// The page offers the game to the shared ranking that serves it, from its own panel.
void plat_game_finished(const std::string &demo) {
    js_game_finished(demo.c_str(), static_cast<int>(demo.size()));
}

// The page sends games to a shared ranking itself, from its own panel.
bool plat_http_post(const std::string &, const std::string &, const std::string &, long) {
    return false;
}

std::vector<plat_http_answer> plat_http_take() {
    return {};
}
