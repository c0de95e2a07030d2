// Window, cursor and title-text services on X11 under freeglut.
#include "platform/driven.h"
#include "platform/frame.h"
#include "platform/frame_gl.h"
#include "platform/glut_window.h"
#include "platform/motion.h"
#include "platform/platform.h"

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <iconv.h>

#include <dlfcn.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

// An X server answers a burst of new connections with EAGAIN, resets one, or refuses it while
// its queue is full; Xlib does not try again, so a game started among many other clients (a busy
// desktop, a test run) would fail at random. Every connection of the program, freeglut's
// included, comes through here and is tried again for up to ten seconds while a server is
// there: a local display whose socket exists, or any display that answers EAGAIN or a reset.
namespace {
bool local_server_there(const char *name) {
    if (!name) return false;
    const char *colon = std::strrchr(name, ':');
    if (!colon || (colon != name && std::strncmp(name, "unix:", 5) != 0)) return false;
    const std::string number(colon + 1, std::strcspn(colon + 1, "."));
    return access(("/tmp/.X11-unix/X" + number).c_str(), F_OK) == 0;
}
} // namespace

extern "C" Display *XOpenDisplay(const char *name) {
    using open_fn = Display *(*)(const char *);
    static const open_fn real = reinterpret_cast<open_fn>(dlsym(RTLD_NEXT, "XOpenDisplay"));
    if (!real) return nullptr;
    const char *shown = name ? name : std::getenv("DISPLAY");
    const bool local = local_server_there(shown);
    for (int attempt = 0;; ++attempt) {
        errno = 0;
        if (Display *d = real(name)) return d;
        const int e = errno;
        if (!shown || !*shown || attempt == 100 || (!local && e != EAGAIN && e != ECONNRESET))
            return nullptr;
        usleep(100000);
    }
}

