#include "harness.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pqxx/pqxx>

#include <array>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace harness {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

boost::json::value Reply::json() const {
    boost::system::error_code ec;
    auto v = boost::json::parse(body, ec);
    return ec ? boost::json::value() : v;
}

std::string Reply::header(const std::string &name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "" : it->second;
}

namespace {

std::chrono::steady_clock::duration secs(double s) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(s));
}

void connect(beast::tcp_stream &stream, unsigned short port, const std::string &from) {
    auto &sock = stream.socket();
    sock.open(tcp::v4());
    sock.bind(tcp::endpoint(net::ip::make_address(from), 0));
    stream.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
}

} // namespace

Reply request(unsigned short port, const std::string &method, const std::string &target,
              const std::string &body, const Headers &headers, const std::string &from,
              double timeout) {
    Reply r;
    try {
        net::io_context ioc;
        beast::tcp_stream stream(ioc);
        stream.expires_after(secs(timeout));
        connect(stream, port, from);
        http::request<http::string_body> req{http::string_to_verb(method), target, 11};
        req.set(http::field::host, "127.0.0.1");
        bool typed = false;
        for (auto &h : headers) {
            req.set(h.first, h.second);
            if (beast::iequals(h.first, "content-type")) typed = true;
        }
        if (!body.empty() && !typed) req.set(http::field::content_type, "application/json");
        req.body() = body;
        req.prepare_payload();
        req.keep_alive(false);
        http::write(stream, req);
        beast::flat_buffer buf;
        http::response_parser<http::string_body> parser;
        parser.body_limit(64 << 20);
        if (method == "HEAD") parser.skip(true);
        http::read(stream, buf, parser);
        auto &res = parser.get();
        r.status = static_cast<int>(res.result_int());
        for (auto &f : res) {
            std::string name(f.name_string());
            for (char &c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            r.headers[name] = std::string(f.value());
        }
        r.body = res.body();
    } catch (const std::exception &) {
        r.status = 0;
    }
    return r;
}

Reply submit(unsigned short port, const std::string &player, const std::string &demo,
             const std::string &from) {
    std::string body =
        boost::json::serialize(boost::json::object{{"player", player}, {"demo", demo}});
    return request(port, "POST", "/api/games", body, {}, from);
}

std::string raw(unsigned short port, const std::string &bytes, double timeout, bool *closed) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return "";
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + secs(timeout);
    if (closed) *closed = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            break;
        }
        got.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return got;
}

std::string run(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string shipped_stages() {
    static const std::string h = run("sha256sum '" TARMIK_STAGEFILE "'").substr(0, 64);
    return h;
}

std::string make_demo(int hits, int misses, const std::string &salt, long claimed,
                      const std::string &extra, const std::string &stages) {
    std::ostringstream d;
    d << "# tarmik-demo 2 tarmik 1.0.0\n";
    d << "stages " << (stages.empty() ? shipped_stages() : stages) << "\n";
    d << "game first rand=12345 gw=500 gh=500\n";
    d << "motion 249 249\n";
    for (char c : salt)
        d << "motion " << static_cast<int>(static_cast<unsigned char>(c)) << " 1\n";
    for (int i = 0; i < hits + misses; ++i) {
        bool hit = i < hits;
        int x = hit ? 250 : 100 + i % 50;
        d << "tick 2\nmotion " << x << " 250\nclick left down " << x << " 250\nclick left up " << x
          << " 250\n";
    }
    d << extra;
    d << "tick\nexpect registered=1 result.score=" << (claimed >= 0 ? claimed : hits * 100L)
      << " gameover=1\n";
    return d.str();
}

std::string scratch_dir(const std::string &name) {
    std::string d = std::string(TARMIK_SERVER_SCRATCH) + "/" + name;
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    return d;
}

Server::Server(std::vector<std::string> args, const std::string &data) : args_(std::move(args)) {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "server";
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
    data_ = data.empty() ? scratch_dir(name) + "/data" : data;
    log_ = data_ + ".log";
    start();
}

Server::~Server() {
    if (pid_ > 0) stop();
}

void Server::start() {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> argv = {TARMIK_SERVER_BIN, "--listen",  "127.0.0.1:0",
                                     "--data",          data_,       "--replay",
                                     TARMIK_REPLAY,     "--workers", "2"};
    bool stages = false;
    for (auto &a : args_)
        if (a == "--stages") stages = true;
    if (!stages) argv.insert(argv.end(), {"--stages", TARMIK_STAGEFILE});
#ifdef TARMIK_SANITIZED
    argv.insert(argv.end(), {"--replay-memory", "0"}); // sanitizers reserve terabytes
#endif
    argv.insert(argv.end(), args_.begin(), args_.end());
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        int err = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(err, 2);
        std::vector<char *> v;
        for (auto &a : argv)
            v.push_back(a.data());
        v.push_back(nullptr);
        execv(v[0], v.data());
        _exit(127);
    }
    close(out[1]);
    // It says where it listens once it does.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char c[256];
        ssize_t n = read(out[0], c, sizeof c);
        if (n <= 0) break;
        line.append(c, static_cast<size_t>(n));
    }
    close(out[0]);
    auto at = line.find("http://127.0.0.1:");
    if (at == std::string::npos) {
        int status = 0;
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        throw std::runtime_error("the server did not start: " + log());
    }
    port_ = static_cast<unsigned short>(std::stoi(line.substr(at + 17)));
}

