#include "pg_storage.h"

#include "util.h"

#include <libpq-fe.h>
#include <pqxx/pqxx>

#include <algorithm>

namespace server {

namespace {

const char *const game_columns = "id, player, demo_sha256, version, stages, score, stage, "
                                 "hitrate, hits, shots, ticks, title, title_sjis, submitted_ms";

// Any number of servers may start at once on an empty database; one migrates at a time.
const long long migration_lock = 0x74726d6b;

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The URL's own settings, keyword by keyword, as libpq reads it.
std::vector<std::pair<std::string, std::string>> url_settings(const std::string &url) {
    char *err = nullptr;
    PQconninfoOption *opts = PQconninfoParse(url.c_str(), &err);
    if (!opts) {
        std::string msg = err ? trimmed(err) : "out of memory";
        PQfreemem(err);
        throw std::runtime_error("the database URL cannot be read: " + msg);
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (PQconninfoOption *o = opts; o->keyword; ++o)
        if (o->val && *o->val) out.emplace_back(o->keyword, o->val);
    PQconninfoFree(opts);
    return out;
}

std::string quoted(const std::string &v) {
    std::string out = "'";
    for (char c : v) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

// The URL with what the server needs where the URL does not say otherwise: no wait longer
// than the timeout (connecting, a lock, a statement, a peer that vanished), and a database
// that takes writes when the URL names several hosts.
std::string connection_string(const std::string &url, const PgOptions &o) {
    auto settings = url_settings(url);
    auto has = [&](const char *key) {
        return std::any_of(settings.begin(), settings.end(),
                           [&](const auto &kv) { return kv.first == key; });
    };
    std::string own_options = "-c statement_timeout=" + std::to_string(o.timeout_ms) +
                              " -c lock_timeout=" + std::to_string(o.timeout_ms) +
                              " -c client_encoding=UTF8";
    std::string out;
    for (auto &[key, value] : settings)
        out += key + "=" + quoted(key == "options" ? own_options + " " + value : value) + " ";
    if (!has("options")) out += "options=" + quoted(own_options) + " ";
    if (!has("connect_timeout"))
        out += "connect_timeout=" + std::to_string(std::max(2, (o.timeout_ms + 999) / 1000)) + " ";
    if (!has("tcp_user_timeout"))
        out += "tcp_user_timeout=" + std::to_string(o.timeout_ms * 2) + " ";
    if (!has("application_name")) out += "application_name=tarmik-server ";
    if (!has("target_session_attrs")) out += "target_session_attrs=read-write ";
    return out;
}

Game game_of(const pqxx::row &r) {
    Game g;
    g.id = r[0].as<int64_t>();
    g.player = r[1].as<std::string>();
    g.demo_sha256 = r[2].as<std::string>();
    g.result.version = r[3].as<std::string>();
    g.result.stages = r[4].as<std::string>();
    g.result.score = r[5].as<int64_t>();
    g.result.stage = r[6].as<int64_t>();
    g.result.hitrate = r[7].as<int64_t>();
    g.result.hits = r[8].as<int64_t>();
    g.result.shots = r[9].as<int64_t>();
    g.result.ticks = r[10].as<int64_t>();
    g.result.title = r[11].as<std::string>();
    g.result.title_sjis = r[12].as<std::string>();
    g.submitted_ms = r[13].as<int64_t>();
    return g;
}

void prepare_statements(pqxx::connection &c) {
    const std::string select = std::string("SELECT ") + game_columns + " FROM games";
    // One statement stores the game and its demo, or neither. An existing demo is looked for
    // first, so that a repeat does not use up an id (ids then follow as SQLite gives them);
    // two sent at the same moment meet at the unique key, the later waiting for the earlier.
    c.prepare("submit",
              std::string("WITH game AS (INSERT INTO games (demo_sha256, stages, player, version,"
                          " score, stage, hitrate, hits, shots, ticks, title, title_sjis,"
                          " submitted_ms)"
                          " SELECT $1, $2, $3, $4, $5::bigint, $6::bigint, $7::bigint, $8::bigint,"
                          " $9::bigint, $10::bigint, $11, $12, $13::bigint"
                          " WHERE NOT EXISTS (SELECT 1 FROM games WHERE demo_sha256 = $1)"
                          " ON CONFLICT (demo_sha256) DO NOTHING RETURNING ") +
                  game_columns +
                  "), demo AS (INSERT INTO demos (game_id, body) SELECT id, $14 FROM game)"
                  " SELECT " +
                  game_columns + " FROM game");
    c.prepare("find_by_demo", select + " WHERE demo_sha256 = $1");
    c.prepare("game", select + " WHERE id = $1");
    c.prepare("demo", "SELECT body FROM demos WHERE game_id = $1");
    c.prepare("place", "SELECT COUNT(*) FROM games WHERE stages = $1"
                       " AND (score > $2 OR (score = $2 AND id < $3))");
    c.prepare("ranking", select + " WHERE stages = $1 ORDER BY score DESC, id LIMIT $2");
    // The demo goes with it (ON DELETE CASCADE).
    c.prepare("remove", "DELETE FROM games WHERE id = $1");
    c.prepare("version", "SELECT COALESCE(MAX(version), 0) FROM schema_version");
}

int current_version(pqxx::transaction_base &t) {
    return t.exec_prepared1("version")[0].as<int>();
}

// Before the tables are there, nothing prepared is run.
int unprepared_version(pqxx::transaction_base &t) {
    return t.exec1("SELECT COALESCE(MAX(version), 0) FROM schema_version")[0].as<int>();
}

// Errors that say the database cannot answer now but may later; the rest are faults.
bool transient(const std::exception &e) {
    if (dynamic_cast<const pqxx::broken_connection *>(&e) ||
        dynamic_cast<const pqxx::in_doubt_error *>(&e) ||
        dynamic_cast<const pqxx::transaction_rollback *>(&e))
        return true;
    auto sql = dynamic_cast<const pqxx::sql_error *>(&e);
    if (!sql) return false;
    const std::string &state = sql->sqlstate();
    // No state: libpq's own failure on the way (the connection went). 08: connection,
    // 53: out of resources, 57: cancelled, timed out, shut down; 40: rolled back; 55P03: a
    // lock not had in time; 25006: a read-only database (a standby).
    return state.empty() || state.rfind("08", 0) == 0 || state.rfind("53", 0) == 0 ||
           state.rfind("57", 0) == 0 || state.rfind("40", 0) == 0 || state == "55P03" ||
           state == "25006";
}

bool connection_lost(const std::exception &e, const pqxx::connection &c) {
    if (!c.is_open() || dynamic_cast<const pqxx::broken_connection *>(&e) ||
        dynamic_cast<const pqxx::in_doubt_error *>(&e))
        return true;
    auto sql = dynamic_cast<const pqxx::sql_error *>(&e);
    if (!sql) return false;
    const std::string &state = sql->sqlstate();
    return state.empty() || state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0;
}

void migrate(pqxx::connection &c, const std::vector<Migration> &steps) {
    {
        pqxx::work t(c);
        t.exec("SELECT pg_advisory_xact_lock(" + std::to_string(migration_lock) + ")");
        t.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY,"
               " description TEXT NOT NULL, applied_ms BIGINT NOT NULL)");
        t.commit();
    }
    const int latest = static_cast<int>(steps.size());
    for (const Migration &m : steps) {
        // DDL is transactional here: a step and its version row commit together or not at all.
        pqxx::work t(c);
        t.exec("SELECT pg_advisory_xact_lock(" + std::to_string(migration_lock) + ")");
        if (unprepared_version(t) >= m.version) continue;
        for (const std::string &sql : m.statements)
            t.exec(dialect_sql(sql, postgresql_dialect));
        t.exec_params("INSERT INTO schema_version (version, description, applied_ms)"
                      " VALUES ($1, $2, $3)",
                      m.version, m.description, static_cast<long long>(now_ms()));
        t.commit();
    }
    pqxx::nontransaction t(c);
    int at = unprepared_version(t);
    if (at > latest)
        throw std::runtime_error("the database's schema is version " + std::to_string(at) +
                                 ", newer than this server's (" + std::to_string(latest) +
                                 "); run a newer tarmik-server on it");
}

} // namespace

struct PgStorage::Slot {
    std::unique_ptr<pqxx::connection> c;
};

class PgStorage::Lease {
  public:
    explicit Lease(PgStorage &s) : s_(s) {
        std::unique_lock<std::mutex> lock(s.mutex_);
        if (!s.released_.wait_for(lock, std::chrono::milliseconds(s.options_.timeout_ms),
                                  [&] { return !s.idle_.empty(); }))
            throw Unavailable("every database connection is busy");
        slot_ = s.idle_.back();
        s.idle_.pop_back();
    }
    ~Lease() {
        {
            std::lock_guard<std::mutex> lock(s_.mutex_);
            s_.idle_.push_back(slot_);
        }
        s_.released_.notify_one();
    }
    Slot &operator*() { return *slot_; }

