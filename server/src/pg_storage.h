#pragma once
#include "migrations.h"
#include "storage.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace server {

struct PgOptions {
    int timeout_ms = 5000; // connecting, waiting for a lock, one statement: past it, Unavailable
    int connections = 4;   // at most this many at once; opened when first needed
};

// A PostgreSQL database shared by any number of servers. Each call is one statement, so each
// is whole or not at all; a commit is answered only once PostgreSQL has it (on its disk, with
// synchronous_commit on). A lost connection is opened again on the next call.
class PgStorage : public Storage {
  public:
    // `url`: a libpq connection URI (postgresql://user@host:port/database?param=value).
    PgStorage(const std::string &url, PgOptions options = {},
              const std::vector<Migration> &steps = migrations());
    ~PgStorage() override;

    std::pair<Game, bool> submit(const NewGame &game) override;
    std::optional<Game> find_by_demo(const std::string &demo_sha256) override;
    std::optional<Game> game(int64_t id) override;
    std::optional<std::string> demo(int64_t id) override;
    int64_t place(const Game &game) override;
    std::vector<Ranked> ranking(const std::string &stages, int limit) override;
    bool remove(int64_t id) override;
    void check() override;
    int schema_version() override;

    // Where the URL points, without its password: for logs.
    static std::string describe(const std::string &url);
    // Why libpq cannot read the URL, or "".
    static std::string url_problem(const std::string &url);

  private:
    struct Slot;
    class Lease;
    PgOptions options_;
    std::string conninfo_;
    std::mutex mutex_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<Slot>> all_;
    std::vector<Slot *> idle_;
    // After a failed connect, calls fail at once for a moment instead of each waiting again.
    std::chrono::steady_clock::time_point retry_at_{};
    std::string last_failure_;

    void connect(Slot &slot);
    template <class F> auto run(F &&f);
};

} // namespace server
