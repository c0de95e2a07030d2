#include "base/quit.h"

#include <cstdlib>

namespace {
void (*quit_hook)(int) = nullptr;
}

void quit(int status) {
    if (quit_hook) quit_hook(status);
    std::exit(status);
}

void set_quit_hook(void (*hook)(int)) {
    quit_hook = hook;
}