namespace {

bool recording = false;

Display *display() {
    return glXGetCurrentDisplay();
}

// What is known of the game window without asking the server: its outer rectangle and its
// client area on the screen, both refreshed when the window is moved, resized or reparented.
Window game_window = 0;
bool geometry_valid = false;
plat_rect frame_rect{0, 0, 0, 0};
int client_x = 0, client_y = 0, client_w = 0, client_h = 0;

// A second connection that only watches the game window, so freeglut's own event handling
// stays as it is: moves and resizes, focus, and the window being destroyed.
Display *watch = nullptr;
bool focused = true;
bool confine_wanted = false, grabbed = false;

motion_merge merge;
driven_pointer driven(merge);
void (*game_motion)(int, int) = nullptr;
// The pointer position the game last saw, on the screen, and whether a warp is made now
// in answer to it.
bool seen = false, answering = false;
int seen_x = 0, seen_y = 0;
unsigned long warp_serial = 0;

// The scaled frame (platform.h): what was asked for, and whether the window shows it now.
plat_frame_setup frame_setup;
bool scaled = false;
int frame_w = 0, frame_h = 0; // the frame, while scaled
// Where GL draws a frame that goes through the server in blocks: a window of the frame's own
// size, never mapped, so the game's clears take the whole buffer (cut to the frame's rows of a
// larger one, a clear is a drawing pass of its own: half the frame's time on a software
// renderer) and its pixels are a plain window's. 0: the game's window itself.
Window frame_window = 0;
int game_w = 0, game_h = 0;   // the size the game was last given
int first_w = 0, first_h = 0; // the size the window was asked for
int win_w = 0, win_h = 0;     // the window's client area
bool fullscreen = false;
int windowed[4] = {0, 0, 0, 0}; // where the window stood before fullscreen with no manager
// Pointer positions turned into frame pixels (scaled, or with a sensitivity of its own).
bool converting = false;
frame_pointer conv;
void (*game_reshape)(int, int) = nullptr;
void (*game_keyboard)(unsigned char, int, int) = nullptr;
void (*game_mouse)(int, int, int, int) = nullptr;
bool game_reshaped = false;

Window window_of() {
    return game_window ? game_window : static_cast<Window>(glXGetCurrentDrawable());
}

// Where the frame shows in the window; the whole window while it is not scaled.
frame_layout layout() {
    if (scaled) return place_frame(frame_w, frame_h, win_w, win_h, frame_setup.linear);
    frame_layout l;
    l.w = win_w;
    l.h = win_h;
    return l;
}

void update_rate() {
    converting = scaled || frame_setup.sensitivity != 1.0;
    conv.set_rate(frame_setup.sensitivity / layout().factor);
}

// The frame point under window point (x, y), for the positions that come with keys and buttons.
void to_frame(int &x, int &y) {
    if (!scaled) return;
    const frame_layout l = layout();
    x = static_cast<int>(std::floor((x - l.x) / l.factor));
    y = static_cast<int>(std::floor((y - l.y) / l.factor));
}

bool start_frame_window();
void place_frame_in_buffer();

bool start_scaled(int w, int h) {
    if (scaled) return true;
    if (w <= 0 || h <= 0 || !frame_gl_start(w, h)) {
        std::fprintf(stderr, "tarmik: no off-screen frame here (OpenGL without framebuffer "
                             "objects); the window stays as it is\n");
        return false;
    }
    scaled = true;
    frame_w = w;
    frame_h = h;
    win_w = glutGet(GLUT_WINDOW_WIDTH);
    win_h = glutGet(GLUT_WINDOW_HEIGHT);
    start_frame_window();
    place_frame_in_buffer();
    conv.reset();
    update_rate();
    glutPostRedisplay();
    return true;
}

void refresh_geometry(Display *d, Window w) {
    geometry_valid = true;
    // The outer rectangle is the top-level ancestor's (the frame, when a window manager runs).
    Window cur = w, root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    for (;;) {
        if (!XQueryTree(d, cur, &root, &parent, &children, &n)) break;
        if (children) XFree(children);
        if (parent == root || parent == 0) break;
        cur = parent;
    }
    Window dummy;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(d, cur, &dummy, &x, &y, &width, &height, &border, &depth);
    XTranslateCoordinates(d, cur, root, 0, 0, &x, &y, &dummy);
    frame_rect.left = x - static_cast<int>(border);
    frame_rect.top = y - static_cast<int>(border);
    frame_rect.right = x + static_cast<int>(width + border);
    frame_rect.bottom = y + static_cast<int>(height + border);
    XGetGeometry(d, w, &dummy, &x, &y, &width, &height, &border, &depth);
    client_w = static_cast<int>(width);
    client_h = static_cast<int>(height);
    XTranslateCoordinates(d, w, root, 0, 0, &client_x, &client_y, &dummy);
}

void update_grab() {
    Display *d = display();
    const bool want = confine_wanted && focused;
    if (!d || want == grabbed) return;
    if (want) {
        const Window w = window_of();
        const unsigned mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
        grabbed = XGrabPointer(d, w, True, mask, GrabModeAsync, GrabModeAsync, w, None,
                               CurrentTime) == GrabSuccess;
    } else {
        XUngrabPointer(d, CurrentTime);
        XFlush(d);
        grabbed = false;
    }
}

// Set when an error said the window is gone; the program ends at the next poll_watch.
bool window_lost = false;

void poll_watch() {
    if (window_lost) {
        XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
        std::exit(0);
    }
    if (!watch) return;
    while (XPending(watch)) {
        XEvent ev;
        XNextEvent(watch, &ev);
        switch (ev.type) {
        case DestroyNotify:
            // Destroyed by another client: end as when the window is closed. Whatever still
            // names the window on the way out fails harmlessly.
            if (ev.xdestroywindow.window == game_window) {
                XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
                std::exit(0);
            }
            break;
        case ConfigureNotify:
        case ReparentNotify:
        case MapNotify:
            geometry_valid = false;
            break;
        case FocusIn:
        case FocusOut:
            if (ev.xfocus.detail == NotifyInferior) break;
            focused = ev.type == FocusIn;
            update_grab();
            break;
        default:
            break;
        }
    }
}

// The drawing of a frame can meet the destroyed window before the watch hears of it: that
// error, too, means the window is gone. The program ends at the next poll_watch, not here:
// exiting inside Xlib's reply, freeglut's exit handler closes the display and waits for that
// very reply for ever. Any other error goes where it went before.
XErrorHandler earlier_handler = nullptr;
int window_gone_or_error(Display *d, XErrorEvent *e) {
    const bool about_window = e->resourceid == game_window && game_window != 0;
    if (about_window && (e->error_code == BadWindow || e->error_code == BadDrawable ||
                         e->error_code >= FirstExtensionError)) {
        window_lost = true;
        return 0;
    }
    return earlier_handler ? earlier_handler(d, e) : 0;
}

void watch_timer(int) {
    poll_watch();
    glutTimerFunc(100, watch_timer, 0);
}

// The game gets a position: remember it on the screen, for a warp made in answer.
void to_game(int x, int y) {
    seen = true;
    seen_x = x + client_x;
    seen_y = y + client_y;
    if (converting) conv.given(x, y);
    if (game_motion) game_motion(x, y);
}

// Motion events of the window queued before its next button event: the pointer's position
// stands for them. A button event keeps its place after the motion that came before it.
struct motion_scan {
    Window w;
    bool blocked;
    XEvent button;
};
Bool queued_motion(Display *, XEvent *e, XPointer arg) {
    auto *s = reinterpret_cast<motion_scan *>(arg);
    if (s->blocked || e->xany.window != s->w) return False;
    if (e->type == ButtonPress || e->type == ButtonRelease) {
        s->blocked = true;
        s->button = *e;
        return False;
    }
    return e->type == MotionNotify;
}

void passive_motion(int, int) {
    Display *d = display();
    if (recording || !d) return; // the script moves the pointer
    poll_watch();
    const Window w = window_of();
    motion_scan scan{w, false, {}};
    XEvent dropped;
    while (XCheckIfEvent(d, &dropped, queued_motion, reinterpret_cast<XPointer>(&scan)))
        scan.blocked = false;
    int x, y, root_x, root_y;
    if (scan.blocked) {
        // A press before the last warp: its motion is still to come after the echo.
        if (merge.echo_pending() && scan.button.xbutton.serial < warp_serial) return;
        x = scan.button.xbutton.x;
        y = scan.button.xbutton.y;
        root_x = scan.button.xbutton.x_root;
        root_y = scan.button.xbutton.y_root;
    } else {
        Window root, child;
        unsigned int mask;
        if (!XQueryPointer(d, w, &root, &child, &root_x, &root_y, &x, &y, &mask)) return;
    }
    if (!geometry_valid) refresh_geometry(d, w);
    if (root_x - x != client_x || root_y - y != client_y) {
        // Moved without our hearing of it yet.
        geometry_valid = false;
        client_x = root_x - x;
        client_y = root_y - y;
    }
    answering = true;
    if (converting) {
        int fx, fy;
        conv.at(layout(), x, y, fx, fy);
        merge.pointer_at(fx, fy);
    } else {
        merge.pointer_at(x, y);
    }
    answering = false;
}

void watch_window(Window w) {
    game_window = w;
    Display *d = display();
    if (recording || !d || !w || watch) return;
    watch = XOpenDisplay(DisplayString(d));
    if (!watch) return;
    earlier_handler = XSetErrorHandler(window_gone_or_error);
    XSelectInput(watch, game_window, StructureNotifyMask | FocusChangeMask);
    XFlush(watch);
    Window f;
    int revert;
    XGetInputFocus(d, &f, &revert);
    focused = f == game_window || f == PointerRoot;
    glutTimerFunc(100, watch_timer, 0);
}

void set_title(Window w, const char *utf8) {
    Display *d = display();
    if (!d || !w) return;
    char *list[] = {const_cast<char *>(utf8)};
    XTextProperty prop;
    if (Xutf8TextListToTextProperty(d, list, 1, XUTF8StringStyle, &prop) == Success) {
        XSetWMName(d, w, &prop);
        XSetWMIconName(d, w, &prop);
        XFree(prop.value);
    }
    Atom utf8_string = XInternAtom(d, "UTF8_STRING", False);
    const auto *bytes = reinterpret_cast<const unsigned char *>(utf8);
    const int len = static_cast<int>(std::strlen(utf8));
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), utf8_string, 8, PropModeReplace,
                    bytes, len);
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_ICON_NAME", False), utf8_string, 8,
                    PropModeReplace, bytes, len);
    XFlush(d);
}

