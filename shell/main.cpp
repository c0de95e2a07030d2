#include "shell/shell.h"

int main(int argc, char **argv) {
    return tarmik_main(argc, argv);
}
