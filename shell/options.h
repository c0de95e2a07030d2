#pragma once
// The game's own command-line options. They start with "--"; every other argument (GLUT's
// -display, -geometry, ...) stays in argv for glutInit.
#include <string>

struct game_options {
    bool help = false;
    bool version = false;
    bool play = false; // no console menu: start as if "1" were answered
    std::string data;  // the game folder to run in; empty: the working folder
    // Demos (shell/demo.h); file names made absolute before --data changes the folder.
    std::string record, playdemo, timedemo;
    bool ranking = false; // a playback enters its result into ranking.dat
    // Settings (shell/settings.h): the file to read instead of the usual one, and the keys
    // the command line sets.
    std::string config;
    std::string scale;
    bool fullscreen = false;
    bool show_settings = false; // print the effective settings and exit
    std::string lang;           // --lang: "ja" or a catalog's code; empty: the environment's
};

extern game_options options;
extern const char *const tarmik_version;

// Takes the game's options out of argc/argv and acts on those that end the program or change
// its folder: --help and --version print and exit with 0; an unknown option or a missing
// value prints one line and exits with 2; --data enters the folder (exit 1 when it cannot)
// and opens the game's files there.
void take_options(int &argc, char **argv);
