// The swept hit test on pairs that miss: the game's test (early rejection, then sampling)
// against the plain sampling loop alone, on the same pairs in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "world/hit.h"

namespace {

struct pair_case {
    VECTORD a, b; // prevpos, pos
    double radius;
    VECTORD c;
    double r;
};

// Misses of two kinds: shots straight down past figures on the ground, and paths in any
// direction through the play cube past objects anywhere in it.
const std::vector<pair_case> &misses(bool slanted) {
    static std::vector<pair_case> sets[2];
    std::vector<pair_case> &set = sets[slanted];
    if (!set.empty()) return set;
    std::mt19937_64 rng(slanted ? 2 : 1);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    const double pi = 3.14159265, bullet_radius = std::sqrt(0.27);
    while (set.size() < 4096) {
        pair_case k;
        k.radius = bullet_radius;
        k.r = std::sqrt(3.0) * uniform(0.5, 2.5);
        if (!slanted) {
            const double ry = 90 * (pi / 180), rx = uniform(-10, 10) * (pi / 180);
            k.a = VECTORD{uniform(-150, 150), 120.0 - 50.0 * (set.size() % 6), uniform(-150, 150)};
            k.b = VECTORD{k.a.x + std::cos(ry) * std::sin(rx) * 50.0, k.a.y - std::sin(ry) * 50.0,
                          k.a.z - std::cos(ry) * std::cos(rx) * 50.0};
            k.c = VECTORD{uniform(-150, 150), 0.0, uniform(-150, 150)};
        } else {
            k.a = VECTORD{uniform(-300, 300), uniform(-300, 300), uniform(-300, 300)};
            VECTORD u{uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
            const double n = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
            k.b = VECTORD{k.a.x + u.x / n * 50, k.a.y + u.y / n * 50, k.a.z + u.z / n * 50};
            // Near the path: the box around it often holds the centre.
            k.c = VECTORD{k.a.x + uniform(-40, 40), k.a.y + uniform(-40, 40),
                          k.a.z + uniform(-40, 40)};
        }
        if (!swept_sampled(k.a, k.b, k.radius, k.c, k.r)) set.push_back(k);
    }
    return set;
}

template <bool Fast> void run(benchmark::State &state, bool slanted) {
    const std::vector<pair_case> &set = misses(slanted);
    size_t i = 0;
    for (auto _ : state) {
        const pair_case &k = set[i];
        i = (i + 1) % set.size();
        bool hit = Fast ? swept_hit(k.a, k.b, k.radius, k.c, k.r)
                        : swept_sampled(k.a, k.b, k.radius, k.c, k.r);
        benchmark::DoNotOptimize(hit);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_miss_shot_down_fast(benchmark::State &state) {
    run<true>(state, false);
}
void BM_miss_shot_down_plain(benchmark::State &state) {
    run<false>(state, false);
}
void BM_miss_slanted_fast(benchmark::State &state) {
    run<true>(state, true);
}
void BM_miss_slanted_plain(benchmark::State &state) {
    run<false>(state, true);
}
BENCHMARK(BM_miss_shot_down_fast);
BENCHMARK(BM_miss_shot_down_plain);
BENCHMARK(BM_miss_slanted_fast);
BENCHMARK(BM_miss_slanted_plain);

} // namespace
