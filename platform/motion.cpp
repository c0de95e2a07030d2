#include "platform/motion.h"

void motion_merge::warped(int x, int y) {
    pending = true;
    echo_x = x;
    echo_y = y;
    if (handling) {
        moved_x += x - last_x;
        moved_y += y - last_y;
    }
}

void motion_merge::deliver(int x, int y) {
    delivered = true;
    last_x = x;
    last_y = y;
    handling = true;
    if (handler) handler(x, y);
    handling = false;
}

void motion_merge::pointer_at(int x, int y, bool always) {
    // Each warp's echo comes first, also that of a warp made while handling an echo.
    moved_x = moved_y = 0;
    for (int n = 0; pending && n < 4; ++n) {
        pending = false;
        deliver(echo_x, echo_y);
    }
    // Such a warp moved the pointer after (x, y) was read: it stands that much further now.
    if (moved_x || moved_y) {
        x += moved_x;
        y += moved_y;
        always = false;
    }
    if (!always && delivered && x == last_x && y == last_y) return;
    deliver(x, y);
}
