#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace server {

// SHA-256 of the bytes, 64 lower-case hex digits.
std::string sha256_hex(std::string_view bytes);
// SHA-256 of the bytes in base64 (as Content-Security-Policy hashes want it).
std::string sha256_base64(std::string_view bytes);
// Equal strings, in a time that does not depend on where they differ nor on their lengths.
bool secret_equal(std::string_view a, std::string_view b);

bool is_lower_hex(std::string_view s, size_t length);
// &, <, >, " and ' as entities: safe in element text and quoted attributes.
std::string html_escape(std::string_view s);
// A decimal id from a path segment: digits only, no sign, no leading zero, fits int64.
std::optional<int64_t> parse_id(std::string_view s);
// Milliseconds since the epoch as "2024-05-01T12:34:56Z".
std::string utc_time(int64_t ms);
int64_t now_ms();

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> read_file(const std::string &path);

} // namespace server
