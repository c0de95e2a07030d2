#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "sound/mci.h"
#include "testutil.h"
#include "world/buttai.h"
#include "world/random.h"
#include "world/vectord.h"

namespace {

VECTORD v(double x, double y, double z) {
    return VECTORD{x, y, z};
}

// An object as the stage loader would make it: fields filled, then syoki.
template <class T>
T make(VECTORD pos, VECTORD size, int pattern = 1, VECTORD vel = v(0, 0, 0),
       VECTORD acc = v(0, 0, 0)) {
    T o;
    o.life = 1.0;
    o.pos = pos;
    o.prevpos = pos;
    o.size = size;
    o.vel = vel;
    o.acc = acc;
    o.detail = 20.0;
    o.spare = 0;
    o.pattern = pattern;
    o.syoki();
    return o;
}

// How many generator calls lie between two states (the tick consumed them).
int draws_between(uint32_t before, uint32_t after) {
    const uint32_t keep = game_rand_state();
    game_rand_reset(before);
    int n = 0;
    while (game_rand_state() != after && n < 100) {
        game_rand();
        ++n;
    }
    game_rand_reset(keep);
    return n;
}

// Ticks (1-based) on which a pattern object drew random numbers, and how many per tick.
std::vector<int> draw_counts(buttai &o, int ticks) {
    std::vector<int> counts;
    for (int t = 0; t < ticks; ++t) {
        const uint32_t before = game_rand_state();
        o.move();
        counts.push_back(draws_between(before, game_rand_state()));
    }
    return counts;
}

} // namespace

TEST(Vector, ComponentWiseArithmeticAndRad) {
    VECTORD a;
    a = 0.01;
    EXPECT_EQ(a.x, 0.01);
    EXPECT_EQ(a.y, 0.01);
    EXPECT_EQ(a.z, 0.01);

    VECTORD p = v(1, 2, 3) * v(4, 5, 6);
    EXPECT_EQ(p.x, 4);
    EXPECT_EQ(p.y, 10);
    EXPECT_EQ(p.z, 18);
    VECTORD q = p / v(4, 5, 6);
    EXPECT_EQ(q.x, 1);
    EXPECT_EQ(q.y, 2);
    EXPECT_EQ(q.z, 3);
    VECTORD d = v(1, 2, 3) - v(0.5, 4, -1) + v(1, 1, 1);
    EXPECT_EQ(d.x, 1.5);
    EXPECT_EQ(d.y, -1);
    EXPECT_EQ(d.z, 5);

    VECTORD inf = v(1, 2, 3) / v(0, 1, 1);
    EXPECT_TRUE(std::isinf(inf.x) && inf.x > 0);
    EXPECT_EQ(inf.y, 2);
    EXPECT_EQ(inf.z, 3);

    // The game's pi has eight decimals; the library value would be off in the ninth.
    EXPECT_EQ(rad(180), 3.14159265);
    EXPECT_NE(rad(180), M_PI);
    EXPECT_EQ(rad(90), 1.570796325);
    EXPECT_EQ(rad(1), 0.017453292500000002);
}

TEST(Random, KnownSequenceAndReset) {
    game_rand_reset();
    EXPECT_EQ(game_rand_state(), 1u);
    EXPECT_EQ(game_rand(), 41);
    EXPECT_EQ(game_rand(), 18467);
    EXPECT_EQ(game_rand(), 6334);
    EXPECT_EQ(game_rand(), 26500);

    game_rand_reset();
    int last = 0, lo = 32767, hi = 0;
    for (int i = 0; i < 10000; ++i) {
        last = game_rand();
        lo = std::min(lo, last);
        hi = std::max(hi, last);
    }
    EXPECT_EQ(game_rand_state(), 3379307729u);
    EXPECT_EQ(last, 18796);
    EXPECT_GE(lo, 0);
    EXPECT_LE(hi, 32767);
    EXPECT_GT(hi, 32000); // the full fifteen bits are used

    game_rand_reset(3379307729u);
    game_rand_reset();
    EXPECT_EQ(game_rand(), 41);
}

