#include "demo.h"

#include "util.h"

namespace server {

std::string demo_problem(std::string_view demo, std::string &stages) {
    if (demo.empty()) return "the demo is empty";
    for (char c : demo)
        if (c != '\n' && (c < 0x20 || c > 0x7e))
            return "the demo is not plain ASCII text with LF line ends";
    const std::string_view magic = "# tarmik-demo ";
    if (demo.substr(0, magic.size()) != magic) return "the demo does not start with a demo header";
    size_t end1 = demo.find('\n');
    if (end1 == std::string_view::npos) return "the demo has no stage set line";
    size_t end2 = demo.find('\n', end1 + 1);
    std::string_view line2 = demo.substr(
        end1 + 1, end2 == std::string_view::npos ? std::string_view::npos : end2 - end1 - 1);
    const std::string_view key = "stages ";
    if (line2.substr(0, key.size()) != key || !is_lower_hex(line2.substr(key.size()), 64))
        return "the demo's second line is not \"stages\" and a SHA-256";
    stages = std::string(line2.substr(key.size()));
    return "";
}

} // namespace server
