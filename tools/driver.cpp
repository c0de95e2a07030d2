// The scripted driver: the real game, run as tarmik runs it in the working folder, but instead
// of the 100 ms timer and a player it follows a script (shell/script.h gives the language).
// Standard output gets exactly the game's console bytes; cursor and window operations are
// noted instead of moving the real pointer. Nothing the window system delivers reaches the
// game: every callback comes from the script, so a run in a window and a run without a
// display give the same bytes, states and ranking.
#include "tools/driver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "base/sha256.h"
#include "flow/stage.h"
#include "platform/platform.h"
#include "shell/demo.h"
#include "shell/options.h"
#include "shell/script.h"
#include "shell/settings.h"
#include "shell/shell.h"

namespace {

const driver_window *window = nullptr;
bool headless = false;
std::string script_path, follow_path, hash_path;
demo_header header;
std::FILE *hashes = nullptr;

[[noreturn]] void die(const std::string &msg, int status = 2) {
    std::fprintf(stderr, "tarmik-sim: %s\n", msg.c_str());
    std::exit(status);
}

void pump(std::chrono::milliseconds limit, bool (*done)()) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        plat_pump_events();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int want_w = 0, want_h = 0;
bool window_has_size() {
    int w, h;
    plat_window_size(w, h);
    return w == want_w && h == want_h;
}

void await_resize(int w, int h) {
    int sw, sh;
    plat_screen_size(sw, sh);
    want_w = sw > 0 ? std::min(w, sw) : w;
    want_h = sh > 0 ? std::min(h, sh) : h;
    pump(std::chrono::milliseconds(3000), window_has_size);
}

bool window_up() {
    return demo_live_reshapes() > 0;
}

int run_line(script_runner &runner, const std::string &line, long n) {
    script_line parsed;
    std::string error;
    int status = 0;
    if (!script_parse(line, false, parsed, error))
        status = 2;
    else
        status = runner.run(parsed, error);
    if (status != 0)
        std::fprintf(stderr, "tarmik-sim: %s:%ld: %s: %s\n", script_path.c_str(), n, error.c_str(),
                     shown_line(line).c_str());
    return status;
}

// Header lines of a demo are no commands.
bool header_line(const std::string &line, long n, bool &in_header) {
    if (n == 1 && header.is_demo) return true;
    if (in_header && header.format >= 2 && line.rfind("stages ", 0) == 0) return true;
    in_header = false;
    return false;
}

// --follow: the demo is being recorded; play each line as it comes and keep the state file
// (ticks played, state, objects) up to date for whoever steers the recorded game.
void write_follow_state(long ticks) {
    const std::string tmp = follow_path + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f) die("cannot write " + tmp);
    std::fprintf(f, "ticks=%ld\n", ticks);
    for (const auto &s : game_state())
        std::fprintf(f, "%s=%s\n", s.first.c_str(), s.second.c_str());
    print_objects(f);
    std::fclose(f);
    std::rename(tmp.c_str(), follow_path.c_str());
}

void follow(script_runner &runner) {
    std::ifstream f(script_path);
    std::string line;
    long n = 0, written = -1;
    bool in_header = true;
    for (;;) {
        const auto at = f.tellg();
        if (!std::getline(f, line) || f.eof()) {
            // Not a whole line yet: wait for the rest.
            f.clear();
            f.seekg(at);
            if (written != n) write_follow_state(runner.ticks());
            written = n;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            continue;
        }
        ++n;
        if (header_line(line, n, in_header)) continue;
        const int status = run_line(runner, line, n);
        if (status != 0) std::exit(status);
    }
}

// --hash-frames: what the window shows after each frame, title line included, as the SHA-256 of
// its RGB rows; one line a frame.
void hash_frame() {
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (!plat_read_window(rgb, w, h)) die("cannot read the window");
    sha256 s;
    s.update(rgb.data(), rgb.size());
    std::fprintf(hashes, "%dx%d %s\n", w, h, s.hex().c_str());
}

