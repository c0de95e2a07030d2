// Game flow: start-up, game starts, the per-tick advance and stage changes.
#include "flow/gamestate.h"

#include "platform/platform.h"
#include "world/buttai.h"

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
}

void gamestate::timer() {
    // Out of shots, time runs out fast: the drain applies even on the title screen.
    if (energy <= 0) limitcount += 50;
    if (status == 0) {
        // Every stage start grants 200 more ticks.
        limitcount -= 200;
        statuscount = 0;
        status = 1;
    }
    if (status != -1) {
        limitcount += 1;
        statuscount += 1;
        if (limitcount > 999) {
            gameover = 1;
            limitcount = 0; // keeps counting: it drives the blinking of the prompt
            statuscount = 0;
        }
        if (statuscount > 30) status = 2;
    }
}

void gamestate::next() {
    stage += 1;
    gameover = 0;
    // The stage-clear test runs after this tick's timer, which has just drained 50.
    if (energy == 0) limitcount -= 50;
    energy += 20;
    status = 0;
}

// Called right after next(); playing status keeps the intro texts of a stage that does
// not exist off the result screen, and the limit restarts as it does at a timed-out end.
void gamestate::ending() {
    status = 2;
    gameover = 1;
    limitcount = 0;
    statuscount = 0;
}
