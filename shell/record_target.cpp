#include "shell/record_target.h"

#include <sys/stat.h>

namespace {

// What the game reads or writes in its folder, and the game itself.
const char *const own_files[] = {"stagefile.txt",   "shnm16.f1b",      "bgm.mid",     "shot.wav",
                                 "kara.wav",        "ata.wav",         "tarmik.demo", "ranking.dat",
                                 "ranking.dat.tmp", "ranking.dat.bak", "tarmik"};

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::string record_target_refused(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return "it is a symbolic link";
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    struct stat here, there, target;
    const bool in_folder = stat(".", &here) == 0 && stat(folder.c_str(), &there) == 0;
    const bool exists = stat(path.c_str(), &target) == 0;
    for (const char *own : own_files) {
        struct stat mine, beside;
        const bool have = stat(own, &mine) == 0;
        if ((in_folder && same_file(here, there) && name == own) ||
            (exists && have && same_file(target, mine)))
            return "it is one of the game's own files";
        // The folder the game folder's links lead to (the installed files).
        if (have && in_folder && !same_file(here, there) &&
            stat((folder + "/" + own).c_str(), &beside) == 0 && same_file(beside, mine))
            return "it would go among the game's own files";
    }
    return "";
}
