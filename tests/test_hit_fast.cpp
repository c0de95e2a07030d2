// The hit test with its early rejection against the plain sampling loop, pair by pair.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "world/hit.h"

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double nan_ = std::numeric_limits<double>::quiet_NaN();
const double bullet_radius = std::sqrt(0.27);

// The sampling as the game has always done it, with no shortcut.
bool plain(const VECTORD &prevpos, const VECTORD &pos, double radius, const VECTORD &c, double r) {
    VECTORD scale;
    scale = 0.001;
    VECTORD d = pos - prevpos;
    d *= scale;
    VECTORD p = prevpos + d;
    const double limit = radius * 0.5 + r;
    for (int i = 0; i < 1000; ++i) {
        const double dx = p.x - c.x, dy = p.y - c.y, dz = p.z - c.z;
        if (std::sqrt((dx * dx + dy * dy) + dz * dz) < limit) return true;
        p += d;
    }
    return false;
}

// The smallest distance the loop measures between its samples and c.
double closest(const VECTORD &prevpos, const VECTORD &pos, const VECTORD &c) {
    VECTORD scale;
    scale = 0.001;
    VECTORD d = pos - prevpos;
    d *= scale;
    VECTORD p = prevpos + d;
    double best = inf;
    for (int i = 0; i < 1000; ++i) {
        const double dx = p.x - c.x, dy = p.y - c.y, dz = p.z - c.z;
        best = std::fmin(best, std::sqrt((dx * dx + dy * dy) + dz * dz));
        p += d;
    }
    return best;
}

struct pair_case {
    VECTORD a, b; // prevpos, pos
    double radius;
    VECTORD c;
    double r;
};

std::string shown(const pair_case &k) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "prevpos (%a, %a, %a) pos (%a, %a, %a) radius %a centre (%a, %a, %a) r %a", k.a.x,
                  k.a.y, k.a.z, k.b.x, k.b.y, k.b.z, k.radius, k.c.x, k.c.y, k.c.z, k.r);
    return buf;
}

class Differential : public ::testing::Test {
  protected:
    std::mt19937_64 rng{20240611};
    long pairs = 0, hits = 0, cleared = 0, mismatches = 0;

    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    }
    // A magnitude spread evenly over the decades lo..hi.
    double decades(double lo, double hi) { return std::pow(10.0, uniform(lo, hi)); }
    double sign() { return rng() & 1 ? 1.0 : -1.0; }
    VECTORD in_cube(double h) { return VECTORD{uniform(-h, h), uniform(-h, h), uniform(-h, h)}; }
    VECTORD direction() {
        for (;;) {
            VECTORD v = in_cube(1.0);
            double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
            if (n > 0.1 && n <= 1.0) return VECTORD{v.x / n, v.y / n, v.z / n};
        }
    }
    VECTORD along(const VECTORD &a, const VECTORD &b, double t) {
        return VECTORD{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
    }
    VECTORD offset(const VECTORD &p, double dist) {
        VECTORD u = direction();
        return VECTORD{p.x + u.x * dist, p.y + u.y * dist, p.z + u.z * dist};
    }

    void check(const pair_case &k) {
        ++pairs;
        const bool want = plain(k.a, k.b, k.radius, k.c, k.r);
        const bool got = swept_hit(k.a, k.b, k.radius, k.c, k.r);
        const bool clear = swept_clear(k.a, k.b, k.radius, k.c, k.r);
        hits += want;
        cleared += clear;
        if ((got != want || (clear && want)) && ++mismatches <= 5)
            ADD_FAILURE() << "plain " << want << ", fast " << got << ", cleared " << clear
                          << " for " << shown(k);
    }

    // The same geometry twice more: once with the limit exactly at the loop's closest
    // distance (a miss) and once a step above it (a hit).
    void check_at_limit(pair_case k) {
        const double m = closest(k.a, k.b, k.c);
        if (!std::isfinite(m)) return;
        k.radius = 0;
        k.r = m;
        check(k);
        k.r = std::nextafter(m, inf);
        check(k);
        // With a real bullet radius, look for an r that makes the sum land on m.
        k.radius = bullet_radius;
        double r = m - bullet_radius * 0.5;
        for (int i = 0; i < 4 && bullet_radius * 0.5 + r != m; ++i)
            r = std::nextafter(r, bullet_radius * 0.5 + r < m ? inf : -inf);
        k.r = r;
        check(k);
    }

    void TearDown() override {
        EXPECT_EQ(mismatches, 0) << "of " << pairs << " pairs";
        std::printf("%ld pairs, %ld hits, %ld cleared early\n", pairs, hits, cleared);
    }
};