void set_class(Window w, const char *instance, const char *klass) {
    Display *d = display();
    if (!d || !w || !instance || !klass) return;
    XClassHint hint;
    hint.res_name = const_cast<char *>(instance);
    hint.res_class = const_cast<char *>(klass);
    XSetClassHint(d, w, &hint);
    XFlush(d);
}

// On a software renderer a scaled frame in whole blocks goes to the window through the X
// server: the frame read back, each pixel copied into its block, the picture put in shared
// memory where the server offers it (a GL copy that scales is several times slower there).
// A GPU scales with GL's copy, as do the linear filter, blocks of a fraction of a pixel and
// windows of another pixel layout. (TARMIK_GL_SCALING=1 takes GL's copy anyway: the tests
// check that both give the same picture.)
bool software_renderer() {
    static const bool software = [] {
        const char *forced = std::getenv("TARMIK_GL_SCALING");
        if (forced && std::strcmp(forced, "1") == 0) return false;
        const char *r = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
        if (!r) return false;
        for (const char *name : {"llvmpipe", "softpipe", "Software", "swrast"})
            if (std::strstr(r, name)) return true;
        return false;
    }();
    return software;
}

class block_picture {
  public:
    bool show(Display *d, Window w, const frame_layout &l, int win_w, int win_h) {
        const int k = static_cast<int>(l.factor);
        if (k < 1 || k != l.factor || !software_renderer() || !usable(d) || !make(d, l.w, l.h))
            return false;
        frame_.resize(static_cast<size_t>(frame_w) * frame_h);
        frame_gl_read(frame_.data());
        // The server has done with the last picture before it is written again: asked only
        // now, it has had the whole of this frame's drawing to do so.
        XSync(d, False);
        const size_t row = static_cast<size_t>(img_->bytes_per_line);
        for (int r = 0; r < frame_h; ++r) {
            const uint32_t *src = &frame_[static_cast<size_t>(frame_h - 1 - r) * frame_w];
            char *first = img_->data + static_cast<size_t>(r) * k * row;
            if (k == 2) {
                // The common case, two pixels a store.
                uint64_t *pair = reinterpret_cast<uint64_t *>(first);
                for (int x = 0; x < frame_w; ++x)
                    pair[x] = src[x] * 0x100000001ULL;
            } else {
                uint32_t *dst = reinterpret_cast<uint32_t *>(first);
                for (int x = 0; x < frame_w; ++x)
                    for (int j = 0; j < k; ++j)
                        *dst++ = src[x];
            }
            for (int j = 1; j < k; ++j)
                std::memcpy(first + j * row, first, static_cast<size_t>(l.w) * 4);
        }
        GC gc = gc_of(d, w);
        if (shared_)
            XShmPutImage(d, w, gc, img_, 0, 0, l.x, l.y, static_cast<unsigned>(l.w),
                         static_cast<unsigned>(l.h), False);
        else
            XPutImage(d, w, gc, img_, 0, 0, l.x, l.y, static_cast<unsigned>(l.w),
                      static_cast<unsigned>(l.h));
        // The border, dark.
        XRectangle border[4] = {
            {0, 0, static_cast<unsigned short>(win_w), static_cast<unsigned short>(l.y)},
            {0, static_cast<short>(l.y + l.h), static_cast<unsigned short>(win_w),
             static_cast<unsigned short>(std::max(0, win_h - l.y - l.h))},
            {0, static_cast<short>(l.y), static_cast<unsigned short>(l.x),
             static_cast<unsigned short>(l.h)},
            {static_cast<short>(l.x + l.w), static_cast<short>(l.y),
             static_cast<unsigned short>(std::max(0, win_w - l.x - l.w)),
             static_cast<unsigned short>(l.h)}};
        XSetForeground(d, gc, BlackPixel(d, DefaultScreen(d)));
        XFillRectangles(d, w, gc, border, 4);
        XFlush(d);
        return true;
    }

