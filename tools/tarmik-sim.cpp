// tarmik-sim SCRIPT: runs the game exactly as tarmik does in the working directory, but
// instead of the 100 ms timer and a player it follows SCRIPT, one command a line:
//   tick [N]           N timer ticks (without re-arming), each followed by one frame
//   frame              one extra frame
//   key C | key esc    the keyboard callback
//   click [left|middle|right] [down|up]
//   move DX DY         the player moves the mouse; the warp's echo follows as X delivers it
//   burst DX DY [DX DY ...]  moves made back to back, queued before the game sees any of
//                      them or the echoes of its warps (as a fast mouse gives them)
//   resize W H         the window is resized to W x H (the reshape callback)
//   png FILE           the window as it shows now (title line included), as PNG
//   state | objects    game state or object lines on standard error
// Standard output gets exactly the game's console bytes; cursor and window operations are
// recorded instead of moving the real pointer.
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <unistd.h>

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
#include "shell/shell.h"
#include "world/buttai.h"

namespace {

std::string script_path;
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
    return warped;
}

// The motion event of the game's own warp comes back at the warped point.
void take_echo() {
    if (take_warps()) plat_motion_event(cursor_x - client_left, cursor_y - client_top, false);
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

std::string hex(const std::string &bytes) {
    std::string s;
    char b[3];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02x", c);
        s += b;
    }
    return s;
}

void print_state() {
    auto i = [](const char *n, long v) { std::fprintf(stderr, "%s=%ld\n", n, v); };
    auto d = [](const char *n, double v) { std::fprintf(stderr, "%s=%.17g\n", n, v); };
    i("rank", gs.rank);
    i("registered", gs.registered);
    i("stage", gs.stage);
    i("limitcount", gs.limitcount);
    i("statuscount", gs.statuscount);
    i("status", gs.status);
    i("energy", gs.energy);
    i("gameover", gs.gameover);
    i("started", gs.started);
    i("hits", gs.hits);
    i("shots", gs.shots);
    i("result.score", gs.result.score);
    i("result.stage", gs.result.stage);
    i("result.hitrate", gs.result.hitrate);
    std::fprintf(stderr, "result.title=%s\n", hex(gs.result.title).c_str());
    i("shothitg", shothitg);
    d("ply.x", ply.x);
    d("ply.y", ply.y);
    d("ply.z", ply.z);
    i("key_press", key_press);
    i("moveon", moveon);
    i("xo", xo);
    i("yo", yo);
    i("gw", gw);
    i("gh", gh);
    i("buttai_set", static_cast<long>(buttai_set.size()));
    i("tama_set", static_cast<long>(tama_set.size()));
    i("building_set", static_cast<long>(building_set.size()));
}

const char *type_of(buttai *b) {
    if (dynamic_cast<hito *>(b)) return "hito";
    if (dynamic_cast<mato *>(b)) return "mato";
    if (dynamic_cast<building *>(b)) return "building";
    if (dynamic_cast<tama *>(b)) return "tama";
    return "buttai";
}

void print_objects() {
    const std::pair<const char *, buttai_list *> lists[] = {
        {"buttai_set", &buttai_set}, {"tama_set", &tama_set}, {"building_set", &building_set}};
    for (const auto &l : lists)
        for (buttai *b : *l.second)
            std::fprintf(stderr, "%s %s %.17g %.17g %.17g %.17g\n", l.first, type_of(b), b->life,
                         b->pos.x, b->pos.y, b->pos.z);
}

void one_tick() {
    timer_body();
    display();
}

void run_command(const std::string &line, int lineno) {
    std::istringstream in(line);
    std::string cmd;
    if (!(in >> cmd)) return;
    auto bad = [&]() {
        die(script_path + ":" + std::to_string(lineno) + ": cannot read: " + line);
    };
    if (cmd == "tick") {
        long n = 1;
        if (!(in >> n)) n = 1;
        for (long k = 0; k < n; ++k)
            one_tick();
    } else if (cmd == "frame") {
        display();
    } else if (cmd == "key") {
        std::string k;
        if (!(in >> k)) bad();
        unsigned char c = (k == "esc")     ? 27
                          : (k == "space") ? ' '
                                           : static_cast<unsigned char>(k[0]);
        if (k != "esc" && k != "space" && k.size() != 1) bad();
        keyboard(c, cursor_x - client_left, cursor_y - client_top);
    } else if (cmd == "click") {
        std::string a, b;
        in >> a >> b;
        int button = GLUT_LEFT_BUTTON, state = GLUT_DOWN;
        for (const std::string &w : {a, b}) {
            if (w.empty() || w == "left" || w == "down") continue;
            if (w == "middle")
                button = GLUT_MIDDLE_BUTTON;
            else if (w == "right")
                button = GLUT_RIGHT_BUTTON;
            else if (w == "up")
                state = GLUT_UP;
            else
                bad();
        }
        mouse(button, state, cursor_x - client_left, cursor_y - client_top);
    } else if (cmd == "move" || cmd == "burst") {
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
        bad();
    }
    std::fflush(stderr);
}

void run_script() {
    // Wait for the window to come up and take its first size, as the game would.
    pump(std::chrono::milliseconds(5000), reshaped);
    if (!reshaped()) die("the window did not come up");
    take_echo();
    std::ifstream f(script_path);
    if (!f) die("cannot open " + script_path);
    std::string line;
    int lineno = 0;
    while (std::getline(f, line)) {
        ++lineno;
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        run_command(line, lineno);
    }
}

void no_timer() {}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarmik-sim SCRIPT  (run in the game folder; the menu answer "
                             "comes from standard input)\n");
        return 2;
    }
    script_path = argv[1];
    if (access(script_path.c_str(), R_OK) != 0) die("cannot open " + script_path);
    plat_set_recording(true);
    hooks.arm_timer = no_timer;
    hooks.main_loop = run_script;
    // GLUT gets the program name only: the script is ours.
    int gargc = 1;
    char *gargv[] = {argv[0], nullptr};
    return tarmik_main(gargc, gargv);
}
