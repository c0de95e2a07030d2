// One timer tick over a crowded world: 1,000 walking figures, nine patterns alike, and 100
// bullets in flight, every bullet swept against every figure.
#include <benchmark/benchmark.h>

#include <string>

#include <cmath>
#include <vector>

#include "bench.h"
#include "flow/gamestate.h"
#include "flow/stage.h"
#include "shell/shell.h"
#include "world/buttai.h"

namespace {

const int figures = 1000;
const int bullets = 100;

double spread(int i, int n, double lo, double hi) {
    return lo + (hi - lo) * ((i * 7919) % n) / n;
}

// Bullets fired from eye points all over the ground, caught at four heights of their fall.
// Their paths stay above the figures, so every pair is a miss, as most pairs are in play.
void reset_bullet(buttai *t, int i) {
    const double r = rad(ry), a = rad(rx + (i % 5) - 2);
    t->life = 1.0;
    t->pos = VECTORD{spread(i, bullets, -150, 150), 120.0 - 20.0 * (i % 4),
                     spread(i * 3 + 1, bullets, -150, 150)};
    t->vel = VECTORD{std::cos(r) * std::sin(a) * 5000.0, std::sin(r) * -5000.0,
                     std::cos(r) * std::cos(a) * -5000.0};
    t->prevpos = t->pos;
}

void make_world(std::vector<buttai *> &shots) {
    buttai_del();
    for (int i = 0; i < figures; ++i) {
        hito *h = new hito;
        h->life = 1.0;
        h->pos =
            VECTORD{spread(i, figures, -150, 150), 0.0, spread(i * 13 + 5, figures, -150, 150)};
        h->size = 1.0;
        h->vel = VECTORD{1.0, 0.0, 1.0};
        h->acc = 0.0;
        h->detail = 12.0;
        h->spare = 0;
        h->pattern = 1 + i % 9;
        h->prevpos = h->pos;
        h->syoki();
        buttai_set.push_back(h);
    }
    shots.clear();
    for (int i = 0; i < bullets; ++i) {
        tama *t = new tama;
        t->size = 0.3;
        t->acc = 0.0;
        t->detail = 10.0;
        t->spare = 0;
        t->pattern = 0;
        reset_bullet(t, i);
        t->syoki();
        tama_set.push_front(t);
        shots.push_back(t);
    }
}

void BM_tick_1000_figures_100_bullets(benchmark::State &state) {
    game_window();
    game_in_play();
    std::vector<buttai *> shots;
    make_world(shots);
    for (auto _ : state) {
        state.PauseTiming();
        // Bullets back to their heights; the figures walk on from tick to tick.
        for (int i = 0; i < bullets; ++i)
            reset_bullet(shots[i], i);
        gs.limitcount = 0;
        state.ResumeTiming();
        timer_body();
    }
    if (buttai_set.size() != static_cast<size_t>(figures) || tama_set.size() != bullets)
        state.SkipWithError("the world changed under the benchmark");
    state.SetLabel(std::to_string(figures * bullets) + " pairs");
    buttai_del();
}
BENCHMARK(BM_tick_1000_figures_100_bullets)->Unit(benchmark::kMicrosecond);

} // namespace
