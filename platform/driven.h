#pragma once
// The pointer when a driver moves it instead of a player: the scripted driver, a demo played
// back, a test. Every platform keeps one. Its warps, hiding and confinement are not carried
// out but noted, and the window is taken to stand where the game asked for it, with no window
// manager around it: client area at (client_left, client_top) on the screen. That is also
// where each warp's echo comes back from: a warp to screen point (x, y) is echoed at window
// point (x - client_left, y - client_top).
#include <vector>

#include "platform/motion.h"
#include "platform/platform.h"

class driven_pointer {
  public:
    static constexpr int client_left = 1, client_top = 1;
    // Noted operations kept for whoever follows them; older ones are let go.
    static constexpr size_t kept_events = 256;

    explicit driven_pointer(motion_merge &merge) : merge_(merge) {}
    // As at start-up: nothing noted, not confined.
    void reset() {
        events_.clear();
        confined_ = false;
    }
    void warp(int x, int y);
    void hide();
    void confine(bool on);
    // The window's outer rectangle for a client of w x h.
    plat_rect window_rect(int w, int h) const;
    std::vector<plat_event> &events();

  private:
    void note(const char *what, int x, int y);
    motion_merge &merge_;
    std::vector<plat_event> events_;
    bool confined_ = false;
};
