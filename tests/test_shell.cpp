// The shell: console menu bytes and statuses, the tick's order, shooting and panning, the frame.
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "flow/gamestate.h"
#include "flow/stage.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "sound/mci.h"
#include "testutil.h"
#include "world/buttai.h"
#include "world/random.h"

namespace {

const std::string game = TARMIK_GAME_DIR "/tarmik";

std::string banner_and_menu() {
    std::string b;
    b += "********************************************\n";
    b += "*                                          *\n";
    b += "*               " + iconv_sjis(u8"ＴＡＲＭＩＫ") + "               *\n";
    b += "*                                          *\n";
    b += "********************************************\n";
    return b;
}
std::string menu_line() {
    return iconv_sjis(u8"１：ゲームを開始する２：終了") + "\n";
}
std::string loading() {
    return iconv_sjis(u8"NOW LOADING…") + "\n";
}

// Runs the game in an empty folder: nothing past the menu can start there. With a bad stage
// file the game ends right after the menu, before its window opens.
int run_menu(const std::string &input, std::string *out, bool bad_stage = false) {
    std::string dir = scratch_dir("menu");
    if (bad_stage) write_file(dir + "/stagefile.txt", "1\nkaiju 1 0 0 0\n");
    return run_command("cd '" + dir + "' && SDL_AUDIODRIVER=dummy '" + game + "'", input, out);
}

TEST(ConsoleMenu, TwoAndEndOfInputLeaveWith255BeforeTheStageFileIsRead) {
    std::string out;
    // No stage file here: had it been read, the status would be 1.
    EXPECT_EQ(run_menu("2\n", &out), 255);
    EXPECT_EQ(out, loading() + banner_and_menu() + menu_line());
    EXPECT_EQ(run_menu("", &out), 255);
    EXPECT_EQ(out, loading() + banner_and_menu() + menu_line());
}

TEST(ConsoleMenu, OtherWordsRepromptOnlyTheMenuLine) {
    std::string out;
    const std::string fullwidth_one = iconv_sjis(u8"１");
    EXPECT_EQ(run_menu("12 x\n  " + fullwidth_one + "  \n 2 \n", &out), 255);
    EXPECT_EQ(out, loading() + banner_and_menu() + menu_line() + menu_line() + menu_line() +
                       menu_line());
}

TEST(ConsoleMenu, OnePrintsTheThreeNoticesAndGoesOn) {
    std::string out;
    const int status = run_menu("hello\n1\n", &out, true);
    const std::string notices =
        iconv_sjis(u8"!!!注意!!!") + "\n" +
        iconv_sjis(u8"ゲームが開始するとマウスポインタが見えなくなります．") + "\n" +
        iconv_sjis(u8"ゲームを途中で終了するときはEscまたはQキーを押してください．") + "\n";
    EXPECT_EQ(out, loading() + banner_and_menu() + menu_line() + menu_line() + notices +
                       iconv_sjis(u8"ステージファイルが不正です") + "\n");
    EXPECT_EQ(status, 1);
}

TEST(ConsoleMenu, WithoutADisplayTheGameSaysSoBeforeTheMenu) {
    std::string dir = scratch_dir("nodisplay"), out;
    const int status = run_command("cd '" + dir + "' && env -u DISPLAY SDL_AUDIODRIVER=dummy '" +
                                       game + "' 2> err.txt",
                                   "1\n", &out);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(read_file(dir + "/err.txt"),
              "tarmik: no display to open the window on (DISPLAY is not set)\n");
}

TEST(ConsoleMenu, MissingStageFileEndsWithItsMessageAndStatusOne) {
    std::string out;
    std::string dir = scratch_dir("nostage");
    int st = run_command("cd '" + dir + "' && SDL_AUDIODRIVER=dummy '" + game + "'", "1\n", &out);
    EXPECT_EQ(st, 1);
    const std::string msg = "Error: cannot open file( stagefile.txt )\n";
    ASSERT_GE(out.size(), msg.size());
    EXPECT_EQ(out.substr(out.size() - msg.size()), msg);
}

// A recording stand-in for the sound layer.
struct recorder : media_control {
    std::vector<std::string> effects;
    uint32_t open(const char *, const char *, uint32_t *) override { return 1; }
    uint32_t play(uint32_t) override { return 1; }
    uint32_t close(uint32_t) override { return 0; }
    void effect(const char *file) override { effects.push_back(file); }
};

// Brings the shell globals and the world to the state right after start-up, on a stage file.
class Shell : public ::testing::Test {
  protected:
    recorder rec;
    std::string dir;

