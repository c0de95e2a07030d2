// The storage behind the server, through its interface: what every database kept behind it
// must answer alike.
#include "harness.h"
#include "pg_storage.h"
#include "sqlite_storage.h"

#include <pqxx/pqxx>
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

using namespace server;

namespace {

struct Sqlite {
    static std::string missing() { return ""; }
    static std::unique_ptr<Storage> open(const std::string &dir,
                                         const std::vector<Migration> &steps = migrations(),
                                         int timeout_ms = 3000) {
        SqliteOptions o;
        o.busy_timeout_ms = timeout_ms;
        o.connections = 6;
        return std::make_unique<SqliteStorage>(dir + "/db.sqlite3", o, steps);
    }
    // Another process's hold on the database: a write transaction left open.
    struct WriteLock {
        sqlite3 *db = nullptr;
        explicit WriteLock(const std::string &dir) {
            sqlite3_open((dir + "/db.sqlite3").c_str(), &db);
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        }
        ~WriteLock() {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
    };
    static void exec(const std::string &dir, const std::string &sql) {
        sqlite3 *db = nullptr;
        sqlite3_open((dir + "/db.sqlite3").c_str(), &db);
        char *err = nullptr;
        int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
        sqlite3_free(err);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK) << sql;
    }
    static bool table_exists(const std::string &dir, const std::string &table) {
        return harness::run("sqlite3 '" + dir +
                            "/db.sqlite3' \"SELECT name FROM sqlite_master "
                            "WHERE type='table' AND name='" +
                            table + "'\"") == table + "\n";
    }
};

// One cluster for the whole test program; a database of each test's own, named after its folder.
struct Postgres {
    static harness::Postgres *cluster(std::string *why = nullptr) {
        static std::string reason;
        static std::unique_ptr<harness::Postgres> pg = harness::start_postgres(reason);
        if (why) *why = reason;
        return pg.get();
    }
    static std::string missing() {
        std::string why;
        cluster(&why);
        return why;
    }
    static std::string url(const std::string &dir) {
        static std::set<std::string> made;
        std::string name = "t_" + dir.substr(dir.rfind('/') + 1);
        for (char &c : name)
            c = std::isalnum(static_cast<unsigned char>(c))
                    ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                    : '_';
        name = name.substr(0, 63);
        if (made.insert(name).second) cluster()->create_database(name);
        return cluster()->url(name);
    }
    static std::unique_ptr<Storage> open(const std::string &dir,
                                         const std::vector<Migration> &steps = migrations(),
                                         int timeout_ms = 3000) {
        PgOptions o;
        o.timeout_ms = timeout_ms;
        o.connections = 6;
        return std::make_unique<PgStorage>(url(dir), o, steps);
    }
    // Another server's hold on the games: a lock that lets reads through, not writes.
    struct WriteLock {
        pqxx::connection c;
        pqxx::work t;
        explicit WriteLock(const std::string &dir) : c(url(dir)), t(c) {
            t.exec("LOCK TABLE games IN EXCLUSIVE MODE");
        }
    };
    static bool table_exists(const std::string &dir, const std::string &table) {
        pqxx::connection c(url(dir));
        pqxx::nontransaction t(c);
        return t.exec_params1("SELECT to_regclass($1) IS NOT NULL", table)[0].as<bool>();
    }
};

NewGame game(const std::string &player, int64_t score, const std::string &demo,
             const std::string &stages = std::string(64, 'a')) {
    NewGame g;
    g.player = player;
    g.demo = demo;
    g.demo_sha256 = harness::run("printf %s '" + demo + "' | sha256sum").substr(0, 64);
    g.result.version = "1.0.0";
    g.result.stages = stages;
    g.result.score = score;
    g.result.stage = 3;
    g.result.hitrate = 70;
    g.result.hits = 7;
    g.result.shots = 10;
    g.result.ticks = 812;
    g.result.title = u8"シークレットサービス";
    g.result.title_sjis = "83568175";
    g.submitted_ms = 1700000000123;
    return g;
}

std::string test_dir() {
    auto info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char &c : name)
        if (c == '/') c = '_';
    return harness::scratch_dir("storage-" + name);
}

template <class Backend> class StorageContract : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        if (std::string why = Backend::missing(); !why.empty()) GTEST_SKIP() << why;
        dir = test_dir();
    }
};

using Backends = ::testing::Types<Sqlite, Postgres>;
TYPED_TEST_SUITE(StorageContract, Backends);

