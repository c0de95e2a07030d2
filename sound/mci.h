#pragma once
#include <cstdint>

// Media control shaped like the commands the music player sends: open a device of a
// named type ("waveaudio", "sequencer", "cdaudio") on a file, play it from the start
// without waiting, close it; plus fire-and-forget effects. Results: 0 is success.
struct media_control {
    virtual uint32_t open(const char *type, const char *file, uint32_t *deviceID) = 0;
    virtual uint32_t play(uint32_t deviceID) = 0;
    virtual uint32_t close(uint32_t deviceID) = 0;
    // Starts a WAVE file and returns at once; a new effect cuts off the one still playing.
    virtual void effect(const char *file) = 0;
    virtual ~media_control() = default;
};

// The layer in use: the platform's unless a test or tool has put another in place.
media_control *media();
void set_media(media_control *m);

// The effect call of the shot, the empty click and the hit.
void play_effect(const char *file);
