#pragma once
// The player's settings: "key = value" lines and "#" comments in
// ${XDG_CONFIG_HOME:-~/.config}/tarmik/tarmik.conf, or in the file --config names; read once at
// start-up, never written. One table (settings.cpp) holds every key with the values it takes,
// its default and its help: the file, the help, --settings and tarmik-sim's --set all go
// through it. Options on the command line win over the file.
#include <string>
#include <vector>

#include "platform/platform.h"

struct game_settings {
    int scale = 1;            // the window shows each frame pixel N x N times; 0: auto
    bool fullscreen = false;  //
    bool linear = false;      // filter = linear: the frame fills the window, smoothed
    double sensitivity = 1.0; // frame pixels of panning per frame pixel of pointer motion
    bool messages = false;    // the console's notices and the ranking listing in the window too
    int music_volume = 100;   // percent
    int effects_volume = 100; // percent
    std::string language;     // "ja" or a catalog's code; empty: as the environment asks
    std::string server;       // the shared ranking's address (http:// or https://); empty: none
    std::string player;       // the name its games go under, UTF-8
};

extern game_settings settings;

// The window needs the scaled frame (off screen, shown scaled) from the start.
bool scaled_frame(const game_settings &s);
// How the window is to show the frames, as the platform takes it.
plat_frame_setup frame_setup(const game_settings &s);

// Where each key's value came from ("default", "FILE:LINE", "--scale"), in the table's order.
struct setting_source {
    std::string key, value, from;
};

// Reads settings text as the file name holds it into s, line by line: a line that is not
// "key = value", an unknown key or a value out of range is left out, with one line for it in
// warnings ("tarmik: NAME:LINE: ...\n"); the rest applies. from[key] is set for each key read.
void read_settings(const std::string &text, const std::string &name, game_settings &s,
                   std::vector<setting_source> &from, std::string &warnings);
// Sets one key as an option does; false with error set when the key or the value is not one.
bool set_setting(const std::string &key, const std::string &value, const std::string &from,
                 game_settings &s, std::vector<setting_source> &sources, std::string &error);

// At start-up, after the options: the file (--config's, or the player's usual one, which may be
// missing), then the options that set keys. Warnings go to standard error. Returns false with a
// one-line error when the file --config names cannot be read.
bool load_settings(std::string &error);
// The effective values and where each came from, as lines of a settings file.
std::string settings_report();
// The settings part of --help: every key with its values, default and help.
std::string settings_help();
// The usual file: ${XDG_CONFIG_HOME:-$HOME/.config}/tarmik/tarmik.conf; empty without a home.
std::string settings_path();
