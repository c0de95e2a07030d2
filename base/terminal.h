#pragma once
#include <string>

// What a terminal is shown of the console's Shift-JIS bytes: its own codeset's bytes, with
// control characters as ^X. Kept apart from base/console.cpp so that a build whose standard
// output is never a terminal (the page) can leave the conversion tables out: it links its own
// definition instead of base/terminal.cpp.
std::string terminal_text(const std::string &sjis);
// False when standard output is a terminal that cannot show Japanese: its locale's codeset
// holds none (ASCII, as the C locale says, or a Latin one), or it is the kernel's console,
// which has no glyphs for it. Pipes and files take any bytes. Asked once.
bool terminal_shows_japanese();
// Text of the player's own (UTF-8, as a settings file holds it) in the console's Shift-JIS;
// a character Shift-JIS lacks becomes "?".
std::string utf8_to_console(const std::string &utf8);