TYPED_TEST(StorageContract, StoresEachDemoOnceAndKeepsItAcrossReopening) {
    int64_t id;
    {
        auto s = TypeParam::open(this->dir);
        NewGame a = game(u8"プレイヤー", 1000, "demo A\nline 2\n");
        auto [first, created] = s->submit(a);
        EXPECT_TRUE(created);
        id = first.id;
        // The same demo from someone else: the first entry, untouched.
        auto [again, created2] = s->submit(game("other", 5, "demo A\nline 2\n"));
        EXPECT_FALSE(created2);
        EXPECT_EQ(again.id, id);
        EXPECT_EQ(again.player, u8"プレイヤー");
        EXPECT_EQ(again.result.score, 1000);
    }
    auto s = TypeParam::open(this->dir);
    auto g = s->game(id);
    ASSERT_TRUE(g);
    NewGame a = game(u8"プレイヤー", 1000, "demo A\nline 2\n");
    EXPECT_EQ(g->player, a.player);
    EXPECT_EQ(g->demo_sha256, a.demo_sha256);
    EXPECT_EQ(g->result.title, a.result.title);
    EXPECT_EQ(g->result.title_sjis, a.result.title_sjis);
    EXPECT_EQ(g->result.stages, a.result.stages);
    EXPECT_EQ(g->result.version, "1.0.0");
    EXPECT_EQ(g->result.ticks, 812);
    EXPECT_EQ(g->result.hits, 7);
    EXPECT_EQ(g->result.shots, 10);
    EXPECT_EQ(g->submitted_ms, 1700000000123);
    EXPECT_EQ(s->demo(id), std::optional<std::string>("demo A\nline 2\n"));
    EXPECT_EQ(s->find_by_demo(a.demo_sha256)->id, id);

    EXPECT_TRUE(s->remove(id));
    EXPECT_FALSE(s->game(id));
    EXPECT_FALSE(s->demo(id));
    EXPECT_FALSE(s->find_by_demo(a.demo_sha256));
    EXPECT_FALSE(s->remove(id));
    // Deleted, it may come again, as a new entry.
    auto [back, created3] = s->submit(a);
    EXPECT_TRUE(created3);
    EXPECT_NE(back.id, id);
}

TYPED_TEST(StorageContract, RanksByScoreThenEarlierEntryPerStageSet) {
    auto s = TypeParam::open(this->dir);
    std::string x(64, '1'), y(64, '2');
    std::vector<int64_t> scores = {500, 900, 500, 900, 100, 700};
    std::vector<int64_t> ids;
    for (size_t i = 0; i < scores.size(); ++i)
        ids.push_back(
            s->submit(game("p" + std::to_string(i), scores[i], "x" + std::to_string(i), x))
                .first.id);
    s->submit(game("other", 10000, "y0", y));
    auto r = s->ranking(x, 10);
    std::vector<int64_t> want = {ids[1], ids[3], ids[5], ids[0], ids[2], ids[4]};
    ASSERT_EQ(r.size(), want.size());
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].game.id, want[i]) << "place " << i + 1;
        EXPECT_EQ(r[i].place, static_cast<int64_t>(i) + 1);
        EXPECT_EQ(s->place(r[i].game), r[i].place);
    }
    auto top = s->ranking(x, 2);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[1].game.id, ids[3]);
    auto other = s->ranking(y, 10);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(s->place(other[0].game), 1);
    EXPECT_TRUE(s->ranking(std::string(64, '3'), 10).empty());
}

