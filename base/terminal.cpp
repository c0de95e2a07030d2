#include "base/terminal.h"

#include "base/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstring>

namespace {

// The terminal's codeset, or empty when stdout is not a terminal or already Shift-JIS.
const std::string &terminal_codeset() {
    static const std::string cs = [] {
        if (!isatty(STDOUT_FILENO)) return std::string();
        std::string saved = std::setlocale(LC_CTYPE, nullptr);
        std::setlocale(LC_CTYPE, "");
        std::string name = nl_langinfo(CODESET);
        std::setlocale(LC_CTYPE, saved.c_str());
        for (auto &c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name == "SHIFT_JIS" || name == "SJIS" || name == "CP932" || name == "WINDOWS-31J")
            return std::string();
        // An untranslated "C" locale terminal is most likely UTF-8 in practice.
        if (name == "ANSI_X3.4-1968" || name == "ASCII") name = "UTF-8";
        return name;
    }();
    return cs;
}

std::string convert(const std::string &bytes, const char *to) {
    iconv_t cd = iconv_open((std::string(to) + "//TRANSLIT").c_str(), "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
    std::string out;
    char buf[256];
    char *in = const_cast<char *>(bytes.data());
    size_t inleft = bytes.size();
    while (inleft > 0) {
        char *o = buf;
        size_t oleft = sizeof buf;
        size_t r = iconv(cd, &in, &inleft, &o, &oleft);
        out.append(buf, o - buf);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // Undecodable byte: show a replacement mark and go on.
            out += (std::strcmp(to, "UTF-8") == 0) ? "\xEF\xBF\xBD" : "?";
            ++in;
            --inleft;
        }
    }
    iconv_close(cd);
    return out;
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

std::string sjis_to_utf8(const std::string &sjis) {
    return convert(sjis, "UTF-8");
}

std::string terminal_text(const std::string &sjis) {
    const std::string &cs = terminal_codeset();
    return cs.empty() ? harmless(sjis) : convert(harmless(sjis), cs.c_str());
}

std::string utf8_to_console(const std::string &utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "?";
    std::string out;
    char buf[256];
    char *in = const_cast<char *>(utf8.data());
    size_t inleft = utf8.size();
    while (inleft > 0) {
        char *o = buf;
        size_t oleft = sizeof buf;
        const size_t r = iconv(cd, &in, &inleft, &o, &oleft);
        out.append(buf, o - buf);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // Not in Shift-JIS, or not UTF-8: the rest of that character goes too.
            out += '?';
            do {
                ++in;
                --inleft;
            } while (inleft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
        }
    }
    iconv_close(cd);
    return out;
}
