// Any bytes as a stage file: every block the loader accepts is populated, its objects move a
// few ticks and a bullet is swept through each, then the world is emptied again.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "flow/stage.h"
#include "world/buttai.h"
#include "world/hit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
    int line = 1;
    stage_block block;
    stage_fault fault;
    while (read_stage(in, line, block, fault) == stage_read::loaded) {
        for (buttai *b : populate_stage(block.records)) {
            for (int i = 0; i < 3; ++i)
                b->move();
            VECTORD above = b->pos;
            above.y += 50.0;
            swept_hit(above, b->pos, 0.5, b->pos, b->radius);
        }
        buttai_del();
    }
    if (!buttai_set.empty() || !building_set.empty() || !tama_set.empty()) __builtin_trap();
    return 0;
}