    // 32 bits a pixel, red, green and blue a byte each as GL's BGRA gives them.
    bool usable(Display *d) {
        if (checked_) return layout_ok_;
        checked_ = true;
        const Visual *v = DefaultVisual(d, DefaultScreen(d));
        int n = 0, bpp = 0;
        XPixmapFormatValues *f = XListPixmapFormats(d, &n);
        for (int i = 0; i < n; ++i)
            if (f[i].depth == DefaultDepth(d, DefaultScreen(d))) bpp = f[i].bits_per_pixel;
        if (f) XFree(f);
        layout_ok_ = bpp == 32 && v->red_mask == 0xFF0000 && v->green_mask == 0xFF00 &&
                     v->blue_mask == 0xFF && ImageByteOrder(d) == LSBFirst;
        return layout_ok_;
    }

  private:
    bool make(Display *d, int w, int h) {
        if (img_ && w == w_ && h == h_) return true;
        drop(d);
        const int screen = DefaultScreen(d);
        if (XShmQueryExtension(d)) {
            img_ =
                XShmCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap,
                                nullptr, &shm_, static_cast<unsigned>(w), static_cast<unsigned>(h));
            if (img_) attach(d, static_cast<size_t>(img_->bytes_per_line) * h);
            if (img_ && !shared_) {
                img_->data = nullptr;
                XDestroyImage(img_);
                img_ = nullptr;
            }
        }
        if (!img_) {
            img_ = XCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap, 0,
                                nullptr, static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
            if (!img_) return false;
            img_->data =
                static_cast<char *>(std::malloc(static_cast<size_t>(img_->bytes_per_line) * h));
            if (!img_->data) {
                XDestroyImage(img_);
                img_ = nullptr;
                return false;
            }
        }
        w_ = w;
        h_ = h;
        return true;
    }

    // A segment both sides attach; a server elsewhere cannot, and the picture then goes the
    // plain way.
    void attach(Display *d, size_t bytes) {
        shm_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (shm_.shmid < 0) return;
        void *at = shmat(shm_.shmid, nullptr, 0);
        if (at == reinterpret_cast<void *>(-1)) {
            shmctl(shm_.shmid, IPC_RMID, nullptr);
            return;
        }
        img_->data = shm_.shmaddr = static_cast<char *>(at);
        shm_.readOnly = False;
        XSync(d, False);
        XErrorHandler before = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
        const bool asked = XShmAttach(d, &shm_);
        XSync(d, False);
        XSetErrorHandler(before);
        shared_ = asked && attached(d);
        // Gone by itself once both have let go.
        shmctl(shm_.shmid, IPC_RMID, nullptr);
        if (shared_) return;
        if (asked) {
            XShmDetach(d, &shm_);
            XSync(d, False);
        }
        shmdt(at);
    }

    // Whether the server took the segment: it answers a tiny put from it without an error.
    bool attached(Display *d) {
        static bool failed;
        failed = false;
        XErrorHandler before = XSetErrorHandler([](Display *, XErrorEvent *) {
            failed = true;
            return 0;
        });
        Pixmap p = XCreatePixmap(d, DefaultRootWindow(d), 1, 1,
                                 static_cast<unsigned>(DefaultDepth(d, DefaultScreen(d))));
        GC gc = XCreateGC(d, p, 0, nullptr);
        XShmPutImage(d, p, gc, img_, 0, 0, 0, 0, 1, 1, False);
        XSync(d, False);
        XFreeGC(d, gc);
        XFreePixmap(d, p);
        XSync(d, False);
        XSetErrorHandler(before);
        return !failed;
    }

    void drop(Display *d) {
        if (!img_) return;
        if (shared_) {
            XShmDetach(d, &shm_);
            XSync(d, False);
            shmdt(shm_.shmaddr);
            img_->data = nullptr;
        }
        XDestroyImage(img_); // frees a plain picture's data
        img_ = nullptr;
        shared_ = false;
    }

    GC gc_of(Display *d, Window w) {
        if (!gc_) gc_ = XCreateGC(d, w, 0, nullptr);
        return gc_;
    }

    XImage *img_ = nullptr;
    XShmSegmentInfo shm_{};
    bool shared_ = false;
    int w_ = 0, h_ = 0;
    bool checked_ = false, layout_ok_ = false;
    GC gc_ = nullptr;
    std::vector<uint32_t> frame_;
};

