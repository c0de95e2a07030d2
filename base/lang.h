#pragma once
// The game's languages. Its own texts are the original's Japanese, written in the sources as
// Shift-JIS literals; every other language is a gettext catalog in po/ (msgid: the Japanese
// text, msgstr: the translation) that tools/mklang.cpp compiles at build time into a table
// keyed by the Shift-JIS bytes of each msgid. Not gettext's own lookup: a PO or MO file cannot
// hold Shift-JIS msgids (their trail bytes include 0x5C, the PO format's escape), and looking
// texts up by their UTF-8 form would mean a conversion at every lookup, which the page, with
// no iconv, cannot make.
#include <string>

struct lang_catalog;
// A language: japanese (the texts as written) or one compiled catalog.
using language = const lang_catalog *;
constexpr language japanese = nullptr;

// Marks a text that a table holds and that is translated where it is shown (and tells
// xgettext to take it into the catalogs).
#define N_(text) text

// The language of everything the game shows: the window, and the console's pipes and files.
language game_language();
void set_game_language(language l);

// The text in the game's language, or in l: its translation where the catalog has one, the
// text itself otherwise (and always in Japanese). The result lives as long as the program.
const char *tr(const char *sjis) __attribute__((format_arg(1)));
const char *tr_in(language l, const char *sjis) __attribute__((format_arg(2)));

// "ja", or the code of a catalog ("en"): the language, or false.
bool find_language(const std::string &code, language &out);
std::string language_code(language l);
// The codes there are, as a help text lists them: "ja, en".
std::string language_codes();

// The language the environment asks for, by gettext's rules: LANGUAGE (a list, the first
// entry with a catalog wins) unless the locale is C or POSIX, then the locale of messages
// (LC_ALL, LC_MESSAGES, LANG: the first that is set). Japanese for ja, C and POSIX (C.UTF-8
// too); English for en and for a language without a catalog. Null or empty means unset.
language language_from(const char *language_var, const char *lc_all, const char *lc_messages,
                       const char *lang);
language language_from_environment();

// printf into a string.
std::string format_text(const char *format, ...) __attribute__((format(printf, 1, 2)));
