// Loading the game's font file: reading and decoding every run.
#include <benchmark/benchmark.h>

#include <string>

#include "bench.h"
#include "text/glkanji.h"

namespace {

void BM_font_load(benchmark::State &state) {
    const std::string path = game_file("shnm16.f1b");
    glKanji font(0);
    for (auto _ : state) {
        if (!font.load(path.c_str())) {
            state.SkipWithError("cannot open shnm16.f1b");
            return;
        }
        benchmark::DoNotOptimize(font.fontData.data());
    }
    state.SetLabel(std::to_string(font.charCount) + " glyphs");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(font.fontData.size()));
}
BENCHMARK(BM_font_load)->Unit(benchmark::kMillisecond);

} // namespace
