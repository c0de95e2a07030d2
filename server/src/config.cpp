#include "config.h"

#include "pg_storage.h"
#include "util.h"

#include <boost/asio/ip/address.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace server {

namespace {

std::string exe_dir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string p(buf, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/'));
}

bool is_file(const std::string &p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

double number(const std::string &opt, const std::string &v, double lo, double hi) {
    char *end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || !(d >= lo && d <= hi))
        throw UsageError(opt + " wants a number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not '" + v + "'");
    return d;
}

StageSet load_stages(const std::string &path) {
    auto bytes = read_file(path);
    if (!bytes || !is_file(path)) throw UsageError("cannot read the stage file " + path);
    StageSet s;
    s.path = path;
    s.name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    s.sha256 = sha256_hex(*bytes);
    return s;
}

std::string trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// A configuration file as the options it stands for: "name = value" is --name value; a flag
// is "name = yes" (or no). Blank lines and lines starting with # are skipped.
std::vector<std::string> file_options(const std::string &path) {
    auto text = read_file(path);
    if (!text || !is_file(path)) throw UsageError("cannot read the configuration file " + path);
    std::vector<std::string> out;
    size_t start = 0, number = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        std::string line = trim(text->substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        std::string where = path + " line " + std::to_string(number);
        if (eq == std::string::npos) throw UsageError(where + ": not \"name = value\"");
        std::string name = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
        if (name.empty() || name[0] == '-' || value.empty())
            throw UsageError(where + ": not \"name = value\"");
        if (name == "config") throw UsageError(where + ": a configuration file names no other");
        if (name == "access-log") {
            if (value == "yes" || value == "true" || value == "on")
                out.push_back("--" + name);
            else if (value != "no" && value != "false" && value != "off")
                throw UsageError(where + ": " + name + " is yes or no");
            continue;
        }
        out.push_back("--" + name);
        out.push_back(value);
    }
    return out;
}

} // namespace

const char *usage_text() {
    return "usage: tarmik-server [options]\n"
           "  --listen ADDR:PORT        where to listen (127.0.0.1:8080; port 0: any free)\n"
           "  --config FILE             options from a file, one \"name = value\" a line\n"
           "                            (names as here, without the dashes); options\n"
           "                            after it on the command line win\n"
           "  --data DIR                the data folder ($STATE_DIRECTORY or "
           "./tarmik-server-data)\n"
           "  --db URL                  a PostgreSQL database shared by any number of\n"
           "                            servers, postgresql://USER@HOST:PORT/NAME\n"
           "                            (SQLite in the data folder without it)\n"
           "  --stages FILE             a stage file whose games are ranked (repeatable;\n"
           "                            the shipped stagefile.txt by default)\n"
           "  --web DIR                 the web game's files, served under /play/\n"
           "  --replay PATH             the replay tool (tarmik-replay beside this program,\n"
           "                            then the build tree's)\n"
           "  --admin-token-file FILE   the token that allows DELETE (none: nothing deleted)\n"
           "  --trusted-proxy ADDR      a reverse proxy at ADDR names clients in\n"
           "                            X-Forwarded-For (its last address is used)\n"
           "  --workers N               replays at once (the number of cores, at most that)\n"
           "  --queue N                 submissions waiting for a worker (64); more: 503\n"
           "  --max-body BYTES          request body limit (1048576)\n"
           "  --max-header BYTES        request header limit (8192)\n"
           "  --read-timeout SECONDS    to read a whole request (10)\n"
           "  --max-connections N       open connections (1024)\n"
           "  --max-ticks N             replay tick cap (200000)\n"
           "  --replay-cpu SECONDS      replay CPU cap (10)\n"
           "  --replay-time SECONDS     replay wall-clock cap (20)\n"
           "  --replay-memory MIB       replay address-space cap (512; 0: none)\n"
           "  --submit-rate N           submissions per minute per address (30)\n"
           "  --submit-burst N          submissions at once per address (10)\n"
           "  --request-rate N          requests per second per address (50)\n"
           "  --request-burst N         requests at once per address (100)\n"
           "  --db-timeout MS           wait for a busy or unreachable database before 503\n"
           "                            (5000)\n"
           "  --access-log              one line per request on standard error\n"
           "  --help, --version\n";
}

