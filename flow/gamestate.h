#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ranking/score.h"
#include "text/glkanji.h"

// One line of window text at a pixel position (x from the left, y from the top).
struct hud_line {
    int32_t x;
    int32_t y;
    std::string text; // Shift-JIS
};

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
    // The window texts, for a w x h window. They only draw: the result they show was filled by
    // fill_result in the frame's rules.
    void viewtitle(int32_t w, int32_t h);
    void scoredisplay(int32_t w, int32_t h);
    void scoredisplay2(int32_t w, int32_t h);

    // The stage file has no stage left after a clear: the game is over as when time runs out.
    void ending();
    // The same on the title screen: nobody is playing, so the clear is taken back (next() undone,
    // given the energy and gameover it found) and the title stays.
    void ending_on_title(int32_t energy_before, int32_t gameover_before);
    // A stage cleared on the title screen starts play by itself: that is a game start too.
    void started_by_itself();
    // Takes the hits from shothitg and fills result (hit rate, score, title).
    void fill_result();
    // The lines scoredisplay and scoredisplay2 draw in a w x h window, from the current
    // fields (result as fill_result left it).
    std::vector<hud_line> hud_lines(int32_t w, int32_t h) const;
    std::vector<hud_line> result_lines(int32_t w, int32_t h) const;
};

extern gamestate gs;

// How the latest game began: the first game of the run on the stage loaded at start-up (its
// world has moved behind the title since), or a restart from the stage file's first stage.
enum class game_start_kind { none, first, restart };
extern game_start_kind last_game_start;
// Games begun since start-up (a game start is seen as this count changing).
extern uint32_t game_starts;

// Title menu lines for a w x h window.
std::vector<hud_line> title_lines(int32_t w, int32_t h);
// Hit rate in percent, truncated; 0 when no shot was fired.
int32_t hit_rate(int32_t hits, int32_t shots);
// Title word (Shift-JIS) for a score; never empty.
const char *title_for_score(int32_t score);
// The result of a game: stages cleared, hits and shots.
clData compute_result(int32_t stage, int32_t hits, int32_t shots);
