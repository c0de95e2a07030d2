// Several servers on one PostgreSQL database, and what they do when the database goes away.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

using namespace harness;
namespace json = boost::json;
using Clock = std::chrono::steady_clock;

namespace {

int64_t num(const json::value &v, const char *key) {
    return v.at(key).as_int64();
}

class OnPostgres : public ::testing::Test {
  protected:
    std::unique_ptr<Postgres> pg;
    void SetUp() override {
        std::string why;
        pg = start_postgres(why);
        if (!pg) GTEST_SKIP() << why;
        pg->create_database("tarmik");
    }
    // A server on the shared database, with a data folder of its own.
    std::unique_ptr<Server> server(const std::string &name, std::vector<std::string> more = {}) {
        auto info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::vector<std::string> args = {
            "--db",    pg->url(), "--submit-burst", "10000", "--request-burst", "10000",
            "--queue", "200"};
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<Server>(args, scratch_dir(std::string(info->name()) + "-" + name) +
                                                  "/data");
    }
    std::string count(const std::string &sql) { return pg->query("tarmik", sql); }
};

TEST_F(OnPostgres, TwoServersShareOneRanking) {
    // Started at the same moment on an empty database: one makes the tables, the other waits.
    std::unique_ptr<Server> a, b;
    std::string failed;
    std::thread start_a([&] {
        try {
            a = server("a");
        } catch (const std::exception &e) {
            failed = e.what();
        }
    });
    try {
        b = server("b");
    } catch (const std::exception &e) {
        failed = e.what();
    }
    start_a.join();
    ASSERT_TRUE(a && b) << failed;
    for (Server *s : {a.get(), b.get()})
        EXPECT_EQ(num(request(s->port(), "GET", "/api/health").json(), "schema"), 1);
    std::string demo_a = make_demo(4, 1, "to a"), demo_b = make_demo(6, 0, "to b");
    auto ra = submit(a->port(), "alice", demo_a);
    ASSERT_EQ(ra.status, 201) << ra.body << a->log();
    int64_t id_a = num(ra.json(), "id");
    // Read from the other server at once: there, as the first server answered it.
    auto seen = request(b->port(), "GET", "/api/games/" + std::to_string(id_a));
    ASSERT_EQ(seen.status, 200) << seen.body;
    EXPECT_EQ(seen.json().at("player"), ra.json().at("player"));
    EXPECT_EQ(seen.json().at("score"), ra.json().at("score"));
    EXPECT_EQ(request(b->port(), "GET", "/api/games/" + std::to_string(id_a) + "/demo").body,
              demo_a);
    auto rb = submit(b->port(), "bob", demo_b);
    ASSERT_EQ(rb.status, 201) << rb.body << b->log();
    int64_t id_b = num(rb.json(), "id");
    EXPECT_EQ(num(rb.json(), "place"), 1); // 600 ahead of 400
    for (Server *s : {a.get(), b.get()}) {
        auto games = request(s->port(), "GET", "/api/ranking").json().at("games").as_array();
        ASSERT_EQ(games.size(), 2u);
        EXPECT_EQ(num(games[0], "id"), id_b);
        EXPECT_EQ(num(games[1], "id"), id_a);
        EXPECT_EQ(num(games[1], "place"), 2);
    }
    // Each game was replayed by the server that took it.
    EXPECT_NE(a->log().find("game " + std::to_string(id_a) + " stored"), std::string::npos);
    EXPECT_EQ(a->log().find("game " + std::to_string(id_b) + " stored"), std::string::npos);
    EXPECT_NE(b->log().find("game " + std::to_string(id_b) + " stored"), std::string::npos);

    // One new demo sent to both servers at the same moment by ten clients: one entry.
    std::string shared = make_demo(3, 2, "sent to both");
    std::vector<int> status(10);
    std::vector<int64_t> ids(10, -1);
    std::vector<std::thread> clients;
    for (int c = 0; c < 10; ++c)
        clients.emplace_back([&, c] {
            auto r = submit((c % 2 ? a : b)->port(), "c" + std::to_string(c), shared);
            status[c] = r.status;
            if (r.status / 100 == 2) ids[c] = num(r.json(), "id");
        });
    for (auto &t : clients)
        t.join();
    EXPECT_EQ(std::count(status.begin(), status.end(), 201), 1);
    EXPECT_EQ(std::count(status.begin(), status.end(), 200), 9);
    EXPECT_EQ(std::set<int64_t>(ids.begin(), ids.end()).size(), 1u);
    EXPECT_EQ(count("SELECT COUNT(*) FROM games"), "3\n");
}

TEST_F(OnPostgres, UnreachableDatabaseIsAnswered503AndServedAgainOnItsReturn) {
    auto s = server("s", {"--db-timeout", "1000"});
    ASSERT_EQ(submit(s->port(), "first", make_demo(2, 0, "first")).status, 201);

    // Restarted while the server was idle: its connections are gone, the next requests are
    // answered as if nothing had happened.
    pg->stop();
    pg->start();
    EXPECT_EQ(request(s->port(), "GET", "/api/ranking").status, 200);
    EXPECT_EQ(submit(s->port(), "second", make_demo(3, 0, "second")).status, 201);

    // Gone: 503 with a time to come back, soon, for every request that needs the database.
    pg->stop();
    for (int i = 0; i < 2; ++i) {
        auto t0 = Clock::now();
        auto ranking = request(s->port(), "GET", "/api/ranking");
        auto health = request(s->port(), "GET", "/api/health");
        auto page = request(s->port(), "GET", "/");
        auto game = submit(s->port(), "gone", make_demo(1, 0, "while gone " + std::to_string(i)));
        for (const Reply *r : {&ranking, &health, &page, &game}) {
            EXPECT_EQ(r->status, 503) << r->body;
            EXPECT_FALSE(r->header("retry-after").empty());
        }
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(8));
    }
    EXPECT_NE(s->log().find("database unavailable"), std::string::npos);

