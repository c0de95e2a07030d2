#include "world/random.h"

namespace {
// Unseeded on purpose: every run replays the same sequence.
uint32_t state = 1;
} // namespace

int game_rand() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

uint32_t game_rand_state() {
    return state;
}

void game_rand_reset(uint32_t s) {
    state = s;
}
