// Demos: recording at the callbacks' door, playback by calling the same callbacks with the
// recorded arguments, and the time-demo.
#include "shell/demo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <GL/gl.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <thread>

#include "base/files.h"
#include "base/quit.h"
#include "flow/gamestate.h"
#include "flow/stage.h"
#include "platform/platform.h"
#include "ranking/score.h"
#include "shell/options.h"
#include "shell/record_target.h"
#include "shell/script.h"
#include "shell/submit.h"
#include "shell/shell.h"
#include "world/random.h"

const int demo_format = 2;

namespace {

const std::string header_word = "# tarmik-demo";
// A line longer than this is no line of the language.
constexpr size_t max_line = 4096;
// Ticks kept back before a run of them is written: a game cut short loses no more.
constexpr long max_run = 100;

demo_writer recording;
bool playing = false;
int live_reshapes = 0;

void finish_recording() {
    if (!recording.is_open()) return;
    if (recording.close()) return;
    // The game has ended its own way; the demo it leaves is not whole.
    std::fflush(nullptr);
    _exit(1);
}

std::string expect_line();

void put_expect() {
    if (recording.is_open()) recording.line(expect_line());
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
    case plat_left_button:
        return "left";
    case plat_middle_button:
        return "middle";
    case plat_right_button:
        return "right";
    default:
        return std::to_string(button);
    }
}

std::string xy(int x, int y) {
    return std::to_string(x) + " " + std::to_string(y);
}

} // namespace

// ---------------------------------------------------------------- the writer

bool demo_writer::open(const std::string &path, std::string &error) {
    // Only a regular file is written: a device would swallow or refuse the demo unseen.
    if (is_other_than_file(path)) {
        error = path + ": not a regular file";
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        error = path + ": cannot write (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path + ": not a regular file";
        return false;
    }
    file_ = fdopen(fd, "w");
    if (!file_) {
        ::close(fd);
        error = path + ": cannot write";
        return false;
    }
    path_ = path;
    return true;
}

void demo_writer::open_memory() {
    memory_ = true;
    text_.clear();
}

void demo_writer::put(const std::string &l) {
    if (memory_) {
        text_ += l;
        text_ += '\n';
        return;
    }
    if (!file_ || failed_) return;
    // Line by line, so a game that ends abruptly still leaves a playable demo.
    if (std::fputs(l.c_str(), file_) < 0 || std::fputc('\n', file_) == EOF ||
        std::fflush(file_) != 0) {
        failed_ = true;
        std::fprintf(stderr, "tarmik: %s: the demo cannot be written (%s); it ends here\n",
                     path_.c_str(), std::strerror(errno));
        std::fflush(stderr);
    }
}

void demo_writer::flush_run() {
    if (run_ > 0) put(run_ == 1 ? "tick" : "tick " + std::to_string(run_));
    run_ = 0;
}

void demo_writer::timer() {
    if (pending_timer_) {
        // The last timer had no frame after it.
        flush_run();
        put("timer");
    }
    pending_timer_ = true;
}

void demo_writer::frame() {
    if (!pending_timer_) {
        flush_run();
        put("frame");
        return;
    }
    pending_timer_ = false;
    if (++run_ == max_run) flush_run();
}

void demo_writer::line(const std::string &l) {
    flush_run();
    if (pending_timer_) put("timer");
    pending_timer_ = false;
    put(l);
}

bool demo_writer::close() {
    flush_run();
    if (pending_timer_) put("timer");
    pending_timer_ = false;
    bool ok = !failed_;
    if (file_) {
        ok = std::fclose(file_) == 0 && ok;
        if (!ok && !failed_)
            std::fprintf(stderr, "tarmik: %s: the demo cannot be written\n", path_.c_str());
        file_ = nullptr;
    }
    memory_ = false;
    return ok;
}

// ---------------------------------------------------------------- one game's demo

namespace {

// Whole seconds of play a game's demo may hold before it is given up (an idle game left for
// hours would otherwise grow without end): 8 MB of lines.
constexpr size_t max_game_demo = 8u << 20;

std::string expect_line() {
    std::string l = "expect";
    for (const auto &f : game_state())
        if (f.first != "rank") l += " " + f.first + "=" + f.second; // the table may differ
    return l;
}

// Each game, from what starts it to the frame that enters its result, recorded apart.
struct game_recorder {
    bool on = false;     // asked for: keep the games
    bool active = false; // a game is being recorded
    demo_writer writer;
    std::string pending_key;           // the latest key line since the last frame
    long ticks = 0;                    // timer ticks since start-up
    std::string last;                  // the last finished game's demo
    std::vector<std::string> finished; // every finished game's demo, for a driver that cuts

