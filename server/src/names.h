#pragma once
#include <string>
#include <string_view>

namespace server {

// Why a player name is refused, or an empty string when it is accepted: 1 to 20 characters
// (code points) of valid UTF-8 in NFC, each printable, none a control, format, separator,
// private-use, unassigned, bidirectional-control or invisible (default-ignorable) character,
// and no space at either end.
std::string name_problem(std::string_view utf8);

} // namespace server
