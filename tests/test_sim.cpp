// The whole game through the scripted driver: exact flows, statuses and determinism.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>

#include "testutil.h"

namespace {

const std::string sim_tool = TARMIK_BUILD_DIR "/tools/tarmik-sim";

struct run {
    int status;
    std::string out; // the game's console bytes
    std::string err; // state and object lines
    std::string dir;
};

// Runs a script in a fresh game folder holding the given stage file and the game's font.
run sim(const std::string &name, const std::string &stages, const std::string &script,
        const std::string &input = "1\n") {
    run r;
    r.dir = scratch_dir("sim-" + name);
    write_file(r.dir + "/stagefile.txt", stages);
    write_file(r.dir + "/shnm16.f1b", read_file(TARMIK_GAME_DIR "/shnm16.f1b"));
    write_file(r.dir + "/script.txt", script);
    r.status = run_command("cd '" + r.dir + "' && '" + sim_tool + "' script.txt 2> err.txt", input,
                           &r.out);
    r.err = read_file(r.dir + "/err.txt");
    return r;
}

// The n-th "state" block of a run, as name -> value.
std::map<std::string, std::string> state(const run &r, int n) {
    std::map<std::string, std::string> m;
    std::istringstream in(r.err);
    std::string line;
    int block = -1;
    while (std::getline(in, line)) {
        if (line.rfind("rank=", 0) == 0) ++block;
        if (block != n) continue;
        auto eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

std::string sj(const std::string &utf8) {
    return iconv_sjis(utf8);
}

// One target straight under the starting eye, then a stage far away.
const std::string under_eye = "#1\n1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n"
                              "#2\n1\nmato 1 100 0 100 1 1 1 0 0 0 0 0 0 10 0 0\n";
const std::string far_away = "1\nmato 1 100 0 100 1 1 1 0 0 0 0 0 0 10 0 0\n";

// The console output after the start-up banner, menu and notices.
std::string after_notices(const std::string &out) {
    const std::string last =
        sj(u8"ゲームを途中で終了するときはEscまたはQキーを押してください．") + "\n";
    auto p = out.find(last);
    return p == std::string::npos ? out : out.substr(p + last.size());
}

TEST(SimFlow, GameOverAtThe1200thTickAndTheResultEntersTheRankingOnce) {
    run r =
        sim("gameover", far_away,
            "key s\nframe\ntick 1\nstate\ntick 1198\nstate\ntick 1\nstate\ntick 3\nkey r\nframe\n"
            "state\ntick 10\nkey y\nframe\nstate\ntick 1200\nstate\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(state(r, 0)["limitcount"], "-199"); // shown as 1198
    EXPECT_EQ(state(r, 1)["gameover"], "0");
    EXPECT_EQ(state(r, 2)["gameover"], "1");
    EXPECT_EQ(state(r, 3)["registered"], "1");
    EXPECT_EQ(state(r, 3)["rank"], "1");
    const std::string title = sj(u8"ロケット花火");
    // A new game may enter its own result once more.
    EXPECT_EQ(state(r, 4)["registered"], "0");
    EXPECT_EQ(state(r, 5)["registered"], "1");
    EXPECT_EQ(read_file(r.dir + "/ranking.dat"),
              "0\t\t0\t0\t" + title + "\n" + "0\t\t0\t0\t" + title + "\n");
    EXPECT_EQ(after_notices(r.out),
              sj(u8"1位　0点　ステージ0クリア　命中率0％　称号ロケット花火") + "\n");
}

TEST(SimFlow, EnergyDrainsTheLimitBy51PerTickWithoutShots) {
    std::string script = "key s\nframe\ntick 1\n";
    for (int i = 0; i < 10; ++i)
        script += "click\n";
    script += "state\ntick 1\nstate\ntick 1\nstate\nclick\ntick 1\nstate\n";
    run r = sim("drain", far_away, script);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(state(r, 0)["energy"], "0");
    EXPECT_EQ(state(r, 0)["shots"], "10");
    const int a = std::stoi(state(r, 0)["limitcount"]), b = std::stoi(state(r, 1)["limitcount"]),
              c = std::stoi(state(r, 2)["limitcount"]);
    EXPECT_EQ(b - a, 51);
    EXPECT_EQ(c - b, 51);
    EXPECT_EQ(state(r, 3)["shots"], "10"); // the empty click fires nothing
}

TEST(SimFlow, AHitThroughTheCrosshairClearsTheStageAndTheNextIntroStarts) {
    run r = sim(
        "clear", under_eye,
        "key s\nframe\nclick\ntick 3\nstate\ntick 1\nstate\ntick 1\nstate\ntick 30\nstate\ntick 1\n"
        "state\nobjects\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(state(r, 0)["shothitg"], "1");
    EXPECT_EQ(state(r, 1)["buttai_set"], "0");
    auto s = state(r, 2);
    EXPECT_EQ(s["stage"], "1");
    EXPECT_EQ(s["energy"], "29");
    EXPECT_EQ(s["status"], "0"); // the next tick starts the intro
    EXPECT_EQ(state(r, 3)["status"], "1");
    EXPECT_EQ(state(r, 4)["status"], "2");
    EXPECT_EQ(after_notices(r.out), sj(u8"ヒット") + "\n" + sj(u8"ステージクリア") + "\n");
    EXPECT_NE(r.err.find("buttai_set mato 1 100 0 100"), std::string::npos);
}

// A stage with nothing to shoot is cleared on the title screen, and play begins by itself.
TEST(SimFlow, ClearsOnTheTitleScreenEnterNothingAndSStartsAFreshGame) {
    const std::string only_a_block = "1\nbuilding 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n";
    // The file ends on the title screen: nothing is entered and the title stays usable.
    run end = sim("title-end", only_a_block, "tick 5\nstate\nkey s\nframe\nstate\n");
    ASSERT_EQ(end.status, 0) << end.err;
    auto t = state(end, 0);
    EXPECT_EQ(t["status"], "-1");
    EXPECT_EQ(t["gameover"], "0");
    EXPECT_EQ(t["registered"], "0");
    EXPECT_NE(access((end.dir + "/ranking.dat").c_str(), F_OK), 0);
    auto s = state(end, 1); // s read the file again from its first stage
    EXPECT_EQ(s["status"], "0");
    EXPECT_EQ(s["started"], "1");
    EXPECT_EQ(s["building_set"], "1");
    EXPECT_EQ(s["energy"], "10");
    EXPECT_EQ(s["limitcount"], "0");

    // A game that began by itself, played out, then n and s: a fresh game, one entry.
    run self = sim("self-started", only_a_block + far_away,
                   "tick 1500\nstate\nkey n\nframe\nkey s\nframe\nstate\ntick 5\nstate\n");
    ASSERT_EQ(self.status, 0) << self.err;
    EXPECT_EQ(state(self, 0)["gameover"], "1");
    EXPECT_EQ(state(self, 0)["registered"], "1");
    auto fresh = state(self, 1);
    EXPECT_EQ(fresh["gameover"], "0");
    EXPECT_EQ(fresh["energy"], "10");
    EXPECT_EQ(fresh["stage"], "0");
    EXPECT_EQ(fresh["registered"], "0");
    EXPECT_EQ(fresh["building_set"], "1"); // the first stage again
    EXPECT_EQ(state(self, 2)["gameover"], "0");
    const std::string ranking = read_file(self.dir + "/ranking.dat");
    EXPECT_EQ(std::count(ranking.begin(), ranking.end(), '\n'), 1) << ranking;
}

TEST(SimFlow, TheLastStageClearedEndsTheGameOnceAndYStartsAgain) {
    run r = sim("ending", "1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n",
                "key s\nframe\nclick\ntick 5\nstate\ntick 20\nstate\nkey y\ntick 1\nstate\n");
    ASSERT_EQ(r.status, 0) << r.err;
    auto s = state(r, 0);
    EXPECT_EQ(s["gameover"], "1");
    EXPECT_EQ(s["registered"], "1");
    EXPECT_EQ(s["result.score"], "1100"); // one stage, 100 %
    EXPECT_EQ(state(r, 1)["registered"], "1");
    // Only one clear is announced for the empty world.
    EXPECT_EQ(after_notices(r.out), sj(u8"ヒット") + "\n" + sj(u8"ステージクリア") + "\n");
    EXPECT_EQ(read_file(r.dir + "/ranking.dat"), "1100\t\t1\t100\t" + sj(u8"CIA") + "\n");
    auto y = state(r, 2);
    EXPECT_EQ(y["gameover"], "0");
    EXPECT_EQ(y["stage"], "0");
    EXPECT_EQ(y["buttai_set"], "1");
    EXPECT_EQ(y["registered"], "0");
}

TEST(SimFlow, YNAndSActOnlyWhereTheyShould) {
    run r = sim("keys", far_away,
                "key y\nframe\nkey n\nframe\nstate\n" // title: nothing
                "key s\nframe\ntick 2\nkey s\nframe\nkey y\nframe\nkey n\nframe\nstate\n" // playing
                "tick 1200\nkey n\nframe\nstate\n" // game over: n to the title
                "key y\nframe\nstate\n");          // y still starts from the title
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(state(r, 0)["status"], "-1");
    EXPECT_EQ(state(r, 0)["started"], "0");
    auto p = state(r, 1);
    EXPECT_EQ(p["status"], "1");
    EXPECT_EQ(p["limitcount"], "-198");
    EXPECT_EQ(state(r, 2)["status"], "-1");
    auto y = state(r, 3);
    EXPECT_EQ(y["status"], "0");
    EXPECT_EQ(y["gameover"], "0");
    EXPECT_EQ(y["limitcount"], "0");
}

TEST(SimFlow, QAndEscEndWithStatusZeroAndPanningFollowsTheMouse) {
    run q =
        sim("q", far_away, "key s\nframe\ntick 1\nmove 5 5\nmove 30 -40\nstate\nkey q\nstate\n");
    EXPECT_EQ(q.status, 0);
    auto s = state(q, 0);
    EXPECT_EQ(s["ply.x"], "-3");
    EXPECT_EQ(s["ply.z"], "4");
    EXPECT_EQ(state(q, 1).size(), 0u); // nothing after q
    run e = sim("esc", far_away, "key esc\nstate\n");
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.err, "");
    run two = sim("two", far_away, "state\n", "2\n");
    EXPECT_EQ(two.status, 255);
}

TEST(SimFlow, QueuedMotionPansAsFarAsThePointerTravelled) {
    std::string up = "burst";
    for (int i = 0; i < 40; ++i)
        up += " 0 -3";
    run r = sim("burst", "1\nmato 1 -13 0 -17 0.5 0.5 0.5 0 0 0 0 0 0 10 0 0\n",
                "key s\nframe\nmove 0 0\n" + up + "\nstate\nburst 10 10 -140 -60\nstate\nclick\n" +
                    "tick 3\nstate\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(state(r, 0)["ply.x"], "0");
    EXPECT_EQ(state(r, 0)["ply.z"], "12");
    auto s = state(r, 1);
    EXPECT_EQ(s["ply.x"], "13");
    EXPECT_EQ(s["ply.z"], "17");
    // The echo has been taken: the next motion is measured from the warp point.
    EXPECT_EQ(s["moveon"], "0");
    EXPECT_EQ(s["xo"], "250");
    EXPECT_EQ(s["yo"], "250");
    EXPECT_EQ(state(r, 2)["shothitg"], "1");
}

TEST(SimDriver, TheSameScriptGivesTheSameBytesStateAndFrames) {
    const std::string script = "frame\npng a.png\nkey s\ntick 40\nmove 20 10\nmove 0 0\nclick\n"
                               "tick 12\nstate\nobjects\npng b.png\n";
    run a = sim("det-a", read_file(TARMIK_GAME_DIR "/stagefile.txt"), script);
    run b = sim("det-b", read_file(TARMIK_GAME_DIR "/stagefile.txt"), script);
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    const std::string pa = read_file(a.dir + "/a.png"), pb = read_file(b.dir + "/a.png");
    EXPECT_GT(pa.size(), 1000u);
    EXPECT_EQ(pa, pb);
    EXPECT_EQ(read_file(a.dir + "/b.png"), read_file(b.dir + "/b.png"));
}

} // namespace