TYPED_TEST(StorageContract, ConcurrentSubmissionsStoreEachDemoOnce) {
    auto s = TypeParam::open(this->dir);
    std::atomic<int> created_shared{0};
    std::vector<int64_t> shared_ids(8), own_ids(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            auto [g, created] = s->submit(game("t" + std::to_string(t), 300, "shared demo"));
            shared_ids[t] = g.id;
            if (created) ++created_shared;
            own_ids[t] = s->submit(game("t", t, "own " + std::to_string(t))).first.id;
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(created_shared, 1);
    EXPECT_EQ(std::set<int64_t>(shared_ids.begin(), shared_ids.end()).size(), 1u);
    EXPECT_EQ(std::set<int64_t>(own_ids.begin(), own_ids.end()).size(), 8u);
    EXPECT_EQ(s->ranking(std::string(64, 'a'), 100).size(), 9u);
}

TYPED_TEST(StorageContract, MigrationsApplyWholeOrNotAtAll) {
    const int latest = static_cast<int>(migrations().size());
    {
        auto s = TypeParam::open(this->dir);
        EXPECT_EQ(s->schema_version(), latest);
        s->submit(game("kept", 1, "kept"));
    }
    // A step that fails half-way leaves neither its first statement nor its version behind.
    auto broken = migrations();
    broken.push_back({latest + 1, "broken", {"CREATE TABLE extra (x INTEGER)", "NOT SQL AT ALL"}});
    EXPECT_THROW(TypeParam::open(this->dir, broken), std::exception);
    EXPECT_FALSE(TypeParam::table_exists(this->dir, "extra"));
    {
        auto s = TypeParam::open(this->dir);
        EXPECT_EQ(s->schema_version(), latest);
        EXPECT_EQ(s->ranking(std::string(64, 'a'), 10).size(), 1u);
    }
    // A later step applies once, on top.
    auto more = migrations();
    more.push_back({latest + 1, "extra", {"CREATE TABLE extra (x INTEGER)"}});
    EXPECT_EQ(TypeParam::open(this->dir, more)->schema_version(), latest + 1);
    EXPECT_TRUE(TypeParam::table_exists(this->dir, "extra"));
    EXPECT_EQ(TypeParam::open(this->dir, more)->schema_version(), latest + 1);
    // A database from a newer server is not touched by an older one.
    try {
        TypeParam::open(this->dir);
        ADD_FAILURE() << "an older schema list opened a newer database";
    } catch (const std::exception &e) {
        EXPECT_NE(std::string(e.what()).find("newer"), std::string::npos) << e.what();
    }
}

TYPED_TEST(StorageContract, BusyDatabaseIsUnavailableThenRecovers) {
    auto s = TypeParam::open(this->dir, migrations(), 300);
    s->submit(game("before", 10, "before"));
    {
        typename TypeParam::WriteLock lock(this->dir);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_THROW(s->submit(game("during", 20, "during")), Unavailable);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
        // Readers are not held up by a writer.
        EXPECT_EQ(s->ranking(std::string(64, 'a'), 10).size(), 1u);
        EXPECT_NO_THROW(s->check());
    }
    EXPECT_TRUE(s->submit(game("after", 30, "after")).second);
    EXPECT_FALSE(s->find_by_demo(game("", 0, "during").demo_sha256));
}

// Every answer of a storage to the same calls, as text.
std::string transcript(Storage &s) {
    std::ostringstream out;
    auto put = [&](const Game &g) {
        const GameResult &r = g.result;
        out << g.id << "|" << g.player << "|" << g.demo_sha256 << "|" << r.version << "|"
            << r.stages << "|" << r.score << "|" << r.stage << "|" << r.hitrate << "|" << r.hits
            << "|" << r.shots << "|" << r.ticks << "|" << r.title << "|" << r.title_sjis << "|"
            << g.submitted_ms << "\n";
    };
    std::string x(64, 'c'), y(64, 'd');
    std::vector<int64_t> ids;
    const std::vector<std::pair<std::string, int64_t>> sent = {
        {u8"Ａさん", 300}, {"b", 900}, {u8"たろう", 300}, {"d", 0}, {"e", 900}, {"f", 120}};
    for (size_t i = 0; i < sent.size(); ++i) {
        NewGame g =
            game(sent[i].first, sent[i].second, "game " + std::to_string(i), i % 3 == 2 ? y : x);
        g.submitted_ms += static_cast<int64_t>(i);
        auto [stored, created] = s.submit(g);
        out << "submit " << created << " ";
        put(stored);
        ids.push_back(stored.id);
    }
    // Again, from someone else; then one removed and its demo sent once more.
    auto [again, created] = s.submit(game("late", 5000, "game 1"));
    out << "again " << created << " ";
    put(again);
    out << "remove " << s.remove(ids[1]) << s.remove(ids[1]) << s.remove(999999) << "\n";
    auto [back, back_created] = s.submit(game("back", 900, "game 1", x));
    out << "back " << back_created << " ";
    put(back);
    s.submit(game("next", 1, "game 9", x));
    for (const std::string &set : {x, y, std::string(64, 'e')})
        for (int limit : {1, 3, 100})
            for (const Ranked &r : s.ranking(set, limit)) {
                out << "ranking " << limit << " " << r.place << " " << s.place(r.game) << " ";
                put(r.game);
            }
    for (int64_t id : ids) {
        auto g = s.game(id);
        out << "game " << id << " " << (g ? g->player : "none") << " "
            << s.demo(id).value_or("no demo") << "\n";
    }
    auto found = s.find_by_demo(game("", 0, "game 4").demo_sha256);
    out << "found " << (found ? found->id : -1) << " schema " << s.schema_version() << "\n";
    return out.str();
}

TEST(Storages, AnswerTheSameCallsAlike) {
    if (std::string why = Postgres::missing(); !why.empty()) GTEST_SKIP() << why;
    std::string dir = test_dir();
    std::string sqlite = transcript(*Sqlite::open(dir));
    std::string postgresql = transcript(*Postgres::open(dir));
    EXPECT_EQ(sqlite, postgresql);
    // A transcript that says something: the stored games, places and ties are in it.
    EXPECT_NE(sqlite.find("ranking 100 2 2 7|back|"), std::string::npos) << sqlite;
}

} // namespace
