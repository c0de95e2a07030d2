#pragma once
// Between the page's GLUT and its GL layer.

// Starts the GL layer on a freshly made WebGL context (current already).
void web_gl_start();
