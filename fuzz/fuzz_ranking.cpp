// Any bytes as a ranking file: loaded, one result entered (which rewrites the file), listed,
// and the rewritten file read back, which must give the same table.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ranking/score.h"

namespace {

std::string folder;

bool same(const clData &a, const clData &b) {
    return a.score == b.score && a.stage == b.stage && a.hitrate == b.hitrate && a.title == b.title;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The listing goes to standard output; the fuzzer reports on standard error.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    // Memory-backed when possible: every entry syncs the file and its folder.
    char shm[] = "/dev/shm/tarmik-fuzz-XXXXXX", tmp[] = "/tmp/tarmik-fuzz-XXXXXX";
    const char *made = mkdtemp(shm);
    if (!made) made = mkdtemp(tmp);
    if (!made) std::abort();
    folder = made;
    std::atexit([] {
        std::remove((folder + "/ranking.dat").c_str());
        std::remove((folder + "/ranking.dat.bak").c_str());
        rmdir(folder.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string file = folder + "/ranking.dat";
    FILE *f = std::fopen(file.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    Console_Score table(file);
    const size_t loaded = table.ranklist.size();
    clData result;
    result.score = 0;
    if (size >= 4) std::memcpy(&result.score, data, 4);
    result.stage = 3;
    result.hitrate = 42;
    result.title = "V2";
    const int32_t place = table.inputdata(result);
    const size_t kept = loaded < 20 ? loaded + 1 : loaded;
    if (place < 1 || static_cast<size_t>(place) > loaded + 1 || table.ranklist.size() != kept)
        __builtin_trap();
    table.outputdata();

    Console_Score back(file);
    if (back.ranklist.size() != table.ranklist.size()) __builtin_trap();
    for (size_t i = 0; i < back.ranklist.size(); ++i)
        if (!same(back.ranklist[i], table.ranklist[i])) __builtin_trap();
    return 0;
}
