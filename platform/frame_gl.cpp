// The scaled frame on OpenGL framebuffer objects (GL 3.0, or ARB_framebuffer_object).
#define GL_GLEXT_PROTOTYPES 1
#include "platform/frame_gl.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>

namespace {

// copy: the frame taken out of the window's buffer, to be scaled back in. off: where the frame
// is drawn when the window cannot hold it (with a depth buffer of its own).
GLuint copy = 0, copy_colour = 0;
GLuint off = 0, off_colour = 0, off_depth = 0;
int frame_w = 0, frame_h = 0;
bool in_window = true; // the frame is drawn in the window's own buffer
int origin_y = 0;      // its lowest row there, as GL counts rows (from the bottom)

bool have_framebuffers() {
    GLint major = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    if (major >= 3) return true;
    const char *ext = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    return ext && std::strstr(ext, "GL_ARB_framebuffer_object");
}

void storage(GLuint rb, GLenum format) {
    glBindRenderbuffer(GL_RENDERBUFFER, rb);
    glRenderbufferStorage(GL_RENDERBUFFER, format, frame_w, frame_h);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
}

// The depth as many bits as the window's, so the game's depth tests come out the same.
GLenum depth_format() {
    GLint bits = 24;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glGetIntegerv(GL_DEPTH_BITS, &bits);
    return bits <= 16   ? GL_DEPTH_COMPONENT16
           : bits <= 24 ? GL_DEPTH_COMPONENT24
                        : GL_DEPTH_COMPONENT32;
}

void allocate() {
    storage(copy_colour, GL_RGBA8);
    if (off) {
        storage(off_colour, GL_RGBA8);
        storage(off_depth, depth_format());
    }
}

GLuint framebuffer(GLuint colour, GLuint depth) {
    GLuint fb = 0;
    glGenFramebuffers(1, &fb);
    glBindFramebuffer(GL_FRAMEBUFFER, fb);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    if (depth)
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete) {
        glDeleteFramebuffers(1, &fb);
        fb = 0;
    }
    return fb;
}

} // namespace

bool frame_gl_start(int w, int h) {
    if (copy) return true;
    if (!have_framebuffers()) return false;
    frame_w = w > 0 ? w : 1;
    frame_h = h > 0 ? h : 1;
    glGenRenderbuffers(1, &copy_colour);
    allocate();
    copy = framebuffer(copy_colour, 0);
    return copy != 0;
}

void frame_gl_resize(int w, int h) {
    if (!copy || w <= 0 || h <= 0 || (w == frame_w && h == frame_h)) return;
    frame_w = w;
    frame_h = h;
    allocate();
}

void frame_gl_place(int win_w, int win_h) {
    if (!copy) return;
    in_window = win_w >= frame_w && win_h >= frame_h;
    if (!in_window && !off) {
        glGenRenderbuffers(1, &off_colour);
        glGenRenderbuffers(1, &off_depth);
        storage(off_colour, GL_RGBA8);
        storage(off_depth, depth_format());
        off = framebuffer(off_colour, off_depth);
        in_window = off == 0; // without it, what the window holds of the frame
    }
    // The top rows: there a window of the frame's size has its own.
    origin_y = in_window ? win_h - frame_h : 0;
    glBindFramebuffer(GL_FRAMEBUFFER, in_window ? 0 : off);
    glViewport(0, origin_y, frame_w, frame_h);
    glScissor(0, origin_y, frame_w, frame_h);
    glEnable(GL_SCISSOR_TEST);
}

void frame_gl_read(uint32_t *pixels) {
    if (!copy) return;
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadBuffer(in_window ? GL_BACK : GL_COLOR_ATTACHMENT0);
    // GL gives the bottom row first; the rows are turned over by whoever takes them.
    glReadPixels(0, origin_y, frame_w, frame_h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
}

void frame_gl_show(const frame_layout &l, int win_w, int win_h, bool linear) {
    if (!copy) return;
    // The frame's scissor would hold back the copies (they obey it).
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, in_window ? 0 : off);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, copy);
    glBlitFramebuffer(0, origin_y, frame_w, origin_y + frame_h, 0, 0, frame_w, frame_h,
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, copy);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // GL counts rows from the bottom.
    const int bottom = win_h - (l.y + l.h);
    // The border, strip by strip: the frame covers the rest.
    const int strips[4][4] = {{0, 0, win_w, bottom},
                              {0, bottom + l.h, win_w, win_h - bottom - l.h},
                              {0, bottom, l.x, l.h},
                              {l.x + l.w, bottom, win_w - l.x - l.w, l.h}};
    bool cleared = false;
    GLfloat was[4];
    for (const auto &s : strips) {
        if (s[2] <= 0 || s[3] <= 0) continue;
        if (!cleared) {
            // The game's clear colour is the game's: kept around the border's own.
            glGetFloatv(GL_COLOR_CLEAR_VALUE, was);
            glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
            glEnable(GL_SCISSOR_TEST);
            cleared = true;
        }
        glScissor(s[0], s[1], s[2], s[3]);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    if (cleared) glClearColor(was[0], was[1], was[2], was[3]);
    glDisable(GL_SCISSOR_TEST);
    glBlitFramebuffer(0, 0, frame_w, frame_h, l.x, bottom, l.x + l.w, bottom + l.h,
                      GL_COLOR_BUFFER_BIT, linear ? GL_LINEAR : GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, in_window ? 0 : off);
    glScissor(0, origin_y, frame_w, frame_h);
    glEnable(GL_SCISSOR_TEST);
}
