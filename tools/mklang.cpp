// Compiles the message catalogs po/*.po into the table the game looks its texts up in:
//   tarmik-mklang OUT.cpp PO...        a C++ source defining lang_catalogs (base/lang_table.h)
//   tarmik-mklang --js OUT.js PO...    the same catalogs for the page's script (UTF-8)
// A catalog is named as its file (po/en.po: "en"). Its msgids are the game's Japanese texts in
// UTF-8; the table keys them by their Shift-JIS bytes, which is what the game's literals are
// (compiled with -fexec-charset=CP932), and holds the translations in Shift-JIS too. Entries
// that are fuzzy or untranslated are left out (the game then shows the Japanese), with a
// warning. Refused, so that no catalog can break the game: a charset other than UTF-8, plural
// or context entries, a text Shift-JIS cannot hold, control characters, a translation whose
// printf directives differ from its msgid's, and a backslash or tilde in a translation (the
// window's half-width glyphs are JIS X 0201: they show a yen sign and an overline).
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/json.h"

namespace {

struct entry {
    std::string msgid, msgstr; // UTF-8, as the file has them
    int line = 0;
};

struct catalog {
    std::string code, file;
    std::vector<entry> entries;
};

[[noreturn]] void fail(const std::string &where, const std::string &what) {
    std::fprintf(stderr, "mklang: %s: %s\n", where.c_str(), what.c_str());
    std::exit(1);
}

// The contents of a PO string ("..." with C escapes), appended to out.
bool unquote(const std::string &s, std::string &out) {
    size_t i = s.find_first_not_of(" \t");
    if (i == std::string::npos || s[i] != '"') return false;
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') return s.find_first_not_of(" \t\r", i + 1) == std::string::npos;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) return false;
        switch (s[i]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case '\\':
        case '"':
        case '\'':
        case '?':
            out += s[i];
            break;
        default:
            if (s[i] >= '0' && s[i] <= '7') {
                int v = 0, n = 0;
                for (; n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++n, ++i)
                    v = v * 8 + (s[i] - '0');
                --i;
                out += static_cast<char>(v);
            } else {
                return false;
            }
        }
    }
    return false;
}

catalog read_po(const std::string &path) {
    catalog cat;
    cat.file = path;
    std::string base = path.substr(path.find_last_of('/') + 1);
    if (base.size() < 4 || base.compare(base.size() - 3, 3, ".po") != 0)
        fail(path, "a catalog is a .po file named after its language (en.po)");
    cat.code = base.substr(0, base.size() - 3);
    std::ifstream in(path);
    if (!in) fail(path, "cannot read it");

    entry cur;
    bool fuzzy = false, obsolete = false, any = false;
    std::string *target = nullptr;
    std::string header;
    bool header_seen = false;
    auto finish = [&]() {
        if (any && !obsolete) {
            if (cur.msgid.empty() && !header_seen) {
                header = cur.msgstr;
                header_seen = true;
            } else if (cur.msgid.empty()) {
                fail(path + ":" + std::to_string(cur.line), "a second entry with an empty msgid");
            } else if (fuzzy || cur.msgstr.empty()) {
                std::fprintf(stderr, "mklang: %s:%d: warning: not translated%s, left out\n",
                             path.c_str(), cur.line, fuzzy ? " (fuzzy)" : "");
            } else {
                cat.entries.push_back(cur);
            }
        }
        cur = entry();
        fuzzy = obsolete = any = false;
        target = nullptr;
    };

    std::string text;
    int n = 0;
    bool after_msgstr = false;
    while (std::getline(in, text)) {
        ++n;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        const size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos) {
            finish();
            after_msgstr = false;
            continue;
        }
        const std::string t = text.substr(first);
        if (t[0] == '#') {
            if (after_msgstr) {
                finish();
                after_msgstr = false;
            }
            if (t.compare(0, 2, "#~") == 0) {
                obsolete = true;
            } else if (t.compare(0, 2, "#,") == 0 && t.find("fuzzy") != std::string::npos) {
                fuzzy = true;
            }
            continue;
        }
        if (t[0] == '"') {
            if (!target || !unquote(t, *target))
                fail(path + ":" + std::to_string(n), "a string where none belongs, or malformed");
            continue;
        }
        const std::string word = t.substr(0, t.find_first_of(" \t"));
        const std::string rest = t.substr(word.size());
        if (word == "msgctxt" || word == "msgid_plural" || word.compare(0, 7, "msgstr[") == 0)
            fail(path + ":" + std::to_string(n), word + ": the game's catalogs use none");
        if (word == "msgid") {
            if (after_msgstr) finish();
            after_msgstr = false;
            any = true;
            cur.line = n;
            target = &cur.msgid;
        } else if (word == "msgstr") {
            if (!any || target != &cur.msgid)
                fail(path + ":" + std::to_string(n), "msgstr without its msgid");
            after_msgstr = true;
            target = &cur.msgstr;
        } else {
            fail(path + ":" + std::to_string(n), "not a line of a PO file");
        }
        if (!unquote(rest, *target)) fail(path + ":" + std::to_string(n), "a malformed string");
    }
    finish();
    if (!header_seen) fail(path, "no header entry (msgid \"\")");
    std::string lower = header;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("charset=utf-8") == std::string::npos)
        fail(path, "the catalog must be UTF-8 (Content-Type: text/plain; charset=UTF-8)");
    return cat;
}

