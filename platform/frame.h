#pragma once
// Inside the platform: the arithmetic of a scaled frame, with no display. Where the frame shows
// in its window, and the pointer's positions in window pixels turned into frame pixels.

// The frame's place in a window: whole N x N blocks for each frame pixel where the window
// holds at least one of them (nearest), or the largest square that fits (linear, or a window
// smaller than the frame); centred, the rest a border.
struct frame_layout {
    double factor = 1.0; // window pixels per frame pixel
    int x = 0, y = 0;    // the frame's top-left corner in the window
    int w = 0, h = 0;    // its size in the window
};
frame_layout place_frame(int frame_w, int frame_h, int win_w, int win_h, bool linear);

// The largest whole scale whose window (frame_w x frame_h times it) fits in two thirds of the
// screen each way; 1 at least.
int auto_scale(int screen_w, int screen_h, int frame_w, int frame_h);

// The window pixels [from, to) that frame pixel p covers along one axis.
void frame_span(const frame_layout &l, int p, bool vertical, int &from, int &to);

// Pointer positions in window pixels as frame pixels, rate frame pixels per window pixel.
// Each warp anchors the two: the pointer then stands on the frame point warped to, so the
// warp's echo comes back there, and the fraction of a frame pixel not yet given carries over.
class frame_pointer {
  public:
    // A new rate (the window was resized, the sensitivity changed) counts from the last point.
    void set_rate(double rate);
    double rate() const { return rate_; }
    // Forgets the anchor: the next point is taken where the layout shows it.
    void reset() { anchored_ = false; }
    // The pointer stands at window point (x, y): the frame point it means.
    void at(const frame_layout &l, int x, int y, int &fx, int &fy);
    // The frame point (fx, fy) has been given to the game: a warp made in answer counts from it.
    void given(int fx, int fy);
    // A warp to frame point (tx, ty), counted from the point last given: how far to move the
    // pointer (dx, dy), and the window point it then stands on (wx, wy), both in window pixels.
    void warp_by(int tx, int ty, int &dx, int &dy, int &wx, int &wy);
    // A warp to frame point (tx, ty) wherever the pointer is: the window point to move it to.
    void warp_to(const frame_layout &l, int tx, int ty, int &wx, int &wy);
    // Where the warp just asked for put the pointer (the screen or a grab may have held it
    // back): the frame point its echo comes at.
    void landed(int wx, int wy, int &fx, int &fy);

  private:
    struct pair {
        double wx = 0, wy = 0; // window pixels
        double fx = 0, fy = 0; // frame pixels, not yet floored
    };
    double rate_ = 1.0;
    bool anchored_ = false;
    pair anchor_, last_, from_;
};