    // Back: served again within moments, without a restart of the server.
    pg->start();
    auto back = Clock::now();
    Reply r;
    while (Clock::now() - back < std::chrono::seconds(10)) {
        r = request(s->port(), "GET", "/api/ranking");
        if (r.status == 200) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_LT(Clock::now() - back, std::chrono::seconds(3));
    EXPECT_EQ(r.json().at("games").as_array().size(), 2u);
    EXPECT_EQ(submit(s->port(), "third", make_demo(4, 0, "third")).status, 201);
    EXPECT_EQ(request(s->port(), "GET", "/api/health").status, 200);
}

TEST_F(OnPostgres, RestartDuringLoadLosesNoAnsweredGameAndHalvesNone) {
    auto a = server("a", {"--db-timeout", "2000"}), b = server("b", {"--db-timeout", "2000"});
    struct Answered {
        std::string demo, player;
        int64_t id, score;
    };
    std::mutex m;
    std::vector<Answered> answered;
    std::atomic<int> count_201{0}, count_503{0}, after_restart{0};
    std::atomic<bool> restarted{false}, stop{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < 6; ++c)
        clients.emplace_back([&, c] {
            for (int k = 0; !stop && k < 400; ++k) {
                std::string player = "c" + std::to_string(c) + "k" + std::to_string(k);
                std::string demo = make_demo(k % 9, 1, "restart " + player);
                auto r = submit((c % 2 ? a : b)->port(), player, demo);
                if (r.status == 201) {
                    std::lock_guard<std::mutex> lock(m);
                    answered.push_back({demo, player, num(r.json(), "id"), num(r.json(), "score")});
                    ++count_201;
                    if (restarted) ++after_restart;
                } else if (r.status == 503) {
                    ++count_503;
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                } else {
                    ADD_FAILURE() << "status " << r.status << ": " << r.body;
                    return;
                }
            }
        });
    auto wait_until = [&](const std::function<bool()> &done, int seconds) {
        auto deadline = Clock::now() + std::chrono::seconds(seconds);
        while (!done() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    wait_until([&] { return count_201 >= 40; }, 20);
    // As if the database's machine lost power: no shutdown, recovery from the WAL.
    pg->crash();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    restarted = true;
    pg->start();
    wait_until([&] { return after_restart >= 40; }, 20);
    stop = true;
    for (auto &t : clients)
        t.join();
    EXPECT_GE(after_restart, 40) << "the servers did not take games again after the restart";

    for (const Answered &x : answered) {
        auto g = request(b->port(), "GET", "/api/games/" + std::to_string(x.id));
        ASSERT_EQ(g.status, 200) << "game " << x.id << " was answered 201 and is gone";
        EXPECT_EQ(std::string(g.json().at("player").as_string()), x.player);
        EXPECT_EQ(num(g.json(), "score"), x.score);
        EXPECT_EQ(request(a->port(), "GET", "/api/games/" + std::to_string(x.id) + "/demo").body,
                  x.demo);
    }
    // No game without its demo, answered or not.
    EXPECT_EQ(count("SELECT COUNT(*) FROM games g LEFT JOIN demos d ON d.game_id = g.id"
                    " WHERE d.game_id IS NULL"),
              "0\n");
    std::cout << count_201 << " games answered 201 (" << after_restart << " after the restart), "
              << count_503 << " answered 503\n";
}

} // namespace
