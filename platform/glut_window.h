#pragma once
// Inside the platform: what a GLUT-based platform (the desktop's freeglut, the page's own
// GLUT) adds around GLUT's window. glut_window.cpp opens the window and runs the loop; each
// platform then takes over the pointer, the title and the window's watch.
#include "platform/platform.h"

// Called once the window is made and current: registers the merged passive motion, names the
// window and watches it; returns its handle.
plat_window glut_window_opened(const plat_window_spec &spec, void (*passive_motion)(int, int));
