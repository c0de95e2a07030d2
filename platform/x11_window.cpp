// Window, cursor and title-text services on X11 under freeglut.
#include "platform/platform.h"

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <iconv.h>

#include <cstring>
#include <map>

namespace {

bool recording = false;
std::vector<plat_event> recorded;

Display *display() {
    return glXGetCurrentDisplay();
}

} // namespace

void plat_set_recording(bool on) {
    recording = on;
}
bool plat_recording() {
    return recording;
}
std::vector<plat_event> &plat_recorded() {
    return recorded;
}

plat_window plat_find_window() {
    return static_cast<plat_window>(glXGetCurrentDrawable());
}

void plat_set_title(plat_window w, const char *utf8) {
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

void plat_set_class(plat_window w, const char *instance, const char *klass) {
    Display *d = display();
    if (!d || !w) return;
    XClassHint hint;
    hint.res_name = const_cast<char *>(instance);
    hint.res_class = const_cast<char *>(klass);
    XSetClassHint(d, w, &hint);
    XFlush(d);
}

plat_rect plat_window_rect(plat_window w) {
    plat_rect r{0, 0, 0, 0};
    Display *d = display();
    if (recording) {
        // The driver's window stands where the game asked for it: client area at (1, 1).
        r = {1, 1, 1 + glutGet(GLUT_WINDOW_WIDTH), 1 + glutGet(GLUT_WINDOW_HEIGHT)};
        return r;
    }
    if (!d || !w) return r;
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
    r.left = x - static_cast<int>(border);
    r.top = y - static_cast<int>(border);
    r.right = x + static_cast<int>(width + border);
    r.bottom = y + static_cast<int>(height + border);
    return r;
}

void plat_warp_cursor(int32_t x, int32_t y) {
    if (recording) {
        recorded.push_back({"warp", x, y});
        return;
    }
    Display *d = display();
    if (!d) return;
    XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, x, y);
    XFlush(d);
}

void plat_hide_cursor() {
    if (recording) {
        recorded.push_back({"hide", 0, 0});
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
    if (!pts.empty())
        XDrawPoints(d, w, gc, pts.data(), static_cast<int>(pts.size()), CoordModeOrigin);
    XFreeGC(d, gc);
    XFlush(d);
}
