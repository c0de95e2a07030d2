#include "platform/driven.h"

void driven_pointer::note(const char *what, int x, int y) {
    // A playback of millions of motions must not pile up their warps.
    if (events_.size() >= kept_events)
        events_.erase(events_.begin(), events_.begin() + kept_events / 2);
    events_.push_back({what, x, y});
}

void driven_pointer::warp(int x, int y) {
    note("warp", x, y);
    merge_.warped(x - client_left, y - client_top);
}

void driven_pointer::hide() {
    note("hide", 0, 0);
}

void driven_pointer::confine(bool on) {
    if (on == confined_) return;
    confined_ = on;
    note(on ? "confine" : "free", 0, 0);
}

plat_rect driven_pointer::window_rect(int w, int h) const {
    return {client_left, client_top, client_left + w, client_top + h};
}

std::vector<plat_event> &driven_pointer::events() {
    return events_;
}