// UTF-8 to Shift-JIS (code page 932), as the compiler makes the game's literals.
bool to_sjis(const std::string &utf8, std::string &out) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) fail("iconv", "no conversion from UTF-8 to CP932");
    out.clear();
    std::vector<char> buf(utf8.size() * 2 + 16);
    char *in = const_cast<char *>(utf8.data());
    size_t inleft = utf8.size();
    char *o = buf.data();
    size_t oleft = buf.size();
    const size_t r = iconv(cd, &in, &inleft, &o, &oleft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return false;
    out.assign(buf.data(), o - buf.data());
    return true;
}

// The printf conversions of a text, in order ("%%" is none).
std::string directives(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') continue;
        size_t j = i + 1;
        while (j < s.size() && std::strchr("0123456789.-+ #'lhzjt", s[j]))
            ++j;
        if (j >= s.size()) return out + "<cut>";
        if (s[j] != '%') out += s.substr(i, j - i + 1) + " ";
        i = j;
    }
    return out;
}

// What a translation may not hold, in its Shift-JIS bytes; empty when it is fine.
std::string unfit(const std::string &sjis, bool translation) {
    for (size_t i = 0; i < sjis.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(sjis[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            ++i; // a two-byte character: its second byte may be anything
            continue;
        }
        if (c < 0x20 || c == 0x7F) return "a control character";
        if (translation && (c == 0x5C || c == 0x7E))
            return "a backslash or tilde (the window's font shows a yen sign or an overline)";
    }
    return "";
}

std::string c_string(const std::string &bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == ' ') {
            out += static_cast<char>(c);
        } else {
            char b[8];
            std::snprintf(b, sizeof b, "\\%03o", c);
            out += b;
        }
    }
    return out + "\"";
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) fail(path, "cannot write it");
}

} // namespace

int main(int argc, char **argv) {
    bool js = argc > 1 && std::strcmp(argv[1], "--js") == 0;
    const int first = js ? 2 : 1;
    if (argc < first + 1) {
        std::fprintf(stderr, "usage: tarmik-mklang [--js] OUT PO...\n");
        return 2;
    }
    const std::string out_path = argv[first];
    std::vector<catalog> catalogs;
    for (int i = first + 1; i < argc; ++i)
        catalogs.push_back(read_po(argv[i]));
    std::sort(catalogs.begin(), catalogs.end(),
              [](const catalog &a, const catalog &b) { return a.code < b.code; });

    std::string source =
        "// Made by tarmik-mklang from the catalogs in po/; the build makes it again when\n"
        "// they change.\n"
        "#include \"base/lang_table.h\"\n\nnamespace {\n";
    std::string table = "const lang_catalog lang_catalogs[] = {\n";
    std::string script = "// Made by tarmik-mklang from the catalogs in po/: the game's "
                         "texts (Japanese) and their translations.\nself.TARMIK_CATALOGS = {\n";
    for (size_t k = 0; k < catalogs.size(); ++k) {
        const catalog &cat = catalogs[k];
        if (cat.code == "ja") fail(cat.file, "Japanese is the game's own language, no catalog");
        std::map<std::string, std::string> sorted; // by the Shift-JIS bytes of the msgid
        for (const entry &e : cat.entries) {
            const std::string where = cat.file + ":" + std::to_string(e.line);
            std::string id, str;
            if (!to_sjis(e.msgid, id)) fail(where, "the msgid is not text Shift-JIS can hold");
            if (!to_sjis(e.msgstr, str))
                fail(where, "the translation is not text Shift-JIS can hold");
            std::string why = unfit(id, false);
            if (why.empty()) why = unfit(str, true);
            if (!why.empty()) fail(where, why);
            if (directives(e.msgid) != directives(e.msgstr))
                fail(where, "the translation's printf directives (" + directives(e.msgstr) +
                                ") differ from the msgid's (" + directives(e.msgid) + ")");
            if (!sorted.emplace(id, str).second) fail(where, "the msgid is there twice");
        }
        const std::string name = "catalog_" + std::to_string(k);
        source += "const lang_entry " + name + "[] = {\n";
        for (const auto &p : sorted)
            source += "    {" + c_string(p.first) + ", " + c_string(p.second) + "},\n";
        if (sorted.empty()) source += "    {\"\", \"\"},\n";
        source += "};\n";
        table += "    {" + c_string(cat.code) + ", " + name + ", " + std::to_string(sorted.size()) +
                 "},\n";
        script += "  " + json_string(cat.code) + ": {\n";
        for (const entry &e : cat.entries)
            script += "    " + json_string(e.msgid) + ": " + json_string(e.msgstr) + ",\n";
        script += "  },\n";
    }
    if (catalogs.empty()) table += "    {\"\", nullptr, 0},\n";
    source += "} // namespace\n\n" + table +
              "};\nconst size_t lang_catalog_count = " + std::to_string(catalogs.size()) + ";\n";
    script += "};\n";
    write_file(out_path, js ? script : source);
    return 0;
}
