// The sound services on SDL2_mixer: music devices ("sequencer" MIDI through FluidSynth,
// "waveaudio" WAVE files) and the effect channel. Audio starts on first use; without a
// device everything is silent, and standard error says so once.
#include "platform/platform.h"
#include "platform/media.h"

#include "base/wave.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>
#include <dlfcn.h>
#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char *const general_midi_font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int mix_rate = 44100;
constexpr int mix_channels = 8;
// Reserved for effects, so music devices never take it and a new effect cuts off the last.
constexpr int effect_channel = 0;

using namespace media_result;

void quiet_sdl(void *, int, SDL_LogPriority, const char *) {}
void quiet_alsa(const char *, int, const char *, int, const char *, ...) {}
void quiet_fluid(int, const char *, void *) {}
void quiet_glib(const char *, int, const char *, void *) {}

// SDL, ALSA (on a machine without a sound card) and FluidSynth (on soundfont trouble) would
// each write to the console on their own. Their loggers are reached through the loader
// because SDL opens ALSA itself and FluidSynth comes in with SDL2_mixer.
void silence_libraries() {
    SDL_LogSetOutputFunction(quiet_sdl, nullptr);

    using alsa_handler = void (*)(const char *, int, const char *, int, const char *, ...);
    using alsa_setter = int (*)(alsa_handler);
    // Kept loaded, so SDL finds this very copy with the handler in place.
    if (void *alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL)) {
        if (auto set = reinterpret_cast<alsa_setter>(dlsym(alsa, "snd_lib_error_set_handler")))
            set(quiet_alsa);
    }

    using fluid_logger = void (*)(int, const char *, void *);
    using fluid_setter = fluid_logger (*)(int, fluid_logger, void *);
    void *fluid = dlsym(RTLD_DEFAULT, "fluid_set_log_function");
    if (!fluid) {
        if (void *lib = dlopen("libfluidsynth.so.3", RTLD_NOW | RTLD_GLOBAL))
            fluid = dlsym(lib, "fluid_set_log_function");
    }
    if (auto set = reinterpret_cast<fluid_setter>(fluid)) {
        for (int level = 0; level <= 4; ++level) // panic .. debug
            set(level, quiet_fluid, nullptr);
    }
    // FluidSynth reads some soundfonts through libinstpatch, which complains through GLib.
    using glib_logger = void (*)(const char *, int, const char *, void *);
    using glib_setter = glib_logger (*)(glib_logger, void *);
    if (auto set = reinterpret_cast<glib_setter>(dlsym(RTLD_DEFAULT, "g_log_set_default_handler")))
        set(quiet_glib, nullptr);
}

// A short two-tone beep as a mono 16-bit WAVE image: what a missing effect file plays.
std::vector<uint8_t> beep_wave() {
    const int n = mix_rate * 18 / 100;
    std::vector<int16_t> pcm(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / mix_rate;
        const double f = i < n / 2 ? 988 : 784;
        const double env = std::fmin(1.0, std::fmin(t / 0.005, (n - i) / (0.01 * mix_rate)));
        const double v = 0.5 * env * std::sin(2 * M_PI * f * t);
        pcm[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(v * 32767));
    }
    return wave_file(pcm, mix_rate);
}

struct device {
    Mix_Music *song;  // "sequencer"
    Mix_Chunk *sound; // "waveaudio"
    int channel;      // where the sound last started, or -1
};

class sdl_media : public media_control {
  public:
    uint32_t open(const char *type, const char *file, uint32_t *deviceID) override {
        if (!running()) return no_audio;
        device d{nullptr, nullptr, -1};
        if (strcasecmp(type, "sequencer") == 0) {
            SDL_RWops *src = SDL_RWFromFile(file, "rb");
            if (!src) return cannot_load;
            // FluidSynth would take any file and play nothing: a sequencer wants MIDI.
            char magic[4] = {};
            if (SDL_RWread(src, magic, 1, 4) != 4 || std::memcmp(magic, "MThd", 4) != 0 ||
                SDL_RWseek(src, 0, RW_SEEK_SET) != 0) {
                SDL_RWclose(src);
                return cannot_load;
            }
            d.song = Mix_LoadMUSType_RW(src, MUS_MID, 1);
            if (!d.song) return cannot_load;
        } else if (strcasecmp(type, "waveaudio") == 0) {
            d.sound = Mix_LoadWAV(file);
            if (!d.sound) return cannot_load;
        } else {
            return no_such_type; // "cdaudio": there is no CD drive to play
        }
        const uint32_t id = next_id_++;
        devices_[id] = d;
        *deviceID = id;
        return 0;
    }