  private:
    PgStorage &s_;
    Slot *slot_ = nullptr;
};

std::string PgStorage::url_problem(const std::string &url) {
    try {
        url_settings(url);
        return "";
    } catch (const std::exception &e) {
        return e.what();
    }
}

void PgStorage::connect(Slot &slot) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::chrono::steady_clock::now() < retry_at_)
            throw Unavailable("cannot connect to the database: " + last_failure_);
    }
    try {
        auto c = std::make_unique<pqxx::connection>(conninfo_);
        prepare_statements(*c);
        slot.c = std::move(c);
    } catch (const std::exception &e) {
        std::lock_guard<std::mutex> lock(mutex_);
        last_failure_ = trimmed(e.what());
        retry_at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        throw Unavailable("cannot connect to the database: " + last_failure_);
    }
}

template <class F> auto PgStorage::run(F &&f) {
    Lease lease(*this);
    Slot &slot = *lease;
    for (int attempt = 0;; ++attempt) {
        bool fresh = !slot.c;
        if (fresh) connect(slot);
        try {
            return f(*slot.c);
        } catch (const std::exception &e) {
            bool lost = connection_lost(e, *slot.c);
            if (lost) slot.c.reset();
            // A connection kept from before may have been cut while it was idle (the
            // database restarted): once more on a new one. Every call may run twice.
            if (lost && !fresh && attempt == 0) continue;
            if (lost || transient(e)) throw Unavailable("the database: " + trimmed(e.what()));
            throw;
        }
    }
}

