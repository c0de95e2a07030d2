// tarmik-replay SCRIPT: the scripted driver built without any platform: no display, no GL
// context, no sound device. It plays scripts and demos as `tarmik-sim --headless` does.
#include "tools/driver.h"

int main(int argc, char **argv) {
    return driver_main(argc, argv, nullptr);
}
