#include "base/terminal.h"

#include "base/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>

namespace {

// The codeset a locale's name gives ("UTF-8" of "ja_JP.utf8"), upper case; empty for none.
std::string named_codeset() {
    const char *vars[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char *var : vars) {
        const char *v = std::getenv(var);
        if (!v || !*v) continue;
        const std::string name = v;
        const size_t dot = name.find('.');
        if (dot == std::string::npos) return "";
        std::string cs = name.substr(dot + 1, name.find('@', dot) - dot - 1);
        for (auto &c : cs)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return cs == "UTF8" ? "UTF-8" : cs;
    }
    return "";
}

// The codeset of the terminal's locale, upper case; empty when stdout is not a terminal. A
// locale this system lacks (ja_JP.UTF-8 not generated) still names its codeset.
const std::string &locale_codeset() {
    static const std::string cs = [] {
        if (!isatty(STDOUT_FILENO)) return std::string();
        std::string saved = std::setlocale(LC_CTYPE, nullptr);
        const bool known = std::setlocale(LC_CTYPE, "") != nullptr;
        std::string name = nl_langinfo(CODESET);
        std::setlocale(LC_CTYPE, saved.c_str());
        if (!known && !named_codeset().empty()) return named_codeset();
        for (auto &c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    }();
    return cs;
}

bool is_ascii(const std::string &codeset) {
    return codeset == "ANSI_X3.4-1968" || codeset == "ASCII";
}

// What the console's bytes are converted to: empty when stdout is not a terminal or already
// Shift-JIS. The game's own lines reach an ASCII terminal in English (terminal_shows_japanese);
// what Japanese still comes there (a title typed into the ranking file by hand) goes as UTF-8,
// which an untranslated "C" locale terminal most likely is in practice.
const std::string &terminal_codeset() {
    static const std::string cs = [] {
        const std::string &name = locale_codeset();
        if (name == "SHIFT_JIS" || name == "SJIS" || name == "CP932" || name == "WINDOWS-31J")
            return std::string();
        return is_ascii(name) ? std::string("UTF-8") : name;
    }();
    return cs;
}

// The bytes from one codeset to another; what cannot go becomes mark and is passed over (with
// the rest of its character, coming from UTF-8). False when there is no such conversion.
bool convert(const std::string &bytes, const char *from, const std::string &to, const char *mark,
             std::string &out) {
    iconv_t cd = iconv_open(to.c_str(), from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    const bool utf8 = std::strcmp(from, "UTF-8") == 0;
    out.clear();
    char buf[256];
    char *in = const_cast<char *>(bytes.data());
    size_t inleft = bytes.size();
    while (inleft > 0) {
        char *o = buf;
        size_t oleft = sizeof buf;
        const size_t r = iconv(cd, &in, &inleft, &o, &oleft);
        out.append(buf, o - buf);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            out += mark;
            do {
                ++in;
                --inleft;
            } while (utf8 && inleft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
        }
    }
    iconv_close(cd);
    return true;
}

// The console's Shift-JIS for a terminal of codeset to; an undecodable byte shows a
// replacement mark.
std::string from_console(const std::string &sjis, const std::string &to) {
    std::string out;
    const char *mark = to == "UTF-8" ? "\xEF\xBF\xBD" : "?";
    return convert(sjis, "CP932", to + "//TRANSLIT", mark, out) ? out : sjis;
}

// Text read from files (a ranking title, say) may hold control characters; on a terminal
// they would be obeyed, so there they show as ^X. Control bytes are never part of a
// two-byte Shift-JIS character. Line feeds and tabs pass.
std::string harmless(const std::string &sjis) {
    std::string out;
    out.reserve(sjis.size());
    for (char ch : sjis) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
            out += '^';
            out += static_cast<char>(c ^ 0x40);
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace

bool terminal_shows_japanese() {
    static const bool shows = [] {
        if (!isatty(STDOUT_FILENO)) return true;
        const char *term = std::getenv("TERM");
        if (term && std::strcmp(term, "linux") == 0) return false;
        const std::string &name = locale_codeset();
        if (is_ascii(name)) return false;
        if (terminal_codeset().empty()) return true; // Shift-JIS itself
        // The codeset holds Japanese when the menu's line converts without a loss.
        iconv_t cd = iconv_open(name.c_str(), "CP932");
        if (cd == reinterpret_cast<iconv_t>(-1)) return false;
        char probe[] = "１：ゲームを開始する２：終了";
        char out[256];
        char *in = probe, *o = out;
        size_t inleft = sizeof probe - 1, oleft = sizeof out;
        const bool whole = iconv(cd, &in, &inleft, &o, &oleft) != static_cast<size_t>(-1);
        iconv_close(cd);
        return whole;
    }();
    return shows;
}

std::string sjis_to_utf8(const std::string &sjis) {
    return from_console(sjis, "UTF-8");
}

std::string terminal_text(const std::string &sjis) {
    const std::string &cs = terminal_codeset();
    return cs.empty() ? harmless(sjis) : from_console(harmless(sjis), cs);
}

std::string utf8_to_console(const std::string &utf8) {
    std::string out;
    return convert(utf8, "UTF-8", "CP932", "?", out) ? out : "?";
}
