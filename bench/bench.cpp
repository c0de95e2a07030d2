#include "bench.h"

#include "flow/gamestate.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "sound/mci.h"

namespace {

// Effects cost nothing here; what is measured is the game's own work.
struct silent_media : media_control {
    uint32_t open(const char *, const char *, uint32_t *) override { return 1; }
    uint32_t play(uint32_t) override { return 1; }
    uint32_t close(uint32_t) override { return 0; }
    void effect(const char *) override {}
} silent;

} // namespace

std::string game_file(const char *name) {
    return std::string(TARMIK_GAME_DIR) + "/" + name;
}

void game_window() {
    static bool made = false;
    if (made) return;
    made = true;
    set_media(&silent);
    int argc = 1;
    char name[] = "tarmik-bench";
    char *argv[] = {name, nullptr};
    const plat_window_setup setup{1, 1, 500, 500, "tarmik-bench", "tarmik-bench", "Tarmik"};
    plat_callbacks cb{};
    cb.display = [] {};
    plat_open_window(argc, argv, setup, cb);
    // The pointer is not the benchmark's to move.
    plat_set_recording(true);
    init();
    resize(500, 500);
    for (int i = 0; i < 10; ++i)
        plat_pump_events();
}

void game_in_play() {
    gs.font.load(game_file("shnm16.f1b").c_str());
    gs.registered = 0;
    gs.started = 1;
    gs.status = 2;
    gs.gameover = 0;
    gs.energy = 10;
    gs.limitcount = 0;
    gs.stage = 0;
    key_press = KEY_NONE;
    rx = 0.0;
    ry = 90.0;
    ply = PLAYER{0.0, -120.0, 0.0};
}
