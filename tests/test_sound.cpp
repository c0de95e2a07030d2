// Sound: the music player against a recording media layer, the generated sound files, and
// real playback through the SDL layer into SDL's disk audio driver (in child processes, as
// SDL reads its environment once per process).
#include "sound/mci.h"
#include "sound/music.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------- music player

// Records every command as a line of text; results are set by the test.
struct recording_media : media_control {
    std::vector<std::string> sent;
    uint32_t open_result = 0;
    uint32_t play_result = 0;
    uint32_t id_to_give = 7;

    uint32_t open(const char *type, const char *file, uint32_t *deviceID) override {
        sent.push_back(std::string("open ") + type + " " + file);
        *deviceID = id_to_give; // written even on failure: the player must not take it
        return open_result;
    }
    uint32_t play(uint32_t deviceID) override {
        sent.push_back("play " + std::to_string(deviceID));
        return play_result;
    }
    uint32_t close(uint32_t deviceID) override {
        sent.push_back("close " + std::to_string(deviceID));
        return 0;
    }
    void effect(const char *file) override { sent.push_back(std::string("effect ") + file); }
};

class music_player : public ::testing::Test {
  protected:
    void SetUp() override { set_media(&rec); }
    void TearDown() override { set_media(nullptr); }
    recording_media rec;
};

using lines = std::vector<std::string>;

TEST_F(music_player, players_start_closed) {
    for (const music &m : music_set) {
        EXPECT_EQ(m.opened, 0);
        EXPECT_EQ(m.deviceID, 0u);
    }
}

TEST_F(music_player, init_chooses_the_device_type_by_number) {
    const std::pair<int32_t, const char *> cases[] = {
        {1, "waveaudio"}, {2, "sequencer"}, {3, "cdaudio"},
        {0, "waveaudio"}, {4, "waveaudio"}, {-1, "waveaudio"},
    };
    for (auto [type, name] : cases) {
        rec.sent.clear();
        rec.id_to_give = 40 + static_cast<uint32_t>(type + 1);
        music m;
        EXPECT_EQ(m.Init(type, "bgm.mid"), 1) << type;
        EXPECT_EQ(rec.sent, lines{std::string("open ") + name + " bgm.mid"}) << type;
        EXPECT_EQ(m.opened, 1);
        EXPECT_EQ(m.deviceID, rec.id_to_give);
    }
}

TEST_F(music_player, play_on_a_never_opened_player_sends_nothing) {
    music m;
    EXPECT_EQ(m.Play(), 1);
    m.Term();
    EXPECT_TRUE(rec.sent.empty());
}

TEST_F(music_player, failed_open_leaves_the_player_closed_and_silent) {
    music m;
    rec.id_to_give = 3;
    ASSERT_EQ(m.Init(2, "bgm.mid"), 1);
    m.Term();
    rec.sent.clear();
    rec.open_result = 275; // file not found
    rec.id_to_give = 99;
    EXPECT_EQ(m.Init(2, "missing.mid"), 0);
    EXPECT_EQ(m.opened, 0);
    EXPECT_EQ(m.deviceID, 3u); // the old identifier stays
    EXPECT_EQ(m.Play(), 1);
    m.Term();
    EXPECT_EQ(rec.sent, lines{"open sequencer missing.mid"});
}

TEST_F(music_player, play_starts_the_open_device_and_term_closes_it_once) {
    music m;
    ASSERT_EQ(m.Init(2, "bgm.mid"), 1);
    EXPECT_EQ(m.Play(), 1);
    EXPECT_EQ(m.opened, 1);
    m.Term();
    m.Term();
    EXPECT_EQ(m.opened, 0);
    EXPECT_EQ(rec.sent, (lines{"open sequencer bgm.mid", "play 7", "close 7"}));
}

TEST_F(music_player, failed_play_closes_the_device) {
    music m;
    ASSERT_EQ(m.Init(2, "bgm.mid"), 1);
    rec.play_result = 277;
    EXPECT_EQ(m.Play(), 0);
    EXPECT_EQ(m.opened, 0);
    EXPECT_EQ(m.Play(), 1); // now closed: nothing more is sent
    m.Term();
    EXPECT_EQ(rec.sent, (lines{"open sequencer bgm.mid", "play 7", "close 7"}));
}

