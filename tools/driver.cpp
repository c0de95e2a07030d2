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

#include <unistd.h>

#include "base/console.h"
#include "base/json.h"
#include "base/quit.h"
#include "base/sha256.h"
#include "flow/gamestate.h"
#include "flow/stage.h"
#include "ranking/score.h"
#include "platform/platform.h"
#include "shell/demo.h"
#include "shell/options.h"
#include "shell/script.h"
#include "shell/settings.h"
#include "shell/shell.h"

namespace {

const driver_window *window = nullptr;
bool headless = false;
std::string script_path, follow_path, cut_prefix, stage_file, hash_path;
demo_header header;
std::FILE *hashes = nullptr;
// --verify: replay one game's demo and say, as JSON on standard output, what it scores.
bool verify = false;
long max_ticks = 200000;
int answer_fd = -1;

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
    if (in_header && header.format >= 2 &&
        (line.rfind("stages ", 0) == 0 || line.rfind("game ", 0) == 0))
        return true;
    in_header = false;
    return false;
}

// ---------------------------------------------------------------- --verify

void answer(const std::string &json) {
    const std::string line = json + "\n";
    if (write(answer_fd, line.data(), line.size()) < 0) std::_Exit(2);
}

[[noreturn]] void refuse(const std::string &reason) {
    answer("{\"verified\":false,\"reason\":" + json_string(reason) + "}");
    std::_Exit(1);
}

// The game ended its own way (q, Esc, a stage file the game cannot read) before its result.
void quit_in_verify(int) {
    refuse("the game ends before its result is entered");
}

void answer_result(long ticks) {
    const clData &r = gs.result;
    std::string hex;
    char b[3];
    for (unsigned char c : r.title) {
        std::snprintf(b, sizeof b, "%02x", c);
        hex += b;
    }
    answer("{\"verified\":true,\"version\":" + json_string(tarmik_version) +
           ",\"stages\":" + json_string(header.stages) + ",\"score\":" + std::to_string(r.score) +
           ",\"stage\":" + std::to_string(r.stage) + ",\"hitrate\":" + std::to_string(r.hitrate) +
           ",\"title\":" + json_string(sjis_to_utf8(r.title)) +
           ",\"title_sjis\":" + json_string(hex) + ",\"hits\":" + std::to_string(gs.hits) +
           ",\"shots\":" + std::to_string(gs.shots) + ",\"ticks\":" + std::to_string(ticks) + "}");
}

// Plays the game's demo to the frame that enters its result; after it only expect lines may
// follow. The result is what the replay gives, whatever the demo claims.
void run_verify(script_runner &runner) {
    script_file f;
    std::string line, error;
    long n = 0;
    if (!f.open(script_path, error)) refuse("the demo cannot be read");
    bool in_header = true, ended = false;
    long title = header.game_first ? header.title_ticks : 0;
    if (title > max_ticks) refuse("over the tick cap");
    if (!demo_begin_game(header, error)) refuse(error);
    while (f.next(line, n, error)) {
        if (header_line(line, n, in_header)) continue;
        script_line parsed;
        if (!script_parse(line, true, parsed, error))
            refuse("line " + std::to_string(n) + ": " + error);
        if (parsed.name.empty()) continue;
        if (ended && parsed.name != "expect")
            refuse("line " + std::to_string(n) + ": commands after the game's end");
        if ((parsed.name == "tick" || parsed.name == "timer") &&
            title + runner.ticks() + parsed.numbers[0] > max_ticks)
            refuse("over the tick cap");
        const int32_t registered = gs.registered;
        if (runner.run(parsed, error) != 0) refuse("line " + std::to_string(n) + ": " + error);
        if (registered == 0 && gs.registered == 1) ended = true;
    }
    if (!error.empty()) refuse("the demo cannot be read");
    if (!ended) refuse("the demo does not play to the game's end");
    answer_result(title + runner.ticks());
    std::fflush(nullptr);
    std::_Exit(0);
}

// ---------------------------------------------------------------- --cut