void run_script() {
    script_host host;
    host.driver = true;
    if (!headless) {
        host.png = window->png;
        host.await_resize = await_resize;
        if (hashes) host.after_frame = hash_frame;
        // Wait for the window to come up, as the game would.
        pump(std::chrono::milliseconds(5000), window_up);
        if (!window_up()) die("the window did not come up");
    }
    script_runner runner(host);
    // A script gets the window system's first reshape and frame; a demo brings its own.
    if (header.is_demo) {
        runner.take_warps();
    } else {
        resize(500, 500);
        runner.frame();
        runner.take_echo();
    }
    if (!follow_path.empty()) return follow(runner);
    script_file f;
    std::string line, error;
    long n = 0;
    if (!f.open(script_path, error)) die(error);
    bool in_header = true;
    while (f.next(line, n, error)) {
        if (header_line(line, n, in_header)) continue;
        const int status = run_line(runner, line, n);
        if (status != 0) std::exit(status);
    }
    if (!error.empty()) die(error);
}

// The driver's own motion (move, burst) goes to the game merged, as a player's would; what the
// window system delivers does not reach it (the platform notes warps instead of making them).
plat_window open_driven_window(int &argc, char **argv, const plat_callbacks &live) {
    plat_callbacks cb = live;
    cb.passive_motion = mousemove;
    if (headless) return plat_driven_window(cb);
    const plat_window_spec spec{1, 1, 500, 500, u8"ＴＡＲＭＩＫ", "tarmik", "Tarmik"};
    plat_set_frame(frame_spec(settings));
    return plat_open_window(argc, argv, spec, cb);
}

void no_timer() {}

void usage() {
    std::fprintf(stderr,
                 "usage: tarmik-sim [--headless] [--hash-frames FILE] [--set KEY=VALUE]... "
                 "SCRIPT\n"
                 "       tarmik-sim [--headless] --follow STATE DEMO\n"
                 "Runs the game in the working folder (its game folder) as SCRIPT says; the menu "
                 "answer comes from\nstandard input unless the script has menu lines. "
                 "--headless: without a display, window or sound\n(png is then refused). "
                 "--follow: plays DEMO as it is recorded and keeps the file STATE up to date.\n"
                 "--hash-frames: writes the SHA-256 of what the window shows after every frame "
                 "into FILE, a line each.\n"
                 "--set: a setting as tarmik.conf has it (the player's file is not read).\n"
                 "Commands, one a line (# starts a comment):\n%s",
                 script_usage(true).c_str());
}

} // namespace

int driver_main(int argc, char **argv, const driver_window *win) {
    window = win;
    headless = win == nullptr;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(argv[i], "--follow") == 0 && i + 1 < argc) {
            follow_path = argv[++i];
        } else if (std::strcmp(argv[i], "--hash-frames") == 0 && i + 1 < argc) {
            hash_path = argv[++i];
        } else if (std::strcmp(argv[i], "--set") == 0 && i + 1 < argc) {
            const std::string kv = argv[++i];
            const size_t eq = kv.find('=');
            std::vector<setting_source> from;
            std::string error;
            if (eq == std::string::npos ||
                !set_setting(kv.substr(0, eq), kv.substr(eq + 1), "--set", settings, from, error))
                die("--set " + kv + ": " + (error.empty() ? "KEY=VALUE" : error));
        } else if (std::strcmp(argv[i], "--help") == 0) {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (i + 1 != argc) {
        usage();
        return 2;
    }
    script_path = argv[i];
    std::string error;
    // Every line is read before the game starts: a bad line deep in a file stops nothing
    // halfway. A file being recorded (--follow) is read as it grows instead.
    if (follow_path.empty()) {
        if (!demo_check(script_path, false, false, header, error)) die(error);
        error = demo_stage_mismatch(header, script_path);
        if (!error.empty()) die(error);
    } else {
        header = demo_header{};
        header.is_demo = true;
        header.format = demo_format;
    }
    std::string why;
    if (!headless && !plat_window_possible(argc, argv, why))
        die(why + " (--headless runs without)");
    if (!hash_path.empty()) {
        if (headless) die("--hash-frames needs a window");
        hashes = std::fopen(hash_path.c_str(), "w");
        if (!hashes) die("cannot write " + hash_path);
        // Whatever way the run ends, the hashes made so far are written out.
        std::atexit([] { std::fclose(hashes); });
    }
    demo_set_playing(true);
    demo_feed_menu(header);
    plat_set_recording(true);
    hooks.open_window = open_driven_window;
    hooks.arm_timer = no_timer;
    hooks.main_loop = run_script;
    // The window system gets the program's name only: the script is ours.
    int gargc = 1;
    char *gargv[] = {argv[0], nullptr};
    return tarmik_main(gargc, gargv);
}