TEST_F(music_player, init_on_an_open_player_does_not_close_the_first_device) {
    music m;
    rec.id_to_give = 1;
    ASSERT_EQ(m.Init(2, "a.mid"), 1);
    rec.id_to_give = 2;
    ASSERT_EQ(m.Init(1, "b.wav"), 1);
    m.Term();
    EXPECT_EQ(rec.sent, (lines{"open sequencer a.mid", "open waveaudio b.wav", "close 2"}));
}

TEST_F(music_player, effects_go_to_the_media_layer) {
    play_effect("shot.wav");
    play_effect("ata.wav");
    EXPECT_EQ(rec.sent, (lines{"effect shot.wav", "effect ata.wav"}));
}

// ---------------------------------------------------------------- file readers

std::string game_file(const char *name) {
    return std::string(TARMIK_GAME_DIR) + "/" + name;
}

uint32_t be(const std::string &b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
    return v;
}
uint32_t le(const std::string &b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
    return v;
}

// What a Standard MIDI File holds, as far as the checks need it.
struct midi_summary {
    std::string error; // empty when the file parsed
    int format = -1, tracks = 0, division = 0;
    int tempo_events = 0;
    double seconds = 0;                       // to the last end-of-track
    std::map<int, std::set<int>> programs;    // channel -> programs set
    std::map<int, int> notes;                 // channel -> note-ons
    std::set<int> drum_keys;                  // keys struck on channel 10
    int unmatched = 0;                        // note-ons without a note-off, and the reverse
    double longest_gap = 0, last_note_on = 0; // seconds
};

// Reads the whole file; throws on anything malformed.
void parse_midi(const std::string &b, midi_summary &r, std::vector<std::array<uint32_t, 3>> &ev) {
    auto need = [](bool ok, const char *what) {
        if (!ok) throw std::runtime_error(what);
    };
    need(b.size() >= 14 && b.compare(0, 4, "MThd") == 0 && be(b, 4, 4) == 6, "no MThd header");
    r.format = static_cast<int>(be(b, 8, 2));
    r.tracks = static_cast<int>(be(b, 10, 2));
    r.division = static_cast<int>(be(b, 12, 2));
    need(r.division > 0 && r.division < 0x8000, "division is not in ticks per quarter");
    std::map<int, int> sounding; // channel * 128 + key -> count
    size_t pos = 14;
    for (int t = 0; t < r.tracks; ++t) {
        need(pos + 8 <= b.size() && b.compare(pos, 4, "MTrk") == 0, "track missing");
        const size_t end = pos + 8 + be(b, pos + 4, 4);
        need(end <= b.size(), "track runs past the file");
        size_t p = pos + 8;
        uint32_t tick = 0;
        int status = 0;
        auto byte = [&] {
            need(p < end, "event cut short");
            return static_cast<uint8_t>(b[p++]);
        };
        auto vlq = [&] {
            uint32_t v = 0;
            for (int i = 0; i < 4; ++i) {
                const uint8_t c = byte();
                v = v << 7 | (c & 0x7F);
                if (!(c & 0x80)) return v;
            }
            throw std::runtime_error("variable-length number too long");
        };
        bool ended = false;
        while (!ended) {
            tick += vlq();
            need(p < end, "event cut short");
            if (b[p] & 0x80)
                status = byte();
            else
                need(status != 0, "running status without a status");
            if (status == 0xFF) {
                const uint8_t type = byte();
                const uint32_t len = vlq();
                need(p + len <= end, "meta event runs past the track");
                if (type == 0x51 && len == 3) {
                    ev.push_back({tick, 0, be(b, p, 3)});
                    ++r.tempo_events;
                }
                if (type == 0x2F) ev.push_back({tick, 2, 0});
                ended = type == 0x2F;
                p += len;
                status = 0;
            } else if (status == 0xF0 || status == 0xF7) {
                p += vlq();
                need(p <= end, "sysex runs past the track");
                status = 0;
            } else {
                const int kind = status & 0xF0, ch = status & 0x0F;
                const int d1 = byte();
                const int d2 = kind == 0xC0 || kind == 0xD0 ? 0 : byte();
                if (kind == 0xC0) r.programs[ch].insert(d1);
                if (kind == 0x90 && d2 > 0) {
                    ++r.notes[ch];
                    ++sounding[ch * 128 + d1];
                    if (ch == 9) r.drum_keys.insert(d1);
                    ev.push_back({tick, 1, 0});
                } else if (kind == 0x80 || kind == 0x90) {
                    if (sounding[ch * 128 + d1]-- <= 0) ++r.unmatched;
                }
            }
        }
        need(p == end, "data after end-of-track");
        pos = end;
    }
    for (auto &[k, n] : sounding)
        if (n > 0) r.unmatched += n;
}

