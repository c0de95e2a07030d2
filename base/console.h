#pragma once
#include <string>

// All console output goes through here. Pipes and files get the exact Shift-JIS bytes;
// a terminal whose locale is not Shift-JIS gets them converted so a player can read them,
// and on any terminal control characters show as ^X instead of being obeyed.
void console_write(const std::string &sjis);
// One line: the bytes, a newline, a flush.
void console_line(const std::string &sjis);
// Someone besides the console who wants each line as console_line writes it (the shell puts
// the lines in the window too); nullptr: nobody.
void console_set_listener(void (*listener)(const std::string &sjis));
// Converts Shift-JIS (code page 932) bytes to UTF-8; invalid bytes become U+FFFD (made with
// the terminal's conversion, base/terminal.cpp).
std::string sjis_to_utf8(const std::string &sjis);
