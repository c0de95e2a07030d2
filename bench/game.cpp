// A whole game of 1,200 ticks through the scripted driver: start-up, the title, s, and play
// until the time runs out, each tick with its frame, as fast as the machine allows.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

// The same game in the driver built without any platform (no window, no GL, no sound), or the
// shipped demo played back and checked against its expect line.
void headless(benchmark::State &state, const std::string &what) {
    const std::string game = TARMIK_GAME_DIR;
    const std::string work = "/tmp/tarmik-bench-headless";
    const std::string setup = "rm -rf " + work + " && cp -r '" + game + "' " + work + " && rm -f " +
                              work + "/ranking.dat && printf 'menu 1\\nkey s\\nframe\\n" +
                              "tick 1200\\n' > " + work + "/game.sim";
    if (std::system(setup.c_str()) != 0) {
        state.SkipWithError("cannot lay out the game folder");
        return;
    }
    const std::string run =
        "cd " + work + " && '" + game + "/../tools/tarmik-replay' " + what + " > /dev/null";
    for (auto _ : state) {
        if (std::system(run.c_str()) != 0) {
            state.SkipWithError("the driver failed");
            break;
        }
    }
    if (std::system(("rm -rf " + work).c_str()) != 0) state.SkipWithError("cannot clean up");
}
void BM_FullGameHeadless(benchmark::State &state) {
    headless(state, "game.sim");
}
BENCHMARK(BM_FullGameHeadless)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
void BM_ShippedDemoVerifiedHeadless(benchmark::State &state) {
    headless(state, "tarmik.demo");
}
BENCHMARK(BM_ShippedDemoVerifiedHeadless)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();

void BM_FullGameThroughDriver(benchmark::State &state) {
    const std::string game = TARMIK_GAME_DIR;
    const std::string work = "/tmp/tarmik-bench-game";
    const std::string setup = "rm -rf " + work + " && cp -r '" + game + "' " + work + " && rm -f " +
                              work + "/ranking.dat && printf 'key s\\nframe\\n" +
                              "tick 1200\\n' > " + work + "/game.sim";
    if (std::system(setup.c_str()) != 0) {
        state.SkipWithError("cannot lay out the game folder");
        return;
    }
    const std::string run = "cd " + work + " && printf '1\\n' | '" + game +
                            "/../tools/tarmik-sim' game.sim > /dev/null";
    for (auto _ : state) {
        if (std::system(run.c_str()) != 0) {
            state.SkipWithError("the driver failed");
            break;
        }
    }
    if (std::system(("rm -rf " + work).c_str()) != 0) state.SkipWithError("cannot clean up");
}
BENCHMARK(BM_FullGameThroughDriver)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
