#pragma once
// Inside the desktop platform: the frame, drawn where the window's own buffer holds it and
// shown scaled. The game draws into the top-left corner of the window's back buffer, as into a
// window of the frame's size (the same rows, so the same pixels); before the swap the frame is
// copied out and back in, scaled, centred on a dark border. A window too small to hold the
// frame has it drawn into a framebuffer object instead.
#include <cstdint>

#include "platform/frame.h"

// Makes what the frame needs (w x h); false where the GL has no framebuffer objects.
bool frame_gl_start(int w, int h);
// The game's size changed: the frame follows.
void frame_gl_resize(int w, int h);
// Where the game draws the next frames for a window of win_w x win_h: binds it and sets the
// viewport, and the scissor, to the frame there (the game's clears stay in the frame).
void frame_gl_place(int win_w, int win_h);
// Copies the frame into the window's back buffer at l, the border around it dark, and leaves
// everything bound for the next frame.
void frame_gl_show(const frame_layout &l, int win_w, int win_h, bool linear);
// The frame's pixels as 0xAARRGGBB words, its bottom row first, as GL counts rows.
void frame_gl_read(uint32_t *pixels);