    uint32_t play(uint32_t deviceID) override {
        auto it = devices_.find(deviceID);
        if (it == devices_.end()) return no_such_device;
        device &d = it->second;
        if (d.song) return Mix_PlayMusic(d.song, 0) == 0 ? 0 : cannot_play;
        if (d.channel >= 0 && Mix_GetChunk(d.channel) == d.sound) Mix_HaltChannel(d.channel);
        d.channel = Mix_PlayChannel(-1, d.sound, 0);
        return d.channel >= 0 ? 0 : cannot_play;
    }

    uint32_t close(uint32_t deviceID) override {
        auto it = devices_.find(deviceID);
        if (it == devices_.end()) return no_such_device;
        // both stop their playback before they let go
        if (it->second.song) Mix_FreeMusic(it->second.song);
        if (it->second.sound) Mix_FreeChunk(it->second.sound);
        devices_.erase(it);
        return 0;
    }

    void effect(const char *file) override {
        if (!running()) return;
        // Starting on a busy channel replaces its sound within one lock of the mixer, so
        // the new effect follows the cut-off one without a gap.
        if (Mix_Chunk *c = effect_chunk(file))
            Mix_PlayChannel(effect_channel, c, 0);
        else
            Mix_HaltChannel(effect_channel);
    }

    // Percentages of the full level; the mixer takes them when it starts, or at once.
    void volumes(int music, int effects) {
        music_volume_ = music;
        effects_volume_ = effects;
        volumes_asked_ = true;
        if (state_ == 1) apply_volumes();
    }

    // At process end: a clean close lets a disk or network driver finish what it writes.
    void stop() {
        if (state_ != 1) return;
        Mix_HaltChannel(-1);
        Mix_HaltMusic();
        for (auto &[id, d] : devices_) {
            if (d.song) Mix_FreeMusic(d.song);
            if (d.sound) Mix_FreeChunk(d.sound);
        }
        devices_.clear();
        for (auto &[name, c] : effects_)
            Mix_FreeChunk(c);
        effects_.clear();
        Mix_FreeChunk(beep_);
        beep_ = nullptr;
        Mix_CloseAudio();
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        state_ = -1;
    }

  private:
    void apply_volumes() {
        // Left at the mixer's own full level unless asked otherwise.
        if (!volumes_asked_) return;
        Mix_VolumeMusic(music_volume_ * MIX_MAX_VOLUME / 100);
        Mix_Volume(-1, effects_volume_ * MIX_MAX_VOLUME / 100);
    }

    bool running() {
        if (state_ == 0) state_ = start() ? 1 : -1;
        return state_ == 1;
    }

    // Said once, on standard error: the console's standard output keeps its exact bytes.
    static bool no_device() {
        std::fprintf(stderr, "tarmik: no sound device (%s); playing without sound\n",
                     SDL_GetError());
        std::fflush(stderr);
        return false;
    }

    bool start() {
        silence_libraries();
        // The game ends on its own terms; SDL must not swallow Ctrl-C or a kill.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return no_device();
        Mix_Init(MIX_INIT_MID);
        Mix_SetSoundFonts(general_midi_font);
        if (Mix_OpenAudio(mix_rate, AUDIO_S16LSB, 2, 1024) != 0) {
            no_device();
            Mix_Quit();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        Mix_AllocateChannels(mix_channels);
        Mix_ReserveChannels(effect_channel + 1);
        apply_volumes();
        const std::vector<uint8_t> beep = beep_wave();
        beep_ = Mix_LoadWAV_RW(SDL_RWFromConstMem(beep.data(), static_cast<int>(beep.size())), 1);
        std::atexit([] { static_cast<sdl_media *>(plat_media())->stop(); });
        return true;
    }

    // Effects are loaded once and kept; a file that cannot be read gives the beep.
    Mix_Chunk *effect_chunk(const char *file) {
        if (!file) return beep_;
        auto it = effects_.find(file);
        if (it != effects_.end()) return it->second;
        Mix_Chunk *c = Mix_LoadWAV(file);
        if (!c) return beep_;
        effects_[file] = c;
        return c;
    }

    int state_ = 0; // 0 not started yet, 1 running, -1 no audio
    int music_volume_ = 100, effects_volume_ = 100;
    bool volumes_asked_ = false;
    uint32_t next_id_ = 1;
    std::map<uint32_t, device> devices_;
    std::map<std::string, Mix_Chunk *> effects_;
    Mix_Chunk *beep_ = nullptr;
};

} // namespace

media_control *plat_media() {
    static sdl_media m;
    return &m;
}

void plat_set_volumes(int music, int effects) {
    static_cast<sdl_media *>(plat_media())->volumes(music, effects);
}
