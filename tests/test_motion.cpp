// The merged pointer motion without a display: a handler that pans and warps back as the
// game's does, fed with the points a window system reports.
#include <gtest/gtest.h>

#include <string>

#include "platform/frame.h"
#include "platform/motion.h"

namespace {

// The game's panning: real motion moves the view by 0.1 per pixel and warps the pointer to
// the window's middle; the next event (the warp's echo) only marks the reference point.
struct panning {
    motion_merge *merge = nullptr;
    int middle_x = 250, middle_y = 250;
    int moveon = 1, xo = 0, yo = 0;
    double x = 0, z = 0;
    int events = 0;
} game;

void game_motion(int x, int y) {
    ++game.events;
    if (game.moveon == 0) {
        game.x -= (x - game.xo) * 0.1;
        game.z -= (y - game.yo) * 0.1;
        game.merge->warped(game.middle_x, game.middle_y);
        game.moveon = 1;
    } else {
        game.xo = x;
        game.yo = y;
        game.moveon = 0;
    }
}

} // namespace

// A warp made while a warp's echo is handled (a resize during play: the echo of the resize's
// warp reads as motion, and the game warps again) moves the pointer: the point read before
// is stale, and the event after the echoes is where the pointer stands now.
TEST(MotionMerge, AWarpMadeWhileAnEchoIsHandledLeavesNoStalePoint) {
    for (int beyond : {0, 3}) {
        SCOPED_TRACE(beyond);
        motion_merge merge;
        game = panning();
        game.merge = &merge;
        merge.set_handler(game_motion);

        merge.pointer_at(249, 249, true); // the first motion marks where the pointer is
        merge.pointer_at(259, 259, true); // 10 pixels: the view moves, the pointer is warped
        EXPECT_EQ(game.x, -1.0);
        EXPECT_EQ(game.moveon, 1);
        merge.pointer_at(250, 250); // the echo
        EXPECT_EQ(game.moveon, 0);

        // The window shrinks to 400 x 400: the pointer is put at (199, 199), and then the
        // game, taking that echo for motion, puts it at the new middle.
        game.middle_x = game.middle_y = 200;
        merge.warped(199, 199);
        merge.pointer_at(199 + beyond, 199); // the pointer may have gone on meanwhile
        EXPECT_NEAR(game.x, 4.1 - 0.1 * beyond, 1e-9);
        EXPECT_NEAR(game.z, 4.1, 1e-9);
        // The warp was made relative to the point handled: what the pointer travelled beyond
        // it is still to come, and nothing else.
        EXPECT_EQ(game.moveon, beyond ? 1 : 0);
        const int events = game.events;
        merge.pointer_at(200, 200); // the echo of the game's last warp: nothing new
        EXPECT_EQ(game.events, events + (beyond ? 1 : 0));
        EXPECT_EQ(game.moveon, 0);

        merge.pointer_at(205, 200, true);
        EXPECT_NEAR(game.x, 3.6 - 0.1 * beyond, 1e-9);
        EXPECT_NEAR(game.z, 4.1, 1e-9);
    }
}

namespace {

// The desktop's pointer in a scaled frame: the window system reports window pixels, the game
// gets frame pixels, and its warps are made relative to the point it handled.
struct scaled_desk {
    motion_merge merge;
    frame_pointer conv;
    frame_layout layout;
    int real_x = 0, real_y = 0; // the pointer, in window pixels
    bool answering = false;

    void event() {
        int fx, fy;
        answering = true;
        conv.at(layout, real_x, real_y, fx, fy);
        merge.pointer_at(fx, fy);
        answering = false;
    }
    void warp(int tx, int ty) {
        int wx, wy;
        if (answering) {
            int dx, dy;
            conv.warp_by(tx, ty, dx, dy, wx, wy);
            real_x += dx;
            real_y += dy;
        } else {
            conv.warp_to(layout, tx, ty, wx, wy);
            real_x = wx;
            real_y = wy;
        }
        int fx, fy;
        conv.landed(real_x, real_y, fx, fy);
        merge.warped(fx, fy);
    }
} *desk = nullptr;

void scaled_game_motion(int x, int y) {
    desk->conv.given(x, y);
    ++game.events;
    if (game.moveon == 0) {
        game.x -= (x - game.xo) * 0.1;
        game.z -= (y - game.yo) * 0.1;
        game.moveon = 1;
        desk->warp(game.middle_x, game.middle_y);
    } else {
        game.xo = x;
        game.yo = y;
        game.moveon = 0;
    }
}

} // namespace

