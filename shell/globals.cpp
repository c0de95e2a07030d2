// The shell's globals: the view, the window size, the pointer's bookkeeping, the pending key.
#include "shell/shell.h"

PLAYER ply;
double rx, ry;
int32_t gw, gh;
int32_t xo, yo;
int32_t moveon;
_Key key_press; // zero: KEY_N, consumed harmlessly by the first frame
plat_window hWnd;
plat_rect winsize;