block_picture blocks;

void place_frame_in_buffer() {
    if (frame_window)
        frame_gl_place(frame_w, frame_h);
    else
        frame_gl_place(win_w, win_h);
}

// A window for GL to draw the frame in, never mapped, of the game window's visual; null when
// GL cannot draw there with the game's context (an X error, caught, says so).
Window make_frame_window(Display *d, Visual *visual, int depth, Colormap colormap) {
    XSetWindowAttributes sa;
    sa.colormap = colormap;
    sa.border_pixel = 0;
    Window w = XCreateWindow(d, RootWindow(d, DefaultScreen(d)), 0, 0,
                             static_cast<unsigned>(frame_w), static_cast<unsigned>(frame_h), 0,
                             depth, InputOutput, visual, CWColormap | CWBorderPixel, &sa);
    if (!w) return 0;
    static bool failed;
    failed = false;
    XSync(d, False);
    XErrorHandler before = XSetErrorHandler([](Display *, XErrorEvent *) {
        failed = true;
        return 0;
    });
    const bool current = glXMakeCurrent(d, w, glXGetCurrentContext());
    XSync(d, False);
    XSetErrorHandler(before);
    if (current && !failed) return w;
    XDestroyWindow(d, w);
    return 0;
}

bool start_frame_window() {
    Display *d = display();
    const Window shown = window_of();
    if (frame_window || !d || frame_setup.linear || !software_renderer() || !blocks.usable(d))
        return frame_window != 0;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, shown, &a)) return false;
    frame_window = make_frame_window(d, a.visual, a.depth, a.colormap);
    return frame_window != 0;
}

// Back to drawing in the game's window (a window smaller than the frame has no whole blocks).
void stop_frame_window() {
    Display *d = display();
    if (!frame_window || !d) return;
    glXMakeCurrent(d, window_of(), glXGetCurrentContext());
    XDestroyWindow(d, frame_window);
    frame_window = 0;
    place_frame_in_buffer();
}

// A window manager that takes fullscreen requests (EWMH): one runs, and says it does.
bool manager_takes_fullscreen(Display *d) {
    const Window root = DefaultRootWindow(d);
    const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    auto window_property = [&](Window w, Window &out) {
        Atom type;
        int format;
        unsigned long n = 0, after = 0;
        unsigned char *data = nullptr;
        bool ok = XGetWindowProperty(d, w, check, 0, 1, False, XA_WINDOW, &type, &format, &n,
                                     &after, &data) == Success &&
                  type == XA_WINDOW && n == 1 && data;
        if (ok) out = *reinterpret_cast<Window *>(data);
        if (data) XFree(data);
        return ok;
    };
    // The manager's own window names itself; a stale one left by a manager gone does not.
    XSync(d, False);
    XErrorHandler before = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    Window child = 0, self = 0;
    const bool running =
        window_property(root, child) && window_property(child, self) && self == child;
    XSync(d, False);
    XSetErrorHandler(before);
    if (!running) return false;
    const Atom supported = XInternAtom(d, "_NET_SUPPORTED", False);
    const Atom full = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
    Atom type;
    int format;
    unsigned long n = 0, after = 0;
    unsigned char *data = nullptr;
    bool found = false;
    if (XGetWindowProperty(d, root, supported, 0, 4096, False, XA_ATOM, &type, &format, &n, &after,
                           &data) == Success &&
        data) {
        const Atom *atoms = reinterpret_cast<Atom *>(data);
        for (unsigned long i = 0; i < n && !found; ++i)
            found = atoms[i] == full;
    }
    if (data) XFree(data);
    return found;
}

// Fullscreen through the window manager where one takes it; with none, the window itself
// covers the screen and goes back where it was.
void set_fullscreen(bool on, bool at_start) {
    Display *d = display();
    const Window w = window_of();
    if (!d || !w) return;
    fullscreen = on;
    if (manager_takes_fullscreen(d)) {
        const Atom state = XInternAtom(d, "_NET_WM_STATE", False);
        Atom full = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
        // A window not yet managed is read as it is mapped: the state goes with it.
        if (at_start)
            XChangeProperty(d, w, state, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char *>(&full), 1);
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = state;
        e.xclient.format = 32;
        e.xclient.data.l[0] = on ? 1 : 0; // add, remove
        e.xclient.data.l[1] = static_cast<long>(full);
        e.xclient.data.l[3] = 1; // asked by an application
        XSendEvent(d, DefaultRootWindow(d), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &e);
    } else if (on) {
        refresh_geometry(d, w);
        windowed[0] = frame_rect.left;
        windowed[1] = frame_rect.top;
        windowed[2] = client_w;
        windowed[3] = client_h;
        XMoveResizeWindow(d, w, 0, 0, static_cast<unsigned>(DisplayWidth(d, DefaultScreen(d))),
                          static_cast<unsigned>(DisplayHeight(d, DefaultScreen(d))));
        XRaiseWindow(d, w);
    } else {
        XMoveResizeWindow(d, w, windowed[0], windowed[1], static_cast<unsigned>(windowed[2]),
                          static_cast<unsigned>(windowed[3]));
    }
    geometry_valid = false;
    XFlush(d);
}