Config parse_options(int argc, char **argv) {
    Config c;
    std::vector<std::string> stage_files;
    std::string token_file;
    long cores = std::max(1u, std::thread::hardware_concurrency());
    long workers = cores;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--config" && i + 1 < argc) {
            auto more = file_options(argv[++i]);
            args.insert(args.end(), more.begin(), more.end());
        } else {
            args.push_back(argv[i]);
        }
    }
    const size_t n = args.size();
    for (size_t i = 0; i < n; ++i) {
        std::string opt = args[i];
        if (opt == "--access-log") {
            c.access_log = true;
            continue;
        }
        if (i + 1 >= n) throw UsageError("unknown option or missing value: " + opt);
        std::string v = args[++i];
        if (opt == "--listen") {
            size_t colon = v.rfind(':');
            if (colon == std::string::npos) throw UsageError("--listen wants ADDR:PORT");
            c.address = v.substr(0, colon);
            if (c.address.size() >= 2 && c.address.front() == '[' && c.address.back() == ']')
                c.address = c.address.substr(1, c.address.size() - 2);
            c.port = static_cast<unsigned short>(number(opt, v.substr(colon + 1), 0, 65535));
        } else if (opt == "--data") {
            c.data_dir = v;
        } else if (opt == "--db") {
            if (v.rfind("postgresql://", 0) != 0 && v.rfind("postgres://", 0) != 0)
                throw UsageError("--db wants a PostgreSQL URL, postgresql://USER@HOST/NAME");
            if (std::string why = PgStorage::url_problem(v); !why.empty())
                throw UsageError("--db: " + why);
            c.db = v;
        } else if (opt == "--stages") {
            stage_files.push_back(v);
        } else if (opt == "--web") {
            c.web_dir = v;
        } else if (opt == "--replay") {
            c.replay_tool = v;
        } else if (opt == "--trusted-proxy") {
            boost::system::error_code ec;
            auto a = boost::asio::ip::make_address(v, ec);
            if (ec) throw UsageError("--trusted-proxy wants an IP address, not '" + v + "'");
            c.trusted_proxy = a.to_string();
        } else if (opt == "--admin-token-file") {
            token_file = v;
        } else if (opt == "--workers") {
            workers = static_cast<long>(number(opt, v, 1, 1024));
        } else if (opt == "--queue") {
            c.queue = static_cast<size_t>(number(opt, v, 0, 100000));
        } else if (opt == "--max-body") {
            c.max_body = static_cast<size_t>(number(opt, v, 256, 1 << 30));
        } else if (opt == "--max-header") {
            c.max_header = static_cast<size_t>(number(opt, v, 512, 1 << 20));
        } else if (opt == "--read-timeout") {
            c.read_timeout = number(opt, v, 0.1, 3600);
        } else if (opt == "--max-connections") {
            c.max_connections = static_cast<size_t>(number(opt, v, 1, 1000000));
        } else if (opt == "--max-ticks") {
            c.replay.max_ticks = static_cast<long>(number(opt, v, 1, 1e12));
        } else if (opt == "--replay-cpu") {
            c.replay.cpu_seconds = static_cast<int>(number(opt, v, 1, 3600));
        } else if (opt == "--replay-time") {
            c.replay.wall_seconds = number(opt, v, 0.1, 3600);
        } else if (opt == "--replay-memory") {
            c.replay.memory_mib = static_cast<long>(number(opt, v, 0, 1 << 20));
        } else if (opt == "--submit-rate") {
            c.submit_per_minute = number(opt, v, 0, 1e9);
        } else if (opt == "--submit-burst") {
            c.submit_burst = number(opt, v, 1, 1e9);
        } else if (opt == "--request-rate") {
            c.request_per_second = number(opt, v, 0, 1e9);
        } else if (opt == "--request-burst") {
            c.request_burst = number(opt, v, 1, 1e9);
        } else if (opt == "--db-timeout") {
            c.db_timeout_ms = static_cast<int>(number(opt, v, 1, 600000));
        } else {
            throw UsageError("unknown option: " + opt);
        }
    }
    // Replays are CPU-bound: more workers than cores only makes each one slower.
    c.workers = static_cast<size_t>(std::min(workers, cores));
    c.io_threads = static_cast<size_t>(cores);

    std::string here = exe_dir();
    if (c.data_dir.empty()) {
        const char *state = std::getenv("STATE_DIRECTORY");
        c.data_dir = state && *state ? std::string(state).substr(0, std::string(state).find(':'))
                                     : "tarmik-server-data";
    }
    if (stage_files.empty()) {
        for (std::string p : {here + "/" TARMIK_SERVER_TO_DATA "/stagefile.txt",
                              std::string(TARMIK_BUILD_GAME "/stagefile.txt")})
            if (is_file(p)) {
                stage_files.push_back(p);
                break;
            }
        if (stage_files.empty())
            throw UsageError("no stage file found; name one with --stages FILE");
    }
    for (const std::string &f : stage_files) {
        StageSet s = load_stages(f);
        bool twice = std::any_of(c.stages.begin(), c.stages.end(),
                                 [&](const StageSet &o) { return o.sha256 == s.sha256; });
        if (!twice) c.stages.push_back(s);
    }
    if (c.replay_tool.empty()) {
        for (std::string p :
             {here + "/" TARMIK_SERVER_TO_REPLAY "/tarmik-replay", here + "/tarmik-replay",
              std::string(TARMIK_BUILD_TOOLS "/tarmik-replay")})
            if (access(p.c_str(), X_OK) == 0 && is_file(p)) {
                c.replay_tool = p;
                break;
            }
        if (c.replay_tool.empty())
            throw UsageError("the replay tool tarmik-replay is not beside this program nor in the "
                             "build tree; build it or name it with --replay PATH");
    } else if (access(c.replay_tool.c_str(), X_OK) != 0 || !is_file(c.replay_tool)) {
        throw UsageError("the replay tool " + c.replay_tool + " is not an executable file");
    }
    // The child is started by path, not found on PATH, and from another working folder; the
    // log names the files plainly (not .../sbin/../libexec/...).
    char buf[4096];
    if (realpath(c.replay_tool.c_str(), buf)) c.replay_tool = buf;
    for (StageSet &s : c.stages)
        if (realpath(s.path.c_str(), buf)) s.path = buf;
    if (!token_file.empty()) {
        auto t = read_file(token_file);
        if (!t) throw UsageError("cannot read the admin token file " + token_file);
        while (!t->empty() && (t->back() == '\n' || t->back() == '\r' || t->back() == ' '))
            t->pop_back();
        if (t->size() < 16)
            throw UsageError("the admin token in " + token_file + " is shorter than 16 characters");
        c.admin_token = *t;
    }
    if (!c.web_dir.empty()) {
        struct stat st {};
        if (!realpath(c.web_dir.c_str(), buf) || stat(buf, &st) != 0 || !S_ISDIR(st.st_mode))
            throw UsageError("the web folder " + c.web_dir + " is not a folder");
        c.web_dir = buf;
    }
    return c;
}

} // namespace server
