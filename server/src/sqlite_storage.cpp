#include "sqlite_storage.h"

#include "util.h"

#include <sqlite3.h>

#include <chrono>
#include <unordered_map>

namespace server {

namespace {

// Errors a caller may retry later become Unavailable; the rest are faults.
[[noreturn]] void fail(sqlite3 *db, int rc, const std::string &what) {
    std::string msg = what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_NOMEM:
    case SQLITE_PROTOCOL:
        throw Unavailable(msg);
    default:
        throw std::runtime_error(msg);
    }
}

const char *const game_columns = "id, player, demo_sha256, version, stages, score, stage, "
                                 "hitrate, hits, shots, ticks, title, title_sjis, submitted_ms";

} // namespace

struct SqliteStorage::Connection {
    sqlite3 *db = nullptr;
    std::unordered_map<std::string, sqlite3_stmt *> statements;

    ~Connection() {
        for (auto &s : statements)
            sqlite3_finalize(s.second);
        sqlite3_close_v2(db);
    }

    void exec(const std::string &sql) {
        char *err = nullptr;
        int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            std::string msg = err ? err : sqlite3_errstr(rc);
            sqlite3_free(err);
            switch (rc & 0xff) {
            case SQLITE_BUSY:
            case SQLITE_LOCKED:
            case SQLITE_IOERR:
            case SQLITE_FULL:
            case SQLITE_READONLY:
                throw Unavailable(msg);
            default:
                throw std::runtime_error(msg + " (in: " + sql.substr(0, 60) + ")");
            }
        }
    }
};

namespace {

using Connection = SqliteStorage::Connection;

// A cached prepared statement, reset when done with; values only through bound parameters.
class Statement {
  public:
    Statement(Connection &c, const std::string &sql) : c_(c) {
        auto it = c.statements.find(sql);
        if (it != c.statements.end()) {
            s_ = it->second;
        } else {
            int rc =
                sqlite3_prepare_v3(c.db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s_, nullptr);
            if (rc != SQLITE_OK) fail(c.db, rc, "prepare");
            c.statements.emplace(sql, s_);
        }
    }
    ~Statement() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    Statement &bind(int i, int64_t v) {
        check(sqlite3_bind_int64(s_, i, v));
        return *this;
    }
    Statement &bind(int i, const std::string &v) {
        check(sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    // True while there is a row.
    bool step() {
        int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        fail(c_.db, rc, "step");
    }
    int64_t integer(int i) { return sqlite3_column_int64(s_, i); }
    std::string text(int i) {
        auto p = reinterpret_cast<const char *>(sqlite3_column_text(s_, i));
        return p ? std::string(p, sqlite3_column_bytes(s_, i)) : std::string();
    }
    Game game() {
        Game g;
        g.id = integer(0);
        g.player = text(1);
        g.demo_sha256 = text(2);
        g.result.version = text(3);
        g.result.stages = text(4);
        g.result.score = integer(5);
        g.result.stage = integer(6);
        g.result.hitrate = integer(7);
        g.result.hits = integer(8);
        g.result.shots = integer(9);
        g.result.ticks = integer(10);
        g.result.title = text(11);
        g.result.title_sjis = text(12);
        g.submitted_ms = integer(13);
        return g;
    }

  private:
    Connection &c_;
    sqlite3_stmt *s_ = nullptr;
    void check(int rc) {
        if (rc != SQLITE_OK) fail(c_.db, rc, "bind");
    }
};

// BEGIN IMMEDIATE takes the write lock up front, so two writers never deadlock upgrading.
class Transaction {
  public:
    explicit Transaction(Connection &c) : c_(c) { c_.exec("BEGIN IMMEDIATE"); }
    void commit() {
        c_.exec("COMMIT");
        done_ = true;
    }
    ~Transaction() {
        if (!done_) sqlite3_exec(c_.db, "ROLLBACK", nullptr, nullptr, nullptr);
    }

  private:
    Connection &c_;
    bool done_ = false;
};

std::unique_ptr<Connection> open(const std::string &path, const SqliteOptions &o) {
    auto c = std::make_unique<Connection>();
    int rc =
        sqlite3_open_v2(path.c_str(), &c->db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) fail(c->db, rc, "opening " + path);
    sqlite3_extended_result_codes(c->db, 1);
    sqlite3_busy_timeout(c->db, o.busy_timeout_ms);
    c->exec("PRAGMA journal_mode=WAL");
    c->exec("PRAGMA synchronous=FULL");
    c->exec("PRAGMA foreign_keys=ON");
    return c;
}

int current_version(Connection &c) {
    Statement s(c, "SELECT COALESCE(MAX(version), 0) FROM schema_version");
    s.step();
    return static_cast<int>(s.integer(0));
}

} // namespace

class SqliteStorage::Lease {
  public:
    explicit Lease(SqliteStorage &s) : s_(s) {
        std::unique_lock<std::mutex> lock(s.mutex_);
        if (!s.released_.wait_for(lock, std::chrono::milliseconds(s.options_.busy_timeout_ms),
                                  [&] { return !s.idle_.empty(); }))
            throw Unavailable("every database connection is busy");
        c_ = s.idle_.back();
        s.idle_.pop_back();
    }
    ~Lease() {
        {
            std::lock_guard<std::mutex> lock(s_.mutex_);
            s_.idle_.push_back(c_);
        }
        s_.released_.notify_one();
    }
    Connection &operator*() { return *c_; }

