// The merged pointer motion without a display: a handler that pans and warps back as the
// game's does, fed with the points a window system reports.
#include <gtest/gtest.h>

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
