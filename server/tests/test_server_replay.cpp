// The real server with the game's own replay tool: games cut from recorded runs are verified
// and ranked by what their replay gives, whatever the demo claims.
#include "harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

using namespace harness;
namespace json = boost::json;

namespace {

std::string test_dir(const std::string &what) {
    auto info = ::testing::UnitTest::GetInstance()->current_test_info();
    return scratch_dir(std::string(info->test_suite_name()) + "." + info->name() + "-" + what);
}

std::string read(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The games a run holds, cut by the game's own driver in a copy of the shipped stages.
std::vector<std::string> cut(const std::string &run_file) {
    const std::string dir = test_dir("cut");
    std::filesystem::copy_file(TARMIK_DATA "/stagefile.txt", dir + "/stagefile.txt");
    run("cd '" + dir + "' && '" TARMIK_REPLAY_TOOL "' --cut game '" + run_file +
        "' < /dev/null > /dev/null 2>&1");
    std::vector<std::string> games;
    for (int i = 1; std::filesystem::exists(dir + "/game-" + std::to_string(i) + ".demo"); ++i)
        games.push_back(read(dir + "/game-" + std::to_string(i) + ".demo"));
    return games;
}

// NAME=VALUE of the demo's expect line.
std::string claimed(const std::string &demo, const std::string &name) {
    const size_t line = demo.find("\nexpect ");
    if (line == std::string::npos) return "";
    const size_t at = demo.find(" " + name + "=", line);
    if (at == std::string::npos) return "";
    const size_t from = at + name.size() + 2;
    return demo.substr(from, demo.find_first_of(" \n", from) - from);
}

std::string without_expect(const std::string &demo) {
    const size_t line = demo.find("\nexpect ");
    if (line == std::string::npos) return demo;
    std::string out = demo;
    out.erase(line, out.find('\n', line + 1) - line);
    return out;
}

std::vector<std::string> real_tool() {
    return {"--replay", TARMIK_REPLAY_TOOL, "--stages", TARMIK_DATA "/stagefile.txt"};
}

} // namespace

TEST(Replay, EveryGameOfTheShippedDemoScoresWhatTheDriverSays) {
    const auto games = cut(TARMIK_DATA "/tarmik.demo");
    ASSERT_FALSE(games.empty());
    Server s(real_tool());
    for (const std::string &game : games) {
        auto r = submit(s.port(), "shipped", game);
        ASSERT_EQ(r.status, 201) << r.body;
        const json::value v = r.json();
        EXPECT_EQ(std::to_string(v.at("score").as_int64()), claimed(game, "result.score"));
        EXPECT_EQ(std::to_string(v.at("stage").as_int64()), claimed(game, "result.stage"));
        EXPECT_EQ(std::to_string(v.at("hitrate").as_int64()), claimed(game, "result.hitrate"));
        EXPECT_EQ(std::to_string(v.at("hits").as_int64()), claimed(game, "hits"));
        EXPECT_EQ(std::string(v.at("title").as_string()), u8"シークレットサービス");
        // The same bytes again are the same entry.
        auto again = submit(s.port(), "again", game);
        EXPECT_EQ(again.status, 200);
        EXPECT_EQ(again.json().at("id"), v.at("id"));
    }
}

TEST(Replay, ATamperedGameNeverGetsTheClaimedScore) {
    const auto games = cut(TARMIK_DATA "/tarmik.demo");
    ASSERT_FALSE(games.empty());
    const std::string &game = games[0];
    const std::string score = claimed(game, "result.score");
    // One click moved: the first shot is fired at another place of the view.
    const size_t click = game.find("\nclick left down ");
    ASSERT_NE(click, std::string::npos);
    std::string moved = game;
    const size_t line_end = moved.find('\n', click + 1);
    const std::string click_line = moved.substr(click, line_end - click);
    moved.erase(click, line_end - click);
    const size_t later = moved.find("\nmotion ", click + 1);
    ASSERT_NE(later, std::string::npos);
    moved.insert(moved.find('\n', later + 1), click_line);
    Server s(real_tool());
    // Still claiming the score: refused, the replay does not end there.
    auto r = submit(s.port(), "cheat", moved);
    EXPECT_EQ(r.status, 422) << r.body;
    // Claiming nothing: ranked by what the replay gives, which is not the claimed score.
    r = submit(s.port(), "cheat", without_expect(moved));
    if (r.status == 201) {
        EXPECT_NE(std::to_string(r.json().at("score").as_int64()), score);
    }
    // A game claimed on another stage set, or of another version: refused.
    std::string other = game;
    other.replace(other.find("stages ") + 7, 64, std::string(64, 'a'));
    EXPECT_EQ(submit(s.port(), "other", other).status, 422);
    std::string version = game;
    version.replace(version.find("tarmik 1."), 9, "tarmik 9.");
    r = submit(s.port(), "other", version);
    EXPECT_EQ(r.status, 422) << r.body;
}

TEST(Replay, HundredRealGamesFromTenClientsAreEachStoredOnceAndRankedInOrder) {
    // One short game (every shot fired, the time runs out), begun from a hundred places of the
    // view: a hundred different valid games.
    const std::string dir = test_dir("run");
    std::ofstream(dir + "/run.sim") << "menu 1\nkey s\nframe\nmove 0 0\nmove 0 -120\n"
                                    << std::string("click\ntick 2\n") << "click\nclick\nclick\n"
                                    << "click\nclick\nclick\nclick\nclick\nclick\ntick 30\n";
    const auto games = cut(dir + "/run.sim");
    ASSERT_EQ(games.size(), 1u);
    const std::string base = without_expect(games[0]);
    ASSERT_NE(base.find(" ply.x=0 "), std::string::npos);
    Server s(real_tool());
    std::mutex m;
    std::vector<int> statuses;
    std::set<int64_t> ids;
    std::map<int64_t, int64_t> scores;
    std::vector<std::thread> clients;
    for (int c = 0; c < 10; ++c)
        clients.emplace_back([&, c] {
            for (int k = 0; k < 10; ++k) {
                const int place = c * 10 + k;
                std::string demo = base;
                demo.replace(demo.find(" ply.x=0 "), 9,
                             " ply.x=" + std::to_string(place % 2 ? place : -place) + " ");
                auto r = submit(s.port(), "client " + std::to_string(c), demo,
                                "127.0.0." + std::to_string(11 + c));
                std::lock_guard<std::mutex> lock(m);
                statuses.push_back(r.status);
                if (r.status == 201) {
                    ids.insert(r.json().at("id").as_int64());
                    scores[r.json().at("id").as_int64()] = r.json().at("score").as_int64();
                }
            }
        });
    for (auto &t : clients)
        t.join();
    EXPECT_EQ(statuses, std::vector<int>(100, 201));
    EXPECT_EQ(ids.size(), 100u);
    auto ranking = request(s.port(), "GET", "/api/ranking?limit=100").json();
    const auto &list = ranking.at("games").as_array();
    ASSERT_EQ(list.size(), 100u);
    for (size_t i = 1; i < list.size(); ++i)
        EXPECT_GE(list[i - 1].at("score").as_int64(), list[i].at("score").as_int64());
    for (const auto &e : list)
        EXPECT_EQ(e.at("score").as_int64(), scores[e.at("id").as_int64()]);
}
