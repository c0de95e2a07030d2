#include "sound/music.h"

#include "sound/mci.h"

music music_set[10];

int32_t music::Init(int32_t type, const char *fileName) {
    const char *device = type == 2 ? "sequencer" : type == 3 ? "cdaudio" : "waveaudio";
    uint32_t id = 0;
    if (media()->open(device, fileName, &id) != 0) {
        opened = 0; // an earlier deviceID stays as it was
        return 0;
    }
    deviceID = id;
    opened = 1;
    return 1;
}

int32_t music::Play() {
    if (opened == 0) return 1;
    if (media()->play(deviceID) != 0) {
        Term();
        return 0;
    }
    return 1;
}

void music::Term() {
    if (opened == 1) {
        media()->close(deviceID);
        opened = 0;
    }
}