midi_summary read_midi(const std::string &b) {
    midi_summary r;
    std::vector<std::array<uint32_t, 3>> events; // tick, kind (0 tempo, 1 note-on, 2 end), value
    try {
        parse_midi(b, r, events);
    } catch (const std::exception &e) {
        r.error = e.what();
        return r;
    }
    // Walk all tracks' events in time order through the tempo map.
    std::stable_sort(events.begin(), events.end(),
                     [](const auto &a, const auto &c) { return a[0] < c[0]; });
    double sec = 0, us_per_quarter = 500000, prev_note = -1;
    uint32_t at = 0;
    for (const auto &[tick, kind, value] : events) {
        sec += (tick - at) * us_per_quarter / 1e6 / r.division;
        at = tick;
        if (kind == 0) us_per_quarter = value;
        if (kind == 1) {
            if (prev_note >= 0) r.longest_gap = std::max(r.longest_gap, sec - prev_note);
            prev_note = sec;
            r.last_note_on = sec;
        }
        if (kind == 2) r.seconds = std::max(r.seconds, sec);
    }
    return r;
}

struct wave {
    std::string error;
    int channels = 0, rate = 0, bits = 0;
    std::vector<int16_t> samples; // first channel
    double seconds() const { return rate ? static_cast<double>(samples.size()) / rate : 0; }
};

wave read_wave(const std::string &b) {
    wave w;
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) {
        w.error = "not RIFF WAVE";
        return w;
    }
    size_t pos = 12;
    bool have_fmt = false;
    while (pos + 8 <= b.size()) {
        const std::string id = b.substr(pos, 4);
        const size_t len = le(b, pos + 4, 4), body = pos + 8;
        if (body + len > b.size()) break;
        if (id == "fmt " && len >= 16) {
            if (le(b, body, 2) != 1) {
                w.error = "not PCM";
                return w;
            }
            w.channels = static_cast<int>(le(b, body + 2, 2));
            w.rate = static_cast<int>(le(b, body + 4, 4));
            w.bits = static_cast<int>(le(b, body + 14, 2));
            have_fmt = true;
        } else if (id == "data" && have_fmt && w.bits == 16 && w.channels > 0) {
            const size_t frame = 2u * static_cast<size_t>(w.channels);
            for (size_t i = 0; i + frame <= len; i += frame)
                w.samples.push_back(static_cast<int16_t>(le(b, body + i, 2)));
            return w;
        }
        pos = body + len + (len & 1);
    }
    w.error = "no 16-bit fmt and data chunks";
    return w;
}

