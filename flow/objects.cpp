// The program-wide objects, in their construction order: the stage file first, then the
// ranking, the object lists and the game state.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

#include "flow/gamestate.h"
#include "flow/stage.h"
#include "ranking/score.h"
#include "base/console.h"
#include "base/quit.h"
#include "world/buttai.h"

namespace {

// Memory ran out anywhere (a stage, the ranking, a list): the game's one message for it.
void out_of_memory() {
    std::set_new_handler(nullptr);
    try {
        console_say("メモリ割り当てエラー");
    } catch (...) {
        // Nothing left to allocate with: the catalog's bytes as they are.
        const char *line = tr("メモリ割り当てエラー");
        ssize_t n = write(STDOUT_FILENO, line, std::strlen(line));
        n = write(STDOUT_FILENO, "\n", 1);
        (void)n;
    }
    quit(-1);
}

// Runs before any file is opened: a closed standard stream would otherwise hand its number
// to the stage file, and the menu would read its answers from there.
__attribute__((constructor(101))) void ready_process() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    std::set_new_handler(out_of_memory);
}

} // namespace

std::ifstream fin = open_stage_file();
Console_Score clScore("ranking.dat");
buttai_list buttai_set;
buttai_list tama_set;
buttai_list building_set;
gamestate gs;

// They were opened in the folder the program started in, before main; --data moves to
// another folder, and they are opened again there.
void reopen_game_files() {
    fin = open_stage_file();
    clScore = Console_Score("ranking.dat");
}
