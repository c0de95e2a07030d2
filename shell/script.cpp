// The command language of scripts and demos: one table of commands with their arguments,
// their help and what they run.
#include "shell/script.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <sstream>
#include <typeinfo>

#include "flow/gamestate.h"
#include "platform/driven.h"
#include "platform/platform.h"
#include "shell/demo.h"
#include "shell/shell.h"
#include "world/buttai.h"
#include "world/random.h"

namespace {

// Ranges: a line may ask for more than two and a half hours of play at once; positions and
// sizes are what a window system can deliver (16-bit).
constexpr long max_ticks = 100000;
constexpr long min_coord = -32768, max_coord = 32767;
constexpr long max_size = 32767;

struct command {
    const char *name;
    const char *args; // for the usage text
    const char *help;
    bool recorded; // a demo holds it
    // Reads the arguments into out; false with error set.
    bool (*parse)(const std::vector<std::string> &words, script_line &out, std::string &error);
    int (*run)(script_runner &r, const script_host &host, const script_line &line,
               std::string &error);
};

// A decimal integer with an optional sign in [min, max]; nothing else.
bool number(const std::string &w, long min, long max, long &v) {
    size_t i = w[0] == '-' || w[0] == '+' ? 1 : 0;
    if (i == w.size() || w.size() > 12) return false;
    long value = 0;
    for (; i < w.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(w[i]))) return false;
        value = value * 10 + (w[i] - '0');
    }
    if (w[0] == '-') value = -value;
    if (value < min || value > max) return false;
    v = value;
    return true;
}

bool looks_numeric(const std::string &w) {
    const size_t i = w[0] == '-' || w[0] == '+' ? 1 : 0;
    return i < w.size() && std::isdigit(static_cast<unsigned char>(w[i]));
}

bool range_error(std::string &error, const std::string &what, long min, long max) {
    error =
        what + " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    return false;
}

// Parses words[from..] as numbers in [min, max]; count of them must be in counts.
bool numbers(const std::vector<std::string> &words, size_t from, long min, long max,
             const char *what, script_line &out, std::string &error) {
    for (size_t i = from; i < words.size(); ++i) {
        long v;
        if (!number(words[i], min, max, v)) return range_error(error, what, min, max);
        out.numbers.push_back(v);
    }
    return true;
}

bool no_args(const std::vector<std::string> &w, script_line &, std::string &error) {
    if (w.empty()) return true;
    error = "takes no arguments";
    return false;
}

bool count_arg(const std::vector<std::string> &w, script_line &out, std::string &error) {
    if (w.size() > 1) {
        error = "takes one count at most";
        return false;
    }
    out.numbers.push_back(1);
    if (w.empty()) return true;
    if (!number(w[0], 1, max_ticks, out.numbers[0]))
        return range_error(error, "the count", 1, max_ticks);
    return true;
}

bool two_coords(const std::vector<std::string> &w, script_line &out, std::string &error) {
    if (w.size() != 2) {
        error = "needs X and Y";
        return false;
    }
    return numbers(w, 0, min_coord, max_coord, "a position", out, error);
}

bool two_sizes(const std::vector<std::string> &w, script_line &out, std::string &error, long min) {
    if (w.size() != 2) {
        error = "needs a width and a height";
        return false;
    }
    return numbers(w, 0, min, max_size, "a size", out, error);
}

bool one_word(const std::vector<std::string> &w, script_line &out, std::string &error) {
    if (w.size() != 1) {
        error = "needs one word";
        return false;
    }
    out.words = w;
    return true;
}

