#include "platform/frame.h"

#include <algorithm>
#include <cmath>

frame_layout place_frame(int frame_w, int frame_h, int win_w, int win_h, bool linear) {
    frame_layout l;
    if (frame_w <= 0 || frame_h <= 0 || win_w <= 0 || win_h <= 0) {
        l.w = std::max(frame_w, 0);
        l.h = std::max(frame_h, 0);
        return l;
    }
    const int whole = std::min(win_w / frame_w, win_h / frame_h);
    if (!linear && whole >= 1)
        l.factor = whole;
    else
        l.factor =
            std::min(static_cast<double>(win_w) / frame_w, static_cast<double>(win_h) / frame_h);
    l.w = std::max(1, static_cast<int>(std::floor(frame_w * l.factor)));
    l.h = std::max(1, static_cast<int>(std::floor(frame_h * l.factor)));
    l.x = (win_w - l.w) / 2;
    l.y = (win_h - l.h) / 2;
    return l;
}

int auto_scale(int screen_w, int screen_h, int frame_w, int frame_h) {
    if (frame_w <= 0 || frame_h <= 0) return 1;
    const int n = std::min(screen_w * 2 / 3 / frame_w, screen_h * 2 / 3 / frame_h);
    return std::max(1, n);
}

void frame_span(const frame_layout &l, int p, bool vertical, int &from, int &to) {
    const int origin = vertical ? l.y : l.x;
    from = origin + static_cast<int>(std::floor(p * l.factor));
    to = origin + static_cast<int>(std::floor((p + 1) * l.factor));
    if (to <= from) to = from + 1;
}

void frame_pointer::set_rate(double rate) {
    if (anchored_) anchor_ = last_;
    rate_ = rate;
}

void frame_pointer::at(const frame_layout &l, int x, int y, int &fx, int &fy) {
    if (!anchored_) {
        anchored_ = true;
        anchor_.wx = x;
        anchor_.wy = y;
        anchor_.fx = (x - l.x) / l.factor;
        anchor_.fy = (y - l.y) / l.factor;
    }
    last_.wx = x;
    last_.wy = y;
    last_.fx = anchor_.fx + (x - anchor_.wx) * rate_;
    last_.fy = anchor_.fy + (y - anchor_.wy) * rate_;
    fx = static_cast<int>(std::floor(last_.fx));
    fy = static_cast<int>(std::floor(last_.fy));
}

void frame_pointer::given(int fx, int fy) {
    // The point given is the last one read, or the echo of the last warp.
    const bool last = std::floor(last_.fx) == fx && std::floor(last_.fy) == fy && anchored_;
    from_ = last ? last_ : anchor_;
}

void frame_pointer::warp_by(int tx, int ty, int &dx, int &dy, int &wx, int &wy) {
    const double r = rate_ > 0 ? rate_ : 1.0;
    dx = static_cast<int>(std::lround((tx - std::floor(from_.fx)) / r));
    dy = static_cast<int>(std::lround((ty - std::floor(from_.fy)) / r));
    anchored_ = true;
    anchor_.wx = from_.wx + dx;
    anchor_.wy = from_.wy + dy;
    // The fraction of a frame pixel the point held goes on with it.
    anchor_.fx = tx + (from_.fx - std::floor(from_.fx));
    anchor_.fy = ty + (from_.fy - std::floor(from_.fy));
    last_ = anchor_;
    wx = static_cast<int>(anchor_.wx);
    wy = static_cast<int>(anchor_.wy);
}

void frame_pointer::warp_to(const frame_layout &l, int tx, int ty, int &wx, int &wy) {
    int to;
    frame_span(l, tx, false, wx, to);
    wx = (wx + to) / 2;
    frame_span(l, ty, true, wy, to);
    wy = (wy + to) / 2;
    anchored_ = true;
    anchor_.wx = wx;
    anchor_.wy = wy;
    anchor_.fx = tx + 0.5;
    anchor_.fy = ty + 0.5;
    last_ = anchor_;
}

void frame_pointer::landed(int wx, int wy, int &fx, int &fy) {
    anchor_.fx += (wx - anchor_.wx) * rate_;
    anchor_.fy += (wy - anchor_.wy) * rate_;
    anchor_.wx = wx;
    anchor_.wy = wy;
    last_ = anchor_;
    fx = static_cast<int>(std::floor(anchor_.fx));
    fy = static_cast<int>(std::floor(anchor_.fy));
}
