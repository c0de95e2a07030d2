#pragma once
// Runs the real server on loopback and talks HTTP to it.
#include <boost/json.hpp>

#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace harness {

struct Reply {
    int status = 0; // 0: no answer (connection refused, reset or timed out)
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    boost::json::value json() const; // null when the body is not JSON
    std::string header(const std::string &name) const;
};

using Headers = std::vector<std::pair<std::string, std::string>>;

Reply request(unsigned short port, const std::string &method, const std::string &target,
              const std::string &body = "", const Headers &headers = {},
              const std::string &from = "127.0.0.1", double timeout = 30);
// POST /api/games with {"player": player, "demo": demo}.
Reply submit(unsigned short port, const std::string &player, const std::string &demo,
             const std::string &from = "127.0.0.1");
// Sends raw bytes, then reads until the server closes or `timeout` passes; returns what came.
std::string raw(unsigned short port, const std::string &bytes, double timeout = 10,
                bool *closed = nullptr);

// The SHA-256 of the shipped stage file, by `sha256sum`.
std::string shipped_stages();
// A demo for the replay tool the tests run: `hits` shots on target and `misses` off it, its
// bytes made unique by `salt`, ending with the expect line of the score it gives (or
// `claimed` when not negative). `extra` lines go before the expect line.
std::string make_demo(int hits, int misses, const std::string &salt, long claimed = -1,
                      const std::string &extra = "", const std::string &stages = "");

class Server {
  public:
    // A server on a free loopback port with a fresh data folder of its own (unless kept).
    explicit Server(std::vector<std::string> args = {}, const std::string &data = "");
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    void start();
    void kill9(); // SIGKILL, then reaped
    int stop();   // SIGTERM; the exit status
    unsigned short port() const { return port_; }
    const std::string &data() const { return data_; }
    std::string log() const; // what it wrote on standard error

  private:
    std::vector<std::string> args_;
    std::string data_, log_;
    pid_t pid_ = -1;
    unsigned short port_ = 0;
};

// A PostgreSQL of the test's own: a new cluster in a temporary folder, run by an unprivileged
// user (nobody, when the tests run as root), listening on a free loopback port only. Stopped
// and removed when destroyed; it also dies with the test process.
class Postgres {
  public:
    Postgres(); // throws std::runtime_error saying why it cannot start
    ~Postgres();
    Postgres(const Postgres &) = delete;
    Postgres &operator=(const Postgres &) = delete;

    void start(); // again after stop() or crash(): on the same port
    void stop();  // a fast shutdown: sessions ended, a checkpoint written
    void crash(); // an immediate shutdown: no checkpoint, recovery from the WAL on the next start
    unsigned short port() const { return port_; }
    std::string url(const std::string &database = "tarmik") const;
    void create_database(const std::string &name);
    // Runs SQL in a database; the rows, one a line, columns parted by '|'.
    std::string query(const std::string &database, const std::string &sql) const;
    std::string log() const;

  private:
    std::string dir_;
    pid_t pid_ = -1;
    unsigned short port_ = 0;
};

// A started PostgreSQL, or null with why not in `why` (the caller skips, saying it).
std::unique_ptr<Postgres> start_postgres(std::string &why);

// A fresh empty folder under the tests' scratch folder.
std::string scratch_dir(const std::string &name);
std::string run(const std::string &command); // a shell command's standard output

} // namespace harness