TEST(Objects, SyokiDerivesItsFields) {
    hito h;
    h.size = v(1, 2, 2);
    h.phase = 7;
    h.dirx = h.dirz = 5;
    h.dt = 3.0;
    h.syoki();
    EXPECT_EQ(h.radius, 3.0);
    EXPECT_EQ(h.phase, 0.0);
    EXPECT_EQ(h.dirx, 0);
    EXPECT_EQ(h.dirz, 0);
    EXPECT_EQ(h.dt.x, 0.01);
    EXPECT_EQ(h.dt.y, 0.01);
    EXPECT_EQ(h.dt.z, 0.01);

    tama t = make<tama>(v(0, 0, 0), v(0.3, 0.3, 0.3), 0);
    EXPECT_EQ(t.radius, 0.5196152422706632);
}

TEST(Objects, ActionsAndColourSupply) {
    hito h = make<hito>(v(0, 0, 0), v(1, 0, 0));
    hito ghost = make<hito>(v(0, 0, 0), v(0, 0, 0));
    mato m = make<mato>(v(0, 0, 0), v(1, 0, 0));
    tama t = make<tama>(v(0, 0, 0), v(0.3, 0.3, 0.3));
    building b = make<building>(v(0, 0, 0), v(1, 0, 0));
    buttai *all[] = {&h, &ghost, &m, &t, &b};
    for (buttai *o : all)
        o->action();
    EXPECT_EQ(h.life, 0);
    EXPECT_EQ(ghost.life, 1.0); // a figure of no size cannot die
    EXPECT_EQ(m.life, 0);
    EXPECT_EQ(t.life, 0);
    EXPECT_EQ(b.life, 1.0);

    // Only a block supplies its colour, and never the alpha.
    for (buttai *o : all) {
        double r = -1, g = -2, bl = -3, a = -4;
        o->calc(&r, &g, &bl, &a);
        if (o == &b) {
            EXPECT_EQ(r, 0.5);
            EXPECT_EQ(g, 0.5);
            EXPECT_EQ(bl, 0.5);
        } else {
            EXPECT_EQ(r, -1);
            EXPECT_EQ(g, -2);
            EXPECT_EQ(bl, -3);
        }
        EXPECT_EQ(a, -4);
    }
}