// At scale 1, 2 and 3 and with a sensitivity, the view moves 0.1 units per frame pixel of the
// pointer's travel, times the sensitivity: slow motion (less than a frame pixel an event) adds
// up, fast motion comes whole, and each warp's echo lands on the point warped to.
TEST(ScaledFrame, PanningCountsFramePixelsTimesTheSensitivity) {
    struct setting {
        int scale;
        double sensitivity;
    };
    for (const setting &s :
         {setting{1, 1.0}, setting{2, 1.0}, setting{3, 1.0}, setting{2, 1.5}, setting{1, 0.7}}) {
        SCOPED_TRACE(std::to_string(s.scale) + " " + std::to_string(s.sensitivity));
        scaled_desk d;
        desk = &d;
        game = panning();
        d.layout = place_frame(500, 500, 500 * s.scale, 500 * s.scale, false);
        ASSERT_EQ(d.layout.factor, s.scale);
        d.conv.set_rate(s.sensitivity / d.layout.factor);
        d.merge.set_handler(scaled_game_motion);
        // Start-up: the pointer put in the middle; its echo marks the reference.
        d.warp(250, 250);
        d.event();
        EXPECT_EQ(game.moveon, 0);
        EXPECT_EQ(game.xo, 250);
        int travel_x = 0, travel_y = 0;
        auto move = [&](int dx, int dy) {
            d.real_x += dx;
            d.real_y += dy;
            travel_x += dx;
            travel_y += dy;
            d.event(); // the motion, then the echo of the game's warp
            d.event();
        };
        for (int i = 0; i < 90; ++i)
            move(1, 0); // a slow mouse
        for (int i = 0; i < 7; ++i)
            move(-37, 23); // a fast one
        move(0, -200);
        const double rate = s.sensitivity / s.scale;
        // Whole frame pixels reach the game; what is left of one waits for the next motion.
        EXPECT_NEAR(game.x, -travel_x * rate * 0.1, 0.1);
        EXPECT_NEAR(game.z, -travel_y * rate * 0.1, 0.1);
        // The echo of the last warp came back on the middle, and nothing is left pending.
        EXPECT_EQ(game.moveon, 0);
        EXPECT_EQ(game.xo, 250);
        EXPECT_EQ(game.yo, 250);
        EXPECT_FALSE(d.merge.echo_pending());
    }
}

// The frame's place: whole blocks centred on a border; a window too small for one block, or
// the linear filter, gets the largest square that fits.
TEST(ScaledFrame, TheFrameIsPlacedInWholeBlocksOrFilled) {
    frame_layout l = place_frame(500, 500, 1280, 1024, false);
    EXPECT_EQ(l.factor, 2.0);
    EXPECT_EQ(l.x, 140);
    EXPECT_EQ(l.y, 12);
    EXPECT_EQ(l.w, 1000);
    l = place_frame(500, 500, 1280, 1024, true);
    EXPECT_EQ(l.w, 1024);
    EXPECT_EQ(l.x, 128);
    EXPECT_EQ(l.y, 0);
    l = place_frame(500, 500, 400, 300, false);
    EXPECT_EQ(l.w, 300);
    EXPECT_EQ(l.x, 50);
    EXPECT_EQ(auto_scale(1920, 1080, 500, 500), 1);
    EXPECT_EQ(auto_scale(3840, 2160, 500, 500), 2);
    EXPECT_EQ(auto_scale(640, 480, 500, 500), 1);
    int from, to;
    frame_span(place_frame(500, 500, 1600, 1500, false), 10, false, from, to);
    EXPECT_EQ(from, 50 + 30);
    EXPECT_EQ(to, 50 + 33);
}