void Server::kill9() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

int Server::stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill9();
    return -1;
}

std::string Server::log() const {
    std::ifstream in(log_);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

namespace {

const std::string pg_bin = "/usr/lib/postgresql/15/bin";

// PostgreSQL refuses to run as root: then it runs as nobody.
struct RunAs {
    bool drop = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

RunAs postgres_user() {
    RunAs u{false, geteuid(), getegid()};
    if (u.uid != 0) return u;
    const passwd *pw = getpwnam("nobody");
    if (!pw) throw std::runtime_error("there is no user 'nobody' to run PostgreSQL as");
    return {true, pw->pw_uid, pw->pw_gid};
}

// Starts a program as that user, its output appended to `log`. With `tied` it gets SIGQUIT
// (PostgreSQL's immediate shutdown) when the test process ends, however it ends.
pid_t spawn_as(const RunAs &u, const std::vector<std::string> &args, const std::string &log,
               bool tied) {
    std::vector<std::string> copy = args;
    std::vector<char *> argv;
    for (auto &a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (fd < 0 || in < 0) _exit(126);
        dup2(in, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        if (u.drop && (setgroups(0, nullptr) != 0 || setgid(u.gid) != 0 || setuid(u.uid) != 0))
            _exit(126);
        if (tied && (prctl(PR_SET_PDEATHSIG, SIGQUIT) != 0 || getppid() != parent)) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The exit status, or -1 when it did not end within `seconds` (then it is killed).
int wait_for(pid_t pid, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + secs(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

unsigned short free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        close(fd);
        throw std::runtime_error("no free port on loopback");
    }
    close(fd);
    return ntohs(a.sin_port);
}

std::string quote(const std::string &s) {
    return "'" + s + "'";
}

// A new cluster in dir/data.
void make_cluster(const RunAs &u, const std::string &dir) {
    std::string data = dir + "/data";
    // Clusters are copied from one made once per build: initdb takes a second or more.
    const std::string made = TARMIK_SERVER_SCRATCH "/pg-template";
    if (!std::filesystem::exists(made + "/PG_VERSION")) {
        pid_t pid =
            spawn_as(u,
                     {pg_bin + "/initdb", "-D", data, "-U", "tarmik", "--auth=trust",
                      "--encoding=UTF8", "--locale=C.UTF-8", "--no-sync", "--no-instructions"},
                     dir + "/initdb.log", false);
        if (wait_for(pid, 120) != 0) {
            std::ifstream in(dir + "/initdb.log");
            std::ostringstream ss;
            ss << in.rdbuf();
            throw std::runtime_error("initdb failed: " + ss.str());
        }
        std::string mine = made + "." + std::to_string(getpid());
        run("cp -a " + quote(data) + " " + quote(mine));
        if (rename(mine.c_str(), made.c_str()) != 0) std::filesystem::remove_all(mine);
    } else {
        run("cp -a " + quote(made) + " " + quote(data));
        if (u.drop)
            run("chown -R " + std::to_string(u.uid) + ":" + std::to_string(u.gid) + " " +
                quote(data));
    }
}

} // namespace

Postgres::Postgres() {
    for (const char *tool : {"initdb", "postgres"})
        if (access((pg_bin + "/" + tool).c_str(), X_OK) != 0)
            throw std::runtime_error("PostgreSQL 15 is not installed (no " + pg_bin + "/" + tool +
                                     "; scripts/setup test installs it)");
    RunAs u = postgres_user();
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarmik-pg-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder for PostgreSQL");
    dir_ = pattern;
    try {
        // The folder is the cluster user's alone; /tmp lets any user reach it.
        if (chown(dir_.c_str(), u.uid, u.gid) != 0)
            throw std::runtime_error("cannot hand " + dir_ + " to the cluster's user");
        make_cluster(u, dir_);
        start();
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        throw;
    }
}

Postgres::~Postgres() {
    if (pid_ > 0) crash();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void Postgres::start() {
    RunAs u = postgres_user();
    // Started again, it listens where it did, so that servers find it there.
    const bool again = port_ != 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!again) port_ = free_port();
        std::filesystem::remove(dir_ + "/postgres.log");
        pid_ = spawn_as(u,
                        {pg_bin + "/postgres", "-D", dir_ + "/data", "-p", std::to_string(port_),
                         "-c", "listen_addresses=127.0.0.1", "-c", "unix_socket_directories=", "-c",
                         "shared_buffers=16MB", "-c", "max_connections=60"},
                        dir_ + "/postgres.log", true);
        std::string ping = "host=127.0.0.1 port=" + std::to_string(port_) +
                           " user=tarmik dbname=postgres connect_timeout=2";
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = 0;
        bool ended = false;
        while (std::chrono::steady_clock::now() < deadline) {
            if (PQping(ping.c_str()) == PQPING_OK) return;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                ended = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended) wait_for(pid_, 0);
        pid_ = -1;
        // Another program took the port in the meantime: another one (or, started again,
        // the same once its last connections are gone).
        if (ended && log().find("could not bind") != std::string::npos) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            continue;
        }
        break;
    }
    throw std::runtime_error("PostgreSQL did not start: " + log());
}

void Postgres::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    wait_for(pid_, 60);
    pid_ = -1;
}

void Postgres::crash() {
    if (pid_ <= 0) return;
    kill(pid_, SIGQUIT);
    wait_for(pid_, 60);
    pid_ = -1;
}

std::string Postgres::url(const std::string &database) const {
    return "postgresql://tarmik@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

void Postgres::create_database(const std::string &name) {
    query("postgres", "CREATE DATABASE " + name);
}

std::string Postgres::query(const std::string &database, const std::string &sql) const {
    pqxx::connection c(url(database));
    pqxx::nontransaction t(c);
    std::string out;
    for (const pqxx::row &r : t.exec(sql)) {
        for (pqxx::row::size_type i = 0; i < r.size(); ++i)
            out += (i ? "|" : "") + std::string(r[i].is_null() ? "" : r[i].c_str());
        out += "\n";
    }
    return out;
}

std::string Postgres::log() const {
    std::ifstream in(dir_ + "/postgres.log");
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::unique_ptr<Postgres> start_postgres(std::string &why) {
    try {
        return std::make_unique<Postgres>();
    } catch (const std::exception &e) {
        why = std::string("no PostgreSQL for this test: ") + e.what();
        return nullptr;
    }
}

} // namespace harness
