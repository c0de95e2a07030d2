#pragma once
#include <functional>
#include <string>

#include "base/lang.h"

// All console output goes through here. Pipes and files get the exact Shift-JIS bytes;
// a terminal whose locale is not Shift-JIS gets them converted so a player can read them,
// and on any terminal control characters show as ^X instead of being obeyed.
void console_write(const std::string &sjis);
// One line: the bytes, a newline, a flush.
void console_line(const std::string &sjis);
// The language of the console's lines: the game's, except that a Japanese game tells a
// terminal that cannot show Japanese (terminal_shows_japanese) in English. Pipes and files
// always get the game's.
language console_language();
// One line of the game's own words: msgid is its Japanese text, said in the console's language.
void console_say(const char *msgid);
// One line made for a language: make(console_language()) goes to the console.
void console_say(const std::function<std::string(language)> &make);
// Someone besides the console who wants each line as console_line writes it (the shell puts
// the lines in the window too); nullptr: nobody.
void console_set_listener(void (*listener)(const std::string &sjis));
// Converts Shift-JIS (code page 932) bytes to UTF-8; invalid bytes become U+FFFD (made with
// the terminal's conversion, base/terminal.cpp).
std::string sjis_to_utf8(const std::string &sjis);
