#pragma once
#include <cstdint>

#include "ranking/score.h"
#include "text/glkanji.h"

// Game flow and scoreboard.
class gamestate {
  public:
    glKanji font{0};
    clData result{};
    int32_t rank = 0;
    int32_t registered = 0;
    int32_t stage = 0;
    int32_t limitcount = 0;
    int32_t statuscount = 0;
    int32_t status = 0; // -1 title, 0 stage starting, 1 intro, 2 playing
    int32_t energy = 0;
    int32_t gameover = 0;
    int32_t started = 0;
    int32_t hits = 0;
    int32_t shots = 0;

    void init();
    void syokifirst();
    void syokinormal();
    void timer();
    void next();
    void viewtitle();
    void scoredisplay();
    void scoredisplay2();
};

extern gamestate gs;
