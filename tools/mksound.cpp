// Writes the game's sound files into a folder: the background music "bgm.mid" (a Standard
// MIDI File, D minor, about 88 seconds) and the effects "shot.wav", "kara.wav", "ata.wav"
// (16-bit mono PCM at 44100 Hz, synthesised).
//
// usage: tarmik-mksound OUTPUT_DIR
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/wave.h"

namespace {

// ---------------------------------------------------------------- MIDI

constexpr int ppq = 480;
constexpr int quarter = ppq;
constexpr int eighth = ppq / 2;
constexpr int sixteenth = ppq / 4;
constexpr int bar_len = ppq * 4;

struct midi_event {
    uint32_t tick;
    int order; // at one tick: set-up first, then note-offs, then note-ons
    std::vector<uint8_t> bytes;
};

class midi_track {
  public:
    void meta(uint32_t tick, uint8_t type, const std::vector<uint8_t> &data) {
        std::vector<uint8_t> b{0xFF, type};
        put_vlq(b, static_cast<uint32_t>(data.size()));
        b.insert(b.end(), data.begin(), data.end());
        events_.push_back({tick, 0, b});
    }
    void program(uint32_t tick, int ch, int prog) {
        events_.push_back({tick, 0, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(prog)}});
    }
    void control(uint32_t tick, int ch, int cc, int value) {
        events_.push_back({tick,
                           0,
                           {static_cast<uint8_t>(0xB0 | ch), static_cast<uint8_t>(cc),
                            static_cast<uint8_t>(value)}});
    }
    void note(uint32_t tick, uint32_t len, int ch, int key, int vel) {
        vel = std::clamp(vel, 1, 127);
        events_.push_back({tick,
                           2,
                           {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(key),
                            static_cast<uint8_t>(vel)}});
        events_.push_back(
            {tick + len, 1, {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(key), 64}});
    }