    std::string view() const {
        std::string v;
        for (const auto &f : game_state())
            if (f.first == "rand" || f.first.rfind("ply.", 0) == 0 || f.first == "gw" ||
                f.first == "gh" || f.first == "xo" || f.first == "yo" || f.first == "moveon")
                v += " " + f.first + "=" + f.second;
        return v;
    }

    void begin(bool in_frame) {
        if (!on) return;
        writer.close();
        writer.open_memory();
        active = true;
        writer.line(header_word + " " + std::to_string(demo_format) + " tarmik " + tarmik_version);
        writer.line("stages " + opened_stage_hash());
        const bool first = last_game_start == game_start_kind::first;
        // A first game replays the title's ticks from start-up, then what started it.
        if (first && in_frame) {
            writer.line("game first " + std::to_string(ticks) + view());
            if (!pending_key.empty()) writer.line(pending_key);
            writer.frame();
        } else if (first) {
            writer.line("game first " + std::to_string(ticks) + view());
        } else {
            writer.line("game restart" + view());
        }
    }

    void finish() {
        writer.line(expect_line());
        writer.close();
        active = false;
        last = writer.text();
        if (keep_all) finished.push_back(last);
        submit_game(last);
        plat_game_finished(last);
    }

    void check_size() {
        if (active && writer.text().size() > max_game_demo) {
            writer.close();
            active = false;
        }
    }
    bool keep_all = false;
};

game_recorder games;

// Runs one callback: noted first in the run's recording and the game's (a callback may end the
// program), then run; a game that starts or ends in it starts or ends its own demo.
template <typename F> void fed(const std::string &line, F call, bool is_frame = false) {
    if (games.active) {
        if (is_frame)
            games.writer.frame();
        else if (!line.empty())
            games.writer.line(line);
    }
    const uint32_t starts = game_starts;
    const int32_t registered = gs.registered;
    call();
    if (game_starts != starts) {
        games.begin(is_frame);
    } else if (games.active && registered == 0 && gs.registered == 1) {
        games.finish();
    }
    games.check_size();
    if (is_frame) games.pending_key.clear();
}

} // namespace

void demo_keep_games(bool all) {
    games.on = true;
    games.keep_all = games.keep_all || all;
}

const std::string &demo_last_game() {
    return games.last;
}

const std::vector<std::string> &demo_finished_games() {
    return games.finished;
}

void feed_timer() {
    // Answers of the shared ranking become notices between ticks, on the game's own thread.
    submit_poll();
    recording.timer();
    ++games.ticks;
    if (games.active) games.writer.timer();
    const uint32_t starts = game_starts;
    timer_body();
    // A stage cleared on the title screen starts the first game by itself.
    if (game_starts != starts) games.begin(false);
    games.check_size();
}

void feed_frame() {
    recording.frame();
    fed("", display, true);
}

void feed_reshape(int w, int h) {
    const std::string l = "reshape " + xy(w, h);
    recording.line(l);
    fed(l, [&] { resize(w, h); });
}

void feed_key(unsigned char key, int x, int y) {
    const std::string l = "key " + key_word(key) + " " + xy(x, y);
    if (key == 27 || key == 'q') put_expect();
    recording.line(l);
    games.pending_key = l;
    fed(l, [&] { keyboard(key, x, y); });
}

void feed_click(int button, int state, int x, int y) {
    const std::string l =
        "click " + button_word(button) + (state == plat_up ? " up " : " down ") + xy(x, y);
    recording.line(l);
    fed(l, [&] { mouse(button, state, x, y); });
}

void feed_motion(int x, int y) {
    const std::string l = "motion " + xy(x, y);
    recording.line(l);
    fed(l, [&] { mousemove(x, y); });
}

// ---------------------------------------------------------------- the callbacks

void demo_display() {
    if (!playing) feed_frame();
}

