#include "harness.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
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

} // namespace harness
