// No platform at all: runs without a display, a GL context or a sound device (the headless
// driver, the replay checker of the ranking server, the fuzzers). There is no window; the
// pointer is always a driven one; every sound is silent.
#include "platform/driven.h"
#include "platform/media.h"
#include "platform/motion.h"
#include "platform/platform.h"

#include <cstdlib>

namespace {

motion_merge merge;
driven_pointer driven(merge);

class silent_media : public media_control {
  public:
    uint32_t open(const char *, const char *, uint32_t *) override {
        return media_result::no_audio;
    }
    uint32_t play(uint32_t) override { return media_result::no_such_device; }
    uint32_t close(uint32_t) override { return media_result::no_such_device; }
    void effect(const char *) override {}
};

} // namespace

bool plat_window_possible(int, char **, std::string &why) {
    why = "this build has no window";
    return false;
}

// Each run starts with the pointer as at start-up (a fuzzer plays many in one process).
plat_window plat_driven_window(const plat_callbacks &cb) {
    merge = motion_merge();
    merge.set_handler(cb.passive_motion);
    driven.reset();
    return 0;
}

plat_window plat_open_window(int &, char **, const plat_window_setup &, const plat_callbacks &cb) {
    return plat_driven_window(cb);
}

bool plat_window_open() {
    return false;
}

// The driver owns the clock and the loop here.
void plat_arm_timer(unsigned, void (*)(int), int) {}
void plat_main_loop() {}
void plat_pump_events() {}
void plat_post_redisplay() {}
void plat_swap_buffers() {}
void plat_reshape_window(int, int) {}

void plat_set_frame(const plat_frame_setup &) {}
void plat_frame_size(int, int) {}
bool plat_frame_scaled() {
    return false;
}
void plat_set_volumes(int, int) {}

void plat_window_size(int &w, int &h) {
    w = h = 0;
}

void plat_screen_size(int &w, int &h) {
    w = h = 0;
}

bool plat_read_window(std::vector<uint8_t> &, int &, int &) {
    return false;
}

void plat_solid_sphere(double, int, int) {}
void plat_solid_cube(double) {}

plat_rect plat_window_rect(plat_window) {
    return driven.window_rect(0, 0);
}

void plat_warp_cursor(int32_t x, int32_t y) {
    driven.warp(x, y);
}

void plat_confine_pointer(plat_window, bool on) {
    driven.confine(on);
}

void plat_hide_cursor() {
    driven.hide();
}

void plat_title_text(plat_window, int32_t, int32_t, const char *, int32_t) {}

media_control *plat_media() {
    static silent_media m;
    return &m;
}

void plat_set_recording(bool) {}

bool plat_recording() {
    return true;
}

std::vector<plat_event> &plat_recorded() {
    return driven.events();
}

void plat_motion_event(int32_t x, int32_t y, bool always) {
    merge.pointer_at(x, y, always);
}

// No network: a run without a platform sends nothing.
bool plat_http_post(const std::string &, const std::string &, const std::string &, long) {
    return false;
}

std::vector<plat_http_answer> plat_http_take() {
    return {};
}

void plat_game_finished(const std::string &) {}