// Bullets anywhere in the play cube, objects anywhere near their paths.
TEST_F(Differential, RandomPairsInThePlayCube) {
    for (int i = 0; i < 100000; ++i) {
        pair_case k;
        k.a = in_cube(300);
        const double len = i % 7 == 0 ? uniform(0, 1) : uniform(0, 60);
        k.b = offset(k.a, len);
        k.radius = i % 3 ? bullet_radius : uniform(0, 2);
        k.c = offset(along(k.a, k.b, uniform(-0.1, 1.1)), decades(-3, 2.5));
        k.r = uniform(0, 5);
        check(k);
        if (i % 2 == 0) check_at_limit(k);
    }
}

// What the game fires: straight down from the eye, through figures on the ground.
TEST_F(Differential, GameShotsThroughFigures) {
    const double pi = 3.14159265;
    for (int i = 0; i < 60000; ++i) {
        pair_case k;
        const double ry = 90 * (pi / 180), rx = uniform(-10, 10) * (pi / 180);
        const VECTORD vel{std::cos(ry) * std::sin(rx) * 5000.0, std::sin(ry) * -5000.0,
                          std::cos(ry) * std::cos(rx) * -5000.0};
        k.a = VECTORD{uniform(-150, 150), 120.0 - 50.0 * (i % 8), uniform(-150, 150)};
        k.b = VECTORD{k.a.x + vel.x * 0.01, k.a.y + vel.y * 0.01, k.a.z + vel.z * 0.01};
        k.radius = bullet_radius;
        const double size = uniform(0.5, 3);
        k.r = std::sqrt(3 * size * size);
        k.c = VECTORD{k.a.x + uniform(-4, 4), uniform(-0.5, 10), k.a.z + uniform(-4, 4)};
        check(k);
        if (i % 2 == 0) check_at_limit(k);
    }
}

// Paths grazing the object: perpendicular to the path at a sample, or past either end.
TEST_F(Differential, GrazingPairs) {
    for (int i = 0; i < 60000; ++i) {
        pair_case k;
        k.a = in_cube(300);
        k.b = offset(k.a, uniform(0.01, 60));
        k.radius = bullet_radius;
        k.r = uniform(0, 4);
        const double limit = k.radius * 0.5 + k.r;
        const double rel = sign() * decades(-16, -6);
        const int kind = i % 3;
        if (kind == 0) {
            // Sideways from a point of the path.
            VECTORD dir{k.b.x - k.a.x, k.b.y - k.a.y, k.b.z - k.a.z};
            VECTORD s = direction();
            VECTORD side{dir.y * s.z - dir.z * s.y, dir.z * s.x - dir.x * s.z,
                         dir.x * s.y - dir.y * s.x};
            const double n = std::sqrt(side.x * side.x + side.y * side.y + side.z * side.z);
            const double dist = limit * (1 + rel);
            const VECTORD p = along(k.a, k.b, uniform(0, 1));
            k.c =
                VECTORD{p.x + side.x / n * dist, p.y + side.y / n * dist, p.z + side.z / n * dist};
        } else {
            // Beyond the end, or behind the start (which is never sampled).
            const VECTORD &from = kind == 1 ? k.b : k.a;
            const VECTORD &to = kind == 1 ? k.a : k.b;
            const double len =
                std::sqrt((from.x - to.x) * (from.x - to.x) + (from.y - to.y) * (from.y - to.y) +
                          (from.z - to.z) * (from.z - to.z));
            const double t = -limit * (1 + rel) / len;
            k.c = along(from, to, t);
        }
        check(k);
        check_at_limit(k);
    }
}

// Far from the origin the samples drift the most.
TEST_F(Differential, HugeCoordinates) {
    for (int i = 0; i < 50000; ++i) {
        pair_case k;
        const double big = decades(3, i % 4 == 0 ? 300 : 20);
        k.a = VECTORD{sign() * big * uniform(0.5, 1), sign() * big * uniform(0, 1),
                      sign() * big * uniform(0, 1)};
        const double len = i % 2 ? big * decades(-18, 0) : uniform(0, 60);
        k.b = offset(k.a, len);
        k.radius = i % 2 ? bullet_radius : big * decades(-20, 0);
        k.r = i % 3 ? uniform(0, 5) : big * decades(-20, 0);
        k.c = offset(along(k.a, k.b, uniform(-0.1, 1.1)), (k.radius + k.r) * decades(-1, 1));
        check(k);
        check_at_limit(k);
    }
}

// Tiny paths and radii, down to subnormal numbers, and paths that do not move at all.
TEST_F(Differential, TinyAndZeroLengthPaths) {
    for (int i = 0; i < 30000; ++i) {
        pair_case k;
        const double small = decades(-320, -1);
        k.a = i % 3 == 0 ? in_cube(300) : in_cube(small * 100);
        k.b = i % 4 == 0 ? k.a : offset(k.a, small * decades(-3, 3));
        k.radius = i % 2 ? 0.0 : small * uniform(0, 2);
        k.r = i % 5 == 0 ? 0.0 : small * decades(-2, 2);
        k.c = offset(along(k.a, k.b, uniform(-0.5, 1.5)), small * decades(-2, 2));
        check(k);
        check_at_limit(k);
    }
}

