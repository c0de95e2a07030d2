// For stage authors: checks a stage file with the game's own loader, and traces how a stage's
// objects move with the game's own movement code.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unordered_map>

#include "flow/stage.h"
#include "shell/console.h"
#include "world/buttai.h"
#include "world/random.h"

namespace {

const char usage[] =
    "usage: tarmik-stage check FILE\n"
    "       tarmik-stage trace FILE [--stage N] [--ticks T]\n"
    "\n"
    "check  reads every stage as the game does and prints one line per stage on standard\n"
    "       output: stage NUMBER line LINE hito H mato M building B (LINE: where its count\n"
    "       stands). Exits 0 when the whole file is good. Otherwise the first fault goes to\n"
    "       standard error as FILE:LINE: found TOKEN, expected WHAT, and the exit status is 1.\n"
    "trace  loads stages 1 to N (default 1) as the game does, resets the random generator and\n"
    "       runs the tick's object pass T times (default 100) over stage N: dead objects are\n"
    "       removed, live ones moved. Standard output gets one line per object of the moving\n"
    "       list after loading (tick 0) and after each tick: TICK INDEX TYPE X Y Z, INDEX being\n"
    "       the record's place in its block (buildings counted). Faults go to standard error,\n"
    "       status 1.\n"
    "Bad arguments: this text on standard error, status 2.\n";

int bad_usage() {
    std::fputs(usage, stderr);
    return 2;
}

void report(const std::string &file, const stage_fault &f) {
    std::fprintf(stderr, "%s:%d: found %s, expected %s\n", file.c_str(), f.line, f.found.c_str(),
                 f.expected.c_str());
}

bool open_file(const std::string &file, std::ifstream &in) {
    in.open(file);
    if (in) return true;
    std::fprintf(stderr, "%s: cannot open the file\n", file.c_str());
    return false;
}

int check(const std::string &file) {
    std::ifstream in;
    if (!open_file(file, in)) return 1;
    int line = 1;
    for (int n = 1;; ++n) {
        stage_block block;
        stage_fault fault;
        switch (read_stage(in, line, block, fault)) {
        case stage_read::malformed:
            report(file, fault);
            return 1;
        case stage_read::ended:
            if (n == 1) {
                // The game refuses a file without a single stage.
                report(file,
                       {line, "end of file", "a stage's record count (no stage in the file)"});
                return 1;
            }
            return 0;
        case stage_read::loaded:
            break;
        }
        int hito = 0, mato = 0, building = 0;
        for (const stage_record &r : block.records) {
            if (r.type == "hito")
                ++hito;
            else if (r.type == "mato")
                ++mato;
            else
                ++building;
        }
        char buf[160];
        std::snprintf(buf, sizeof buf, "stage %d line %d hito %d mato %d building %d", n,
                      block.count_line, hito, mato, building);
        console_line(buf);
    }
}

// A non-negative decimal option value.
bool parse_count(const char *s, long &v) {
    char *end = nullptr;
    v = std::strtol(s, &end, 10);
    return *s && !*end && v >= 0 && v <= 100000000;
}

struct traced {
    int index;
    std::string type;
};

int trace(const std::string &file, long stage, long ticks) {
    std::ifstream in;
    if (!open_file(file, in)) return 1;
    int line = 1;
    stage_block block;
    for (long n = 1; n <= stage; ++n) {
        stage_fault fault;
        switch (read_stage(in, line, block, fault)) {
        case stage_read::malformed:
            report(file, fault);
            return 1;
        case stage_read::ended:
            std::fprintf(stderr, "%s: holds %ld stage(s), no stage %ld\n", file.c_str(), n - 1,
                         stage);
            return 1;
        case stage_read::loaded:
            break;
        }
    }

    buttai_del();
    const std::vector<buttai *> made = populate_stage(block.records);
    std::unordered_map<const buttai *, traced> who;
    for (size_t i = 0; i < made.size(); ++i)
        who[made[i]] = {static_cast<int>(i + 1), block.records[i].type};

    game_rand_reset();
    std::string out;
    char buf[200];
    for (long t = 0;; ++t) {
        out.clear();
        for (const buttai *b : buttai_set) {
            const traced &w = who[b];
            std::snprintf(buf, sizeof buf, "%ld %d %s %.17g %.17g %.17g\n", t, w.index,
                          w.type.c_str(), b->pos.x, b->pos.y, b->pos.z);
            out += buf;
        }
        console_write(out);
        if (t == ticks) break;
        // The tick's object pass: the dead leave, the living move.
        for (auto it = buttai_set.begin(); it != buttai_set.end();) {
            if ((*it)->life <= 0) {
                delete *it;
                it = buttai_set.erase(it);
            } else {
                (*it)->move();
                ++it;
            }
        }
    }
    std::fflush(stdout);
    buttai_del();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) return bad_usage();
    const std::string cmd = argv[1];
    const std::string file = argv[2];
    if (cmd == "check") {
        if (argc != 3) return bad_usage();
        return check(file);
    }
    if (cmd != "trace") return bad_usage();
    long stage = 1, ticks = 100;
    for (int i = 3; i < argc; i += 2) {
        const std::string opt = argv[i];
        if (i + 1 >= argc) return bad_usage();
        if (opt == "--stage") {
            if (!parse_count(argv[i + 1], stage) || stage < 1) return bad_usage();
        } else if (opt == "--ticks") {
            if (!parse_count(argv[i + 1], ticks)) return bad_usage();
        } else {
            return bad_usage();
        }
    }
    return trace(file, stage, ticks);
}
