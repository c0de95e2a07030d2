#include "world/hit.h"

#include <algorithm>
#include <cmath>

#include "base/console.h"
#include "sound/mci.h"
#include "world/buttai.h"

namespace {

// At least the largest component; unlike a max, a sum keeps any NaN.
inline double size_of(const VECTORD &v) {
    return (std::fabs(v.x) + std::fabs(v.y)) + std::fabs(v.z);
}

inline double dot(const VECTORD &a, const VECTORD &b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

// One thousandth of the path, exactly as the samples step.
inline VECTORD step_of(const VECTORD &prevpos, const VECTORD &pos) {
    VECTORD scale;
    scale = 0.001;
    VECTORD d = pos - prevpos;
    d *= scale;
    return d;
}

// True when no sample a + d, a + 2d, ... (accumulated) can come closer to c than limit.
//
// Why the margin is enough. u = 2^-53; a = prevpos, v = 1000 d, and S = |a| + |v| + |c| +
// |limit|, |.| taken as the sum of the components' sizes (at least the largest).
// 1. Samples: each p += d rounds by at most u|p| with |p| below |a| + |v|, so after at most
//    1001 additions a coordinate has drifted at most 1001 u S from the exact a + k d; a point
//    by at most sqrt(3) 1001 u S < 1734 u S. A sample that overflows is infinitely far.
// 2. The loop's distance of a point that lies r from c: a subtraction, a square, two sums and
//    a root, each rounding by at most u, give at least r (1 - 4u), less under 3e-162 when
//    squares underflow. So the point misses once r >= limit + 5 u |limit| + 4e-162.
// 3. The box: the exact samples lie between a and a + v on every axis; a + v and the bounds
//    round by at most 3 u S. One axis alone never gives a larger distance than the loop's, since
//    adding a square never lowers a rounded sum; 2 applies to it as well.
// 4. The segment: w = c - a and v round by u S; the unit vector, the projection, the overshoot
//    past either end, the cross product and the sums of squares add about twenty roundings of
//    values below 2S, so the bound falls short of the true distance by less than 60 u S. Kept
//    within 2^-450..2^450 (else unsure), underflow there costs less than 1e-160.
// All together need less than 1800 u S + 2e-160 < 2e-13 S + 2e-160; the margin below is fifty
// times that, which also covers forming reach and the final comparison.
// A centre with a NaN or an infinity in it is at no finite distance from any sample: every
// distance the loop takes is infinite or NaN, never below the limit; nor is any distance
// below a NaN limit. Any other NaN or infinity makes S, and so reach, NaN or infinite:
// nothing is rejected.
bool clear_of(const VECTORD &a, const VECTORD &d, const VECTORD &c, double limit) {
    if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.z) || std::isnan(limit))
        return true;
    const VECTORD v{d.x * 1000.0, d.y * 1000.0, d.z * 1000.0};
    const double S = size_of(a) + size_of(v) + size_of(c) + std::fabs(limit);
    const double reach = limit + (1e-11 * S + 1e-150);
    if (!std::isfinite(reach)) return false;
    if (reach <= 0) return true; // no distance is below a negative limit

    const VECTORD e = a + v;
    if (c.x + reach < std::min(a.x, e.x) || c.x - reach > std::max(a.x, e.x) ||
        c.y + reach < std::min(a.y, e.y) || c.y - reach > std::max(a.y, e.y) ||
        c.z + reach < std::min(a.z, e.z) || c.z - reach > std::max(a.z, e.z))
        return true;

    const VECTORD w = c - a;
    const double wn = size_of(w), vn = size_of(v);
    if (!(wn <= 0x1p450 && vn <= 0x1p450)) return false;
    double lower2;
    if (vn == 0) {
        lower2 = dot(w, w);
    } else {
        if (vn < 0x1p-450) return false;
        const double len = std::sqrt(dot(v, v));
        const VECTORD u{v.x / len, v.y / len, v.z / len};
        const double s = dot(w, u);
        const VECTORD x{w.y * u.z - w.z * u.y, w.z * u.x - w.x * u.z, w.x * u.y - w.y * u.x};
        const double over = std::max(0.0, std::max(-s, s - len));
        lower2 = dot(x, x) + over * over;
    }
    return lower2 > reach * reach;
}

bool sampled(const VECTORD &prevpos, const VECTORD &d, const VECTORD &c, double limit) {
    VECTORD p = prevpos + d;
    for (int i = 0; i < 1000; ++i) {
        const double dx = p.x - c.x, dy = p.y - c.y, dz = p.z - c.z;
        if (std::sqrt((dx * dx + dy * dy) + dz * dz) < limit) return true;
        p += d;
    }
    return false;
}

} // namespace

bool swept_clear(const VECTORD &prevpos, const VECTORD &pos, double radius, const VECTORD &c,
                 double r) {
    return clear_of(prevpos, step_of(prevpos, pos), c, radius * 0.5 + r);
}

bool swept_sampled(const VECTORD &prevpos, const VECTORD &pos, double radius, const VECTORD &c,
                   double r) {
    return sampled(prevpos, step_of(prevpos, pos), c, radius * 0.5 + r);
}

bool swept_hit(const VECTORD &prevpos, const VECTORD &pos, double radius, const VECTORD &c,
               double r) {
    const VECTORD d = step_of(prevpos, pos);
    const double limit = radius * 0.5 + r;
    // Most pairs are nowhere near each other; the sampling decides only the close ones.
    if (clear_of(prevpos, d, c, limit)) return false;
    return sampled(prevpos, d, c, limit);
}

// A bullet covers 50 units a tick, so its whole path since the last tick is sampled.
bool buttai::stumb(buttai *other) {
    if (!swept_hit(prevpos, pos, radius, other->pos, other->radius)) return false;
    play_effect("ata.wav");
    shothitg += 1;
    console_say("ヒット");
    return true;
}

bool hito::stumb(VECTORD p, double r) {
    const double dx = p.x - pos.x, dy = p.y - pos.y, dz = p.z - pos.z;
    return std::sqrt((dx * dx + dy * dy) + dz * dz) < radius + r;
}
