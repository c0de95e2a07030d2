#pragma once
#include "migrations.h"
#include "storage.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace server {

struct SqliteOptions {
    int busy_timeout_ms = 5000; // how long a write waits for another one before Unavailable
    int connections = 4;        // readers run at once under WAL; writers take turns
};

// One database file, WAL, synchronous=FULL: an answered game survives the process and the
// machine going down.
class SqliteStorage : public Storage {
  public:
    SqliteStorage(const std::string &path, SqliteOptions options = {},
                  const std::vector<Migration> &steps = migrations());
    ~SqliteStorage() override;

    std::pair<Game, bool> submit(const NewGame &game) override;
    std::optional<Game> find_by_demo(const std::string &demo_sha256) override;
    std::optional<Game> game(int64_t id) override;
    std::optional<std::string> demo(int64_t id) override;
    int64_t place(const Game &game) override;
    std::vector<Ranked> ranking(const std::string &stages, int limit) override;
    bool remove(int64_t id) override;
    void check() override;
    int schema_version() override;

    struct Connection;

  private:
    class Lease;
    SqliteOptions options_;
    std::mutex mutex_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<Connection>> all_;
    std::vector<Connection *> idle_;

    void migrate(Connection &c, const std::vector<Migration> &steps);
};

} // namespace server
