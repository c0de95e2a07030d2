#pragma once
// Inside the platform: what a GLUT-based platform (the desktop's freeglut, the page's own
// GLUT) adds around GLUT's window. glut_window.cpp opens the window and runs the loop; each
// platform then takes over the pointer, the title and the window's watch.
#include "platform/platform.h"

// Called after glutInit, before the window is made: the platform may choose its first size.
void glut_window_size(int &width, int &height);
// Called once the window is made and current: registers the merged passive motion (and what
// else of the callbacks the platform stands between), names the window and watches it;
// returns its handle.
plat_window glut_window_opened(const plat_window_setup &setup, const plat_callbacks &cb);
// Shows the frame drawn (the buffer swap, and what the platform does around it).
void glut_swap();
