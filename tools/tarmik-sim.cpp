// tarmik-sim SCRIPT: runs the game exactly as tarmik does in the working directory, but
// instead of the 100 ms timer and a player it follows SCRIPT, one command a line:
//   tick [N]           N timer ticks (without re-arming), each followed by one frame
//   timer [N]          N timer ticks without frames
//   frame              one extra frame
//   key C | key esc    the keyboard callback
//   click [left|middle|right] [down|up]
//   move DX DY         the player moves the mouse; the warp's echo follows as X delivers it
//   burst DX DY [DX DY ...]  moves made back to back, queued before the game sees any of
//                      them or the echoes of its warps (as a fast mouse gives them)
//   motion X Y         the motion callback alone, at window point X Y (no echo added)
//   resize W H         the window is resized to W x H (the reshape callback)
//   reshape W H        the reshape callback alone
//   menu WORD          a menu answer (then the menu reads these, not standard input)
//   expect NAME=VALUE ...   stops with status 1 unless the state holds these values
//   png FILE           the window as it shows now (title line included), as PNG
//   state | objects    game state or object lines on standard error
// A recorded demo (shell/demo.h) is such a script; while one plays, nothing that the window
// system delivers reaches the game. Standard output gets exactly the game's console bytes;
// cursor and window operations are recorded instead of moving the real pointer.
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "flow/gamestate.h"
#include "platform/platform.h"
#include "shell/demo.h"
#include "shell/shell.h"
#include "world/buttai.h"