void demo_resize(int w, int h) {
    ++live_reshapes;
    if (!playing) feed_reshape(w, h);
}

void demo_keyboard(unsigned char key, int x, int y) {
    if (playing) {
        // Esc and q still end the program during a playback.
        if (key == 27 || key == 'q') quit(0);
        return;
    }
    feed_key(key, x, y);
}

void demo_mouse(int button, int state, int x, int y) {
    if (!playing) feed_click(button, state, x, y);
}

void demo_mousemove(int x, int y) {
    if (!playing) feed_motion(x, y);
}

void demo_timer(int) {
    feed_timer();
    plat_arm_timer(100, demo_timer, 0);
}

void demo_menu_word(const std::string &word) {
    if (recording.is_open()) recording.line("menu " + word);
}

void demo_set_playing(bool on) {
    playing = on;
}

int demo_live_reshapes() {
    return live_reshapes;
}

// ---------------------------------------------------------------- reading

bool script_file::open(const std::string &path, std::string &error) {
    path_ = path;
    number_ = 0;
    f_ = fopen_regular(path, "r");
    if (!f_) {
        error = path + (errno == EINVAL ? ": not a regular file" : ": cannot open");
        return false;
    }
    return true;
}

script_file::~script_file() {
    if (f_) std::fclose(f_);
}

bool script_file::next(std::string &line, long &number, std::string &error) {
    line.clear();
    if (!f_) return false;
    for (int c; (c = std::getc(f_)) != EOF;) {
        if (c == '\n') {
            number = ++number_;
            return true;
        }
        if (line.size() == max_line) {
            error = path_ + ":" + std::to_string(number_ + 1) + ": a line longer than " +
                    std::to_string(max_line) + " bytes";
            return false;
        }
        line += static_cast<char>(c);
    }
    if (std::ferror(f_)) {
        error = path_ + ": read error";
        return false;
    }
    if (line.empty()) return false;
    number = ++number_;
    return true;
}

namespace {

// "game first T k=v ..." or "game restart k=v ...", every value in its range.
bool read_game_line(const std::string &line, demo_header &out, std::string &error) {
    std::istringstream in(line);
    std::string word, kind;
    in >> word >> kind;
    if (kind == "first") {
        std::string t;
        in >> t;
        char *end = nullptr;
        out.title_ticks = std::strtol(t.c_str(), &end, 10);
        if (t.empty() || *end || out.title_ticks < 0 || out.title_ticks > 1000000) {
            error = "the title's ticks must be a whole number from 0 to 1000000";
            return false;
        }
        out.game_first = true;
    } else if (kind != "restart") {
        error = "a game begins first or restart";
        return false;
    }
    static const char *const needed[] = {"rand", "ply.x", "ply.y", "ply.z", "gw",
                                         "gh",   "xo",    "yo",    "moveon"};
    out.game_view.clear();
    for (std::string f; in >> f;) {
        const auto eq = f.find('=');
        if (eq == std::string::npos) {
            error = "expects NAME=VALUE";
            return false;
        }
        out.game_view.emplace_back(f.substr(0, eq), f.substr(eq + 1));
    }
    auto value = [&](const char *name, std::string &v) {
        for (const auto &f : out.game_view)
            if (f.first == name) {
                v = f.second;
                return true;
            }
        return false;
    };
    for (const char *name : needed) {
        std::string v;
        if (!value(name, v)) {
            error = std::string("the game's start needs ") + name;
            return false;
        }
        char *end = nullptr;
        errno = 0;
        if (name[0] == 'p') {
            const double d = std::strtod(v.c_str(), &end);
            // The eye stays at its height; only its place over the ground moves.
            if (v.empty() || *end || !std::isfinite(d) ||
                (std::strcmp(name, "ply.y") == 0 && d != -120.0)) {
                error = std::string("not a place for the eye: ") + name;
                return false;
            }
            continue;
        }
        const long long n = std::strtoll(v.c_str(), &end, 10);
        long long lo = -32768, hi = 32767;
        if (std::strcmp(name, "rand") == 0) lo = 0, hi = 4294967295LL;
        if (name[0] == 'g') lo = 0;
        if (std::strcmp(name, "moveon") == 0) lo = 0, hi = 1;
        if (v.empty() || *end || errno || n < lo || n > hi) {
            error = std::string("out of range: ") + name;
            return false;
        }
    }
    out.game = true;
    return true;
}

} // namespace

