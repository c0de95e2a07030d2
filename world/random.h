#pragma once
#include <cstdint>

// The game's own generator (the classic 214013/2531011 LCG), never the host's rand:
// unseeded, so every run repeats the same sequence.
int game_rand();
uint32_t game_rand_state();
void game_rand_reset(uint32_t state = 1);