void write_cut_games() {
    const auto &games = demo_finished_games();
    for (size_t i = 0; i < games.size(); ++i) {
        const std::string path = cut_prefix + "-" + std::to_string(i + 1) + ".demo";
        FILE *f = std::fopen(path.c_str(), "w");
        if (!f || std::fputs(games[i].c_str(), f) < 0 || std::fclose(f) != 0) {
            std::fprintf(stderr, "tarmik-sim: cannot write %s\n", path.c_str());
            continue;
        }
        std::fprintf(stderr, "tarmik-sim: %s\n", path.c_str());
    }
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
    if (verify) return run_verify(runner);
    // A script gets the window system's first reshape and frame; a demo brings its own.
    if (header.is_demo) {
        runner.take_warps();
        std::string error;
        if (!demo_begin_game(header, error)) die(script_path + ": " + error, 1);
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
    cb.passive_motion = feed_motion;
    if (headless) return plat_driven_window(cb);
    const plat_window_setup setup{1, 1, 500, 500, u8"ＴＡＲＭＩＫ", "tarmik", "Tarmik"};
    plat_set_frame(frame_setup(settings));
    return plat_open_window(argc, argv, setup, cb);
}

void no_timer() {}

void usage() {
    std::fprintf(
        stderr,
        "usage: tarmik-sim [--headless] [--cut PREFIX] [--hash-frames FILE] [--set KEY=VALUE]... "
        "SCRIPT\n"
        "       tarmik-sim [--headless] --follow STATE DEMO\n"
        "       tarmik-replay --verify --stagefile FILE [--max-ticks N] DEMO\n"
        "Runs the game in the working folder (its game folder) as SCRIPT says; the menu "
        "answer comes from\nstandard input unless the script has menu lines. "
        "--headless: without a display, window or sound\n(png is then refused). "
        "--follow: plays DEMO as it is recorded and keeps the file STATE up to date.\n"
        "--cut: writes each game the run finishes as PREFIX-1.demo, PREFIX-2.demo, ... "
        "(one game's demo each).\n--verify: replays one game's demo without a display "
        "on the stage file FILE and\nprints what it scores as one line of JSON (status 0), "
        "or why not (status 1).\n"
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
        } else if (std::strcmp(argv[i], "--cut") == 0 && i + 1 < argc) {
            cut_prefix = argv[++i];
        } else if (std::strcmp(argv[i], "--verify") == 0) {
            verify = headless = true;
        } else if (std::strcmp(argv[i], "--stagefile") == 0 && i + 1 < argc) {
            stage_file = argv[++i];
        } else if (std::strcmp(argv[i], "--max-ticks") == 0 && i + 1 < argc) {
            char *end = nullptr;
            max_ticks = std::strtol(argv[++i], &end, 10);
            if (*end || max_ticks <= 0) {
                usage();
                return 2;
            }
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
    if (verify) {
        if (stage_file.empty() || !follow_path.empty() || !cut_prefix.empty()) {
            usage();
            return 2;
        }
        // The answer goes to standard output alone; the game's console goes nowhere.
        answer_fd = dup(STDOUT_FILENO);
        if (answer_fd < 0 || !std::freopen("/dev/null", "w", stdout)) die("cannot answer");
        set_quit_hook(quit_in_verify);
        set_stage_file(stage_file);
        fin = open_stage_file();
        // Nothing is read from or written to any ranking: the server places the result.
        clScore.ranklist.clear();
        clScore.save = false;
        if (!demo_check(script_path, true, true, header, error)) {
            // The file's own name is the server's business, not the reason.
            const size_t at = error.find(script_path);
            refuse(at == 0 ? "the demo" + error.substr(script_path.size()) : error);
        }
        if (!header.game) refuse("not one game's demo");
        if (header.version != tarmik_version)
            refuse("made by tarmik " + header.version + "; this one replays " + tarmik_version);
        if (header.stages != stage_set_hash()) refuse("played on another stage set");
    }
    // Every line is read before the game starts: a bad line deep in a file stops nothing
    // halfway. A file being recorded (--follow) is read as it grows instead.
    if (verify) {
    } else if (follow_path.empty()) {
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
    if (!cut_prefix.empty()) {
        demo_keep_games(true);
        std::atexit(write_cut_games);
    }
    plat_set_recording(true);
    hooks.open_window = open_driven_window;
    hooks.arm_timer = no_timer;
    hooks.main_loop = run_script;
    // The window system gets the program's name only: the script is ours.
    int gargc = 1;
    char *gargv[] = {argv[0], nullptr};
    return tarmik_main(gargc, gargv);
}