bool demo_begin_game(const demo_header &h, std::string &error) {
    if (!h.game) return true;
    auto value = [&](const char *name) {
        for (const auto &f : h.game_view)
            if (f.first == name) return f.second;
        return std::string();
    };
    const uint32_t rand = static_cast<uint32_t>(std::strtoull(value("rand").c_str(), nullptr, 10));
    if (h.game_first) {
        // The title's ticks from start-up: the first stage has moved behind the title since.
        for (long t = 0; t < h.title_ticks; ++t)
            feed_timer();
        if (game_rand_state() != rand) {
            error = "the game does not begin where its demo says (rand=" +
                    std::to_string(game_rand_state()) + " after the title)";
            return false;
        }
    } else {
        gs.started = 1;
        plat_hide_cursor();
        restart_game();
        key_press = KEY_NONE;
        game_rand_reset(rand);
    }
    ply.x = std::strtod(value("ply.x").c_str(), nullptr);
    ply.y = std::strtod(value("ply.y").c_str(), nullptr);
    ply.z = std::strtod(value("ply.z").c_str(), nullptr);
    resize(std::atoi(value("gw").c_str()), std::atoi(value("gh").c_str()));
    xo = std::atoi(value("xo").c_str());
    yo = std::atoi(value("yo").c_str());
    moveon = std::atoi(value("moveon").c_str());
    plat_recorded().clear(); // the resize's warp is no part of the game
    return true;
}

bool demo_check(const std::string &path, bool must_be_demo, bool demo_only, demo_header &out,
                std::string &error) {
    out = demo_header{};
    error.clear();
    script_file f;
    if (!f.open(path, error)) return false;
    std::string line;
    long n = 0;
    bool in_header = false;
    while (f.next(line, n, error)) {
        out.lines = n;
        if (n == 1 && line.rfind(header_word, 0) == 0) {
            std::istringstream h(line.substr(header_word.size()));
            std::string name;
            if (!(h >> out.format) || out.format < 1 || out.format > demo_format) {
                error = path + ": a demo of another format; this tarmik plays formats 1 to " +
                        std::to_string(demo_format);
                return false;
            }
            h >> name >> out.version;
            out.is_demo = true;
            in_header = out.format >= 2;
            continue;
        }
        if (n == 1 && must_be_demo) {
            error = path + ": not a tarmik demo";
            return false;
        }
        if (in_header) {
            std::istringstream h(line);
            std::string word, value;
            h >> word >> value;
            if (word == "game") {
                if (!read_game_line(line, out, error)) {
                    error = path + ":" + std::to_string(n) + ": " + error + ": " + shown_line(line);
                    return false;
                }
                continue;
            }
            if (word == "stages") {
                if (value.size() != 64 ||
                    value.find_first_not_of("0123456789abcdef") != std::string::npos) {
                    error = path + ":" + std::to_string(n) +
                            ": a stage set is 64 hex digits: " + shown_line(line);
                    return false;
                }
                out.stages = value;
                continue;
            }
            in_header = false;
        }
        script_line parsed;
        if (!script_parse(line, demo_only, parsed, error)) {
            error = path + ":" + std::to_string(n) + ": " + error + ": " + shown_line(line);
            return false;
        }
        if (parsed.name == "menu") out.menu_words += parsed.words[0] + "\n";
    }
    if (!error.empty()) return false;
    if (must_be_demo && !out.is_demo) {
        error = path + ": not a tarmik demo";
        return false;
    }
    return true;
}

std::string demo_stage_mismatch(const demo_header &h, const std::string &path) {
    if (h.stages.empty() || h.stages == stage_set_hash()) return "";
    return path + ": recorded on another stage set; this stagefile.txt differs, so it cannot "
                  "play back here";
}

void demo_feed_menu(const demo_header &h) {
    static std::istringstream answers;
    if (h.menu_words.empty() && !h.is_demo) return;
    options.play = h.menu_words.empty();
    answers.str(h.menu_words);
    std::cin.rdbuf(answers.rdbuf());
}

// ---------------------------------------------------------------- the game's options

