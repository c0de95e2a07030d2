// One frame of the game at 500 x 500, in play, with the largest stage of the shipped file.
#include <benchmark/benchmark.h>

#include <string>

#include <GL/gl.h>

#include <fstream>

#include "bench.h"
#include "flow/stage.h"
#include "shell/shell.h"
#include "world/buttai.h"

namespace {

// The block of the stage file with the most records.
stage_block largest_stage() {
    std::ifstream in(game_file("stagefile.txt"));
    int line = 1;
    stage_block best{0, 0, {}}, block;
    stage_fault fault;
    while (read_stage(in, line, block, fault) == stage_read::loaded)
        if (block.records.size() > best.records.size()) best = block;
    return best;
}

void BM_frame_largest_stage(benchmark::State &state) {
    game_window();
    game_in_play();
    buttai_del();
    const stage_block stage = largest_stage();
    if (stage.records.empty()) {
        state.SkipWithError("no stage in stagefile.txt");
        return;
    }
    populate_stage(stage.records);
    for (auto _ : state) {
        display();
        glFinish();
    }
    state.SetLabel(std::to_string(stage.records.size()) + " objects");
    buttai_del();
}
BENCHMARK(BM_frame_largest_stage)->Unit(benchmark::kMillisecond);

} // namespace