// Stationary bullets: the one point pos, tested a thousand times.
TEST_F(Differential, ZeroLengthPathsAtTheLimit) {
    for (int i = 0; i < 20000; ++i) {
        pair_case k;
        k.a = in_cube(300);
        k.b = k.a;
        k.radius = bullet_radius;
        k.r = uniform(0, 3);
        k.c = offset(k.a, (k.radius * 0.5 + k.r) * (1 + sign() * decades(-17, -8)));
        check(k);
        check_at_limit(k);
    }
}

// Axis-aligned paths whose closest sample is exactly at the limit.
TEST_F(Differential, ExactlyAtTheLimit) {
    for (int i = 0; i < 20000; ++i) {
        pair_case k;
        const double x = std::ldexp(1.0, static_cast<int>(uniform(-40, 40)));
        const double l =
            std::ldexp(std::floor(uniform(1, 1 << 20)), static_cast<int>(uniform(-30, 5)));
        k.a = VECTORD{0, 0, -l * 0.5};
        k.b = VECTORD{0, 0, l * 0.5};
        k.c = VECTORD{i % 2 ? x : -x, 0, 0};
        k.radius = 0;
        k.r = x;
        check(k); // closest sample is x away, not closer: a miss
        k.r = std::nextafter(x, inf);
        check(k);
        k.radius = 2 * x;
        k.r = 0;
        check(k);
    }
}

// NaN and infinities in any of the eleven numbers give the loop's answers. A figure that has
// run off to infinity (or a NaN limit) is rejected early, as no sample can come near it; any
// other non-finite value falls back to the loop.
TEST_F(Differential, NonFiniteValuesFallBackToTheLoop) {
    const double odd[] = {nan_, inf, -inf};
    for (int i = 0; i < 60000; ++i) {
        pair_case k;
        k.a = in_cube(300);
        k.b = offset(k.a, uniform(0, 60));
        k.radius = bullet_radius;
        k.r = uniform(0, 5);
        k.c = offset(along(k.a, k.b, uniform(0, 1)), decades(-2, 3));
        double *fields[11] = {&k.a.x,    &k.a.y, &k.a.z, &k.b.x, &k.b.y, &k.b.z,
                              &k.radius, &k.c.x, &k.c.y, &k.c.z, &k.r};
        const int spoiled = 1 + static_cast<int>(rng() % 3);
        for (int j = 0; j < spoiled; ++j)
            *fields[rng() % 11] = odd[rng() % 3];
        check(k);
        const bool far = !std::isfinite(k.c.x) || !std::isfinite(k.c.y) || !std::isfinite(k.c.z) ||
                         std::isnan(k.radius * 0.5 + k.r);
        if (swept_clear(k.a, k.b, k.radius, k.c, k.r) != far && ++mismatches <= 5)
            ADD_FAILURE() << (far ? "not cleared: " : "cleared early: ") << shown(k);
    }
}

// The shortcut has to take the common case, or the game pays for the loop on every pair.
TEST(EarlyRejection, FarPairsAreClearedAndCloseOnesAreNot) {
    const VECTORD a{10, 120, -20}, b{10, 70, -20};
    const double limit = bullet_radius * 0.5 + 1.5;
    EXPECT_TRUE(swept_clear(a, b, bullet_radius, VECTORD{40, 0, 30}, 1.5));
    // Beside the path, barely outside the reach of any sample.
    EXPECT_TRUE(swept_clear(a, b, bullet_radius, VECTORD{10 + limit + 1e-6, 95, -20}, 1.5));
    EXPECT_FALSE(swept_clear(a, b, bullet_radius, VECTORD{10 + limit - 1e-6, 95, -20}, 1.5));
    // Below the end of the path and above its start.
    EXPECT_TRUE(swept_clear(a, b, bullet_radius, VECTORD{10, 70 - limit - 1e-6, -20}, 1.5));
    EXPECT_TRUE(swept_clear(a, b, bullet_radius, VECTORD{10, 120 + limit + 1e-6, -20}, 1.5));
    // A slanted path: the box around it holds the centre, the segment does not come close.
    const VECTORD s{0, 0, 0}, e{30, 30, 30};
    EXPECT_TRUE(swept_clear(s, e, bullet_radius, VECTORD{20, 10, 15}, 1.0));
    EXPECT_FALSE(swept_clear(s, e, bullet_radius, VECTORD{15, 15, 16}, 1.0));
    // A bullet that did not move: a point against a ball.
    EXPECT_TRUE(swept_clear(a, a, bullet_radius, VECTORD{10, 120, -20 + limit + 1e-6}, 1.5));
    // A limit below zero cannot be undercut by any distance.
    EXPECT_TRUE(swept_clear(a, b, 0, VECTORD{10, 95, -20}, -1.0));
}

} // namespace