double rms(const std::vector<int16_t> &s, size_t from, size_t to) {
    to = std::min(to, s.size());
    if (from >= to) return 0;
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// ---------------------------------------------------------------- generated files

TEST(sound_files, bgm_is_a_midi_piece_of_one_to_two_minutes) {
    const std::string bytes = read_file(game_file("bgm.mid"));
    ASSERT_FALSE(bytes.empty()) << "build the sound files first";
    const midi_summary m = read_midi(bytes);
    ASSERT_EQ(m.error, "");
    EXPECT_LE(m.format, 1);
    EXPECT_GE(m.tempo_events, 1);
    EXPECT_GE(m.seconds, 60.0);
    EXPECT_LE(m.seconds, 120.0);
    EXPECT_EQ(m.unmatched, 0);
    // music all the way through: no long silences, no empty tail
    EXPECT_LT(m.longest_gap, 3.0);
    EXPECT_GT(m.last_note_on, m.seconds - 5.0);
}

TEST(sound_files, bgm_has_several_instruments_and_drums) {
    const midi_summary m = read_midi(read_file(game_file("bgm.mid")));
    ASSERT_EQ(m.error, "");
    std::set<int> instruments;
    for (auto &[ch, n] : m.notes) {
        if (ch == 9 || n < 16) continue;
        ASSERT_TRUE(m.programs.count(ch)) << "channel " << ch + 1 << " plays without a program";
        instruments.insert(m.programs.at(ch).begin(), m.programs.at(ch).end());
    }
    EXPECT_GE(instruments.size(), 3u);
    EXPECT_GE(m.notes.count(9) ? m.notes.at(9) : 0, 200);
    EXPECT_TRUE(m.drum_keys.count(36) || m.drum_keys.count(35)) << "no bass drum";
    EXPECT_TRUE(m.drum_keys.count(38) || m.drum_keys.count(40)) << "no snare";
    EXPECT_GE(m.drum_keys.size(), 4u);
}

TEST(sound_files, effects_are_short_percussive_and_audible) {
    std::map<std::string, wave> w;
    for (const char *name : {"shot.wav", "kara.wav", "ata.wav"}) {
        SCOPED_TRACE(name);
        wave s = read_wave(read_file(game_file(name)));
        ASSERT_EQ(s.error, "");
        EXPECT_EQ(s.bits, 16);
        ASSERT_GT(s.rate, 0);
        EXPECT_GT(s.seconds(), 0.03);
        EXPECT_LT(s.seconds(), 1.5);
        EXPECT_GT(rms(s.samples, 0, s.samples.size()), 1000.0); // about -30 dB of full scale
        // loudest at once, dying away to nothing at the end
        const size_t win = static_cast<size_t>(s.rate) / 100;
        double head = 0;
        for (size_t i = 0; i + win <= std::min(s.samples.size(), win * 10); i += win)
            head = std::max(head, rms(s.samples, i, i + win));
        EXPECT_GT(head, 3000.0); // -20 dB of full scale
        EXPECT_LT(rms(s.samples, s.samples.size() - win, s.samples.size()), head / 20);
        w[name] = s;
    }
    // the empty click is the shortest, well under a third of a second
    EXPECT_LT(w["kara.wav"].seconds(), 0.3);
    EXPECT_LT(w["kara.wav"].seconds(), w["shot.wav"].seconds());
    EXPECT_LT(w["kara.wav"].seconds(), w["ata.wav"].seconds());
    // a shot is a burst of noise: the waveform crosses zero very often at first
    const wave &shot = w["shot.wav"];
    const size_t n = static_cast<size_t>(shot.rate) * 3 / 100;
    int crossings = 0;
    for (size_t i = 1; i < n && i < shot.samples.size(); ++i)
        crossings += (shot.samples[i - 1] < 0) != (shot.samples[i] < 0);
    EXPECT_GT(crossings / 0.03, 3000.0);
}

// ---------------------------------------------------------------- SDL playback

struct child_run {
    int status = -1;                  // exit status, or -1 when it did not exit normally
    int signal = 0;                   // the signal that ended it, if one did
    std::string printed;              // its standard output and error together
    std::vector<int16_t> left, right; // what the disk driver wrote
};

// Runs body in a child process with the given environment, audio going to a disk file; body's
// result is the child's exit status.
child_run run_child(const std::string &name, const std::map<std::string, std::string> &env,
                    const std::function<int()> &body) {
    const std::string dir = scratch_dir("sound-" + name);
    const std::string raw = dir + "/out.raw", log = dir + "/printed.txt";
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        ::close(fd);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
        for (auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        alarm(60);
        std::exit(body()); // a normal exit: the audio layer closes and flushes its file
    }
    child_run r;
    int st = 0;
    if (pid > 0 && waitpid(pid, &st, 0) == pid) {
        if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
        if (WIFSIGNALED(st)) r.signal = WTERMSIG(st);
    }
    r.printed = read_file(log);
    const std::string bytes = read_file(raw);
    std::remove(raw.c_str());
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        r.left.push_back(static_cast<int16_t>(le(bytes, i, 2)));
        r.right.push_back(static_cast<int16_t>(le(bytes, i + 2, 2)));
    }
    return r;
}

