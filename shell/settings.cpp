#include "shell/settings.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/files.h"
#include "base/lang.h"
#include "base/terminal.h"
#include "shell/options.h"

game_settings settings;

namespace {

// A settings file is a few lines; anything far longer is not one.
constexpr size_t max_file = 64 * 1024;

// Words for on and off, as settings files commonly write them.
bool on_off(const std::string &v, bool &out) {
    if (v == "on" || v == "yes" || v == "true" || v == "1") {
        out = true;
        return true;
    }
    if (v == "off" || v == "no" || v == "false" || v == "0") {
        out = false;
        return true;
    }
    return false;
}

// A whole number of decimal digits in [lo, hi].
bool whole(const std::string &v, int lo, int hi, int &out) {
    if (v.empty() || v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int n = std::atoi(v.c_str());
    if (n < lo || n > hi) return false;
    out = n;
    return true;
}

// A decimal number (digits with at most one point) in [lo, hi].
bool decimal(const std::string &v, double lo, double hi, double &out) {
    if (v.empty() || v.size() > 12 || v.find_first_not_of("0123456789.") != std::string::npos ||
        v.find('.') != v.rfind('.') || v == ".")
        return false;
    const double d = std::strtod(v.c_str(), nullptr);
    if (!(d >= lo && d <= hi)) return false;
    out = d;
    return true;
}

// An http or https address, printable ASCII without blanks: nothing a request line could
// be made to carry.
bool web_address(const std::string &v) {
    if (v.size() > 200 || (v.rfind("http://", 0) != 0 && v.rfind("https://", 0) != 0)) return false;
    for (char c : v)
        if (c <= 0x20 || c >= 0x7F) return false;
    return v.size() > (v[4] == 's' ? 8u : 7u);
}

// 1 to 20 characters (as the shared ranking takes them) of well-formed UTF-8 (as the file holds
// it), no control characters.
bool player_name(const std::string &v) {
    size_t chars = 0;
    for (size_t i = 0; i < v.size(); ++chars) {
        const unsigned char c = static_cast<unsigned char>(v[i]);
        const size_t n = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
        if (n == 0 || i + n > v.size() || c < 0x20 || c == 0x7F) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(v[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return chars >= 1 && chars <= 20;
}

std::string on_off_word(bool b) {
    return b ? "on" : "off";
}

std::string decimal_word(double d) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", d);
    return b;
}

struct setting_def {
    const char *key;
    const char *values;   // what it takes, for the help and the warnings
    const char *fallback; // the default, as the file would say it
    const char *help;
    bool (*set)(const std::string &value, game_settings &s); // false: not a value it takes
    std::string (*get)(const game_settings &s);
};

// One row per key.
const setting_def setting_table[] = {
    {"scale", "1 to 8, or auto", "1",
     "the window shows each pixel of the 500 x 500 frame N x N times; auto: the largest N "
     "whose window fits two thirds of the screen",
     [](const std::string &v, game_settings &s) {
         if (v == "auto") {
             s.scale = 0;
             return true;
         }
         return whole(v, 1, 8, s.scale);
     },
     [](const game_settings &s) {
         return s.scale == 0 ? std::string("auto") : std::to_string(s.scale);
     }},
    {"fullscreen", "on or off", "off",
     "start in fullscreen, the frame scaled to the screen (F11 or Alt+Enter toggle it)",
     [](const std::string &v, game_settings &s) { return on_off(v, s.fullscreen); },
     [](const game_settings &s) { return on_off_word(s.fullscreen); }},
    {"filter", "nearest or linear", "nearest",
     "nearest: whole blocks of pixels; linear: the frame fills the window, smoothed",
     [](const std::string &v, game_settings &s) {
         if (v != "nearest" && v != "linear") return false;
         s.linear = v == "linear";
         return true;
     },
     [](const game_settings &s) { return std::string(s.linear ? "linear" : "nearest"); }},
    {"sensitivity", "0.1 to 10", "1",
     "panning per pixel of mouse motion, times 0.1 units of ground per frame pixel",
     [](const std::string &v, game_settings &s) { return decimal(v, 0.1, 10.0, s.sensitivity); },
     [](const game_settings &s) { return decimal_word(s.sensitivity); }},
    {"messages", "on or off", "off; on with --play",
     "the console's notices and the ranking listing (r) also in the window",
     [](const std::string &v, game_settings &s) { return on_off(v, s.messages); },
     [](const game_settings &s) { return on_off_word(s.messages); }},
    {"music-volume", "0 to 100", "100", "the music's volume in percent",
     [](const std::string &v, game_settings &s) { return whole(v, 0, 100, s.music_volume); },
     [](const game_settings &s) { return std::to_string(s.music_volume); }},
    {"effects-volume", "0 to 100", "100", "the effects' volume in percent",
     [](const std::string &v, game_settings &s) { return whole(v, 0, 100, s.effects_volume); },
     [](const game_settings &s) { return std::to_string(s.effects_volume); }},
    {"language", "ja or en", "as LANGUAGE, LC_ALL, LC_MESSAGES or LANG ask",
     "the language of the game's texts: ja, Japanese (the original's texts); en, English",
     [](const std::string &v, game_settings &s) {
         language l;
         if (!find_language(v, l)) return false;
         s.language = v;
         return true;
     },
     [](const game_settings &s) {
         return s.language.empty() ? language_code(language_from_environment()) : s.language;
     }},
    {"server", "an http:// or https:// address", "none",
     "the shared ranking each finished game is sent to (with player), where a server replays "
     "it and answers with its place",
     [](const std::string &v, game_settings &s) {
         if (!web_address(v)) return false;
         s.server = v;
         return true;
     },
     [](const game_settings &s) { return s.server; }},
    {"player", "a name of 1 to 20 characters", "none",
     "the name the shared ranking shows for your games",
     [](const std::string &v, game_settings &s) {
         if (!player_name(v)) return false;
         s.player = v;
         return true;
     },
     [](const game_settings &s) { return s.player; }},
};

const setting_def *find_setting(const std::string &key) {
    for (const setting_def &d : setting_table)
        if (key == d.key) return &d;
    return nullptr;
}

void note_source(std::vector<setting_source> &sources, const std::string &key,
                 const std::string &from) {
    for (setting_source &s : sources)
        if (s.key == key) {
            s.from = from;
            return;
        }
    sources.push_back({key, "", from});
}

std::string trimmed(const std::string &s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// A value as a warning shows it: bounded, control characters left out.
std::string shown(const std::string &v) {
    std::string out;
    for (char c : v.substr(0, 40))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return "\"" + out + (v.size() > 40 ? "...\"" : "\"");
}

std::vector<setting_source> sources;
std::string file_used;
bool file_found = false;

} // namespace

bool scaled_frame(const game_settings &s) {
    return s.scale != 1 || s.fullscreen || s.linear;
}

plat_frame_setup frame_setup(const game_settings &s) {
    plat_frame_setup f;
    f.scaled = scaled_frame(s);
    f.scale = s.scale;
    f.fullscreen = s.fullscreen;
    f.linear = s.linear;
    f.sensitivity = s.sensitivity;
    return f;
}

bool set_setting(const std::string &key, const std::string &value, const std::string &from,
                 game_settings &s, std::vector<setting_source> &from_list, std::string &error) {
    const setting_def *d = find_setting(key);
    if (!d) {
        error = "unknown setting " + shown(key);
        return false;
    }
    if (!d->set(value, s)) {
        error = key + " takes " + d->values + ", not " + shown(value);
        return false;
    }
    note_source(from_list, key, from);
    return true;
}

void read_settings(const std::string &text, const std::string &name, game_settings &s,
                   std::vector<setting_source> &from, std::string &warnings) {
    size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = trimmed(line);
        if (line.empty()) continue;
        const std::string where = name + ":" + std::to_string(number);
        const size_t eq = line.find('=');
        std::string error;
        if (eq == std::string::npos)
            error = "not a \"key = value\" line: " + shown(line);
        else
            set_setting(trimmed(line.substr(0, eq)), trimmed(line.substr(eq + 1)), where, s, from,
                        error);
        if (!error.empty()) warnings += "tarmik: " + where + ": " + error + "; left out\n";
    }
}

std::string settings_path() {
    // The base-directory rules: a relative XDG_CONFIG_HOME is not used.
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/tarmik/tarmik.conf";
    const char *home = std::getenv("HOME");
    if (!home || !*home) return "";
    return std::string(home) + "/.config/tarmik/tarmik.conf";
}

bool load_settings(std::string &error) {
    game_settings s;
    std::vector<setting_source> from;
    for (const setting_def &d : setting_table)
        from.push_back({d.key, "", "default"});
    // Started without a terminal, the window is where the notices can be read.
    if (options.play) {
        s.messages = true;
        note_source(from, "messages", "default with --play");
    }
    file_used = options.config.empty() ? settings_path() : options.config;
    file_found = false;
    std::string warnings;
    if (!file_used.empty()) {
        std::string text, why;
        struct stat st;
        if (read_regular(file_used, max_file, text, why)) {
            file_found = true;
            read_settings(text, file_used, s, from, warnings);
        } else if (!options.config.empty()) {
            error = file_used + ": " + why;
            return false;
        } else if (stat(file_used.c_str(), &st) == 0) {
            // There, but not to be read: said, and the game goes on with the defaults.
            warnings += "tarmik: " + file_used + ": " + why + "; the settings are the defaults\n";
        }
    }
    // The command line wins.
    if (!options.scale.empty() && !set_setting("scale", options.scale, "--scale", s, from, error))
        return false;
    if (options.fullscreen) set_setting("fullscreen", "on", "--fullscreen", s, from, error);
    if (!options.lang.empty() && !set_setting("language", options.lang, "--lang", s, from, error))
        return false;
    if (s.language.empty()) note_source(from, "language", "the environment");
    std::fputs(warnings.c_str(), stderr);
    std::fflush(stderr);
    settings = s;
    sources = from;
    return true;
}

std::string settings_report() {
    std::string out = "# tarmik's settings: each key's value and where it comes from\n";
    if (file_used.empty())
        out += "# no settings file (HOME is not set)\n";
    else
        out += "# file: " + file_used + (file_found ? "" : " (not there)") + "\n";
    for (const setting_def &d : setting_table) {
        // The player's name as the console writes every text, in Shift-JIS.
        std::string line = std::string(d.key) + " = " + utf8_to_console(d.get(settings));
        std::string from = "default";
        for (const setting_source &s : sources)
            if (s.key == d.key) from = s.from;
        line.resize(line.size() < 28 ? 28 : line.size() + 1, ' ');
        out += line + "# " + from + "\n";
    }
    return out;
}

std::string settings_help() {
    std::string text;
    for (const setting_def &d : setting_table) {
        text += std::string("  ") + d.key + " = " + d.values + " (default " + d.fallback + ")\n";
        // The help below, its words wrapped at 78 columns.
        std::string row = "     ";
        size_t at = 0;
        const std::string help = d.help;
        while (at < help.size()) {
            size_t end = help.find(' ', at);
            if (end == std::string::npos) end = help.size();
            const std::string word = help.substr(at, end - at);
            if (row.size() + 1 + word.size() > 78) {
                text += row + "\n";
                row = "     ";
            }
            row += " " + word;
            at = end + 1;
        }
        text += row + "\n";
    }
    return text;
}
