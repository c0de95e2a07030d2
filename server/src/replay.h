#pragma once
#include "storage.h"

#include <string>

namespace server {

struct ReplayLimits {
    long max_ticks = 200000;     // passed to the tool, which stops the game there
    int cpu_seconds = 10;        // RLIMIT_CPU of the child
    long memory_mib = 512;       // RLIMIT_AS of the child; 0: none (sanitizer builds need that)
    double wall_seconds = 20;    // killed after this long whatever it is doing
    size_t max_output = 1 << 16; // of what it prints, more is a fault
};

struct ReplayOutcome {
    enum Kind {
        verified, // result holds what the replay gave
        refused,  // the tool said no; reason says why (plain ASCII)
        over_cap, // killed for its CPU time or its time
        failed    // the tool did not answer as it should (a fault of ours; details in reason)
    } kind = failed;
    GameResult result;
    std::string reason;
};

// Replays the demo file with the tool in a child process of its own: no standard input, no
// inherited descriptors, no files written, a small environment, the limits above. `stages`
// is the stage file's SHA-256, which a verified answer must name.
ReplayOutcome run_replay(const std::string &tool, const std::string &stagefile,
                         const std::string &stages, const std::string &demo_path,
                         const ReplayLimits &limits);

// Reads the tool's one line of JSON for the exit status it gave.
ReplayOutcome parse_replay_answer(const std::string &out, int status, const std::string &stages);

} // namespace server