void pause_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Mixing converts the mono effects to the device's stereo through float: a step or two off.
constexpr int tolerance = 4;

bool matches(const std::vector<int16_t> &out, size_t at, const std::vector<int16_t> &want,
             size_t from, size_t count) {
    if (at + count > out.size() || from + count > want.size()) return false;
    for (size_t j = 0; j < count; ++j)
        if (std::abs(out[at + j] - want[from + j]) > tolerance) return false;
    return true;
}

// Where the first 50 ms of want begin in out, searching from `from`; -1 if nowhere.
long find_start(const std::vector<int16_t> &out, const std::vector<int16_t> &want, size_t from) {
    const size_t n = std::min<size_t>(want.size(), 2205);
    for (size_t i = from; i + n <= out.size(); ++i)
        if (matches(out, i, want, 0, n)) return static_cast<long>(i);
    return -1;
}

class sdl_playback : public ::testing::Test {
  protected:
    void SetUp() override {
        shot = read_wave(read_file(game_file("shot.wav")));
        ata = read_wave(read_file(game_file("ata.wav")));
        ASSERT_EQ(shot.error, "") << "build the sound files first";
        ASSERT_EQ(ata.error, "");
        // the comparisons below assume the mixer's own rate
        ASSERT_EQ(shot.rate, 44100);
        ASSERT_EQ(ata.rate, 44100);
    }
    wave shot, ata;
};

TEST_F(sdl_playback, a_new_effect_cuts_off_the_one_still_playing) {
    const std::string first = game_file("shot.wav"), second = game_file("ata.wav");
    child_run r = run_child("cutoff", {}, [&] {
        play_effect(first.c_str());
        pause_ms(150);
        play_effect(second.c_str());
        pause_ms(900);
        return 0;
    });
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.printed, "");
    const long s = find_start(r.left, shot.samples, 0);
    ASSERT_GE(s, 0) << "shot.wav not heard";
    const long t = find_start(r.left, ata.samples, static_cast<size_t>(s) + 1);
    ASSERT_GT(t, s) << "ata.wav not heard after shot.wav";
    const size_t heard = static_cast<size_t>(t - s);
    // the shot was heard up to the hit, and cut off before its end ...
    EXPECT_GT(heard, 44100u / 20);
    EXPECT_LT(heard, shot.samples.size());
    EXPECT_TRUE(matches(r.left, static_cast<size_t>(s), shot.samples, 0, heard));
    // ... since from there on the output is the hit alone, not a mix with the shot's rest
    EXPECT_TRUE(matches(r.left, static_cast<size_t>(t), ata.samples, 0, ata.samples.size()));
    EXPECT_FALSE(matches(r.left, static_cast<size_t>(t), shot.samples, heard, 2205));
    // written as it is on both sides, and played once
    EXPECT_TRUE(matches(r.right, static_cast<size_t>(t), ata.samples, 0, ata.samples.size()));
    const size_t after = static_cast<size_t>(t) + ata.samples.size();
    EXPECT_GT(r.left.size(), after + 4410);
    EXPECT_EQ(rms(r.left, after, r.left.size()), 0.0);
}

TEST_F(sdl_playback, a_missing_effect_file_gives_a_short_default_sound) {
    child_run r = run_child("default", {}, [] {
        play_effect("no-such-effect.wav");
        pause_ms(1200);
        return 0;
    });
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.printed, "");
    size_t first = 0, last = 0;
    for (size_t i = 0; i < r.left.size(); ++i)
        if (std::abs(r.left[i]) > 1000) {
            if (!first) first = i;
            last = i;
        }
    ASSERT_GT(first, 0u) << "nothing audible";
    EXPECT_GT(last - first, 44100u / 20);
    EXPECT_LT(last - first, 44100u);
}