    // The MTrk chunk, ending at `end` (or at the last event if later).
    std::vector<uint8_t> chunk(uint32_t end) const {
        std::vector<midi_event> ev = events_;
        std::stable_sort(ev.begin(), ev.end(), [](const midi_event &a, const midi_event &b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        std::vector<uint8_t> body;
        uint32_t now = 0;
        for (const midi_event &e : ev) {
            put_vlq(body, e.tick - now);
            now = e.tick;
            body.insert(body.end(), e.bytes.begin(), e.bytes.end());
        }
        put_vlq(body, end > now ? end - now : 0);
        body.insert(body.end(), {0xFF, 0x2F, 0x00});
        std::vector<uint8_t> out{'M', 'T', 'r', 'k'};
        put_be(out, static_cast<uint32_t>(body.size()), 4);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

    static void put_vlq(std::vector<uint8_t> &b, uint32_t v) {
        uint8_t tmp[5];
        int n = 0;
        tmp[n++] = v & 0x7F;
        while (v >>= 7)
            tmp[n++] = static_cast<uint8_t>((v & 0x7F) | 0x80);
        while (n > 0)
            b.push_back(tmp[--n]);
    }
    static void put_be(std::vector<uint8_t> &b, uint32_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }

  private:
    std::vector<midi_event> events_;
};

// Pitch classes and chords of the piece.
enum { C = 0, Cs = 1, D = 2, Eb = 3, E = 4, F = 5, G = 7, A = 9, Bb = 10 };
struct chord {
    int root;   // pitch class
    bool minor; // else major
    int tone(int i) const { return root + (i == 0 ? 0 : i == 1 ? (minor ? 3 : 4) : 7); }
};
constexpr chord Dm{D, true}, Gm{G, true}, BbM{Bb, false}, CM{C, false}, AM{A, false},
    EbM{Eb, false}, FM{F, false};

// Sections, eight bars to a phrase except intro, break and outro.
enum style { intro, verse, verse_arp, bridge, breakdown, climax, outro };
struct section {
    style s;
    std::vector<chord> chords;
};

// A melody as (MIDI key, length in eighths); key 0 is a rest.
using melody = std::vector<std::pair<int, int>>;

const melody theme_a = {
    {74, 2}, {69, 1}, {74, 1}, {77, 2}, {76, 1}, {74, 1}, // Dm
    {72, 1}, {74, 1}, {76, 2}, {69, 4},                   // Dm
    {70, 2}, {74, 1}, {77, 1}, {82, 2}, {81, 1}, {79, 1}, // Bb
    {79, 2}, {77, 1}, {76, 1}, {72, 2}, {76, 2},          // C
    {74, 2}, {69, 1}, {74, 1}, {77, 2}, {79, 1}, {81, 1}, // Dm
    {81, 1}, {79, 1}, {77, 1}, {76, 1}, {77, 2}, {74, 2}, // Dm
    {82, 2}, {81, 1}, {79, 1}, {77, 2}, {76, 1}, {77, 1}, // Bb
    {76, 3}, {73, 1}, {69, 4},                            // A
};
// The same phrase climbing into the bridge.
melody theme_a_rise() {
    melody m(theme_a.begin(), theme_a.end() - 3);
    m.insert(m.end(), {{76, 2}, {73, 2}, {76, 2}, {81, 2}});
    return m;
}
const melody theme_b = {
    {79, 4}, {81, 2}, {82, 2},          // Gm
    {81, 4}, {79, 2}, {74, 2},          // Gm
    {75, 4}, {79, 2}, {82, 2},          // Eb
    {84, 6}, {82, 2},                   // Eb
    {81, 4}, {84, 2}, {81, 2},          // F
    {79, 4}, {76, 2}, {79, 2},          // C
    {81, 2}, {85, 2}, {88, 2}, {85, 2}, // A
    {81, 8},                            // A
};

// Channels and General MIDI programs (numbered from 0).
enum {
    ch_lead = 0,
    ch_bass = 1,
    ch_strings = 2,
    ch_brass = 3,
    ch_arp = 4,
    ch_timpani = 5,
    ch_drums = 9
};
enum {
    kick = 36,
    snare = 38,
    hat_closed = 42,
    hat_open = 46,
    crash = 49,
    ride = 51,
    tom_low = 45,
    tom_high = 50,
    tom_floor = 41
};

int bass_key(const chord &c) {
    return 36 + (c.root > G ? c.root - 12 : c.root);
}

// Chord tones placed between lo and hi, ascending.
std::vector<int> voicing(const chord &c, int lo, int hi) {
    std::vector<int> keys;
    for (int k = lo; k <= hi; ++k)
        for (int i = 0; i < 3; ++i)
            if ((k - c.tone(i)) % 12 == 0) keys.push_back(k);
    return keys;
}

uint32_t play_melody(midi_track &t, uint32_t start, const melody &m, int ch, int vel, int shift) {
    uint32_t at = start;
    for (auto [key, len] : m) {
        uint32_t ticks = static_cast<uint32_t>(len) * eighth;
        if (key) t.note(at, ticks - 20, ch, key + shift, vel + (at % quarter == 0 ? 8 : 0));
        at += ticks;
    }
    return at;
}

void drum_bar(midi_track &t, uint32_t at, style s, bool last_of_phrase) {
    // the fill takes the last beat from everything but the cymbals
    auto hit = [&](int step16, int key, int vel, bool fill = false) {
        const bool cymbal = key == hat_closed || key == hat_open || key == ride;
        if (last_of_phrase && !fill && !cymbal && step16 >= 12) return;
        t.note(at + static_cast<uint32_t>(step16) * sixteenth, sixteenth, ch_drums, key, vel);
    };
    switch (s) {
    case intro:
        for (int i = 0; i < 8; ++i)
            hit(i * 2, hat_closed, i % 2 ? 60 : 80);
        hit(0, kick, 110);
        hit(8, kick, 100);
        break;
    case verse:
    case verse_arp:
        for (int i = 0; i < 8; ++i)
            hit(i * 2, i == 7 ? hat_open : hat_closed, i % 2 ? 65 : 90);
        hit(0, kick, 115);
        hit(6, kick, 95);
        hit(8, kick, 110);
        hit(4, snare, 110);
        hit(12, snare, 112);
        break;
    case bridge:
    case climax:
    case outro:
        for (int i = 0; i < 16; ++i)
            hit(i, s == bridge ? ride : hat_closed, i % 4 == 0 ? 95 : i % 2 ? 55 : 75);
        for (int step : {0, 3, 6, 8, 10, 11})
            hit(step, kick, step % 4 == 0 ? 118 : 100);
        hit(4, snare, 115);
        hit(12, snare, 118);
        break;
    case breakdown:
        for (int i = 0; i < 8; ++i)
            hit(i * 2, hat_closed, 50);
        hit(0, tom_floor, 110);
        hit(3, tom_floor, 90);
        hit(8, tom_floor, 110);
        hit(10, tom_low, 95);
        hit(14, tom_high, 90);
        break;
    }
    if (last_of_phrase) {
        // loudest into the next downbeat
        const int fill[4] = {snare, snare, tom_high, tom_low};
        for (int i = 0; i < 4; ++i)
            hit(12 + i, fill[i], 100 + 6 * i, true);
    }
}

std::vector<uint8_t> make_bgm() {
    const std::vector<chord> a_chords = {Dm, Dm, BbM, CM, Dm, Dm, BbM, AM};
    const std::vector<section> form = {
        {intro, {Dm, Dm, Dm, AM}}, {verse, a_chords},
        {verse_arp, a_chords},     {bridge, {Gm, Gm, EbM, EbM, FM, CM, AM, AM}},
        {verse, a_chords},         {breakdown, {Dm, EbM, Dm, EbM}},
        {climax, a_chords},        {outro, {Dm, BbM, AM, Dm}},
    };

    midi_track conductor, lead, bass, strings, brass, arp, timpani, drums;

    conductor.meta(0, 0x03, {'T', 'A', 'R', 'M', 'I', 'K', ' ', 'B', 'G', 'M'});
    conductor.meta(0, 0x58, {4, 2, 24, 8}); // 4/4
    conductor.meta(0, 0x59, {0xFF, 1});     // D minor
    auto tempo = [&](uint32_t tick, int bpm) {
        uint32_t us = 60000000u / static_cast<uint32_t>(bpm);
        conductor.meta(tick, 0x51,
                       {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8),
                        static_cast<uint8_t>(us)});
    };
    tempo(0, 140);

    struct setup {
        midi_track *t;
        int ch, prog, volume, pan, reverb;
    };
    const setup setups[] = {
        {&lead, ch_lead, 81, 60, 64, 40},       // Lead 2 (sawtooth)
        {&bass, ch_bass, 38, 71, 64, 10},       // Synth Bass 1
        {&strings, ch_strings, 48, 34, 40, 70}, // String Ensemble 1
        {&brass, ch_brass, 61, 107, 88, 40},    // Brass Section
        {&arp, ch_arp, 80, 97, 100, 50},        // Lead 1 (square)
        {&timpani, ch_timpani, 47, 88, 64, 60}, // Timpani
        {&drums, ch_drums, 0, 72, 64, 30},      // Standard kit
    };
    for (const setup &s : setups) {
        s.t->program(0, s.ch, s.prog);
        s.t->control(0, s.ch, 7, s.volume);
        s.t->control(0, s.ch, 10, s.pan);
        s.t->control(0, s.ch, 91, s.reverb);
    }

    uint32_t at = 0;
    for (const section &sec : form) {
        const uint32_t start = at;
        const int bars = static_cast<int>(sec.chords.size());
        if (sec.s == climax) tempo(start, 150);

        // melody
        switch (sec.s) {
        case verse:
            play_melody(lead, start, theme_a, ch_lead, 92, 0);
            break;
        case verse_arp:
            play_melody(lead, start, theme_a_rise(), ch_lead, 96, 0);
            break;
        case bridge:
            play_melody(lead, start, theme_b, ch_lead, 100, 0);
            break;
        case climax:
            play_melody(lead, start, theme_a, ch_lead, 108, 0);
            play_melody(brass, start, theme_a, ch_brass, 108, -12);
            break;
        default:
            break;
        }

        for (int b = 0; b < bars; ++b) {
            const chord &c = sec.chords[static_cast<size_t>(b)];
            const uint32_t t0 = start + static_cast<uint32_t>(b) * bar_len;
            const bool last_bar = b == bars - 1;
            const bool final_bar = sec.s == outro && last_bar;

            // bass: driving eighths on root, octave and fifth; quarters in the breakdown
            const int root = bass_key(c);
            if (final_bar) {
                bass.note(t0, bar_len - 60, ch_bass, root, 120);
            } else if (sec.s == breakdown) {
                for (int q = 0; q < 4; ++q)
                    bass.note(t0 + q * quarter, quarter - 60, ch_bass, root, q == 0 ? 115 : 90);
            } else {
                const int steps[8] = {0, 0, 12, 0, 0, 12, 7, 12};
                for (int e = 0; e < 8; ++e)
                    bass.note(t0 + e * eighth, eighth - 40, ch_bass, root + steps[e],
                              e % 2 ? 88 : 108);
            }

            // strings hold the chord; quieter in the intro, swelling in the breakdown
            if (sec.s != intro || b >= 2) {
                int vel = sec.s == breakdown ? 60 + 12 * b : sec.s == intro ? 55 : 72;
                for (int k : voicing(c, 55, 67))
                    strings.note(t0, bar_len - 10, ch_strings, k, vel);
                if (sec.s == bridge || sec.s == climax)
                    strings.note(t0, bar_len - 10, ch_strings, c.root + 72, vel - 6);
            }

            // brass stabs on the one and the and-of-two
            if (sec.s == bridge || sec.s == outro) {
                for (int k : voicing(c, 58, 70)) {
                    if (final_bar) {
                        brass.note(t0, bar_len - 10, ch_brass, k, 115);
                    } else {
                        brass.note(t0, eighth - 30, ch_brass, k, 112);
                        brass.note(t0 + 3 * eighth, eighth - 30, ch_brass, k, 104);
                    }
                }
            }

            // arpeggio in sixteenths, up and down the chord
            if (sec.s == verse_arp || sec.s == climax || sec.s == breakdown) {
                std::vector<int> keys = voicing(c, 62, 84);
                const int n = static_cast<int>(keys.size());
                for (int s = 0; s < 16; ++s) {
                    const int cycle = 2 * (n - 1);
                    int i = s % cycle;
                    if (i >= n) i = cycle - i;
                    arp.note(t0 + s * sixteenth, sixteenth - 15, ch_arp,
                             keys[static_cast<size_t>(i)], s % 4 == 0 ? 92 : 74);
                }
            }

            // timpani at the openings and the dark half-step of the breakdown
            if ((sec.s == intro && b == 0) || (sec.s == climax && b == 0) || final_bar ||
                (sec.s == breakdown && b % 2 == 1)) {
                timpani.note(t0, quarter * 2, ch_timpani, 38 + (c.root == Eb ? 1 : 0), 118);
            }

            // drums
            if (final_bar) {
                drums.note(t0, quarter, ch_drums, crash, 127);
                drums.note(t0, quarter, ch_drums, kick, 127);
            } else {
                if (b == 0 && sec.s != intro)
                    drums.note(t0, quarter, ch_drums, crash, sec.s == climax ? 127 : 110);
                drum_bar(drums, t0, sec.s, last_bar);
            }
        }
        at = start + static_cast<uint32_t>(bars) * bar_len;
    }

    const uint32_t end = at;
    std::vector<uint8_t> file{'M', 'T', 'h', 'd'};
    midi_track::put_be(file, 6, 4);
    midi_track::put_be(file, 1, 2); // format 1
    midi_track::put_be(file, 8, 2); // tracks
    midi_track::put_be(file, ppq, 2);
    for (midi_track *t : {&conductor, &lead, &bass, &strings, &brass, &arp, &timpani, &drums}) {
        std::vector<uint8_t> c = t->chunk(end);
        file.insert(file.end(), c.begin(), c.end());
    }
    return file;
}

// ---------------------------------------------------------------- WAVE

constexpr int rate = 44100;
constexpr double pi = 3.14159265358979323846;

// Repeatable white noise in [-1, 1].
class noise {
  public:
    explicit noise(uint32_t seed) : s_(seed) {}
    double next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return static_cast<double>(s_) / 2147483648.0 - 1.0;
    }

  private:
    uint32_t s_;
};

// One-pole low-pass filter.
struct lowpass {
    double y = 0;
    double step(double x, double cutoff) {
        double a = 1.0 - std::exp(-2.0 * pi * cutoff / rate);
        y += a * (x - y);
        return y;
    }
};

// Scales to the given peak and fades the last milliseconds so the end does not click.
std::vector<int16_t> finish(std::vector<double> s, double peak) {
    double m = 1e-9;
    for (double v : s)
        m = std::max(m, std::fabs(v));
    const size_t fade = std::min<size_t>(s.size(), rate / 100);
    std::vector<int16_t> out(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        double v = s[i] / m * peak;
        if (i + fade >= s.size()) v *= static_cast<double>(s.size() - 1 - i) / fade;
        out[i] = static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
    }
    return out;
}

// A rifle shot: a bright crack, a low boom falling in pitch, and a rumbling tail.
std::vector<int16_t> make_shot() {
    const size_t n = rate * 8 / 10;
    std::vector<double> s(n);
    noise rnd(0x5EED1234);
    lowpass body, tail;
    double phase = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double attack = std::min(1.0, t / 0.0008);
        const double w = rnd.next();
        const double crack = w * std::exp(-t / 0.004);
        const double burst = body.step(w, 600 + 7000 * std::exp(-t / 0.03)) * std::exp(-t / 0.06);
        const double rumble = tail.step(w, 300) * std::exp(-t / 0.2) * 1.6;
        const double f = 45 + 140 * std::exp(-t / 0.03);
        phase += 2 * pi * f / rate;
        const double boom = std::sin(phase) * std::exp(-t / 0.09);
        s[i] = attack * (0.8 * crack + 1.5 * burst + rumble + 0.6 * boom);
    }
    return finish(s, 0.92);
}