// key C|esc|space|NN [X Y] -> numbers: code [x y]
bool key_args(const std::vector<std::string> &w, script_line &out, std::string &error) {
    if (w.size() != 1 && w.size() != 3) {
        error = "needs a key, and a position or none";
        return false;
    }
    const std::string &k = w[0];
    long code;
    if (k == "esc")
        code = 27;
    else if (k == "space")
        code = ' ';
    else if (k.size() == 1 && k[0] > ' ' && k[0] < 127)
        code = static_cast<unsigned char>(k[0]);
    else if (k.size() >= 2 &&
             std::all_of(k.begin(), k.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        if (!number(k, 0, 255, code)) return range_error(error, "a key code", 0, 255);
    } else {
        error = "not a key (a character, esc, space or a code)";
        return false;
    }
    out.numbers.push_back(code);
    return numbers(w, 1, min_coord, max_coord, "a position", out, error);
}

// click [left|middle|right|NN] [down|up] [X Y] -> numbers: button state [x y]
bool click_args(const std::vector<std::string> &w, script_line &out, std::string &error) {
    long button = plat_left_button, state = plat_down;
    std::vector<long> nums;
    for (const std::string &word : w) {
        if (looks_numeric(word)) {
            long v;
            if (!number(word, min_coord, max_coord, v))
                return range_error(error, "a number", min_coord, max_coord);
            nums.push_back(v);
        } else if (word == "left") {
            button = plat_left_button;
        } else if (word == "middle") {
            button = plat_middle_button;
        } else if (word == "right") {
            button = plat_right_button;
        } else if (word == "down") {
            state = plat_down;
        } else if (word == "up") {
            state = plat_up;
        } else {
            error = "not a button or a state";
            return false;
        }
    }
    // A lone number, or one before the position, is the button's code.
    if (nums.size() == 1 || nums.size() == 3) {
        if (nums[0] < 0 || nums[0] > 31) return range_error(error, "a button code", 0, 31);
        button = nums[0];
        nums.erase(nums.begin());
    }
    if (!nums.empty() && nums.size() != 2) {
        error = "needs a position of two numbers";
        return false;
    }
    out.numbers = {button, state};
    out.numbers.insert(out.numbers.end(), nums.begin(), nums.end());
    return true;
}

bool expect_args(const std::vector<std::string> &w, script_line &out, std::string &error) {
    for (const std::string &f : w) {
        if (f.find('=') == std::string::npos || f[0] == '=') {
            error = "expects NAME=VALUE";
            return false;
        }
    }
    out.words = w;
    return true;
}

bool pairs(const std::vector<std::string> &w, script_line &out, std::string &error, bool one) {
    if (w.empty() || w.size() % 2 != 0 || (one && w.size() != 2)) {
        error = one ? "needs DX and DY" : "needs pairs of DX and DY";
        return false;
    }
    return numbers(w, 0, min_coord, max_coord, "a move", out, error);
}

int run_menu(script_runner &, const script_host &, const script_line &, std::string &) {
    return 0; // answered before the window opened
}

int run_tick(script_runner &r, const script_host &, const script_line &l, std::string &) {
    for (long k = 0; k < l.numbers[0]; ++k)
        r.tick(l.name == "tick");
    return 0;
}

int run_frame(script_runner &r, const script_host &, const script_line &, std::string &) {
    r.frame();
    return 0;
}

int run_key(script_runner &r, const script_host &, const script_line &l, std::string &) {
    const bool at = l.numbers.size() == 3;
    feed_key(static_cast<unsigned char>(l.numbers[0]),
             at ? static_cast<int>(l.numbers[1]) : r.cursor_x - driven_pointer::client_left,
             at ? static_cast<int>(l.numbers[2]) : r.cursor_y - driven_pointer::client_top);
    return 0;
}

int run_click(script_runner &r, const script_host &, const script_line &l, std::string &) {
    const bool at = l.numbers.size() == 4;
    feed_click(static_cast<int>(l.numbers[0]), static_cast<int>(l.numbers[1]),
               at ? static_cast<int>(l.numbers[2]) : r.cursor_x - driven_pointer::client_left,
               at ? static_cast<int>(l.numbers[3]) : r.cursor_y - driven_pointer::client_top);
    return 0;
}

int run_motion(script_runner &r, const script_host &, const script_line &l, std::string &) {
    feed_motion(static_cast<int>(l.numbers[0]), static_cast<int>(l.numbers[1]));
    // The pointer is where the motion said, or where the game warped it since.
    r.cursor_x = static_cast<int>(l.numbers[0]) + driven_pointer::client_left;
    r.cursor_y = static_cast<int>(l.numbers[1]) + driven_pointer::client_top;
    r.take_warps();
    return 0;
}

// The real window follows for the eye, as far as the screen holds it; the game gets the
// recorded size whatever comes.
void follow_with_window(int w, int h) {
    // A scaled frame follows the game's size by itself, in the window the player made.
    if (!plat_window_open() || plat_frame_scaled() || w <= 0 || h <= 0) return;
    int sw, sh, cw, ch;
    plat_screen_size(sw, sh);
    if (sw > 0 && sh > 0) {
        w = std::min(w, sw);
        h = std::min(h, sh);
    }
    plat_window_size(cw, ch);
    if (cw != w || ch != h) plat_reshape_window(w, h);
}

int run_reshape(script_runner &, const script_host &, const script_line &l, std::string &) {
    const int w = static_cast<int>(l.numbers[0]), h = static_cast<int>(l.numbers[1]);
    follow_with_window(w, h);
    feed_reshape(w, h);
    return 0;
}

int run_expect(script_runner &, const script_host &, const script_line &l, std::string &error) {
    const auto now = game_state();
    for (const std::string &field : l.words) {
        const auto eq = field.find('=');
        const std::string name = field.substr(0, eq), want = field.substr(eq + 1);
        auto it =
            std::find_if(now.begin(), now.end(), [&](const auto &f) { return f.first == name; });
        if (it == now.end()) {
            error = "no such state: " + name;
            return 1;
        }
        if (it->second != want) {
            error = "played back differently: " + name + "=" + it->second + ", recorded " + want;
            return 1;
        }
    }
    return 0;
}

int run_move(script_runner &r, const script_host &, const script_line &l, std::string &) {
    auto clamp = [](long v) { return static_cast<int>(std::clamp(v, min_coord, max_coord)); };
    for (size_t i = 0; i < l.numbers.size(); i += 2) {
        r.cursor_x = clamp(static_cast<long>(r.cursor_x) + l.numbers[i]);
        r.cursor_y = clamp(static_cast<long>(r.cursor_y) + l.numbers[i + 1]);
    }
    // The first queued event finds the pointer at the end of its travel; the platform merges
    // the rest into it. A single move reaches the game even without travel.
    plat_motion_event(r.cursor_x - driven_pointer::client_left,
                      r.cursor_y - driven_pointer::client_top, l.name == "move");
    r.take_echo();
    return 0;
}

int run_resize(script_runner &r, const script_host &host, const script_line &l, std::string &) {
    const int w = static_cast<int>(l.numbers[0]), h = static_cast<int>(l.numbers[1]);
    follow_with_window(w, h);
    if (plat_window_open() && !plat_frame_scaled() && host.await_resize) host.await_resize(w, h);
    // The window system follows a reshape with a frame.
    feed_reshape(w, h);
    r.frame();
    r.take_echo();
    return 0;
}

int run_png(script_runner &, const script_host &host, const script_line &l, std::string &error) {
    if (!host.png || !plat_window_open()) {
        error = "no window to take a picture of";
        return 2;
    }
    return host.png(l.words[0], error) ? 0 : 2;
}

int run_state(script_runner &, const script_host &host, const script_line &, std::string &) {
    for (const auto &f : game_state())
        std::fprintf(host.report, "%s=%s\n", f.first.c_str(), f.second.c_str());
    return 0;
}

int run_objects(script_runner &, const script_host &host, const script_line &, std::string &) {
    print_objects(host.report);
    return 0;
}

const command commands[] = {
    {"menu", "WORD", "a menu answer (then the menu reads these, not standard input)", true,
     one_word, run_menu},
    {"tick", "[N]", "N timer ticks (default 1), each followed by a frame", true, count_arg,
     run_tick},
    {"timer", "[N]", "N timer ticks without frames", true, count_arg, run_tick},
    {"frame", "", "one frame (a key is acted on at the next frame)", true, no_args, run_frame},
    {"key", "C|esc|space|NN [X Y]", "a key press (NN: its code, two or more digits)", true,
     key_args, run_key},
    {"click", "[left|middle|right|NN] [down|up] [X Y]", "a mouse button (default: left, down)",
     true, click_args, run_click},
    {"motion", "X Y", "the motion callback at window point X Y, as delivered (no echo added)", true,
     [](const std::vector<std::string> &w, script_line &o, std::string &e) {
         return two_coords(w, o, e);
     },
     run_motion},
    {"reshape", "W H", "the reshape callback alone", true,
     [](const std::vector<std::string> &w, script_line &o, std::string &e) {
         return two_sizes(w, o, e, 0);
     },
     run_reshape},
    {"expect", "NAME=VALUE ...",
     "stop with status 1 unless the state (as `state` prints it) holds these values", true,
     expect_args, run_expect},
    {"move", "DX DY",
     "the mouse moves DX, DY pixels; the view follows and the warp's echo comes back", false,
     [](const std::vector<std::string> &w, script_line &o, std::string &e) {
         return pairs(w, o, e, true);
     },
     run_move},
    {"burst", "DX DY [DX DY ...]",
     "moves made back to back, queued before the game sees any of them (a fast mouse)", false,
     [](const std::vector<std::string> &w, script_line &o, std::string &e) {
         return pairs(w, o, e, false);
     },
     run_move},
    {"resize", "W H", "the window is resized (the reshape callback, then a frame)", false,
     [](const std::vector<std::string> &w, script_line &o, std::string &e) {
         return two_sizes(w, o, e, 1);
     },
     run_resize},
    {"png", "FILE", "the window as it shows now, title line included, as PNG", false, one_word,
     run_png},
    {"state", "", "the game state, NAME=VALUE a line, on standard error", false, no_args,
     run_state},
    {"objects", "", "every object with its position, on standard error", false, no_args,
     run_objects},
};

const command *find_command(const std::string &name) {
    for (const command &c : commands)
        if (name == c.name) return &c;
    return nullptr;
}

} // namespace