  private:
    SqliteStorage &s_;
    Connection *c_ = nullptr;
};

SqliteStorage::SqliteStorage(const std::string &path, SqliteOptions options,
                             const std::vector<Migration> &steps)
    : options_(options) {
    auto first = open(path, options_);
    migrate(*first, steps);
    all_.push_back(std::move(first));
    for (int i = 1; i < options_.connections; ++i)
        all_.push_back(open(path, options_));
    for (auto &c : all_)
        idle_.push_back(c.get());
}

SqliteStorage::~SqliteStorage() = default;

void SqliteStorage::migrate(Connection &c, const std::vector<Migration> &steps) {
    for (size_t i = 0; i < steps.size(); ++i)
        if (steps[i].version != static_cast<int>(i) + 1)
            throw std::logic_error("migrations must be numbered 1, 2, 3...");
    c.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY,"
           " description TEXT NOT NULL, applied_ms BIGINT NOT NULL)");
    const int latest = static_cast<int>(steps.size());
    for (const Migration &m : steps) {
        Transaction t(c);
        // Read under the write lock: another server may have just applied it.
        int at = current_version(c);
        if (at >= m.version) continue;
        for (const std::string &sql : m.statements)
            c.exec(dialect_sql(sql, sqlite_dialect));
        Statement(c, "INSERT INTO schema_version (version, description, applied_ms) "
                     "VALUES (?, ?, ?)")
            .bind(1, m.version)
            .bind(2, m.description)
            .bind(3, now_ms())
            .step();
        t.commit();
    }
    int at = current_version(c);
    if (at > latest)
        throw std::runtime_error("the database's schema is version " + std::to_string(at) +
                                 ", newer than this server's (" + std::to_string(latest) +
                                 "); run a newer tarmik-server on it");
}

std::pair<Game, bool> SqliteStorage::submit(const NewGame &g) {
    Lease lease(*this);
    Connection &c = *lease;
    Transaction t(c);
    // Stored before: its entry, without an insert that would use up an id on the conflict.
    {
        Statement sel(c,
                      std::string("SELECT ") + game_columns + " FROM games WHERE demo_sha256 = ?");
        sel.bind(1, g.demo_sha256);
        if (sel.step()) return {sel.game(), false};
    }
    bool created = false;
    {
        Statement ins(c, "INSERT INTO games (demo_sha256, stages, player, version, score, stage,"
                         " hitrate, hits, shots, ticks, title, title_sjis, submitted_ms)"
                         " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                         " ON CONFLICT (demo_sha256) DO NOTHING");
        ins.bind(1, g.demo_sha256)
            .bind(2, g.result.stages)
            .bind(3, g.player)
            .bind(4, g.result.version)
            .bind(5, g.result.score)
            .bind(6, g.result.stage)
            .bind(7, g.result.hitrate)
            .bind(8, g.result.hits)
            .bind(9, g.result.shots)
            .bind(10, g.result.ticks)
            .bind(11, g.result.title)
            .bind(12, g.result.title_sjis)
            .bind(13, g.submitted_ms)
            .step();
        created = sqlite3_changes(c.db) == 1;
    }
    if (created) {
        int64_t id = sqlite3_last_insert_rowid(c.db);
        Statement(c, "INSERT INTO demos (game_id, body) VALUES (?, ?)")
            .bind(1, id)
            .bind(2, g.demo)
            .step();
    }
    Statement sel(c, std::string("SELECT ") + game_columns + " FROM games WHERE demo_sha256 = ?");
    sel.bind(1, g.demo_sha256);
    if (!sel.step()) throw std::runtime_error("a stored game is not there");
    Game stored = sel.game();
    t.commit();
    return {stored, created};
}

std::optional<Game> SqliteStorage::find_by_demo(const std::string &demo_sha256) {
    Lease lease(*this);
    Statement s(*lease,
                std::string("SELECT ") + game_columns + " FROM games WHERE demo_sha256 = ?");
    s.bind(1, demo_sha256);
    if (!s.step()) return std::nullopt;
    return s.game();
}

std::optional<Game> SqliteStorage::game(int64_t id) {
    Lease lease(*this);
    Statement s(*lease, std::string("SELECT ") + game_columns + " FROM games WHERE id = ?");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return s.game();
}

std::optional<std::string> SqliteStorage::demo(int64_t id) {
    Lease lease(*this);
    Statement s(*lease, "SELECT body FROM demos WHERE game_id = ?");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return s.text(0);
}

int64_t SqliteStorage::place(const Game &g) {
    Lease lease(*this);
    Statement s(*lease, "SELECT COUNT(*) FROM games WHERE stages = ?"
                        " AND (score > ? OR (score = ? AND id < ?))");
    s.bind(1, g.result.stages).bind(2, g.result.score).bind(3, g.result.score).bind(4, g.id);
    s.step();
    return s.integer(0) + 1;
}

std::vector<Ranked> SqliteStorage::ranking(const std::string &stages, int limit) {
    Lease lease(*this);
    Statement s(*lease, std::string("SELECT ") + game_columns +
                            " FROM games WHERE stages = ? ORDER BY score DESC, id LIMIT ?");
    s.bind(1, stages).bind(2, limit);
    std::vector<Ranked> out;
    while (s.step())
        out.push_back({s.game(), static_cast<int64_t>(out.size()) + 1});
    return out;
}

bool SqliteStorage::remove(int64_t id) {
    Lease lease(*this);
    Connection &c = *lease;
    Transaction t(c);
    Statement(c, "DELETE FROM demos WHERE game_id = ?").bind(1, id).step();
    Statement(c, "DELETE FROM games WHERE id = ?").bind(1, id).step();
    bool removed = sqlite3_changes(c.db) == 1;
    t.commit();
    return removed;
}

void SqliteStorage::check() {
    Lease lease(*this);
    current_version(*lease);
}

int SqliteStorage::schema_version() {
    Lease lease(*this);
    return current_version(*lease);
}

} // namespace server
