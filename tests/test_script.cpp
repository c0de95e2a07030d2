// Scripts and demos without a display: the command language's ranges, the recorded form of the
// callbacks, the files a demo may come from, and a long playback's memory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "flow/gamestate.h"
#include "flow/stage.h"
#include "platform/platform.h"
#include "shell/demo.h"
#include "shell/script.h"
#include "shell/shell.h"
#include "testutil.h"

namespace {

bool parses(const std::string &line, script_line *out = nullptr) {
    script_line l;
    std::string error;
    const bool ok = script_parse(line, false, l, error);
    if (out) *out = l;
    return ok;
}

} // namespace

TEST(ScriptLanguage, NumbersOutOfRangeOrMalformedAreRefused) {
    for (const char *bad :
         {"key 99999999999 1 1", "click 99999999999", "tick 99999999999", "tick -5", "tick abc",
          "tick 1e23", "tick 0", "reshape 40000 40000", "reshape -1 5", "motion 2147483647 0",
          "motion 1 2 3", "move 1", "burst 1 2 3", "key 256", "click 40", "frame 2", "resize 0 10",
          "expect =1", "key"})
        EXPECT_FALSE(parses(bad)) << bad;
    script_line l;
    ASSERT_TRUE(parses("tick 100000", &l));
    EXPECT_EQ(l.numbers[0], 100000);
    ASSERT_TRUE(parses("tick  # a comment", &l));
    EXPECT_EQ(l.numbers[0], 1);
    ASSERT_TRUE(parses("click right up -32768 32767", &l));
    EXPECT_EQ(l.numbers, (std::vector<long>{plat_right_button, plat_up, -32768, 32767}));
    ASSERT_TRUE(parses("click 3", &l));
    EXPECT_EQ(l.numbers, (std::vector<long>{3, plat_down}));
    ASSERT_TRUE(parses("key 127 4 5", &l));
    EXPECT_EQ(l.numbers, (std::vector<long>{127, 4, 5}));
    // A demo holds only what the game records.
    std::string error;
    EXPECT_FALSE(script_parse("png x.png", true, l, error));
    EXPECT_TRUE(script_parse("reshape 0 0", true, l, error));
}

TEST(ScriptLanguage, MessagesShowALineHarmlessAndShort) {
    const std::string shown = shown_line("\x1b]0;PWNED\x07\x1b[2J" + std::string(100000, 'x'));
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
    EXPECT_EQ(shown.find('\x07'), std::string::npos);
    EXPECT_LT(shown.size(), 100u);
    EXPECT_EQ(shown.substr(0, 12), "\"^[]0;PWNED^");
}

TEST(DemoWriter, TicksAreRunsAndEveryOtherCallbackKeepsItsPlace) {
    demo_writer w;
    w.open_memory();
    w.timer();
    w.frame();
    w.timer();
    w.frame();
    w.line("motion 1 2");
    w.timer(); // no frame before the next timer
    w.timer();
    w.frame();
    w.frame();
    for (int i = 0; i < 250; ++i) {
        w.timer();
        w.frame();
    }
    w.timer();
    w.close();
    EXPECT_EQ(w.text(), "tick 2\nmotion 1 2\ntimer\ntick\nframe\ntick 100\ntick 100\ntick 50\n"
                        "timer\n");
}

TEST(DemoFiles, OnlyRegularFilesOfBoundedLinesAreRead) {
    const std::string dir = scratch_dir("demofiles");
    demo_header h;
    std::string error;
    // A pipe nobody writes to, and a device that never ends: refused at once.
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(demo_check(dir + "/fifo", true, true, h, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(demo_check("/dev/zero", true, true, h, error));
    write_file(dir + "/long.demo", "# tarmik-demo 2 tarmik 1.0.0\n" + std::string(5000000, 'x'));
    EXPECT_FALSE(demo_check(dir + "/long.demo", true, true, h, error));
    EXPECT_LT(error.size(), 200u) << error;
    // The language's errors name the file and the line.
    write_file(dir + "/bad.demo", "# tarmik-demo 2 tarmik 1.0.0\ntick 1\ntick -5\n");
    EXPECT_FALSE(demo_check(dir + "/bad.demo", true, true, h, error));
    EXPECT_NE(error.find("bad.demo:3: tick: the count must be"), std::string::npos) << error;
    // A demo of the stage set it names plays; another set is refused.
    write_file(dir + "/stagefile.txt", "1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n");
    set_stage_file(dir + "/stagefile.txt");
    const std::string ours = stage_set_hash();
    EXPECT_EQ(ours.size(), 64u);
    write_file(dir + "/ours.demo", "# tarmik-demo 2 tarmik 1.0.0\nstages " + ours + "\nmenu 1\n");
    ASSERT_TRUE(demo_check(dir + "/ours.demo", true, true, h, error)) << error;
    EXPECT_EQ(h.menu_words, "1\n");
    EXPECT_EQ(demo_stage_mismatch(h, "ours.demo"), "");
    write_file(dir + "/other.demo",
               "# tarmik-demo 2 tarmik 1.0.0\nstages " + std::string(64, 'a') + "\nmenu 1\n");
    ASSERT_TRUE(demo_check(dir + "/other.demo", true, true, h, error));
    EXPECT_NE(demo_stage_mismatch(h, "other.demo").find("another stage set"), std::string::npos);
    set_stage_file("stagefile.txt");
}

TEST(DemoPlayback, AMillionMotionsLeaveMemoryFlat) {
    // The driven pointer notes every warp; a long playback must not keep them all.
    script_host host;
    script_runner runner(host);
    plat_callbacks cb{};
    cb.passive_motion = mousemove;
    plat_driven_window(cb);
    gs.status = 0;
    for (int i = 0; i < 1000000; ++i)
        mousemove(250 + (i & 7), 250);
    EXPECT_LE(plat_recorded().size(), 256u);
    EXPECT_GT(plat_recorded().size(), 0u);
}