void toggle_fullscreen() {
    // From a plain window the frame goes off screen first, at the size the game has (the
    // window's first size, before the game has heard of any).
    if (!start_scaled(game_w > 0 ? game_w : first_w, game_h > 0 ? game_h : first_h)) return;
    set_fullscreen(!fullscreen, false);
}

// The window system's callbacks, before the game's: in a scaled frame the window's own sizes
// stay the platform's (the game gets its size once), and positions come in frame pixels.
void window_reshaped(int w, int h) {
    win_w = w;
    win_h = h;
    geometry_valid = false;
    if (!scaled) {
        game_reshaped = true;
        if (game_reshape)
            game_reshape(w, h);
        else
            glViewport(0, 0, w, h);
        if (converting) update_rate();
        return;
    }
    // The frame is read from the window's buffer, which is never swapped while the blocks go
    // through the server; but only a swap makes this GL take the window's new size.
    if (!frame_window) glutSwapBuffers();
    place_frame_in_buffer();
    update_rate();
    if (!game_reshaped) {
        game_reshaped = true;
        if (game_reshape) game_reshape(frame_w, frame_h);
    }
    glutPostRedisplay();
}

void key_pressed(unsigned char key, int x, int y) {
    if (key == '\r' && (glutGetModifiers() & GLUT_ACTIVE_ALT)) {
        toggle_fullscreen();
        return;
    }
    to_frame(x, y);
    if (game_keyboard) game_keyboard(key, x, y);
}

void special_key(int key, int, int) {
    if (key == GLUT_KEY_F11) toggle_fullscreen();
}

void button(int b, int state, int x, int y) {
    to_frame(x, y);
    if (game_mouse) game_mouse(b, state, x, y);
}

} // namespace

void glut_window_size(int &width, int &height) {
    if (!frame_setup.scaled) return;
    int n = frame_setup.scale;
    if (n <= 0)
        n = auto_scale(glutGet(GLUT_SCREEN_WIDTH), glutGet(GLUT_SCREEN_HEIGHT), width, height);
    width *= n;
    height *= n;
}

plat_window glut_window_opened(const plat_window_setup &setup, const plat_callbacks &cb) {
    game_motion = cb.passive_motion;
    game_reshape = cb.reshape;
    game_keyboard = cb.keyboard;
    game_mouse = cb.mouse;
    merge.set_handler(to_game);
    if (cb.passive_motion) glutPassiveMotionFunc(passive_motion);
    glutReshapeFunc(window_reshaped);
    glutKeyboardFunc(key_pressed);
    glutSpecialFunc(special_key);
    glutMouseFunc(button);
    const Window w = static_cast<Window>(glXGetCurrentDrawable());
    watch_window(w);
    // The window manager reads the title as UTF-8; the desktop matches the window to its menu
    // entry and icon by the class.
    set_title(w, setup.title);
    set_class(w, setup.instance, setup.klass);
    win_w = glutGet(GLUT_WINDOW_WIDTH);
    win_h = glutGet(GLUT_WINDOW_HEIGHT);
    first_w = setup.width;
    first_h = setup.height;
    update_rate();
    if (frame_setup.scaled || frame_setup.fullscreen) start_scaled(setup.width, setup.height);
    if (frame_setup.fullscreen && scaled) set_fullscreen(true, true);
    return static_cast<plat_window>(w);
}

void glut_swap() {
    if (scaled) {
        const frame_layout l = layout();
        Display *d = display();
        // Whole blocks through the server; otherwise GL scales the frame into the back buffer.
        if (!frame_setup.linear && d && blocks.show(d, window_of(), l, win_w, win_h)) {
            // Drawn elsewhere (another GL drawable made current behind our back): from the
            // next frame on, in the frame's window again.
            if (frame_window && glXGetCurrentDrawable() != frame_window)
                glXMakeCurrent(d, frame_window, glXGetCurrentContext());
            return;
        }
        if (frame_window) {
            // This frame lies in the frame's window; the next is drawn where GL's copy scales.
            stop_frame_window();
            glutPostRedisplay();
            return;
        }
        frame_gl_show(l, win_w, win_h, frame_setup.linear);
    }
    glutSwapBuffers();
}

void plat_set_frame(const plat_frame_setup &setup) {
    frame_setup = setup;
    if (frame_setup.sensitivity <= 0) frame_setup.sensitivity = 1.0;
}

void plat_frame_size(int w, int h) {
    game_w = w;
    game_h = h;
    if (!scaled || w <= 0 || h <= 0) return;
    if (w != frame_w || h != frame_h) {
        frame_w = w;
        frame_h = h;
        frame_gl_resize(w, h);
        if (frame_window) {
            // GL takes a drawable's new size at its next swap (of a window no one sees).
            Display *d = display();
            XResizeWindow(d, frame_window, static_cast<unsigned>(w), static_cast<unsigned>(h));
            glXSwapBuffers(d, frame_window);
        }
        update_rate();
    }
    // The game has just set its viewport; the frame's place in the window is the platform's.
    place_frame_in_buffer();
}