// Dry fire: the trigger's light tick, then the hammer falling on an empty chamber.
std::vector<int16_t> make_kara() {
    const size_t n = rate * 14 / 100;
    std::vector<double> s(n);
    noise rnd(0xC11C4);
    auto click = [&](double t0, double f1, double f2, double tau, double gain) {
        for (size_t i = static_cast<size_t>(t0 * rate); i < n; ++i) {
            const double t = static_cast<double>(i) / rate - t0;
            const double env = std::exp(-t / tau);
            if (env < 1e-4) break;
            const double ring = 0.6 * std::sin(2 * pi * f1 * t) + 0.4 * std::sin(2 * pi * f2 * t);
            s[i] += gain * env * (ring + 0.7 * rnd.next() * std::exp(-t / 0.0012));
        }
    };
    click(0.0, 3200, 5100, 0.004, 0.45);
    click(0.035, 1800, 4700, 0.009, 1.0);
    return finish(s, 0.75);
}

// A hit on the target: a dull thump with a short metallic clang over it.
std::vector<int16_t> make_ata() {
    const size_t n = rate * 6 / 10;
    std::vector<double> s(n);
    noise rnd(0xA7A);
    lowpass thud;
    double phase = 0;
    const double bell[3][3] = {{1046, 0.16, 0.5}, {2887, 0.08, 0.3}, {5650, 0.04, 0.2}};
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double f = 70 + 90 * std::exp(-t / 0.04);
        phase += 2 * pi * f / rate;
        double v = 1.1 * std::sin(phase) * std::exp(-t / 0.07);
        v += 1.4 * thud.step(rnd.next(), 1500) * std::exp(-t / 0.025);
        for (const auto &p : bell)
            v += 0.55 * p[2] * std::sin(2 * pi * p[0] * t) * std::exp(-t / p[1]);
        s[i] = v * std::min(1.0, t / 0.001);
    }
    return finish(s, 0.9);
}

bool write(const std::string &path, const std::vector<uint8_t> &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
    } files[] = {
        {"bgm.mid", make_bgm()},
        {"shot.wav", wave_file(make_shot(), rate)},
        {"kara.wav", wave_file(make_kara(), rate)},
        {"ata.wav", wave_file(make_ata(), rate)},
    };
    for (const auto &f : files) {
        if (!write(dir + "/" + f.name, f.bytes)) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), f.name);
            return 1;
        }
    }
    return 0;
}