PgStorage::PgStorage(const std::string &url, PgOptions options, const std::vector<Migration> &steps)
    : options_(options), conninfo_(connection_string(url, options)) {
    for (size_t i = 0; i < steps.size(); ++i)
        if (steps[i].version != static_cast<int>(i) + 1)
            throw std::logic_error("migrations must be numbered 1, 2, 3...");
    for (int i = 0; i < std::max(1, options_.connections); ++i) {
        all_.push_back(std::make_unique<Slot>());
        idle_.push_back(all_.back().get());
    }
    run([&](pqxx::connection &c) {
        migrate(c, steps);
        return 0;
    });
}

PgStorage::~PgStorage() = default;

std::string PgStorage::describe(const std::string &url) {
    try {
        std::string host = "localhost", port, db, user;
        for (auto &[key, value] : url_settings(url)) {
            if (key == "host" || (key == "hostaddr" && host == "localhost")) host = value;
            if (key == "port") port = value;
            if (key == "dbname") db = value;
            if (key == "user") user = value;
        }
        return "postgresql://" + (user.empty() ? "" : user + "@") + host +
               (port.empty() ? "" : ":" + port) + "/" + db;
    } catch (const std::exception &) {
        return "postgresql (an unreadable URL)";
    }
}

std::pair<Game, bool> PgStorage::submit(const NewGame &g) {
    return run([&](pqxx::connection &c) {
        for (int i = 0; i < 3; ++i) {
            pqxx::nontransaction t(c);
            pqxx::result r = t.exec_prepared(
                "submit", g.demo_sha256, g.result.stages, g.player, g.result.version,
                static_cast<long long>(g.result.score), static_cast<long long>(g.result.stage),
                static_cast<long long>(g.result.hitrate), static_cast<long long>(g.result.hits),
                static_cast<long long>(g.result.shots), static_cast<long long>(g.result.ticks),
                g.result.title, g.result.title_sjis, static_cast<long long>(g.submitted_ms),
                g.demo);
            if (!r.empty()) return std::make_pair(game_of(r[0]), true);
            r = t.exec_prepared("find_by_demo", g.demo_sha256);
            if (!r.empty()) return std::make_pair(game_of(r[0]), false);
            // The game in the way is gone again (deleted, or its insert undone): once more.
        }
        throw std::runtime_error("a stored game is not there");
    });
}

std::optional<Game> PgStorage::find_by_demo(const std::string &demo_sha256) {
    return run([&](pqxx::connection &c) -> std::optional<Game> {
        pqxx::nontransaction t(c);
        pqxx::result r = t.exec_prepared("find_by_demo", demo_sha256);
        if (r.empty()) return std::nullopt;
        return game_of(r[0]);
    });
}

std::optional<Game> PgStorage::game(int64_t id) {
    return run([&](pqxx::connection &c) -> std::optional<Game> {
        pqxx::nontransaction t(c);
        pqxx::result r = t.exec_prepared("game", static_cast<long long>(id));
        if (r.empty()) return std::nullopt;
        return game_of(r[0]);
    });
}

std::optional<std::string> PgStorage::demo(int64_t id) {
    return run([&](pqxx::connection &c) -> std::optional<std::string> {
        pqxx::nontransaction t(c);
        pqxx::result r = t.exec_prepared("demo", static_cast<long long>(id));
        if (r.empty()) return std::nullopt;
        return r[0][0].as<std::string>();
    });
}

int64_t PgStorage::place(const Game &g) {
    return run([&](pqxx::connection &c) {
        pqxx::nontransaction t(c);
        return t.exec_prepared1("place", g.result.stages, static_cast<long long>(g.result.score),
                                static_cast<long long>(g.id))[0]
                   .as<int64_t>() +
               1;
    });
}

std::vector<Ranked> PgStorage::ranking(const std::string &stages, int limit) {
    return run([&](pqxx::connection &c) {
        pqxx::nontransaction t(c);
        std::vector<Ranked> out;
        for (const pqxx::row &r : t.exec_prepared("ranking", stages, limit))
            out.push_back({game_of(r), static_cast<int64_t>(out.size()) + 1});
        return out;
    });
}

bool PgStorage::remove(int64_t id) {
    return run([&](pqxx::connection &c) {
        pqxx::nontransaction t(c);
        return t.exec_prepared("remove", static_cast<long long>(id)).affected_rows() == 1;
    });
}

void PgStorage::check() {
    run([&](pqxx::connection &c) {
        pqxx::nontransaction t(c);
        return current_version(t);
    });
}

int PgStorage::schema_version() {
    return run([&](pqxx::connection &c) {
        pqxx::nontransaction t(c);
        return current_version(t);
    });
}

} // namespace server
