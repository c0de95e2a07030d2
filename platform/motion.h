#pragma once
// Pointer motion as a queue that merges motion gives it, for a handler that warps the pointer
// back after every move and takes the next event for the warp's echo. X delivers every
// queued motion event, so a real motion queued behind a warp would be taken for the echo and
// the echo for motion back; merged, the handler sees after each warp first the point where
// the warp put the pointer, then one event where the pointer stands now. It needs no display:
// the window layer tells it where the pointer is, and the scripted driver can do the same.
class motion_merge {
  public:
    void set_handler(void (*h)(int x, int y)) { handler = h; }
    // The pointer was warped; it landed at (x, y) in window coordinates. A warp made by the
    // handler moves the pointer by as much as the warp's target lies from the point handled.
    void warped(int x, int y);
    // A motion event came and the pointer stands at (x, y) in window coordinates. Unless
    // always is set, a point already given is not given again: it is the echo itself or a
    // leftover event, and handled as motion it would only set off one more warp.
    void pointer_at(int x, int y, bool always = false);
    bool echo_pending() const { return pending; }

  private:
    void deliver(int x, int y);

    void (*handler)(int, int) = nullptr;
    bool pending = false;
    int echo_x = 0, echo_y = 0;
    bool delivered = false;
    int last_x = 0, last_y = 0;
    // While a point is handled: how far the handler's warps have moved the pointer.
    bool handling = false;
    int moved_x = 0, moved_y = 0;
};