namespace {

std::string script_path;
demo_script script;
// Where the pointer is on the screen, as the game last put it or the player moved it.
int cursor_x = 0, cursor_y = 0;
size_t warps_seen = 0;
// The client area stands at the position the game asks for; no window manager moves it.
const int client_left = 1, client_top = 1;

[[noreturn]] void die(const std::string &msg) {
    std::fprintf(stderr, "tarmik-sim: %s\n", msg.c_str());
    std::exit(2);
}

// Follows the game's warps so the next motion starts where the pointer really is.
bool take_warps() {
    bool warped = false;
    auto &ev = plat_recorded();
    for (; warps_seen < ev.size(); ++warps_seen) {
        if (ev[warps_seen].what != "warp") continue;
        cursor_x = ev[warps_seen].x;
        cursor_y = ev[warps_seen].y;
        warped = true;
    }
    // What has been followed is not needed again; a long script would only pile it up.
    ev.clear();
    warps_seen = 0;
    return warped;
}

// The motion event of the game's own warp comes back at the warped point; the pointer then
// stands where a warp made while handling it put it.
void take_echo() {
    if (take_warps()) plat_motion_event(cursor_x - client_left, cursor_y - client_top, false);
    take_warps();
}

void pump(const std::chrono::milliseconds &limit, bool (*done)()) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int want_w = 500, want_h = 500;
bool reshaped() {
    return gw == want_w && gh == want_h;
}

bool window_up() {
    return demo_live_reshapes() > 0;
}

bool write_png(const std::string &path) {
    glFinish();
    Display *d = glXGetCurrentDisplay();
    XSync(d, False);
    const int w = glutGet(GLUT_WINDOW_WIDTH), h = glutGet(GLUT_WINDOW_HEIGHT);
    XImage *img = XGetImage(d, glXGetCurrentDrawable(), 0, 0, w, h, AllPlanes, ZPixmap);
    if (!img) return false;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        XDestroyImage(img);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> row(static_cast<size_t>(w) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        XDestroyImage(img);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned long p = XGetPixel(img, x, y);
            row[x * 3] = (p >> 16) & 0xFF;
            row[x * 3 + 1] = (p >> 8) & 0xFF;
            row[x * 3 + 2] = p & 0xFF;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    XDestroyImage(img);
    return true;
}

void print_state(FILE *out = stderr) {
    for (const auto &f : demo_state())
        std::fprintf(out, "%s=%s\n", f.first.c_str(), f.second.c_str());
}

const char *type_of(buttai *b) {
    if (dynamic_cast<hito *>(b)) return "hito";
    if (dynamic_cast<mato *>(b)) return "mato";
    if (dynamic_cast<building *>(b)) return "building";
    if (dynamic_cast<tama *>(b)) return "tama";
    return "buttai";
}

void print_objects(FILE *out = stderr) {
    const std::pair<const char *, buttai_list *> lists[] = {
        {"buttai_set", &buttai_set}, {"tama_set", &tama_set}, {"building_set", &building_set}};
    for (const auto &l : lists)
        for (buttai *b : *l.second)
            std::fprintf(out, "%s %s %.17g %.17g %.17g %.17g\n", l.first, type_of(b), b->life,
                         b->pos.x, b->pos.y, b->pos.z);
}

void run_command(const std::string &line, int lineno) {
    std::istringstream in(line);
    std::string cmd;
    if (!(in >> cmd)) return;
    auto bad = [&]() {
        die(script_path + ":" + std::to_string(lineno) + ": cannot read: " + line);
    };
    if (cmd == "move" || cmd == "burst") {
        std::vector<int> d;
        for (int v; in >> v;)
            d.push_back(v);
        if (!in.eof() || d.empty() || d.size() % 2 || (cmd == "move" && d.size() != 2)) bad();
        for (size_t i = 0; i < d.size(); i += 2) {
            cursor_x += d[i];
            cursor_y += d[i + 1];
        }
        // The first queued event finds the pointer at the end of its travel; the platform
        // merges the rest into it. A single move reaches the game even without travel.
        plat_motion_event(cursor_x - client_left, cursor_y - client_top, cmd == "move");
        take_echo();
    } else if (cmd == "resize") {
        if (!(in >> want_w >> want_h) || want_w <= 0 || want_h <= 0) bad();
        glutReshapeWindow(want_w, want_h);
        pump(std::chrono::milliseconds(3000), reshaped);
        if (!reshaped()) resize(want_w, want_h);
        take_echo();
    } else if (cmd == "png") {
        std::string path;
        if (!(in >> path)) bad();
        if (!write_png(path)) die("cannot write " + path);
    } else if (cmd == "state") {
        print_state();
    } else if (cmd == "objects") {
        print_objects();
    } else {
        std::string error;
        if (!demo_command(cmd, in, cursor_x - client_left, cursor_y - client_top, error)) bad();
        if (!error.empty()) {
            std::fprintf(stderr, "tarmik-sim: %s:%d: %s: %s\n", script_path.c_str(), lineno,
                         error.c_str(), line.c_str());
            std::exit(cmd == "expect" ? 1 : 2);
        }
        if (cmd == "motion") {
            // The pointer is where the motion said, or where the game warped it since.
            std::istringstream at(line.substr(line.find("motion") + 6));
            at >> cursor_x >> cursor_y;
            cursor_x += client_left;
            cursor_y += client_top;
            take_warps();
        }
    }
    std::fflush(stderr);
}

// --follow: the demo is being recorded; play each line as it comes and keep the state file
// (ticks played, state, objects) up to date for whoever steers the recorded game.
std::string follow_path;
long ticks_played = 0;

void write_follow_state() {
    const std::string tmp = follow_path + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f) die("cannot write " + tmp);
    std::fprintf(f, "ticks=%ld\n", ticks_played);
    print_state(f);
    print_objects(f);
    std::fclose(f);
    std::rename(tmp.c_str(), follow_path.c_str());
}

void follow() {
    std::ifstream f(script_path);
    std::string line;
    int lineno = 0;
    long written = -1;
    for (;;) {
        const auto at = f.tellg();
        if (!std::getline(f, line) || f.eof()) {
            // Not a whole line yet: wait for the rest.
            f.clear();
            f.seekg(at);
            if (written != lineno) write_follow_state();
            written = lineno;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            continue;
        }
        ++lineno;
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream in(line);
        std::string cmd;
        long n = 1;
        if (in >> cmd && (cmd == "tick" || cmd == "timer")) ticks_played += (in >> n) ? n : 1;
        run_command(line, lineno);
    }
}

void run_script() {
    // Wait for the window to come up and take its first size, as the game would; a demo
    // brings its own reshape.
    pump(std::chrono::milliseconds(5000), script.is_demo ? window_up : reshaped);
    if (!(script.is_demo ? window_up() : reshaped())) die("the window did not come up");
    // A demo holds the echoes it got; a script gets the one of the first reshape's warp.
    if (script.is_demo)
        take_warps();
    else
        take_echo();
    if (!follow_path.empty()) return follow();
    int lineno = 0;
    auto run_line = [&lineno](std::string line) {
        ++lineno;
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        run_command(line, lineno);
    };
    if (script.is_demo) {
        for (const std::string &line : script.lines)
            run_line(line);
        return;
    }
    // A plain script is read as it plays: an hour of play costs no more than a minute.
    std::ifstream f(script_path);
    for (std::string line; std::getline(f, line);)
        run_line(line);
}

void no_timer() {}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarmik-sim SCRIPT  (run in the game folder; the menu answer "
                             "comes from standard input)\n"
                             "       tarmik-sim --follow STATE DEMO  (plays DEMO as it is "
                             "recorded, keeps STATE up to date)\n");
        return 2;
    }
    script_path = argv[1];
    if (script_path == "--follow" && argc >= 4) {
        follow_path = argv[2];
        script_path = argv[3];
    }
    std::string error;
    if (!demo_read(script_path, false, script, error)) {
        std::fprintf(stderr, "tarmik-sim: %s\n", error.c_str());
        return 2;
    }
    demo_set_playing(script.is_demo);
    demo_feed_menu(script);
    plat_set_recording(true);
    hooks.arm_timer = no_timer;
    hooks.main_loop = run_script;
    // GLUT gets the program name only: the script is ours.
    int gargc = 1;
    char *gargv[] = {argv[0], nullptr};
    return tarmik_main(gargc, gargv);
}