bool plat_frame_scaled() {
    return scaled;
}

plat_window plat_driven_window(const plat_callbacks &cb) {
    game_motion = cb.passive_motion;
    merge.set_handler(to_game);
    return 0;
}

bool plat_window_possible(int argc, char **argv, std::string &why) {
    const char *name = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-display") == 0) name = argv[i + 1];
    if (Display *d = XOpenDisplay(name)) {
        XCloseDisplay(d);
        return true;
    }
    const char *shown = name ? name : std::getenv("DISPLAY");
    if (!shown || !*shown)
        why = "no display to open the window on (DISPLAY is not set)";
    else
        why = std::string("cannot open the display ") + shown;
    return false;
}

void plat_screen_size(int &w, int &h) {
    Display *d = display();
    w = d ? DisplayWidth(d, DefaultScreen(d)) : 0;
    h = d ? DisplayHeight(d, DefaultScreen(d)) : 0;
}

bool plat_read_window(std::vector<uint8_t> &rgb, int &w, int &h) {
    Display *d = display();
    if (!d || !plat_window_open()) return false;
    glFinish();
    XSync(d, False);
    plat_window_size(w, h);
    XImage *img = XGetImage(d, window_of(), 0, 0, static_cast<unsigned>(w),
                            static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (!img) return false;
    rgb.resize(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned long p = XGetPixel(img, x, y);
            uint8_t *o = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            o[0] = (p >> 16) & 0xFF;
            o[1] = (p >> 8) & 0xFF;
            o[2] = p & 0xFF;
        }
    }
    XDestroyImage(img);
    return true;
}

void plat_motion_event(int32_t x, int32_t y, bool always) {
    merge.pointer_at(x, y, always);
}

void plat_confine_pointer(plat_window, bool on) {
    if (recording) {
        driven.confine(on);
        return;
    }
    confine_wanted = on;
    poll_watch();
    update_grab();
}

void plat_set_recording(bool on) {
    recording = on;
}
bool plat_recording() {
    return recording;
}
std::vector<plat_event> &plat_recorded() {
    return driven.events();
}

plat_rect plat_window_rect(plat_window w) {
    plat_rect r{0, 0, 0, 0};
    Display *d = display();
    if (recording) {
        // The size the last reshape gave: asking the server would cost a round trip a motion.
        int cw = win_w, ch = win_h;
        if (cw <= 0 || ch <= 0) plat_window_size(cw, ch);
        return driven.window_rect(cw, ch);
    }
    if (!d || !w) return r;
    poll_watch();
    if (!geometry_valid || static_cast<Window>(w) != window_of())
        refresh_geometry(d, static_cast<Window>(w));
    // In frame pixels the game's screen is its frame: the window stands at its origin.
    if (converting) return {0, 0, scaled ? frame_w : win_w, scaled ? frame_h : win_h};
    return frame_rect;
}

void plat_warp_cursor(int32_t x, int32_t y) {
    if (recording) {
        driven.warp(x, y);
        return;
    }
    Display *d = display();
    if (!d) return;
    const Window w = window_of();
    if (!geometry_valid && w) refresh_geometry(d, w);
    warp_serial = NextRequest(d);
    auto clamp = [](int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; };
    if (converting) {
        // (x, y) is a frame point; the pointer goes to the window point that stands for it.
        int wx, wy;
        if (answering && seen) {
            int dx, dy;
            conv.warp_by(x, y, dx, dy, wx, wy);
            XWarpPointer(d, None, None, 0, 0, 0, 0, dx, dy);
        } else {
            conv.warp_to(layout(), x, y, wx, wy);
            XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, client_x + wx, client_y + wy);
        }
        XFlush(d);
        int lx = clamp(client_x + wx, 0, DisplayWidth(d, DefaultScreen(d)) - 1);
        int ly = clamp(client_y + wy, 0, DisplayHeight(d, DefaultScreen(d)) - 1);
        if (grabbed) {
            lx = clamp(lx, client_x, client_x + client_w - 1);
            ly = clamp(ly, client_y, client_y + client_h - 1);
        }
        int fx, fy;
        conv.landed(lx - client_x, ly - client_y, fx, fy);
        merge.warped(fx, fy);
        return;
    }
    if (answering && seen) {
        // Relative to the point just handled, so motion the game has not seen yet is kept.
        XWarpPointer(d, None, None, 0, 0, 0, 0, x - seen_x, y - seen_y);
    } else {
        XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, x, y);
    }
    XFlush(d);
    // Where the pointer lands: the screen holds it, and the window while it is confined.
    int lx = clamp(x, 0, DisplayWidth(d, DefaultScreen(d)) - 1);
    int ly = clamp(y, 0, DisplayHeight(d, DefaultScreen(d)) - 1);
    if (grabbed) {
        lx = clamp(lx, client_x, client_x + client_w - 1);
        ly = clamp(ly, client_y, client_y + client_h - 1);
    }
    merge.warped(lx - client_x, ly - client_y);
}

void plat_hide_cursor() {
    if (recording) {
        driven.hide();
        return;
    }
    glutSetCursor(GLUT_CURSOR_NONE);
}

