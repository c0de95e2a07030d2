#include "util.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>

namespace server {

namespace {
void sha256(std::string_view bytes, unsigned char out[SHA256_DIGEST_LENGTH]) {
    SHA256(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), out);
}
} // namespace

std::string sha256_hex(std::string_view bytes) {
    unsigned char d[SHA256_DIGEST_LENGTH];
    sha256(bytes, d);
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : d) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::string sha256_base64(std::string_view bytes) {
    unsigned char d[SHA256_DIGEST_LENGTH];
    sha256(bytes, d);
    unsigned char out[4 * ((SHA256_DIGEST_LENGTH + 2) / 3) + 1];
    int n = EVP_EncodeBlock(out, d, SHA256_DIGEST_LENGTH);
    return std::string(reinterpret_cast<char *>(out), n);
}

bool secret_equal(std::string_view a, std::string_view b) {
    // Digests have one length whatever was typed, so neither length nor contents leak.
    unsigned char da[SHA256_DIGEST_LENGTH], db[SHA256_DIGEST_LENGTH];
    sha256(a, da);
    sha256(b, db);
    return CRYPTO_memcmp(da, db, SHA256_DIGEST_LENGTH) == 0;
}

bool is_lower_hex(std::string_view s, size_t length) {
    if (s.size() != length) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::string html_escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<int64_t> parse_id(std::string_view s) {
    if (s.empty() || s.size() > 18 || s[0] == '0') return std::nullopt;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string utc_time(int64_t ms) {
    std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::optional<std::string> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return ss.str();
}

} // namespace server
