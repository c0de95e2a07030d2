// The sound services in the page, on Web Audio. The page plays renderings made at build time
// and kept beside it: a "sequencer" plays the music rendered from its MIDI file, an effect the
// game's WAVE file compressed (the page's game folder holds no WAVE files, to stay small); an
// effect without a rendering beeps, as a missing file does. Browsers only start audio on the
// player's first gesture; what was started before begins then.
#include "platform/platform.h"
#include "platform/media.h"

#include <emscripten.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// clang-format off
EM_JS(int, js_audio_ready, (), { return tarmik.audio.available() ? 1 : 0; });
EM_JS(void, js_audio_load, (int id, const char *name, const unsigned char *bytes, int len), {
    tarmik.audio.load(id, UTF8ToString(name), len >= 0 ? HEAPU8.slice(bytes, bytes + len) : null);
});
EM_JS(void, js_audio_rendering, (int id, const char *name), {
    tarmik.audio.rendering(id, UTF8ToString(name));
});
EM_JS(void, js_audio_play, (int id), { tarmik.audio.play(id); });
EM_JS(void, js_audio_effect, (int id), { tarmik.audio.effect(id); });
EM_JS(void, js_audio_close, (int id), { tarmik.audio.close(id); });
// clang-format on

namespace {

using namespace media_result;
// The page's own beep: what a missing effect file plays.
constexpr int beep_id = 0;

bool read_file(const char *file, std::vector<unsigned char> &out) {
    FILE *f = file ? std::fopen(file, "rb") : nullptr;
    if (!f) return false;
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

class web_media : public media_control {
  public:
    uint32_t open(const char *type, const char *file, uint32_t *deviceID) override {
        if (!js_audio_ready()) return no_audio;
        std::vector<unsigned char> bytes;
        const uint32_t id = next_id_;
        if (strcasecmp(type, "sequencer") == 0) {
            // A sequencer wants MIDI; its sound is the rendering made beside the page.
            if (!read_file(file, bytes) || bytes.size() < 4 || std::memcmp(bytes.data(), "MThd", 4))
                return cannot_load;
            js_audio_rendering(static_cast<int>(id), file);
        } else if (strcasecmp(type, "waveaudio") == 0) {
            if (!read_file(file, bytes) || bytes.size() < 12 ||
                std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(bytes.data() + 8, "WAVE", 4))
                return cannot_load;
            js_audio_load(static_cast<int>(id), file, bytes.data(), static_cast<int>(bytes.size()));
        } else {
            return no_such_type;
        }
        ++next_id_;
        devices_[id] = true;
        *deviceID = id;
        return 0;
    }

    uint32_t play(uint32_t deviceID) override {
        if (!devices_.count(deviceID)) return no_such_device;
        js_audio_play(static_cast<int>(deviceID));
        return 0;
    }

    uint32_t close(uint32_t deviceID) override {
        if (!devices_.erase(deviceID)) return no_such_device;
        js_audio_close(static_cast<int>(deviceID));
        return 0;
    }

    void effect(const char *file) override {
        if (!js_audio_ready()) return;
        const std::string name = file ? file : "";
        auto it = effects_.find(name);
        if (it == effects_.end()) {
            int id = beep_id;
            if (!name.empty()) {
                id = static_cast<int>(next_id_++);
                js_audio_rendering(id, name.c_str());
            }
            it = effects_.emplace(name, id).first;
        }
        js_audio_effect(it->second);
    }

  private:
    uint32_t next_id_ = 1;
    std::map<uint32_t, bool> devices_;
    std::map<std::string, int> effects_;
};

} // namespace

media_control *plat_media() {
    static web_media m;
    return &m;
}
