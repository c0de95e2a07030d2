#pragma once
// WAVE files: the game's effects are mono 16-bit PCM.
#include <cstdint>
#include <vector>

// A whole WAVE file image of mono 16-bit samples at the given rate.
std::vector<uint8_t> wave_file(const std::vector<int16_t> &pcm, uint32_t rate);