TEST(Objects, DetailBecomesSlicesForAnyDouble) {
    EXPECT_EQ(detail_slices(20.0), 20);
    EXPECT_EQ(detail_slices(2.9), 2);
    EXPECT_EQ(detail_slices(0.0), 0);
    EXPECT_EQ(detail_slices(0.99), 0);
    EXPECT_EQ(detail_slices(255.99), 255);
    EXPECT_EQ(detail_slices(256.0), 256);
    EXPECT_EQ(detail_slices(256.5), 256);
    EXPECT_EQ(detail_slices(1e300), 256);
    EXPECT_EQ(detail_slices(std::numeric_limits<double>::infinity()), 256);
    EXPECT_EQ(detail_slices(-0.5), 0);
    EXPECT_EQ(detail_slices(-7.0), 0);
    EXPECT_EQ(detail_slices(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(detail_slices(std::nan("")), 0);
}

TEST(Patterns, ShuttleRunsFiftyForwardFiftyBackThenOneForward) {
    hito h = make<hito>(v(0, 0, 0), v(1, 0, 0), 3, v(1, 0, 0));
    for (int cycle = 0; cycle < 2; ++cycle) {
        for (int t = 1; t <= 101; ++t) {
            const double before = h.pos.x;
            h.move();
            const double expected = (t <= 50 || t == 101) ? 0.1 : -0.1;
            EXPECT_NEAR(h.pos.x - before, expected, 1e-12) << "cycle " << cycle << " tick " << t;
            EXPECT_EQ(h.pos.y, 0);
            EXPECT_EQ(h.pos.z, 0);
        }
        EXPECT_NEAR(h.pos.x, 0.1 * (cycle + 1), 1e-9);
        EXPECT_EQ(h.phase, 0.0);
    }
}

TEST(Patterns, CircleDriftsSlightlyEachLap) {
    hito h = make<hito>(v(0, 0, 0), v(1, 0, 0), 1, v(0, 0, 0));
    for (int t = 0; t < 32; ++t)
        h.move();
    EXPECT_NEAR(h.pos.x, -0.00243, 5e-6);
    EXPECT_EQ(h.pos.y, 0);
    EXPECT_NEAR(h.pos.z, 0.05842, 5e-6);
    EXPECT_EQ(h.phase, 0.0);

    // Swing and shuttle need vel; the circle does not.
    hito swing = make<hito>(v(1, 2, 3), v(1, 0, 0), 2, v(0, 5, 0));
    hito shuttle = make<hito>(v(1, 2, 3), v(1, 0, 0), 3, v(0, 5, 0));
    for (int t = 0; t < 70; ++t) {
        swing.move();
        shuttle.move();
    }
    EXPECT_EQ(swing.pos.x, 1);
    EXPECT_EQ(swing.pos.y, 2);
    EXPECT_EQ(swing.pos.z, 3);
    EXPECT_EQ(shuttle.pos.x, 1);
    EXPECT_EQ(shuttle.pos.z, 3);

    hito sw = make<hito>(v(0, 0, 0), v(1, 0, 0), 2, v(1, 0, -2));
    sw.move();
    EXPECT_DOUBLE_EQ(sw.pos.x, std::sin(0.1) * 10 * 0.01);
    EXPECT_DOUBLE_EQ(sw.pos.z, -2 * std::sin(0.1) * 10 * 0.01);
}

TEST(Patterns, JitteryShuttleDrawsTwoSpeedsPerTick) {
    game_rand_reset();
    hito h = make<hito>(v(0, 0, 0), v(1, 0, 0), 4, v(1, 0, 1));
    h.move(); // draws 41 and 18467: r1 = 1, r2 = 7
    EXPECT_NEAR(h.pos.x, 0.01, 1e-15);
    EXPECT_NEAR(h.pos.z, 0.07, 1e-15);
    h.move(); // r1 = -6, r2 = 0
    EXPECT_NEAR(h.pos.x, -0.05, 1e-15);
    EXPECT_NEAR(h.pos.z, 0.07, 1e-15);
    EXPECT_EQ(draws_between(1, game_rand_state()), 4);
}

TEST(Patterns, RandomHeadingsWaitThenRedrawEvery25Or32Ticks) {
    for (int pattern : {6, 7, 8}) {
        game_rand_reset();
        hito h = make<hito>(v(0, 0, 0), v(1, 0, 0), pattern, v(1, 0, 2));
        const int period = pattern == 8 ? 32 : 25;
        std::vector<int> counts = draw_counts(h, period - 1);
        EXPECT_EQ(h.pos.x, 0) << pattern;
        EXPECT_EQ(h.pos.z, 0) << pattern;
        const std::vector<int> rest = draw_counts(h, 3 * period + 1);
        counts.insert(counts.end(), rest.begin(), rest.end());
        for (size_t i = 0; i < counts.size(); ++i) {
            const int t = static_cast<int>(i) + 1;
            EXPECT_EQ(counts[i], t % period == 0 ? 2 : 0) << "pattern " << pattern << " tick " << t;
        }
    }
}

TEST(Patterns, HeadingsFollowTheDraws) {
    // From the initial state the direction draws give -1,-1 then 0,0 then -1,0 then +1,+1.
    game_rand_reset();
    hito six = make<hito>(v(0, 0, 0), v(1, 0, 0), 6, v(1, 0, 2));
    for (int t = 0; t < 25; ++t)
        six.move();
    EXPECT_EQ(six.dirx, -1);
    EXPECT_EQ(six.dirz, -1);
    EXPECT_NEAR(six.pos.x, -0.1, 1e-12);
    EXPECT_NEAR(six.pos.z, -0.2, 1e-12);
    for (int t = 0; t < 25; ++t)
        six.move();
    EXPECT_EQ(six.dirx, 0);
    EXPECT_EQ(six.dirz, 0);
    EXPECT_NEAR(six.pos.x, -2.5, 1e-12);
    EXPECT_NEAR(six.pos.z, -5.0, 1e-12);
    for (int t = 0; t < 25; ++t)
        six.move();
    EXPECT_EQ(six.dirx, -1);
    EXPECT_EQ(six.dirz, 0);
    for (int t = 0; t < 25; ++t)
        six.move();
    EXPECT_EQ(six.dirx, 1);
    EXPECT_EQ(six.dirz, 1);

    // Surging: still on the redraw tick (sin 0), then moving.
    game_rand_reset();
    hito seven = make<hito>(v(0, 0, 0), v(1, 0, 0), 7, v(1, 0, 2));
    for (int t = 0; t < 25; ++t)
        seven.move();
    EXPECT_EQ(seven.dirx, -1);
    EXPECT_EQ(seven.pos.x, 0);
    EXPECT_EQ(seven.pos.z, 0);
    seven.move();
    EXPECT_NEAR(seven.pos.x, -std::sin(0.2) * 0.1, 1e-15);
    EXPECT_NEAR(seven.pos.z, -std::sin(0.2) * 0.2, 1e-15);

    // Looping: on the redraw tick only z moves (cos 0 = 1).
    game_rand_reset();
    hito eight = make<hito>(v(0, 0, 0), v(1, 0, 0), 8, v(1, 0, 2));
    for (int t = 0; t < 31; ++t)
        eight.move();
    EXPECT_EQ(eight.pos.x, 0);
    EXPECT_EQ(eight.pos.z, 0);
    eight.move();
    EXPECT_EQ(eight.dirx, -1);
    EXPECT_EQ(eight.dirz, -1);
    EXPECT_EQ(eight.pos.x, 0);
    EXPECT_NEAR(eight.pos.z, -0.2, 1e-15);
}

TEST(Patterns, JitteryHeadingRedrawsBeforeItsSpeeds) {
    game_rand_reset();
    hito h = make<hito>(v(0, 0, 0), v(1, 0, 0), 9, v(1, 0, 1));
    std::vector<int> counts = draw_counts(h, 31);
    for (int c : counts)
        EXPECT_EQ(c, 2);
    EXPECT_EQ(h.pos.x, 0);
    EXPECT_EQ(h.pos.z, 0);
    const uint32_t before = game_rand_state();
    h.move();
    EXPECT_EQ(draws_between(before, game_rand_state()), 4);
    // Draws 63 to 66: directions -1 and +1, speeds 8 and 6.
    EXPECT_EQ(h.dirx, -1);
    EXPECT_EQ(h.dirz, 1);
    EXPECT_NEAR(h.pos.x, -0.08, 1e-15);
    EXPECT_NEAR(h.pos.z, 0.06, 1e-15);
}

TEST(Patterns, OutOfRangeNumbersAccelerateLikeFive) {
    game_rand_reset();
    hito five = make<hito>(v(1, 2, 3), v(1, 0, 0), 5, v(100, 0, -50), v(0, -1000, 10));
    five.phase = 1.5;
    five.dirx = 1;
    five.move();
    EXPECT_DOUBLE_EQ(five.vel.y, -10);
    EXPECT_DOUBLE_EQ(five.pos.x, 2);
    EXPECT_DOUBLE_EQ(five.pos.y, 1.9);
    EXPECT_DOUBLE_EQ(five.pos.z, 3 - 0.499);
    five.move();
    EXPECT_DOUBLE_EQ(five.pos.y, 1.7);
    EXPECT_EQ(five.phase, 1.5);
    EXPECT_EQ(five.dirx, 1);

    for (int pattern : {0, -3, 10, 12}) {
        hito a = make<hito>(v(1, 2, 3), v(1, 0, 0), 5, v(3, 1, -2), v(0, -200, 1));
        hito b = make<hito>(v(1, 2, 3), v(1, 0, 0), pattern, v(3, 1, -2), v(0, -200, 1));
        for (int t = 0; t < 40; ++t) {
            a.move();
            b.move();
        }
        EXPECT_EQ(b.pos.x, a.pos.x) << pattern;
        EXPECT_EQ(b.pos.y, a.pos.y) << pattern;
        EXPECT_EQ(b.pos.z, a.pos.z) << pattern;
        EXPECT_EQ(b.vel.y, a.vel.y) << pattern;
        EXPECT_LT(b.pos.y, 0) << pattern; // nothing stops a fall through the ground
        EXPECT_EQ(b.phase, 0.0) << pattern;
    }
    EXPECT_EQ(game_rand_state(), 1u);
}

namespace {
// Records which pattern operation the dispatch reached through the virtual table.
struct spy : hito {
    int three = 0, five = 0;
    void movepart3() override { ++three; }
    void movepart5() override { ++five; }
};
} // namespace

TEST(Patterns, DispatchGoesThroughTheVirtualTable) {
    spy s;
    s.pattern = 3;
    buttai *b = &s;
    b->move();
    s.pattern = 42;
    b->move();
    s.pattern = 5;
    b->move();
    EXPECT_EQ(s.three, 1);
    EXPECT_EQ(s.five, 2);
}

TEST(Patterns, TargetsAndBlocksStayPut) {
    mato m = make<mato>(v(4, 5, 6), v(1, 0, 0), 3, v(1, 1, 1), v(1, 1, 1));
    building b = make<building>(v(4, 5, 6), v(1, 0, 0), 5, v(1, 1, 1), v(1, 1, 1));
    for (int t = 0; t < 50; ++t) {
        m.move();
        b.move();
    }
    for (buttai *o : {static_cast<buttai *>(&m), static_cast<buttai *>(&b)}) {
        EXPECT_EQ(o->pos.x, 4);
        EXPECT_EQ(o->pos.y, 5);
        EXPECT_EQ(o->pos.z, 6);
        EXPECT_EQ(o->vel.x, 1);
    }
}

TEST(Bullets, FlyStraightAndExpireOutsideTheCube) {
    tama t = make<tama>(v(0, 0, 0), v(0.3, 0.3, 0.3), 1, v(5000, 0, 0));
    for (int i = 0; i < 6; ++i)
        t.move();
    EXPECT_EQ(t.pos.x, 300);
    EXPECT_EQ(t.pos.y, 0);
    EXPECT_EQ(t.pos.z, 0);
    EXPECT_EQ(t.life, 1.0); // the bound itself is inside
    t.move();
    EXPECT_EQ(t.pos.x, 350);
    EXPECT_EQ(t.life, 0);

    tama down = make<tama>(v(0, 120, 0), v(0.3, 0.3, 0.3), 0, v(0, -5000, 0));
    for (int i = 0; i < 8; ++i)
        down.move();
    EXPECT_EQ(down.pos.y, -280);
    EXPECT_EQ(down.life, 1.0);
    down.move();
    EXPECT_EQ(down.pos.y, -330);
    EXPECT_EQ(down.life, 0);

    tama back = make<tama>(v(0, 0, 0), v(0.3, 0.3, 0.3), 0, v(0, 0, -5000));
    for (int i = 0; i < 6; ++i)
        back.move();
    EXPECT_EQ(back.life, 1.0);
    back.move();
    EXPECT_EQ(back.life, 0);
}

namespace {

struct recording_media : media_control {
    std::vector<std::string> effects;
    uint32_t open(const char *, const char *, uint32_t *id) override {
        if (id) *id = 0;
        return 1;
    }
    uint32_t play(uint32_t) override { return 1; }
    uint32_t close(uint32_t) override { return 0; }
    void effect(const char *file) override { effects.push_back(file); }
};

class Hit : public ::testing::Test {
  protected:
    void SetUp() override {
        set_media(&rec);
        shothitg = 0;
        testing::internal::CaptureStdout();
    }
    void TearDown() override {
        if (!captured) testing::internal::GetCapturedStdout();
        set_media(nullptr);
    }
    std::string output() {
        captured = true;
        return testing::internal::GetCapturedStdout();
    }
    // A bullet that flew from a to b in the last tick.
    static tama bullet(VECTORD a, VECTORD b, double size = 0.3) {
        tama t = make<tama>(b, v(size, size, size), 0, v(0, -5000, 0));
        t.prevpos = a;
        return t;
    }
    recording_media rec;
    bool captured = false;
};

} // namespace

TEST_F(Hit, PathThroughAnObjectBetweenTicksHits) {
    tama b = bullet(v(0, 120, 0), v(0, 70, 0));
    hito h = make<hito>(v(0, 95, 0), v(1, 0, 0));
    // Neither end of the path is anywhere near the figure.
    EXPECT_FALSE(h.stumb(b.prevpos, 5.0));
    EXPECT_FALSE(h.stumb(b.pos, 5.0));
    EXPECT_TRUE(b.stumb(&h));

    hito beside = make<hito>(v(2, 95, 0), v(1, 0, 0));
    EXPECT_FALSE(b.stumb(&beside));

    EXPECT_EQ(shothitg, 1);
    EXPECT_EQ(rec.effects, std::vector<std::string>{"ata.wav"});
    EXPECT_EQ(output(), iconv_sjis(u8"ヒット") + "\n");
    // The test itself changes neither object.
    EXPECT_EQ(b.life, 1.0);
    EXPECT_EQ(h.life, 1.0);
    EXPECT_EQ(b.pos.y, 70);
    EXPECT_EQ(b.prevpos.y, 120);
    EXPECT_EQ(h.pos.y, 95);
}

TEST_F(Hit, SampleExactlyAtTheLimitMisses) {
    // Limit 1 * 0.5 + 1.5 = 2; every sample is at least 2 away and the closest exactly 2.
    tama b = bullet(v(0, 0, -1), v(0, 0, 1));
    b.radius = 1.0;
    mato at = make<mato>(v(2, 0, 0), v(1.5, 0, 0));
    EXPECT_FALSE(b.stumb(&at));
    mato inside = make<mato>(v(2 - 1e-9, 0, 0), v(1.5, 0, 0));
    EXPECT_TRUE(b.stumb(&inside));
    EXPECT_EQ(shothitg, 1);
    EXPECT_EQ(output(), iconv_sjis(u8"ヒット") + "\n");
}

TEST_F(Hit, SamplesSkipTheStartAndIncludeTheEnd) {
    tama b = bullet(v(0, 0, 0), v(0, 0, 50), 0.0); // samples every 0.05
    mato at_start = make<mato>(v(0, 0, 0), v(0.02, 0, 0));
    mato between = make<mato>(v(0, 0, 25.025), v(0.02, 0, 0));
    mato at_end = make<mato>(v(0, 0, 50), v(0.02, 0, 0));
    EXPECT_FALSE(b.stumb(&at_start));
    EXPECT_FALSE(b.stumb(&between));
    EXPECT_TRUE(b.stumb(&at_end));
    EXPECT_EQ(shothitg, 1);
    output();
}

TEST_F(Hit, ZeroLengthPathTestsTheSinglePoint) {
    tama b = bullet(v(5, 5, 5), v(5, 5, 5)); // limit 0.2598 + 0.3
    mato near = make<mato>(v(5, 5, 5.55), v(0.3, 0, 0));
    mato far = make<mato>(v(5, 5, 5.57), v(0.3, 0, 0));
    EXPECT_TRUE(b.stumb(&near));
    EXPECT_FALSE(b.stumb(&far));
    EXPECT_EQ(shothitg, 1);
    EXPECT_EQ(rec.effects.size(), 1u);
    output();
}

TEST_F(Hit, ZeroSizeFigureCountsAndSurvives) {
    tama b = bullet(v(0, 120, 0), v(0, 70, 0));
    hito ghost = make<hito>(v(0, 95, 0), v(0, 0, 0));
    ASSERT_EQ(ghost.radius, 0);
    ASSERT_TRUE(b.stumb(&ghost));
    b.action();
    ghost.action();
    EXPECT_EQ(b.life, 0);
    EXPECT_EQ(ghost.life, 1.0);
    EXPECT_EQ(shothitg, 1);
    EXPECT_EQ(rec.effects, std::vector<std::string>{"ata.wav"});
    EXPECT_EQ(output(), iconv_sjis(u8"ヒット") + "\n");
}

TEST_F(Hit, OnePathScoresOnEveryObjectItCrossesDeadOrAlive) {
    tama b = bullet(v(0, 120, 0), v(0, 70, 0));
    b.life = 0; // already left the play volume this tick
    mato first = make<mato>(v(0, 110, 0), v(1, 0, 0));
    mato second = make<mato>(v(0.5, 80, 0), v(1, 0, 0));
    second.life = 0;
    EXPECT_TRUE(b.stumb(&first));
    EXPECT_TRUE(b.stumb(&second));
    EXPECT_EQ(shothitg, 2);
    EXPECT_EQ(rec.effects.size(), 2u);
    const std::string line = iconv_sjis(u8"ヒット") + "\n";
    EXPECT_EQ(output(), line + line);
}

TEST(PointTest, StrictlyInsideRadiusPlusDistance) {
    hito h = make<hito>(v(1, 1, 1), v(3, 4, 0)); // radius 5
    EXPECT_TRUE(h.stumb(v(1, 1, 7.9), 2.0));
    EXPECT_FALSE(h.stumb(v(1, 1, 8), 2.0));
    EXPECT_FALSE(h.stumb(v(1, 9, 1), 2.0));
}

namespace {

struct screen_spot {
    int x, y;    // pixel centre, from the top-left
    double unit; // pixels per world unit at the object's height
};

screen_spot project(VECTORD p) {
    GLdouble mv[16], pj[16];
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pj);
    glGetIntegerv(GL_VIEWPORT, vp);
    GLdouble wx, wy, wz, ux, uy, uz;
    gluProject(p.x, p.y, p.z, mv, pj, vp, &wx, &wy, &wz);
    gluProject(p.x + 1, p.y, p.z, mv, pj, vp, &ux, &uy, &uz);
    return {static_cast<int>(wx), vp[3] - 1 - static_cast<int>(wy), ux - wx};
}

bool white(const uint8_t *p) {
    return p[0] > 240 && p[1] > 240 && p[2] > 240;
}

} // namespace

TEST(Drawing, FourKindsShowInTheirColoursAndShapes) {
    const int W = 500, H = 500;
    test_window(W, H);
    // The game's fixed state, camera and light.
    glClearColor(1, 1, 1, 0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, 1.0, 1.0, 200.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotated(90, 1, 0, 0);
    glTranslated(0, -120, 0);
    const GLfloat lightpos[4] = {3.0f, 40.0f, 5.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, lightpos);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    // Hostile detail values from a stage file draw nothing or a capped sphere, never crash.
    for (double bad : {std::nan(""), -5.0, 1e300}) {
        hito h = make<hito>(v(0, 0, 0), v(1, 0, 0));
        h.detail = bad;
        h.draw();
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    hito h = make<hito>(v(-12, 0, -12), v(3, 0, 0));
    mato m = make<mato>(v(12, 0, -12), v(3, 0, 0));
    tama t = make<tama>(v(-12, 0, 12), v(2, 0, 0));
    building b = make<building>(v(12, 0, 12), v(6, 0, 0));
    GLdouble before[16], after[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, before);
    for (buttai *o : std::initializer_list<buttai *>{&h, &m, &t, &b})
        o->draw();
    glGetDoublev(GL_MODELVIEW_MATRIX, after);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(before[i], after[i]) << "matrix not restored";
    glFinish();
    std::vector<uint8_t> px = read_pixels(W, H);
    const std::string png = scratch_dir("world_draw") + "/objects.png";
    EXPECT_TRUE(write_png(png, W, H, px));

    struct expectation {
        buttai *o;
        const char *name;
        bool (*colour)(const uint8_t *);
        bool cube;
    };
    const expectation all[] = {
        {&h, "hito", [](const uint8_t *p) { return p[2] > 150 && p[0] < 60 && p[1] < 60; }, false},
        {&m, "mato",
         [](const uint8_t *p) {
             return p[0] < 70 && p[1] < 70 && p[2] < 70 && std::abs(p[0] - p[2]) < 10;
         },
         false},
        {&t, "tama", [](const uint8_t *p) { return p[0] > 150 && p[1] < 60 && p[2] < 60; }, false},
        {&b, "building",
         [](const uint8_t *p) {
             return p[0] > 90 && p[0] < 180 && std::abs(p[0] - p[1]) < 8 &&
                    std::abs(p[1] - p[2]) < 8;
         },
         true},
    };
    for (const expectation &e : all) {
        const screen_spot s = project(e.o->pos);
        // Half the visible extent in pixels: the sphere's radius, or half the cube's edge.
        const double half = (e.cube ? e.o->radius / 2 : e.o->radius) * s.unit;
        ASSERT_GT(half, 10) << e.name;
        auto at = [&](double fx, double fy) {
            return pixel_at(px, W, s.x + static_cast<int>(fx * half),
                            s.y + static_cast<int>(fy * half));
        };
        EXPECT_TRUE(e.colour(at(0, 0))) << e.name << " centre";
        for (double f : {-0.5, 0.5}) {
            EXPECT_TRUE(e.colour(at(f, 0))) << e.name;
            EXPECT_TRUE(e.colour(at(0, f))) << e.name;
        }
        // A square fills its corners, a disc leaves them empty.
        for (double fx : {-0.85, 0.85})
            for (double fy : {-0.85, 0.85}) {
                if (e.cube)
                    EXPECT_TRUE(e.colour(at(fx, fy))) << e.name << " corner";
                else
                    EXPECT_TRUE(white(at(fx, fy))) << e.name << " corner";
            }
        EXPECT_TRUE(white(at(1.5, 0))) << e.name << " outside";
        EXPECT_TRUE(white(at(0, -1.5))) << e.name << " outside";
    }
    // Nothing was drawn between the objects.
    EXPECT_TRUE(white(pixel_at(px, W, W / 2, H / 2)));
}