TEST_F(sdl_playback, music_plays_from_the_midi_file_alongside_effects) {
    const std::string bgm = game_file("bgm.mid"), fx = game_file("shot.wav");
    child_run r = run_child("music", {}, [&] {
        music &m = music_set[0];
        if (m.Init(2, bgm.c_str()) != 1) return 10;
        if (m.Play() != 1) return 11;
        pause_ms(1500);
        play_effect(fx.c_str());
        pause_ms(1300);
        return 0;
    });
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.printed, "");
    ASSERT_GT(r.left.size(), 44100u * 2);
    // music from the start, before the shot, and still after the shot has ended
    EXPECT_GT(rms(r.left, 4410, 44100), 500.0);
    EXPECT_GT(rms(r.right, 4410, 44100), 500.0);
    EXPECT_GT(rms(r.left, r.left.size() - 22050, r.left.size()), 500.0);
}

// Audio must not take over Ctrl-C or a kill: the game has no event loop that would see them.
TEST_F(sdl_playback, interrupt_and_terminate_still_end_the_process) {
    const std::string fx = game_file("shot.wav");
    for (int sig : {SIGINT, SIGTERM}) {
        child_run r = run_child("signal", {}, [&] {
            play_effect(fx.c_str());
            kill(getpid(), sig);
            pause_ms(500);
            return 0;
        });
        EXPECT_EQ(r.signal, sig);
        EXPECT_EQ(r.printed, "");
    }
}

TEST_F(sdl_playback, device_types_and_missing_files) {
    const std::string wav = game_file("ata.wav"), bgm = game_file("bgm.mid");
    child_run r = run_child("devices", {}, [&] {
        music m;
        if (m.Init(3, bgm.c_str()) != 0) return 10; // no CD drive
        if (m.Init(2, "no-such-music.mid") != 0) return 11;
        if (m.Init(2, wav.c_str()) != 0) return 12; // a sequencer takes MIDI only
        if (m.Init(1, wav.c_str()) != 1) return 13;
        if (m.Play() != 1) return 14;
        pause_ms(900);
        m.Term();
        return 0;
    });
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.printed, "");
    EXPECT_GE(find_start(r.left, ata.samples, 0), 0) << "the waveaudio device did not play";
}

// No device at all: SDL knows no such driver, or ALSA finds no sound card (its library
// would complain on the console), or FluidSynth finds no soundfont.
TEST_F(sdl_playback, without_audio_everything_is_silent_and_said_once_on_stderr) {
    const std::string bgm = game_file("bgm.mid"), fx = game_file("shot.wav");
    const std::string empty_conf = scratch_dir("sound-alsa-conf") + "/empty.conf";
    write_file(empty_conf, "");
    auto game_like = [&] {
        music &m = music_set[0];
        const int opened = m.Init(2, bgm.c_str());
        if (m.Play() != 1) return 20;
        play_effect(fx.c_str());
        play_effect("no-such-effect.wav");
        pause_ms(300);
        m.Term();
        return opened; // 0 or 1, told apart below
    };
    const std::map<std::string, std::string> no_driver = {{"SDL_AUDIODRIVER", "tarmik-none"}};
    const std::map<std::string, std::string> no_card = {{"SDL_AUDIODRIVER", "alsa"},
                                                        {"ALSA_CONFIG_PATH", empty_conf}};
    for (const auto &env : {no_driver, no_card}) {
        SCOPED_TRACE(env.at("SDL_AUDIODRIVER"));
        child_run r = run_child("silent", env, game_like);
        EXPECT_EQ(r.status, 0) << "the music device opened, or play failed";
        // One line, though music and two effects each tried the device.
        EXPECT_EQ(r.printed.rfind("tarmik: no sound device", 0), 0u) << r.printed;
        EXPECT_EQ(r.printed.find('\n'), r.printed.size() - 1) << r.printed;
        EXPECT_TRUE(r.left.empty());
    }
    // A broken soundfont: the music may be silent, but still not a word.
    child_run r =
        run_child("badfont", {{"SDL_FORCE_SOUNDFONTS", "1"}, {"SDL_SOUNDFONTS", fx}}, game_like);
    EXPECT_GE(r.status, 0);
    EXPECT_LE(r.status, 1);
    EXPECT_EQ(r.printed, "");
}

} // namespace
