#pragma once
#include <string>
#include <string_view>

namespace server {

// Looks at what the server reads of a demo itself: ASCII text whose first line starts with
// "# tarmik-demo " and whose second is "stages HASH". Returns why it is refused, or an empty
// string and the stage set's hash in `stages`. The rest is the replay's to judge.
std::string demo_problem(std::string_view demo, std::string &stages);

} // namespace server