    void SetUp() override {
        test_window(500, 500);
        set_media(&rec);
        plat_set_recording(true);
        dir = scratch_dir("shell");
    }
    void TearDown() override {
        buttai_del();
        set_media(nullptr);
        plat_set_recording(false);
    }
    void load(const std::string &stages) {
        write_file(dir + "/stagefile.txt", stages);
        fin.close();
        fin.clear();
        fin.open(dir + "/stagefile.txt");
        stage_file_ended = false;
        buttai_del();
        game_rand_reset();
        buttaiinit();
        ply = PLAYER{0.0, -120.0, 0.0};
        rx = 0.0;
        ry = 90.0;
        gs = gamestate();
        gs.init();
        gs.syokifirst();
        shothitg = 0;
    }
    void fire() { mouse(plat_left_button, plat_down, 0, 0); }
};

const char *one_target_under_eye =
    "1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n"
    "2\nmato 1 100 0 100 1 1 1 0 0 0 0 0 0 10 0 0\nbuilding 1 20 0 0 5 5 5 0 0 0 0 0 0 10 0 0\n";

TEST_F(Shell, HitInTickNRemovedInNPlusOneClearedInNPlusTwo) {
    load(one_target_under_eye);
    fire();
    ASSERT_EQ(tama_set.size(), 1u);
    testing::internal::CaptureStdout();
    // The bullet needs 3 ticks to come down from 120 to the target at 0.
    int hit_tick = 0;
    for (int t = 1; t <= 5 && hit_tick == 0; ++t) {
        timer_body();
        if (buttai_set.front()->life <= 0) hit_tick = t;
    }
    ASSERT_GT(hit_tick, 0);
    EXPECT_EQ(shothitg, 1);
    EXPECT_EQ(buttai_set.size(), 1u); // still there, dead, in the tick of the hit
    timer_body();
    EXPECT_TRUE(buttai_set.empty());
    EXPECT_EQ(gs.stage, 0);
    timer_body();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(gs.stage, 1);
    EXPECT_EQ(out, iconv_sjis(u8"ヒット") + "\n" + iconv_sjis(u8"ステージクリア") + "\n");
    ASSERT_EQ(buttai_set.size(), 1u);
    EXPECT_DOUBLE_EQ(buttai_set.front()->pos.x, 100.0);
    EXPECT_EQ(building_set.size(), 1u);
    EXPECT_EQ(rec.effects, (std::vector<std::string>{"shot.wav", "ata.wav"}));
}

TEST_F(Shell, BulletFromTheEyeLivesEightTicksDiesInTheNinthGoesInTheTenth) {
    load("1\nmato 1 100 0 100 1 1 1 0 0 0 0 0 0 10 0 0\n");
    fire();
    buttai *b = tama_set.front();
    for (int t = 1; t <= 8; ++t)
        timer_body();
    EXPECT_NEAR(b->pos.y, -280.0, 1e-9);
    EXPECT_GT(b->life, 0.0);
    timer_body();
    EXPECT_NEAR(b->pos.y, -330.0, 1e-9);
    EXPECT_EQ(b->life, 0.0);
    EXPECT_EQ(tama_set.size(), 1u);
    timer_body();
    EXPECT_TRUE(tama_set.empty());
}

TEST_F(Shell, StageClearDeletesBulletsInFlight) {
    load("0\n1\nmato 1 100 0 100 1 1 1 0 0 0 0 0 0 10 0 0\n");
    fire();
    fire();
    EXPECT_EQ(tama_set.size(), 2u);
    testing::internal::CaptureStdout();
    timer_body();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(tama_set.empty());
    EXPECT_EQ(buttai_set.size(), 1u);
}

// A bullet that counts its own reactions.
struct counting_tama : tama {
    int actions = 0;
    void action() override {
        ++actions;
        tama::action();
    }
};

TEST_F(Shell, EveryBulletScoresOnEveryObjectItCrossesInOneTick) {
    // Two targets stacked under the eye: each bullet's fall crosses both in the same tick.
    load("2\nmato 1 0 10 0 1 1 1 0 0 0 0 0 0 10 0 0\nmato 1 0 -10 0 1 1 1 0 0 0 0 0 0 10 0 0\n");
    std::vector<counting_tama *> shots;
    for (int i = 0; i < 2; ++i) {
        auto *t = new counting_tama;
        t->life = 1.0;
        t->pos = VECTORD{0.0, 30.0, 0.0};
        t->prevpos = t->pos;
        t->size = 0.3;
        t->vel = VECTORD{0.0, -5000.0, 0.0};
        t->acc = 0.0;
        t->detail = 10.0;
        t->spare = t->pattern = 0;
        t->syoki();
        tama_set.push_front(t);
        shots.push_back(t);
    }
    testing::internal::CaptureStdout();
    timer_body();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(shothitg, 4);
    EXPECT_EQ(shots[0]->actions, 2);
    EXPECT_EQ(shots[1]->actions, 2);
    for (buttai *o : buttai_set)
        EXPECT_EQ(o->life, 0.0);
    EXPECT_EQ(rec.effects, std::vector<std::string>(4, "ata.wav"));
}

TEST_F(Shell, ShootingRulesFollowEnergyTitleAndGameOver) {
    load(one_target_under_eye);
    gs.energy = 1;
    fire();
    EXPECT_EQ(gs.energy, 0);
    EXPECT_EQ(gs.shots, 1);
    EXPECT_EQ(tama_set.size(), 1u);
    fire(); // only clicks
    EXPECT_EQ(tama_set.size(), 1u);
    EXPECT_EQ(rec.effects.back(), "kara.wav");
    gs.status = -1;
    rec.effects.clear();
    fire(); // on the title screen: nothing at all
    EXPECT_TRUE(rec.effects.empty());
    gs.status = 2;
    gs.energy = 5;
    gs.gameover = 1;
    fire(); // energy left after game over: nothing
    EXPECT_TRUE(rec.effects.empty());
    EXPECT_EQ(tama_set.size(), 1u);
    mouse(plat_left_button, plat_up, 0, 0);
    mouse(plat_middle_button, plat_down, 0, 0);
    EXPECT_TRUE(rec.effects.empty());
}

TEST_F(Shell, BulletLeavesTheEyeStraightDownWithTheGameConstants) {
    load(one_target_under_eye);
    ply.x = -12.5;
    ply.z = 7.25;
    fire();
    buttai *b = tama_set.front();
    EXPECT_EQ(b->pos.x, 12.5);
    EXPECT_EQ(b->pos.y, 120.0);
    EXPECT_EQ(b->pos.z, -7.25);
    EXPECT_EQ(b->vel.x, 0.0);
    EXPECT_EQ(b->vel.y, std::sin(90.0 * 0.017453292500000002) * -5000.0);
    EXPECT_EQ(b->vel.z, std::cos(90.0 * 0.017453292500000002) * std::cos(0.0) * -5000.0);
    EXPECT_DOUBLE_EQ(b->radius, 0.5196152422706632);
    EXPECT_EQ(b->detail, 10.0);
}

TEST_F(Shell, MotionPansAtATenthPerPixelAndIgnoresTheWarpEcho) {
    load(one_target_under_eye);
    gw = gh = 500;
    moveon = 1;
    mousemove(250, 250); // reference
    EXPECT_EQ(ply.x, 0.0);
    mousemove(260, 230); // real motion: right and up
    EXPECT_DOUBLE_EQ(ply.x, -1.0);
    EXPECT_DOUBLE_EQ(ply.z, 2.0);
    ASSERT_FALSE(plat_recorded().empty());
    EXPECT_EQ(plat_recorded().back().what, "warp");
    mousemove(250, 250); // the echo
    EXPECT_DOUBLE_EQ(ply.x, -1.0);
    gs.status = -1;
    mousemove(400, 400);
    mousemove(100, 100);
    EXPECT_DOUBLE_EQ(ply.x, -1.0);
}

TEST_F(Shell, KeysAreRecordedAndOnlyTheLastCounts) {
    load(one_target_under_eye);
    keyboard('y', 0, 0);
    EXPECT_EQ(key_press, KEY_Y);
    keyboard('Q', 0, 0);
    EXPECT_EQ(key_press, KEY_NONE);
    keyboard('r', 0, 0);
    EXPECT_EQ(key_press, KEY_R);
    // A fresh process for each exit: a forked child would share this one's X connection.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(keyboard('q', 0, 0), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(keyboard(27, 0, 0), ::testing::ExitedWithCode(0), "");
}

TEST_F(Shell, ReshapeSetsGLUsPerspectiveAndAFiniteOneForZeroHeight) {
    load(one_target_under_eye);
    resize(500, 0);
    GLdouble m[16];
    glGetDoublev(GL_PROJECTION_MATRIX, m);
    for (double v : m)
        EXPECT_TRUE(std::isfinite(v));
    // The frame's own perspective is GLU's to the bit.
    for (const auto &wh : {std::pair<int, int>{500, 500}, {900, 333}, {1, 700}}) {
        resize(wh.first, wh.second);
        glGetDoublev(GL_PROJECTION_MATRIX, m);
        GLdouble want[16];
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        gluPerspective(30.0, static_cast<double>(wh.first) / wh.second, 1.0, 200.0);
        glGetDoublev(GL_PROJECTION_MATRIX, want);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(m[i], want[i]) << wh.first << "x" << wh.second << " [" << i << "]";
    }
    resize(500, 500);
}

TEST_F(Shell, GroundOfTheStartingViewIsTheLitCheckerboard) {
    load("1\nmato 1 100 0 100 1 1 1 0 0 0 0 0 0 10 0 0\n");
    init();
    resize(500, 500);
    gs.status = 2;
    gs.gameover = 1; // no scope, so the ground shows everywhere
    display();
    const std::vector<uint8_t> rgb = read_window(500, 500);
    write_png(scratch_dir("ground") + "/ground.png", 500, 500, rgb);
    // The square whose corner is at the centre towards +x +z lies right of and below the centre.
    const uint8_t *a = pixel_at(rgb, 500, 270, 270);
    const uint8_t *b = pixel_at(rgb, 500, 310, 270);
    EXPECT_NEAR(a[0], 238, 6);
    EXPECT_NEAR(a[1], 255, 6);
    EXPECT_NEAR(a[2], 61, 6);
    EXPECT_NEAR(b[0], 212, 6);
    EXPECT_NEAR(b[1], 212, 6);
    EXPECT_NEAR(b[2], 86, 6);
    gs.gameover = 0;
}

} // namespace
