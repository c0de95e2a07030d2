#include "base/lang.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/lang_table.h"

namespace {

language current = japanese;

const lang_catalog *catalog_named(const std::string &code) {
    for (size_t i = 0; i < lang_catalog_count; ++i)
        if (code == lang_catalogs[i].code) return &lang_catalogs[i];
    return nullptr;
}

bool set(const char *v) {
    return v && *v;
}

// The language part of a locale name or a LANGUAGE entry: "en" of "en_GB.UTF-8@euro".
std::string language_part(const std::string &name) {
    return name.substr(0, name.find_first_of("_.@"));
}

// What a locale name asks for: Japanese for its own and for C; a catalog where there is one,
// English otherwise.
language for_locale(const std::string &name) {
    const std::string part = language_part(name);
    if (part == "C" || part == "POSIX" || part == "ja") return japanese;
    if (const lang_catalog *c = catalog_named(part)) return c;
    return catalog_named("en");
}

} // namespace

language game_language() {
    return current;
}

void set_game_language(language l) {
    current = l;
}

const char *tr_in(language l, const char *sjis) {
    if (l == japanese) return sjis;
    // The entries are sorted by their bytes: a binary search.
    size_t lo = 0, hi = l->count;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        const int c = std::strcmp(l->entries[mid].msgid, sjis);
        if (c == 0) return l->entries[mid].msgstr;
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return sjis;
}

const char *tr(const char *sjis) {
    return tr_in(current, sjis);
}

bool find_language(const std::string &code, language &out) {
    if (code == "ja") {
        out = japanese;
        return true;
    }
    const lang_catalog *c = catalog_named(code);
    if (c) out = c;
    return c != nullptr;
}

std::string language_code(language l) {
    return l == japanese ? "ja" : l->code;
}

std::string language_codes() {
    std::string codes = "ja";
    for (size_t i = 0; i < lang_catalog_count; ++i)
        codes += std::string(", ") + lang_catalogs[i].code;
    return codes;
}

language language_from(const char *language_var, const char *lc_all, const char *lc_messages,
                       const char *lang) {
    const char *locale = set(lc_all)        ? lc_all
                         : set(lc_messages) ? lc_messages
                         : set(lang)        ? lang
                                            : "C";
    // As gettext has it: LANGUAGE counts unless the locale is C or POSIX (C.UTF-8 is not).
    const bool plain = std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0;
    if (!plain && set(language_var)) {
        const std::string list = language_var;
        bool asked = false;
        for (size_t at = 0; at <= list.size();) {
            size_t end = list.find(':', at);
            if (end == std::string::npos) end = list.size();
            const std::string part = language_part(list.substr(at, end - at));
            at = end + 1;
            if (part.empty()) continue;
            asked = true;
            if (part == "ja" || part == "C" || part == "POSIX") return japanese;
            if (const lang_catalog *c = catalog_named(part)) return c;
        }
        // Only languages without a catalog: English serves them best.
        if (asked) return catalog_named("en");
    }
    return for_locale(locale);
}

language language_from_environment() {
    return language_from(std::getenv("LANGUAGE"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                         std::getenv("LANG"));
}

std::string format_text(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[0], out.size(), format, again);
        out.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}