namespace {

// The title face: a Japanese Gothic as fontconfig chooses it for the Windows face names.
struct title_face {
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    bool tried = false;

    FT_Face get() {
        if (tried) return face;
        tried = true;
        if (FT_Init_FreeType(&lib)) return nullptr;
        if (!FcInit()) return nullptr;
        for (const char *name : {u8"ＭＳ ゴシック:lang=ja", u8"MS Gothic:lang=ja"}) {
            FcPattern *pat = FcNameParse(reinterpret_cast<const FcChar8 *>(name));
            if (!pat) continue;
            FcConfigSubstitute(nullptr, pat, FcMatchPattern);
            FcDefaultSubstitute(pat);
            FcResult res;
            FcPattern *match = FcFontMatch(nullptr, pat, &res);
            FcPatternDestroy(pat);
            if (!match) continue;
            FcChar8 *file = nullptr;
            int index = 0;
            FcPatternGetString(match, FC_FILE, 0, &file);
            FcPatternGetInteger(match, FC_INDEX, 0, &index);
            if (file && FT_New_Face(lib, reinterpret_cast<const char *>(file), index, &face) != 0)
                face = nullptr;
            FcPatternDestroy(match);
            if (face) break;
        }
        if (face) {
            // A Windows font height of 30 is the cell height: ascent plus descent.
            FT_Size_RequestRec req{FT_SIZE_REQUEST_TYPE_CELL, 0, 30 << 6, 0, 0};
            FT_Request_Size(face, &req);
        }
        return face;
    }
};

title_face the_face;

std::u32string decode_sjis(const char *sjis, int32_t len) {
    std::u32string out;
    iconv_t cd = iconv_open("UTF-32LE", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    char *in = const_cast<char *>(sjis);
    size_t inleft = static_cast<size_t>(len > 0 ? len : 0);
    std::vector<char32_t> buf(inleft + 1);
    char *o = reinterpret_cast<char *>(buf.data());
    size_t oleft = buf.size() * sizeof(char32_t);
    while (inleft > 0) {
        if (iconv(cd, &in, &inleft, &o, &oleft) == static_cast<size_t>(-1)) {
            ++in; // skip a byte the code page does not know
            --inleft;
        }
    }
    iconv_close(cd);
    out.assign(buf.data(), (reinterpret_cast<char32_t *>(o) - buf.data()));
    return out;
}

// Pixels of a rendered line, relative to the cell's top-left corner.
std::vector<XPoint> render_line(const std::string &sjis) {
    std::vector<XPoint> pts;
    FT_Face face = the_face.get();
    if (!face) return pts;
    const int ascent = static_cast<int>(face->size->metrics.ascender >> 6);
    int pen = 0;
    for (char32_t c : decode_sjis(sjis.data(), static_cast<int32_t>(sjis.size()))) {
        if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO)) continue;
        const FT_GlyphSlot g = face->glyph;
        const FT_Bitmap &bm = g->bitmap;
        for (unsigned row = 0; row < bm.rows; ++row) {
            const unsigned char *line = bm.buffer + static_cast<long>(row) * bm.pitch;
            for (unsigned col = 0; col < bm.width; ++col) {
                if (line[col >> 3] & (0x80 >> (col & 7)))
                    pts.push_back(
                        {static_cast<short>(pen + g->bitmap_left + static_cast<int>(col)),
                         static_cast<short>(ascent - g->bitmap_top + static_cast<int>(row))});
            }
        }
        pen += static_cast<int>(g->advance.x >> 6);
    }
    return pts;
}

} // namespace

void plat_title_text(plat_window w, int32_t x, int32_t y, const char *sjis, int32_t len) {
    Display *d = display();
    if (!d || !w || !sjis || len <= 0) return;
    static std::map<std::string, std::vector<XPoint>> cache;
    const std::string text(sjis, static_cast<size_t>(len));
    auto it = cache.find(text);
    if (it == cache.end()) it = cache.emplace(text, render_line(text)).first;
    std::vector<XPoint> pts = it->second;
    for (auto &p : pts) {
        p.x = static_cast<short>(p.x + x);
        p.y = static_cast<short>(p.y + y);
    }
    GC gc = XCreateGC(d, w, 0, nullptr);
    XSetForeground(d, gc, BlackPixel(d, DefaultScreen(d)));
    if (scaled) {
        // Each pixel of the line becomes the block its frame pixel shows as.
        const frame_layout l = layout();
        std::vector<XRectangle> rects;
        rects.reserve(pts.size());
        for (const XPoint &p : pts) {
            int x0, x1, y0, y1;
            frame_span(l, p.x, false, x0, x1);
            frame_span(l, p.y, true, y0, y1);
            rects.push_back({static_cast<short>(x0), static_cast<short>(y0),
                             static_cast<unsigned short>(x1 - x0),
                             static_cast<unsigned short>(y1 - y0)});
        }
        if (!rects.empty()) XFillRectangles(d, w, gc, rects.data(), static_cast<int>(rects.size()));
    } else if (!pts.empty()) {
        XDrawPoints(d, w, gc, pts.data(), static_cast<int>(pts.size()), CoordModeOrigin);
    }
    XFreeGC(d, gc);
    XFlush(d);
}
