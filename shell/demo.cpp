// Demos: recording at the callbacks' door, playback by calling the same callbacks with the
// recorded arguments, and the time-demo.
#include "shell/demo.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "flow/gamestate.h"
#include "ranking/score.h"
#include "shell/options.h"
#include "shell/shell.h"
#include "world/buttai.h"
#include "world/random.h"

const int demo_format = 1;
void (*demo_pace)() = nullptr;
long demo_frames = 0;

namespace {

const std::string header_word = "# tarmik-demo";

// ---------------------------------------------------------------- recording
std::string record_path;
FILE *rec = nullptr;
bool expect_written = false;
bool playing = false;
int live_reshapes = 0;

void put(const std::string &line) {
    if (!rec) return;
    std::fputs(line.c_str(), rec);
    std::fputc('\n', rec);
    // Line by line, so a game that ends abruptly still leaves a playable demo.
    std::fflush(rec);
}

void put_expect() {
    if (!rec || expect_written) return;
    std::string line = "expect";
    for (const auto &f : demo_state())
        if (f.first != "rank") line += " " + f.first + "=" + f.second; // the table may differ
    put(line);
    expect_written = true;
}

// The file is written as it happens, a timer and a frame a line; at the end each timer
// followed by its frame becomes a tick, and runs of ticks one "tick N".
void compact_record() {
    std::ifstream in(record_path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    in.close();
    std::vector<std::string> out;
    long run = 0;
    auto flush = [&]() {
        if (run > 0) out.push_back(run == 1 ? "tick" : "tick " + std::to_string(run));
        run = 0;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "timer" && i + 1 < lines.size() && lines[i + 1] == "frame") {
            ++run;
            ++i;
            continue;
        }
        flush();
        out.push_back(lines[i]);
    }
    flush();
    FILE *f = std::fopen(record_path.c_str(), "w");
    if (!f) return;
    for (const auto &l : out) {
        std::fputs(l.c_str(), f);
        std::fputc('\n', f);
    }
    std::fclose(f);
}

void finish_record() {
    if (!rec) return;
    put_expect();
    std::fclose(rec);
    rec = nullptr;
    compact_record();
}

std::string key_word(unsigned char k) {
    if (k == 27) return "esc";
    if (k == ' ') return "space";
    if (k > ' ' && k < 127 && k != '#') return std::string(1, static_cast<char>(k));
    char b[8];
    std::snprintf(b, sizeof b, "%02d", k);
    return b;
}

std::string button_word(int button) {
    switch (button) {
    case GLUT_LEFT_BUTTON:
        return "left";
    case GLUT_MIDDLE_BUTTON:
        return "middle";
    case GLUT_RIGHT_BUTTON:
        return "right";
    default:
        return std::to_string(button);
    }
}

std::string xy(int x, int y) {
    return std::to_string(x) + " " + std::to_string(y);
}

// ---------------------------------------------------------------- playback
bool all_digits(const std::string &s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool is_number(const std::string &s) {
    return all_digits(s[0] == '-' ? s.substr(1) : s);
}

bool run_expect(std::istream &args, std::string &error) {
    const auto now = demo_state();
    for (std::string field; args >> field;) {
        const auto eq = field.find('=');
        if (eq == std::string::npos) {
            error = "cannot read: " + field;
            return true;
        }
        const std::string name = field.substr(0, eq), want = field.substr(eq + 1);
        bool known = false;
        for (const auto &f : now) {
            if (f.first != name) continue;
            known = true;
            if (f.second != want) {
                error = "played back differently: " + name + "=" + f.second + ", recorded " + want;
                return true;
            }
        }
        if (!known) error = "cannot read: " + field;
        if (!error.empty()) return true;
    }
    return true;
}

void one_timer() {
    if (demo_pace) demo_pace();
    timer_body();
}

void one_frame() {
    display();
    ++demo_frames;
}

} // namespace

// ---------------------------------------------------------------- the callbacks

void demo_display() {
    if (playing) return;
    put("frame");
    display();
}

void demo_resize(int w, int h) {
    ++live_reshapes;
    if (playing) return;
    put("reshape " + xy(w, h));
    resize(w, h);
}

void demo_keyboard(unsigned char key, int x, int y) {
    if (playing) {
        // Esc and q still end the program during a playback.
        if (key == 27 || key == 'q') std::exit(0);
        return;
    }
    if (key == 27 || key == 'q') put_expect();
    put("key " + key_word(key) + " " + xy(x, y));
    keyboard(key, x, y);
}

void demo_mouse(int button, int state, int x, int y) {
    if (playing) return;
    put("click " + button_word(button) + (state == GLUT_UP ? " up " : " down ") + xy(x, y));
    mouse(button, state, x, y);
}

void demo_mousemove(int x, int y) {
    if (playing) return;
    put("motion " + xy(x, y));
    mousemove(x, y);
}

void demo_timer(int) {
    put("timer");
    timer_body();
    glutTimerFunc(100, demo_timer, 0);
}

void demo_menu_word(const std::string &word) {
    put("menu " + word);
}

std::vector<std::pair<std::string, std::string>> demo_state() {
    std::vector<std::pair<std::string, std::string>> s;
    auto i = [&](const char *n, long v) { s.emplace_back(n, std::to_string(v)); };
    auto d = [&](const char *n, double v) {
        char b[40];
        std::snprintf(b, sizeof b, "%.17g", v);
        s.emplace_back(n, b);
    };
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
    std::string title;
    char b[3];
    for (unsigned char c : gs.result.title) {
        std::snprintf(b, sizeof b, "%02x", c);
        title += b;
    }
    s.emplace_back("result.title", title);
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
    // Unsigned and whole: long has 32 bits on 32-bit targets.
    s.emplace_back("rand", std::to_string(game_rand_state()));
    return s;
}

// ---------------------------------------------------------------- scripts

bool demo_read(const std::string &path, bool must_be_demo, demo_script &out, std::string &error) {
    std::ifstream f(path);
    if (!f) {
        error = path + ": cannot open";
        return false;
    }
    out = demo_script{};
    bool first = true;
    for (std::string l; std::getline(f, l);) {
        if (first && l.rfind(header_word, 0) == 0) {
            std::istringstream h(l.substr(header_word.size()));
            int format = 0;
            if (!(h >> format) || format != demo_format) {
                error = path + ": a demo of another format; this tarmik plays format " +
                        std::to_string(demo_format);
                return false;
            }
            out.is_demo = true;
        }
        first = false;
        std::istringstream in(l.substr(0, l.find('#')));
        std::string cmd, word;
        if (in >> cmd >> word && cmd == "menu") out.menu_words += word + "\n";
        if (out.is_demo) out.lines.push_back(l);
        if (must_be_demo && !out.is_demo) break;
    }
    if (must_be_demo && !out.is_demo) {
        error = path + ": not a tarmik demo";
        return false;
    }
    return true;
}

void demo_feed_menu(const demo_script &s) {
    static std::istringstream answers;
    const std::string &words = s.menu_words;
    if (words.empty() && !s.is_demo) return;
    options.play = words.empty();
    answers.str(words);
    std::cin.rdbuf(answers.rdbuf());
}

bool demo_command(const std::string &cmd, std::istream &args, int x, int y, std::string &error) {
    auto bad = [&]() {
        error = "cannot read";
        return true;
    };
    if (cmd == "menu") return true; // answered before the window opened
    if (cmd == "tick" || cmd == "timer") {
        long n = 1;
        if (!(args >> n)) n = 1;
        for (long k = 0; k < n; ++k) {
            one_timer();
            if (cmd == "tick") one_frame();
        }
    } else if (cmd == "frame") {
        one_frame();
    } else if (cmd == "key") {
        std::string k;
        if (!(args >> k)) return bad();
        int c = 0;
        if (k == "esc")
            c = 27;
        else if (k == "space")
            c = ' ';
        else if (k.size() == 1)
            c = static_cast<unsigned char>(k[0]);
        else if (all_digits(k) && std::stoi(k) < 256)
            c = std::stoi(k);
        else
            return bad();
        int px, py;
        if (args >> px >> py) x = px, y = py;
        keyboard(static_cast<unsigned char>(c), x, y);
    } else if (cmd == "click") {
        std::vector<std::string> words;
        std::vector<int> numbers;
        for (std::string w; args >> w;) {
            if (is_number(w))
                numbers.push_back(std::stoi(w));
            else
                words.push_back(w);
        }
        int button = GLUT_LEFT_BUTTON, state = GLUT_DOWN;
        // A lone number, or one before the position, is the button's code.
        if (numbers.size() == 1 || numbers.size() == 3) {
            button = numbers.front();
            numbers.erase(numbers.begin());
        }
        if (numbers.size() == 2)
            x = numbers[0], y = numbers[1];
        else if (!numbers.empty())
            return bad();
        for (const std::string &w : words) {
            if (w == "left")
                button = GLUT_LEFT_BUTTON;
            else if (w == "middle")
                button = GLUT_MIDDLE_BUTTON;
            else if (w == "right")
                button = GLUT_RIGHT_BUTTON;
            else if (w == "down")
                state = GLUT_DOWN;
            else if (w == "up")
                state = GLUT_UP;
            else
                return bad();
        }
        mouse(button, state, x, y);
    } else if (cmd == "motion") {
        int mx, my;
        if (!(args >> mx >> my)) return bad();
        mousemove(mx, my);
    } else if (cmd == "reshape") {
        int w, h;
        if (!(args >> w >> h) || w < 0 || h < 0) return bad();
        // The window follows for the eye; the game gets the recorded size whatever comes.
        if (w > 0 && h > 0 && (glutGet(GLUT_WINDOW_WIDTH) != w || glutGet(GLUT_WINDOW_HEIGHT) != h))
            glutReshapeWindow(w, h);
        resize(w, h);
    } else if (cmd == "expect") {
        return run_expect(args, error);
    } else {
        return false;
    }
    return true;
}

void demo_set_playing(bool on) {
    playing = on;
}

int demo_live_reshapes() {
    return live_reshapes;
}

// ---------------------------------------------------------------- the game's options

namespace {

demo_script play_script;
std::string play_path;
bool timedemo = false;
std::chrono::steady_clock::time_point play_start, next_tick;

void no_timer() {}

void pump_until(std::chrono::steady_clock::time_point t) {
    while (std::chrono::steady_clock::now() < t) {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void pace() {
    pump_until(next_tick);
    next_tick = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
}

void report_timedemo() {
    glFinish();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - play_start).count();
    std::fprintf(stderr, "timedemo: %ld frames, %.3f seconds, %.1f frames per second\n",
                 demo_frames, s, s > 0 ? demo_frames / s : 0.0);
}

void play_loop() {
    // The window comes up on its own; only then do the recorded callbacks draw into it.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (demo_live_reshapes() == 0 && std::chrono::steady_clock::now() < give_up) {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    play_start = next_tick = std::chrono::steady_clock::now();
    if (timedemo) std::atexit(report_timedemo); // the demo may end with Esc or q
    for (size_t i = 1; i < play_script.lines.size(); ++i) {
        std::string line = play_script.lines[i];
        line.erase(std::min(line.size(), line.find('#')));
        std::istringstream in(line);
        std::string cmd, error;
        if (!(in >> cmd)) continue;
        if (!demo_command(cmd, in, 0, 0, error)) error = "not a demo command";
        if (!error.empty()) {
            std::fprintf(stderr, "tarmik: %s:%zu: %s: %s\n", play_path.c_str(), i + 1,
                         error.c_str(), line.c_str());
            std::exit(1);
        }
        if (!timedemo) glutMainLoopEvent();
    }
}

} // namespace

int demo_start() {
    const std::string &record = options.record;
    const std::string &play = options.timedemo.empty() ? options.playdemo : options.timedemo;
    const bool time_it = !options.timedemo.empty(), ranking = options.ranking;
    if (!record.empty() + !options.playdemo.empty() + time_it > 1) {
        std::fprintf(stderr, "tarmik: one of --record, --playdemo, --timedemo at a time\n");
        return 2;
    }
    if (ranking && play.empty()) {
        std::fprintf(stderr, "tarmik: --ranking goes with --playdemo or --timedemo\n");
        return 2;
    }
    if (!record.empty()) {
        rec = std::fopen(record.c_str(), "w");
        if (!rec) {
            std::fprintf(stderr, "tarmik: %s: cannot write\n", record.c_str());
            return 2;
        }
        record_path = record;
        put(header_word + " " + std::to_string(demo_format) + " tarmik " + tarmik_version);
        std::atexit(finish_record);
    }
    if (!play.empty()) {
        std::string error;
        if (!demo_read(play, true, play_script, error)) {
            std::fprintf(stderr, "tarmik: %s\n", error.c_str());
            return 2;
        }
        play_path = play;
        timedemo = time_it;
        for (size_t i = 1; i < play_script.lines.size(); ++i) {
            std::istringstream in(play_script.lines[i].substr(0, play_script.lines[i].find('#')));
            std::string cmd;
            if (!(in >> cmd)) continue;
            static const char *const known[] = {"menu",  "tick",   "timer",   "frame", "key",
                                                "click", "motion", "reshape", "expect"};
            if (std::find_if(std::begin(known), std::end(known),
                             [&](const char *k) { return cmd == k; }) == std::end(known)) {
                std::fprintf(stderr, "tarmik: %s:%zu: not a demo command: %s\n", play.c_str(),
                             i + 1, cmd.c_str());
                return 2;
            }
        }
        demo_feed_menu(play_script);
        // The result goes into the table in memory (its place is shown), not into the file.
        clScore.save = ranking;
        // The pointer stays with the player: the game's warps are not carried out.
        plat_set_recording(true);
        demo_set_playing(true);
        if (!timedemo) demo_pace = pace;
        hooks.arm_timer = no_timer;
        hooks.main_loop = play_loop;
    }
    return -1;
}
