#include "web_files.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace server {

std::optional<std::string> percent_decode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return std::nullopt;
        int v = 0;
        for (int k = 1; k <= 2; ++k) {
            char c = s[i + k];
            int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
            if (d < 0) return std::nullopt;
            v = v * 16 + d;
        }
        if (v == 0) return std::nullopt;
        out += static_cast<char>(v);
        i += 2;
    }
    return out;
}

std::optional<std::string> web_file(const std::string &root, std::string_view url_path) {
    // Segments are judged as sent, so an encoded "/" cannot join two of them.
    std::string path;
    size_t at = 0;
    while (at <= url_path.size()) {
        size_t end = url_path.find('/', at);
        if (end == std::string_view::npos) end = url_path.size();
        auto seg = percent_decode(url_path.substr(at, end - at));
        if (!seg) return std::nullopt;
        bool last = end == url_path.size();
        if (seg->empty()) {
            if (!last) return std::nullopt; // "//"
            seg = "index.html";
        }
        if ((*seg)[0] == '.' || seg->find('/') != std::string::npos ||
            seg->find('\\') != std::string::npos)
            return std::nullopt;
        path += "/" + *seg;
        at = end + 1;
    }
    char real[PATH_MAX];
    std::string full = root + path;
    if (!realpath(full.c_str(), real)) return std::nullopt;
    std::string r = real;
    if (r.compare(0, root.size() + 1, root + "/") != 0) return std::nullopt;
    struct stat st {};
    if (stat(real, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return r;
}

std::string content_type(std::string_view name) {
    auto dot = name.rfind('.');
    std::string_view ext = dot == std::string_view::npos ? "" : name.substr(dot + 1);
    if (ext == "html") return "text/html; charset=utf-8";
    if (ext == "js") return "text/javascript; charset=utf-8";
    if (ext == "wasm") return "application/wasm";
    if (ext == "css") return "text/css; charset=utf-8";
    if (ext == "json") return "application/json";
    if (ext == "png") return "image/png";
    if (ext == "svg") return "image/svg+xml";
    if (ext == "ico") return "image/x-icon";
    if (ext == "ogg") return "audio/ogg";
    if (ext == "wav") return "audio/wav";
    if (ext == "txt" || ext == "demo") return "text/plain; charset=us-ascii";
    return "application/octet-stream";
}

} // namespace server
