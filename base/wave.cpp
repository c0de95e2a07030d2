#include "base/wave.h"

std::vector<uint8_t> wave_file(const std::vector<int16_t> &pcm, uint32_t rate) {
    std::vector<uint8_t> b;
    auto tag = [&](const char *s) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(s[i]));
    };
    auto le = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t data = static_cast<uint32_t>(pcm.size() * 2);
    tag("RIFF");
    le(36 + data, 4);
    tag("WAVE");
    tag("fmt ");
    le(16, 4);
    le(1, 2); // PCM
    le(1, 2); // mono
    le(rate, 4);
    le(rate * 2, 4);
    le(2, 2);
    le(16, 2);
    tag("data");
    le(data, 4);
    for (int16_t v : pcm)
        le(static_cast<uint16_t>(v), 2);
    return b;
}
