// The shell's globals and the program-wide objects, in their construction order:
// the stage file first, then the ranking, the object lists and the game state.
#include <fstream>

#include "flow/gamestate.h"
#include "flow/stage.h"
#include "ranking/score.h"
#include "shell/shell.h"
#include "world/buttai.h"

PLAYER ply;
double rx, ry;
int32_t gw, gh;
int32_t xo, yo;
int32_t moveon;
_Key key_press; // zero: KEY_N, consumed harmlessly by the first frame
plat_window hWnd;
plat_rect winsize;

std::ifstream fin("stagefile.txt");
Console_Score clScore("ranking.dat");
buttai_list buttai_set;
buttai_list tama_set;
buttai_list building_set;
gamestate gs;

// They were opened in the folder the program started in, before main; --data moves to
// another folder, and they are opened again there.
void reopen_game_files() {
    fin.close();
    fin.clear();
    fin.open("stagefile.txt");
    clScore = Console_Score("ranking.dat");
}
