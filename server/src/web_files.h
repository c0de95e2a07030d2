#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace server {

// The regular file a /play/ path names inside the web folder `root` (a real path), or
// nothing: no escape from the folder (.., symbolic links out, encoded slashes), no hidden
// files, no folders (an empty path or one ending in / means its index.html).
std::optional<std::string> web_file(const std::string &root, std::string_view url_path);
// The Content-Type for a file name.
std::string content_type(std::string_view name);
// %XX decoded; nothing when an escape is malformed or decodes to NUL.
std::optional<std::string> percent_decode(std::string_view s);

} // namespace server
