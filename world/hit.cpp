#include <cmath>

#include "shell/console.h"
#include "sound/mci.h"
#include "world/buttai.h"

// A bullet covers 50 units a tick, so its whole path since the last tick is sampled.
bool buttai::stumb(buttai *other) {
    const VECTORD c = other->pos;
    const double R = other->radius;
    VECTORD scale;
    scale = 0.001;
    VECTORD d = pos - prevpos;
    d *= scale;
    VECTORD p = prevpos + d;
    const double limit = radius * 0.5 + R;
    for (int i = 0; i < 1000; ++i) {
        const double dx = p.x - c.x, dy = p.y - c.y, dz = p.z - c.z;
        if (std::sqrt((dx * dx + dy * dy) + dz * dz) < limit) {
            play_effect("ata.wav");
            shothitg += 1;
            console_line("ヒット");
            return true;
        }
        p += d;
    }
    return false;
}

bool hito::stumb(VECTORD p, double r) {
    const double dx = p.x - pos.x, dy = p.y - pos.y, dz = p.z - pos.z;
    return std::sqrt((dx * dx + dy * dy) + dz * dz) < radius + r;
}
