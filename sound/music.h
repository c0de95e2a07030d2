#pragma once
#include <cstdint>

// One background-music player.
class music {
  public:
    uint32_t deviceID = 0;
    int32_t opened = 0; // 1 while a device is open

    int32_t Init(int32_t type, const char *fileName);
    int32_t Play();
    void Term();
};

extern music music_set[10];
