#pragma once
#include <cstdint>

// Media control shaped like the commands the music player sends: open a device of a named
// type ("waveaudio", "sequencer", "cdaudio") on a file, play it from the start without
// waiting, close it; plus fire-and-forget effects. Each platform implements it (plat_media).
struct media_control {
    virtual uint32_t open(const char *type, const char *file, uint32_t *deviceID) = 0;
    virtual uint32_t play(uint32_t deviceID) = 0;
    virtual uint32_t close(uint32_t deviceID) = 0;
    // Starts a WAVE file and returns at once; a new effect cuts off the one still playing.
    virtual void effect(const char *file) = 0;
    virtual ~media_control() = default;
};

// Results of the operations; 0 is success.
namespace media_result {
constexpr uint32_t ok = 0;
constexpr uint32_t no_audio = 1;
constexpr uint32_t no_such_type = 2;
constexpr uint32_t cannot_load = 3;
constexpr uint32_t no_such_device = 4;
constexpr uint32_t cannot_play = 5;
} // namespace media_result
