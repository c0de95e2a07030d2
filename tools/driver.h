#pragma once
// The scripted driver: plays a script or a demo through the real game, callback for callback,
// in a window or without any display. tarmik-sim and tarmik-replay are this driver on the
// desktop's platform and on none.
#include <string>

struct driver_window {
    // The window's picture as a PNG file; false with error set.
    bool (*png)(const std::string &path, std::string &error);
};

// win is null where the build has no window (tarmik-replay): every run is then headless.
int driver_main(int argc, char **argv, const driver_window *win);
