// Game flow: start-up, game starts, the per-tick advance and stage changes.
#include "flow/gamestate.h"

#include <cstdint>
#include <limits>

#include "platform/platform.h"
#include "world/buttai.h"

namespace {

// Counters saturate: a title screen left idle for weeks must not overflow them.
void add(int32_t &counter, int32_t amount) {
    const int64_t sum = static_cast<int64_t>(counter) + amount;
    if (sum > std::numeric_limits<int32_t>::max())
        counter = std::numeric_limits<int32_t>::max();
    else if (sum < std::numeric_limits<int32_t>::min())
        counter = std::numeric_limits<int32_t>::min();
    else
        counter = static_cast<int32_t>(sum);
}

} // namespace

game_start_kind last_game_start = game_start_kind::none;
uint32_t game_starts = 0;

void gamestate::init() {
    registered = 0;
    font.load("shnm16.f1b"); // without the font the game simply shows no window text
    status = -1;
    energy = 10;
    gameover = 0;
    started = 0;
}

// The first game plays the stage loaded at start-up, which has been moving behind the
// title, so nothing is reloaded and energy and limit keep their start-up values.
void gamestate::syokifirst() {
    registered = 0;
    hits = 0;
    shots = 0;
    status = 0;
    stage = 0;
    plat_hide_cursor();
    started = 1;
    shothitg = 0;
    last_game_start = game_start_kind::first;
    ++game_starts;
}

void gamestate::syokinormal() {
    registered = 0;
    shots = 0;
    hits = 0;
    gameover = 0;
    energy = 10;
    status = 0;
    limitcount = 0;
    stage = 0;
    shothitg = 0;
    last_game_start = game_start_kind::restart;
    ++game_starts;
}

void gamestate::timer() {
    // Out of shots, time runs out fast: the drain applies even on the title screen.
    if (energy <= 0) add(limitcount, 50);
    if (status == 0) {
        // Every stage start grants 200 more ticks.
        add(limitcount, -200);
        statuscount = 0;
        status = 1;
    }
    if (status != -1) {
        add(limitcount, 1);
        add(statuscount, 1);
        if (limitcount > 999) {
            gameover = 1;
            limitcount = 0; // keeps counting: it drives the blinking of the prompt
            statuscount = 0;
        }
        if (statuscount > 30) status = 2;
    }
}

void gamestate::next() {
    add(stage, 1);
    gameover = 0;
    // The stage-clear test runs after this tick's timer, which has just drained 50.
    if (energy == 0) add(limitcount, -50);
    add(energy, 20);
    status = 0;
}

void gamestate::ending_on_title(int32_t energy_before, int32_t gameover_before) {
    add(stage, -1);
    gameover = gameover_before;
    if (energy_before == 0) add(limitcount, 50);
    energy = energy_before;
    status = -1;
}

// Hidden pointer and started set, as the first s would have done; s after this game is over
// then starts a fresh one.
void gamestate::started_by_itself() {
    if (started != 0) return;
    plat_hide_cursor();
    started = 1;
    last_game_start = game_start_kind::first;
    ++game_starts;
}

// Called right after next(); playing status keeps the intro texts of a stage that does
// not exist off the result screen, and the limit restarts as it does at a timed-out end.
void gamestate::ending() {
    status = 2;
    gameover = 1;
    limitcount = 0;
    statuscount = 0;
}
