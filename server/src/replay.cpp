#include "replay.h"

#include "util.h"

#include <boost/json.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace server {

namespace json = boost::json;

namespace {

// A reason shown to players: printable ASCII, one line, not too long.
std::string safe_reason(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (out.size() >= 200) break;
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return out.empty() ? "the replay gave no reason" : out;
}

bool get_int(const json::object &o, const char *key, int64_t &v) {
    auto p = o.if_contains(key);
    if (!p || !p->is_int64() || p->as_int64() < 0) return false;
    v = p->as_int64();
    return true;
}

bool get_string(const json::object &o, const char *key, std::string &v) {
    auto p = o.if_contains(key);
    if (!p || !p->is_string()) return false;
    v = std::string(p->as_string());
    return true;
}

void close_from(int first) {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, ~0U, 0) == 0) return;
#endif
    long max = sysconf(_SC_OPEN_MAX);
    for (long fd = first; fd < (max > 0 ? max : 1024); ++fd)
        close(static_cast<int>(fd));
}

} // namespace

ReplayOutcome parse_replay_answer(const std::string &out, int status, const std::string &stages) {
    ReplayOutcome r;
    std::string line = out;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    boost::system::error_code ec;
    json::value v = json::parse(line, ec);
    if (ec || !v.is_object()) {
        r.reason =
            "the replay tool's answer is not a JSON object (status " + std::to_string(status) + ")";
        return r;
    }
    const json::object &o = v.as_object();
    auto verified = o.if_contains("verified");
    if (!verified || !verified->is_bool()) {
        r.reason = "the replay tool's answer has no verified field";
        return r;
    }
    if (status == 1 && !verified->as_bool()) {
        std::string reason;
        get_string(o, "reason", reason);
        r.kind = ReplayOutcome::refused;
        r.reason = safe_reason(reason);
        return r;
    }
    if (status != 0 || !verified->as_bool()) {
        r.reason =
            "the replay tool's status " + std::to_string(status) + " does not match its answer";
        return r;
    }
    GameResult &g = r.result;
    if (!get_string(o, "version", g.version) || !get_string(o, "stages", g.stages) ||
        !get_int(o, "score", g.score) || !get_int(o, "stage", g.stage) ||
        !get_int(o, "hitrate", g.hitrate) || !get_int(o, "hits", g.hits) ||
        !get_int(o, "shots", g.shots) || !get_int(o, "ticks", g.ticks) ||
        !get_string(o, "title", g.title) || !get_string(o, "title_sjis", g.title_sjis)) {
        r.reason = "the replay tool's answer lacks a field";
        return r;
    }
    if (g.stages != stages) {
        r.reason = "the replay tool answered for another stage set";
        return r;
    }
    if (g.version.empty() || g.version.size() > 32 || safe_reason(g.version) != g.version ||
        g.title.size() > 200 || g.title_sjis.size() % 2 != 0 ||
        !is_lower_hex(g.title_sjis, g.title_sjis.size())) {
        r.reason = "the replay tool's answer has a malformed field";
        return r;
    }
    r.kind = ReplayOutcome::verified;
    return r;
}

ReplayOutcome run_replay(const std::string &tool, const std::string &stagefile,
                         const std::string &stages, const std::string &demo_path,
                         const ReplayLimits &limits) {
    ReplayOutcome r;
    // Everything the child needs is made before fork: after it, only async-signal-safe calls.
    std::string ticks = std::to_string(limits.max_ticks);
    std::vector<std::string> args = {tool,          "--verify", "--stagefile", stagefile,
                                     "--max-ticks", ticks,      demo_path};
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // Sanitizer settings pass through so a sanitized tool reports as in the other tests.
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LC_ALL=C"};
    for (const char *keep : {"ASAN_OPTIONS=", "UBSAN_OPTIONS=", "LSAN_OPTIONS="})
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, keep, std::strlen(keep)) == 0) env.push_back(*e);
    std::vector<char *> envp;
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    rlimit cpu{static_cast<rlim_t>(limits.cpu_seconds),
               static_cast<rlim_t>(limits.cpu_seconds + 1)};
    rlimit mem{static_cast<rlim_t>(limits.memory_mib) << 20, static_cast<rlim_t>(limits.memory_mib)
                                                                 << 20};
    rlimit none{0, 0};

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        r.reason = std::string("pipe: ") + std::strerror(errno);
        return r;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        r.reason = std::string("pipe: ") + std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return r;
    }
    int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (devnull < 0 || dup2(devnull, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0)
            _exit(127);
        close_from(3);
        setrlimit(RLIMIT_CPU, &cpu);
        if (limits.memory_mib > 0) setrlimit(RLIMIT_AS, &mem);
        setrlimit(RLIMIT_FSIZE, &none); // writes no files
        setrlimit(RLIMIT_CORE, &none);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (devnull >= 0) close(devnull);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        r.reason = std::string("fork: ") + std::strerror(errno);
        close(out[0]);
        close(err[0]);
        return r;
    }
    setpgid(pid, pid); // also here, so the group exists whichever runs first

    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::duration<double>(limits.wall_seconds);
    std::string stdout_text, stderr_text;
    bool timed_out = false, flooded = false;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_pipes = 2;
    while (open_pipes > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
                continue;
            }
            std::string &text = i == 0 ? stdout_text : stderr_text;
            if (text.size() < limits.max_output)
                text.append(buf, static_cast<size_t>(got));
            else if (i == 0)
                flooded = true;
        }
        if (flooded) break;
    }
    if (timed_out || flooded) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
    }
    for (auto &f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    // Anything it started is gone with it.
    kill(-pid, SIGKILL);

    double cpu_used = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (timed_out || (WIFSIGNALED(status) &&
                      (WTERMSIG(status) == SIGXCPU ||
                       (WTERMSIG(status) == SIGKILL && cpu_used >= limits.cpu_seconds)))) {
        r.kind = ReplayOutcome::over_cap;
        r.reason = "the replay went over the CPU cap";
        return r;
    }
    if (flooded) {
        r.reason = "the replay tool printed too much";
        return r;
    }
    if (WIFSIGNALED(status)) {
        r.reason = "the replay tool died of signal " + std::to_string(WTERMSIG(status)) + ": " +
                   safe_reason(stderr_text);
        return r;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 127 && stdout_text.empty()) {
        r.reason = "the replay tool could not be started: " + tool;
        return r;
    }
    if (code != 0 && code != 1) {
        r.reason = "the replay tool ended with status " + std::to_string(code) + ": " +
                   safe_reason(stderr_text);
        return r;
    }
    return parse_replay_answer(stdout_text, code, stages);
}

} // namespace server
