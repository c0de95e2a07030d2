// Any bytes as a driver script played through whole games without a display: the input is a
// script, or a stage file, a line "%%" and a script. Every command of the language is open to
// it, with the game's rules, the ranking in memory and the pointer as the driver runs them.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "base/quit.h"
#include "flow/gamestate.h"
#include "flow/stage.h"
#include "platform/platform.h"
#include "ranking/score.h"
#include "shell/script.h"
#include "shell/shell.h"
#include "world/buttai.h"
#include "world/random.h"

namespace {

struct ended {
    int status;
};

std::string shipped_stages;
// Ticks one input may play: a few games' worth.
constexpr long tick_budget = 20000;

plat_window no_window(int &, char **, const plat_callbacks &live) {
    plat_callbacks cb = live;
    cb.passive_motion = mousemove;
    return plat_driven_window(cb);
}
void no_timer() {}

// The program as it was before main: every program-wide object and shell global anew.
void fresh_program(const std::string &stages) {
    std::ofstream("stagefile.txt", std::ios::binary) << stages;
    buttai_del();
    ply = PLAYER{};
    rx = ry = 0;
    gw = gh = xo = yo = moveon = 0;
    key_press = KEY_N;
    hWnd = 0;
    winsize = plat_rect{};
    shothitg = 0;
    game_rand_reset();
    stage_file_ended = false;
    fin = open_stage_file();
    clScore = Console_Score("ranking.dat");
    clScore.save = false; // the table in memory only: no file is written
    gs = gamestate();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The console goes to standard output; the fuzzer reports on standard error.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    std::ifstream f(TARMIK_SOURCE_DIR "/data/stagefile.txt", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    shipped_stages = s.str();
    static char dir[] = "/tmp/tarmik-fuzz-game-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
    std::atexit([] {
        unlink("stagefile.txt");
        rmdir(dir);
    });
    set_quit_hook([](int status) { throw ended{status}; });
    hooks.open_window = no_window;
    hooks.arm_timer = no_timer;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size), stages = shipped_stages;
    const size_t cut = input.find("\n%%\n");
    if (cut != std::string::npos) {
        stages = input.substr(0, cut + 1);
        input.erase(0, cut + 4);
    }
    fresh_program(stages);
    script_host host;
    host.driver = true;
    host.report = nullptr;
    static std::FILE *null_out = std::fopen("/dev/null", "w");
    host.report = null_out;
    script_runner runner(host);
    try {
        int argc = 1;
        char name[] = "fuzz-game";
        char *argv[] = {name, nullptr};
        start_world(argc, argv);
        resize(500, 500);
        runner.frame();
        runner.take_echo();
        std::istringstream lines(input);
        for (std::string line; std::getline(lines, line);) {
            script_line parsed;
            std::string error;
            if (!script_parse(line, false, parsed, error)) continue;
            if ((parsed.name == "tick" || parsed.name == "timer") &&
                runner.ticks() + parsed.numbers[0] > tick_budget)
                break;
            if (runner.run(parsed, error) != 0) break;
        }
    } catch (const ended &) {
    }
    buttai_del();
    return 0;
}
