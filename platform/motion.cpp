#include "platform/motion.h"

void motion_merge::warped(int x, int y) {
    pending = true;
    echo_x = x;
    echo_y = y;
}

void motion_merge::deliver(int x, int y) {
    delivered = true;
    last_x = x;
    last_y = y;
    if (handler) handler(x, y);
}

void motion_merge::pointer_at(int x, int y, bool always) {
    // Each warp's echo comes first, also that of a warp made while handling an echo.
    for (int n = 0; pending && n < 4; ++n) {
        pending = false;
        deliver(echo_x, echo_y);
    }
    if (!always && delivered && x == last_x && y == last_y) return;
    deliver(x, y);
}