std::string shown_line(const std::string &line) {
    static const char hex[] = "0123456789abcdef";
    std::string s = "\"";
    size_t n = 0;
    for (unsigned char c : line) {
        if (++n > 60) {
            s += "...";
            break;
        }
        if (c < 0x20 || c == 0x7F) {
            s += '^';
            s += static_cast<char>(c ^ 0x40);
        } else if (c >= 0x80 || c == '"' || c == '\\') {
            s += "\\x";
            s += hex[c >> 4];
            s += hex[c & 15];
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

bool script_parse(const std::string &raw, bool demo_only, script_line &out, std::string &error) {
    out = script_line{};
    const std::string line = raw.substr(0, raw.find('#'));
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.empty()) return true;
    const command *c = find_command(words[0]);
    if (!c || (demo_only && !c->recorded)) {
        error = demo_only ? "not a demo command" : "not a command";
        return false;
    }
    out.name = c->name;
    out.recorded = c->recorded;
    words.erase(words.begin());
    if (!c->parse(words, out, error)) {
        error = out.name + ": " + error;
        return false;
    }
    return true;
}

std::string script_usage(bool driver) {
    std::string text;
    for (const command &c : commands) {
        if (!driver && !c.recorded) continue;
        std::string left = std::string("  ") + c.name + (*c.args ? " " : "") + c.args;
        left.resize(std::max<size_t>(left.size() + 2, 46), ' ');
        text += left + c.help + "\n";
    }
    return text;
}

int script_runner::run(const script_line &line, std::string &error) {
    if (line.name.empty()) return 0;
    const command *c = find_command(line.name);
    if (!c->recorded && !host_.driver) {
        error = "not a demo command";
        return 2;
    }
    const int status = c->run(*this, host_, line, error);
    std::fflush(host_.report);
    return status;
}

void script_runner::frame() {
    feed_frame();
    ++frames_;
    if (host_.after_frame) host_.after_frame();
}

void script_runner::tick(bool with_frame) {
    if (host_.pace) host_.pace();
    feed_timer();
    ++ticks_;
    if (with_frame) frame();
}

// Follows the game's warps, so the next motion starts where the pointer really is.
bool script_runner::take_warps() {
    bool warped = false;
    auto &ev = plat_recorded();
    for (const plat_event &e : ev) {
        if (e.what != "warp") continue;
        cursor_x = e.x;
        cursor_y = e.y;
        warped = true;
    }
    // What has been followed is not needed again.
    ev.clear();
    return warped;
}

// The motion event of the game's own warp comes back at the warped point; the pointer then
// stands where a warp made while handling it put it.
void script_runner::take_echo() {
    if (take_warps())
        plat_motion_event(cursor_x - driven_pointer::client_left,
                          cursor_y - driven_pointer::client_top, false);
    take_warps();
}

std::vector<std::pair<std::string, std::string>> game_state() {
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

namespace {
const char *type_of(buttai *b) {
    if (dynamic_cast<hito *>(b)) return "hito";
    if (dynamic_cast<mato *>(b)) return "mato";
    if (dynamic_cast<building *>(b)) return "building";
    if (dynamic_cast<tama *>(b)) return "tama";
    return "buttai";
}
} // namespace

void print_objects(std::FILE *out) {
    const std::pair<const char *, buttai_list *> lists[] = {
        {"buttai_set", &buttai_set}, {"tama_set", &tama_set}, {"building_set", &building_set}};
    for (const auto &l : lists)
        for (buttai *b : *l.second)
            std::fprintf(out, "%s %s %.17g %.17g %.17g %.17g\n", l.first, type_of(b), b->life,
                         b->pos.x, b->pos.y, b->pos.z);
}