namespace {

std::string play_path;
demo_header play_header;
bool timedemo = false;
std::chrono::steady_clock::time_point play_start, next_tick;
long played_frames = 0;

void no_timer() {}

void pump_until(std::chrono::steady_clock::time_point t) {
    while (std::chrono::steady_clock::now() < t) {
        plat_pump_events();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void pace() {
    pump_until(next_tick);
    next_tick = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
}

// A time-demo runs flat out, but the window system still gets its turn now and then, so q and
// Esc end it as they end any game.
std::chrono::steady_clock::time_point last_pump;
void pump_now_and_then() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_pump < std::chrono::milliseconds(50)) return;
    last_pump = now;
    plat_pump_events();
}

void report_timedemo() {
    if (plat_window_open()) glFinish();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - play_start).count();
    std::fprintf(stderr, "timedemo: %ld frames, %.3f seconds, %.1f frames per second\n",
                 played_frames, s, s > 0 ? played_frames / s : 0.0);
}

void play_loop() {
    // The window comes up on its own; only then do the recorded callbacks draw into it.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (demo_live_reshapes() == 0 && std::chrono::steady_clock::now() < give_up) {
        plat_pump_events();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    script_host host;
    host.pace = timedemo ? pump_now_and_then : pace;
    static script_runner runner(host);
    play_start = next_tick = std::chrono::steady_clock::now();
    // The demo may end with Esc or q; registered after the runner, so it runs before the
    // runner goes.
    if (timedemo)
        std::atexit([] {
            played_frames = runner.frames();
            report_timedemo();
        });
    script_file f;
    std::string line, error;
    long n = 0;
    if (!f.open(play_path, error)) {
        std::fprintf(stderr, "tarmik: %s\n", error.c_str());
        quit(2);
    }
    if (!demo_begin_game(play_header, error)) {
        std::fprintf(stderr, "tarmik: %s: %s\n", play_path.c_str(), error.c_str());
        quit(1);
    }
    last_pump = std::chrono::steady_clock::now();
    bool in_header = true;
    while (f.next(line, n, error)) {
        if (n == 1) continue;
        if (in_header && (line.rfind("stages ", 0) == 0 || line.rfind("game ", 0) == 0)) continue;
        in_header = false;
        script_line parsed;
        int status = 0;
        if (!script_parse(line, true, parsed, error))
            status = 2;
        else
            status = runner.run(parsed, error);
        if (status != 0) {
            std::fprintf(stderr, "tarmik: %s:%ld: %s: %s\n", play_path.c_str(), n, error.c_str(),
                         shown_line(line).c_str());
            quit(status);
        }
        // The window system gets its turn after every line.
        if (timedemo)
            pump_now_and_then();
        else
            plat_pump_events();
    }
    if (!error.empty()) {
        std::fprintf(stderr, "tarmik: %s\n", error.c_str());
        quit(2);
    }
    played_frames = runner.frames();
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
        std::string error = record_target_refused(record);
        if (!error.empty()) {
            std::fprintf(stderr, "tarmik: %s: %s\n", record.c_str(), error.c_str());
            return 2;
        }
        if (!recording.open(record, error)) {
            std::fprintf(stderr, "tarmik: %s\n", error.c_str());
            return 2;
        }
        recording.line(header_word + " " + std::to_string(demo_format) + " tarmik " +
                       tarmik_version);
        recording.line("stages " + stage_set_hash());
        std::atexit(finish_recording);
    }
    // Each game's own demo is kept in memory, for the shared ranking.
    demo_keep_games(false);
    if (!play.empty()) {
        demo_header h;
        std::string error;
        if (!demo_check(play, true, true, h, error)) {
            std::fprintf(stderr, "tarmik: %s\n", error.c_str());
            return 2;
        }
        error = demo_stage_mismatch(h, play);
        if (!error.empty()) {
            std::fprintf(stderr, "tarmik: %s\n", error.c_str());
            return 2;
        }
        play_path = play;
        play_header = h;
        timedemo = time_it;
        demo_feed_menu(h);
        // The result goes into the table in memory (its place is shown), not into the file.
        clScore.save = ranking;
        // The pointer stays with the player: the game's warps are not carried out.
        plat_set_recording(true);
        demo_set_playing(true);
        hooks.arm_timer = no_timer;
        hooks.main_loop = play_loop;
    }
    return -1;
}
