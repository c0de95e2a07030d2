// The OpenGL 1.1 subset the game draws with, on WebGL. Transformation and lighting run per
// vertex here, in single precision, as the fixed-function pipeline does; WebGL only
// rasterises the lit, eye-space vertices and the bitmaps.
#include "platform/web/webgl.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <map>
#include <vector>

// The browser's WebGL calls, under the names that leave ours free.
extern "C" {
void emscripten_glEnable(GLenum cap);
void emscripten_glDisable(GLenum cap);
void emscripten_glCullFace(GLenum mode);
void emscripten_glFrontFace(GLenum mode);
void emscripten_glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a);
void emscripten_glClear(GLbitfield mask);
void emscripten_glViewport(GLint x, GLint y, GLsizei w, GLsizei h);
void emscripten_glFinish(void);
void emscripten_glFlush(void);
void emscripten_glDepthFunc(GLenum func);
GLuint emscripten_glCreateShader(GLenum type);
void emscripten_glShaderSource(GLuint shader, GLsizei count, const char *const *string,
                               const GLint *length);
void emscripten_glCompileShader(GLuint shader);
GLuint emscripten_glCreateProgram(void);
void emscripten_glAttachShader(GLuint program, GLuint shader);
void emscripten_glBindAttribLocation(GLuint program, GLuint index, const char *name);
void emscripten_glLinkProgram(GLuint program);
void emscripten_glUseProgram(GLuint program);
GLint emscripten_glGetUniformLocation(GLuint program, const char *name);
void emscripten_glUniformMatrix4fv(GLint location, GLsizei count, GLboolean transpose,
                                   const GLfloat *value);
void emscripten_glUniform4f(GLint location, GLfloat x, GLfloat y, GLfloat z, GLfloat w);
void emscripten_glUniform1i(GLint location, GLint v);
void emscripten_glGenBuffers(GLsizei n, GLuint *buffers);
void emscripten_glBindBuffer(GLenum target, GLuint buffer);
void emscripten_glBufferData(GLenum target, long size, const void *data, GLenum usage);
void emscripten_glVertexAttribPointer(GLuint index, GLint size, GLenum type, GLboolean normalized,
                                      GLsizei stride, const void *ptr);
void emscripten_glEnableVertexAttribArray(GLuint index);
void emscripten_glDrawArrays(GLenum mode, GLint first, GLsizei count);
void emscripten_glGenTextures(GLsizei n, GLuint *textures);
void emscripten_glBindTexture(GLenum target, GLuint texture);
void emscripten_glTexParameteri(GLenum target, GLenum pname, GLint param);
void emscripten_glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width,
                             GLsizei height, GLint border, GLenum format, GLenum type,
                             const void *pixels);
void emscripten_glPixelStorei(GLenum pname, GLint param);
void emscripten_glActiveTexture(GLenum texture);
}

namespace {

// WebGL names that the 1.1 header does not carry.
constexpr GLenum ARRAY_BUFFER = 0x8892;
constexpr GLenum STREAM_DRAW = 0x88E0;
constexpr GLenum VERTEX_SHADER = 0x8B31;
constexpr GLenum FRAGMENT_SHADER = 0x8B30;
constexpr GLenum TEXTURE_2D = 0x0DE1;
constexpr GLenum TEXTURE0 = 0x84C0;
constexpr GLenum ALPHA = 0x1906;
constexpr GLenum TEXTURE_MIN_FILTER = 0x2801;
constexpr GLenum TEXTURE_MAG_FILTER = 0x2800;
constexpr GLenum TEXTURE_WRAP_S = 0x2802;
constexpr GLenum TEXTURE_WRAP_T = 0x2803;
constexpr GLint NEAREST = 0x2600;
constexpr GLint CLAMP_TO_EDGE = 0x812F;
constexpr GLenum CW = 0x0900;

struct mat4 {
    float m[16]; // column-major, as GL keeps it
};

const mat4 identity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

mat4 mul(const mat4 &a, const mat4 &b) {
    mat4 r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            float s = 0;
            for (int k = 0; k < 4; ++k)
                s += a.m[k * 4 + row] * b.m[c * 4 + k];
            r.m[c * 4 + row] = s;
        }
    return r;
}

void transform(const mat4 &a, const float in[4], float out[4]) {
    for (int row = 0; row < 4; ++row)
        out[row] =
            a.m[row] * in[0] + a.m[4 + row] * in[1] + a.m[8 + row] * in[2] + a.m[12 + row] * in[3];
}

// One vertex as the rasteriser gets it: eye-space position and its final colour.
struct out_vertex {
    float pos[4];
    float rgba[4];
};

struct state {
    GLenum mode = GL_MODELVIEW;
    std::vector<mat4> modelview{identity}, projection{identity}, texture{identity};
    bool lighting = false, light0 = false, cull = false;
    float light_position[4] = {0, 0, 1, 0}; // eye space
    float light_ambient[4] = {0, 0, 0, 1};
    float light_diffuse[4] = {1, 1, 1, 1};
    float model_ambient[4] = {0.2f, 0.2f, 0.2f, 1};
    float mat_ambient[4] = {0.2f, 0.2f, 0.2f, 1};
    float mat_diffuse[4] = {0.8f, 0.8f, 0.8f, 1};
    float mat_emission[4] = {0, 0, 0, 1};
    float colour[4] = {1, 1, 1, 1};
    float normal[3] = {0, 0, 1};
    GLint viewport[4] = {0, 0, 0, 0};
    bool vertex_array = false, normal_array = false;
    GLint vertex_size = 4;
    GLenum vertex_type = GL_FLOAT;
    GLsizei vertex_stride = 0;
    const void *vertex_pointer = nullptr;
    GLenum normal_type = GL_FLOAT;
    GLsizei normal_stride = 0;
    const void *normal_pointer = nullptr;
    GLint unpack_alignment = 4;
    // Immediate mode.
    bool inside = false;
    GLenum primitive = GL_TRIANGLES;
    std::vector<out_vertex> batch;
    // Raster position in window coordinates, its depth (-1..1) and its latched colour.
    bool raster_valid = true;
    float raster[3] = {0, 0, 0};
    float raster_colour[4] = {1, 1, 1, 1};
};

state gl;

std::vector<mat4> &stack() {
    return gl.mode == GL_PROJECTION ? gl.projection
           : gl.mode == GL_TEXTURE  ? gl.texture
                                    : gl.modelview;
}
mat4 &top() {
    return stack().back();
}

// The colour of a vertex: the lit colour with lighting on, the current colour otherwise.
void shade(const float eye[4], const float nrm[3], float out[4]) {
    if (!gl.lighting) {
        std::memcpy(out, gl.colour, sizeof gl.colour);
        return;
    }
    // Normals go through the inverse transpose of the modelview; they are not renormalised.
    const float *m = gl.modelview.back().m;
    const float a = m[0], b = m[4], c = m[8], d = m[1], e = m[5], f = m[9], g = m[2], h = m[6],
                i = m[10];
    const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    const float D = -(b * i - c * h), E = a * i - c * g, F = -(a * h - b * g);
    const float G = b * f - c * e, H = -(a * f - c * d), I = a * e - b * d;
    const float det = a * A + b * B + c * C;
    float n[3] = {0, 0, 0};
    if (det != 0) {
        // Rows of the inverse transpose are the cofactor rows divided by the determinant.
        n[0] = (A * nrm[0] + B * nrm[1] + C * nrm[2]) / det;
        n[1] = (D * nrm[0] + E * nrm[1] + F * nrm[2]) / det;
        n[2] = (G * nrm[0] + H * nrm[1] + I * nrm[2]) / det;
    }
    for (int k = 0; k < 3; ++k)
        out[k] = gl.mat_emission[k] + gl.mat_ambient[k] * gl.model_ambient[k];
    if (gl.light0) {
        float l[3];
        if (gl.light_position[3] != 0) {
            for (int k = 0; k < 3; ++k)
                l[k] = gl.light_position[k] / gl.light_position[3] - eye[k] / eye[3];
        } else {
            for (int k = 0; k < 3; ++k)
                l[k] = gl.light_position[k];
        }
        const float len = std::sqrt(l[0] * l[0] + l[1] * l[1] + l[2] * l[2]);
        if (len > 0)
            for (float &v : l)
                v /= len;
        const float ndotl = n[0] * l[0] + n[1] * l[1] + n[2] * l[2];
        for (int k = 0; k < 3; ++k) {
            out[k] += gl.light_ambient[k] * gl.mat_ambient[k];
            if (ndotl > 0) out[k] += ndotl * gl.light_diffuse[k] * gl.mat_diffuse[k];
        }
    }
    for (int k = 0; k < 3; ++k)
        out[k] = out[k] < 0 ? 0 : out[k] > 1 ? 1 : out[k];
    out[3] = gl.mat_diffuse[3];
}

out_vertex process(const float obj[4], const float nrm[3]) {
    out_vertex v;
    transform(gl.modelview.back(), obj, v.pos);
    shade(v.pos, nrm, v.rgba);
    return v;
}

// Shaders: one for lit and coloured geometry, one for bitmaps.
GLuint geometry_program = 0, bitmap_program = 0;
GLint geometry_projection = -1, bitmap_colour = -1, bitmap_area = -1, bitmap_sampler = -1;
GLuint buffer = 0;

GLuint compile(GLenum type, const char *src) {
    GLuint s = emscripten_glCreateShader(type);
    emscripten_glShaderSource(s, 1, &src, nullptr);
    emscripten_glCompileShader(s);
    return s;
}

GLuint link(const char *vs, const char *fs) {
    GLuint p = emscripten_glCreateProgram();
    emscripten_glAttachShader(p, compile(VERTEX_SHADER, vs));
    emscripten_glAttachShader(p, compile(FRAGMENT_SHADER, fs));
    emscripten_glBindAttribLocation(p, 0, "a_pos");
    emscripten_glBindAttribLocation(p, 1, "a_rgba");
    emscripten_glLinkProgram(p);
    return p;
}

void ensure_programs() {
    if (geometry_program) return;
    geometry_program = link("attribute vec4 a_pos; attribute vec4 a_rgba;"
                            "uniform mat4 u_projection; varying vec4 v_rgba;"
                            "void main() { gl_Position = u_projection * a_pos;"
                            " gl_Position.y = -gl_Position.y; v_rgba = a_rgba;"
                            " gl_PointSize = 1.0; }",
                            "precision highp float; varying vec4 v_rgba;"
                            "void main() { gl_FragColor = v_rgba; }");
    geometry_projection = emscripten_glGetUniformLocation(geometry_program, "u_projection");
    // a_pos: window x, y, depth in clip units; a_rgba: texture coordinates.
    bitmap_program = link("attribute vec4 a_pos; attribute vec4 a_rgba; uniform vec4 u_area;"
                          "varying vec2 v_uv;"
                          "void main() { vec2 p = (a_pos.xy - u_area.xy) / u_area.zw * 2.0 - 1.0;"
                          " gl_Position = vec4(p.x, -p.y, a_pos.z, 1.0); v_uv = a_rgba.xy; }",
                          "precision highp float; uniform sampler2D u_bits; uniform vec4 u_colour;"
                          "varying vec2 v_uv;"
                          "void main() { if (texture2D(u_bits, v_uv).a < 0.5) discard;"
                          " gl_FragColor = u_colour; }");
    bitmap_colour = emscripten_glGetUniformLocation(bitmap_program, "u_colour");
    bitmap_area = emscripten_glGetUniformLocation(bitmap_program, "u_area");
    bitmap_sampler = emscripten_glGetUniformLocation(bitmap_program, "u_bits");
    emscripten_glGenBuffers(1, &buffer);
}

// v in eye space, drawn under the projection (or in clip space, under the identity).
void draw(GLenum webgl_mode, const std::vector<out_vertex> &v, const mat4 *projection = nullptr) {
    if (v.empty()) return;
    ensure_programs();
    emscripten_glUseProgram(geometry_program);
    emscripten_glUniformMatrix4fv(geometry_projection, 1, GL_FALSE,
                                  (projection ? *projection : gl.projection.back()).m);
    emscripten_glBindBuffer(ARRAY_BUFFER, buffer);
    emscripten_glBufferData(ARRAY_BUFFER, static_cast<long>(v.size() * sizeof(out_vertex)),
                            v.data(), STREAM_DRAW);
    emscripten_glEnableVertexAttribArray(0);
    emscripten_glEnableVertexAttribArray(1);
    emscripten_glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(out_vertex), nullptr);
    emscripten_glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, sizeof(out_vertex),
                                     reinterpret_cast<const void *>(4 * sizeof(float)));
    emscripten_glDrawArrays(webgl_mode, 0, static_cast<GLsizei>(v.size()));
}

// Lines in clip space. A line lying exactly on the boundary between two rows of pixels (or
// two columns) has the row below it lit on the desktop (the column left of it), and the
// browser's rasteriser, drawing upside down, would light the other one: such a line is moved
// a quarter of a pixel to the desktop's side, where no rasteriser can choose otherwise.
void draw_lines(const std::vector<out_vertex> &eye) {
    const float vw = static_cast<float>(gl.viewport[2]), vh = static_cast<float>(gl.viewport[3]);
    std::vector<out_vertex> v = eye;
    for (size_t i = 0; i < v.size(); ++i)
        transform(gl.projection.back(), eye[i].pos, v[i].pos);
    auto window = [&](const out_vertex &o, int axis) {
        const float size = axis == 0 ? vw : vh;
        return gl.viewport[axis] + (o.pos[axis] / o.pos[3] + 1) * 0.5f * size;
    };
    auto on_boundary = [](float a, float b) {
        return std::fabs(a - b) < 1e-3f && std::fabs(a - std::round(a)) < 1e-3f;
    };
    for (size_t i = 0; i + 2 <= v.size(); i += 2) {
        out_vertex &a = v[i], &b = v[i + 1];
        if (a.pos[3] <= 0 || b.pos[3] <= 0 || vw <= 0 || vh <= 0) continue;
        const float ax = window(a, 0), ay = window(a, 1), bx = window(b, 0), by = window(b, 1);
        const int minor = std::fabs(bx - ax) >= std::fabs(by - ay) ? 1 : 0;
        const float am = minor ? ay : ax, bm = minor ? by : bx;
        if (!on_boundary(am, bm)) continue;
        const float shift = 0.25f * 2 / (minor ? vh : vw);
        a.pos[minor] -= shift * a.pos[3];
        b.pos[minor] -= shift * b.pos[3];
    }
    draw(GL_LINES, v, &identity);
}

// Quads become two triangles each, (0, 1, 3) and (1, 2, 3), as the desktop splits them.
void flush_batch(GLenum mode, const std::vector<out_vertex> &v) {
    if (mode == GL_QUADS) {
        std::vector<out_vertex> tris;
        tris.reserve(v.size() / 4 * 6);
        for (size_t i = 0; i + 4 <= v.size(); i += 4)
            for (size_t k : {0, 1, 3, 1, 2, 3})
                tris.push_back(v[i + k]);
        draw(GL_TRIANGLES, tris);
    } else if (mode == GL_LINES) {
        draw_lines(v);
    } else if (mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_LINE_STRIP ||
               mode == GL_LINE_LOOP || mode == GL_TRIANGLE_FAN || mode == GL_POINTS) {
        draw(mode, v);
    }
}

double fetch(const void *base, GLenum type, GLsizei stride, int size, int index, int k) {
    const int elem = type == GL_DOUBLE ? 8 : type == GL_FLOAT ? 4 : 2;
    const char *p = static_cast<const char *>(base) +
                    static_cast<long>(index) * (stride ? stride : size * elem) + k * elem;
    switch (type) {
    case GL_DOUBLE: {
        double d;
        std::memcpy(&d, p, 8);
        return d;
    }
    case GL_FLOAT: {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    default: {
        short s;
        std::memcpy(&s, p, 2);
        return s;
    }
    }
}

out_vertex array_vertex(int index) {
    float obj[4] = {0, 0, 0, 1};
    for (int k = 0; k < gl.vertex_size && k < 4; ++k)
        obj[k] = static_cast<float>(
            fetch(gl.vertex_pointer, gl.vertex_type, gl.vertex_stride, gl.vertex_size, index, k));
    float n[3] = {gl.normal[0], gl.normal[1], gl.normal[2]};
    if (gl.normal_array && gl.normal_pointer)
        for (int k = 0; k < 3; ++k)
            n[k] = static_cast<float>(
                fetch(gl.normal_pointer, gl.normal_type, gl.normal_stride, 3, index, k));
    return process(obj, n);
}

struct glyph_key {
    const GLubyte *bits;
    GLsizei w, h;
    GLint align;
    bool operator<(const glyph_key &o) const {
        if (bits != o.bits) return bits < o.bits;
        if (w != o.w) return w < o.w;
        if (h != o.h) return h < o.h;
        return align < o.align;
    }
};

// Bitmaps come from the font held in memory for the whole run: one texture each, made once.
GLuint glyph_texture(const GLubyte *bits, GLsizei w, GLsizei h) {
    static std::map<glyph_key, GLuint> cache;
    const glyph_key key{bits, w, h, gl.unpack_alignment};
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    const int row_bytes = (w + 7) / 8;
    const int a = gl.unpack_alignment > 0 ? gl.unpack_alignment : 1;
    const int stride = (row_bytes + a - 1) / a * a;
    std::vector<GLubyte> alpha(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            alpha[static_cast<size_t>(y) * w + x] =
                (bits[y * stride + x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
    GLuint t = 0;
    emscripten_glGenTextures(1, &t);
    emscripten_glBindTexture(TEXTURE_2D, t);
    emscripten_glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    emscripten_glTexImage2D(TEXTURE_2D, 0, ALPHA, w, h, 0, ALPHA, GL_UNSIGNED_BYTE, alpha.data());
    emscripten_glTexParameteri(TEXTURE_2D, TEXTURE_MIN_FILTER, NEAREST);
    emscripten_glTexParameteri(TEXTURE_2D, TEXTURE_MAG_FILTER, NEAREST);
    emscripten_glTexParameteri(TEXTURE_2D, TEXTURE_WRAP_S, CLAMP_TO_EDGE);
    emscripten_glTexParameteri(TEXTURE_2D, TEXTURE_WRAP_T, CLAMP_TO_EDGE);
    cache.emplace(key, t);
    return t;
}

} // namespace

void web_gl_start() {
    gl = state();
    geometry_program = bitmap_program = 0;
    ensure_programs();
    // Frames are drawn upside down and the page shows the canvas turned over: the browser's
    // rasteriser gives a pixel whose centre lies on an edge to the triangle above it, the
    // desktop's to the one below, and turned over they agree. Faces turn with the picture.
    emscripten_glFrontFace(CW);
    // One draw of each program, unseen, so the driver has made them ready before the game's
    // first frame.
    static const GLubyte dot[1] = {0};
    const out_vertex far_away = {{0, 0, 2, 1}, {0, 0, 0, 0}};
    draw(GL_POINTS, {far_away});
    gl.viewport[2] = gl.viewport[3] = 1;
    glBitmap(1, 1, 0, 0, 0, 0, dot);
    gl = state();
}

extern "C" {

void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) {
    emscripten_glClearColor(r, g, b, a);
}
void glClear(GLbitfield mask) {
    emscripten_glClear(mask);
}
void glFinish(void) {
    emscripten_glFinish();
}
void glFlush(void) {
    emscripten_glFlush();
}

void glEnable(GLenum cap) {
    if (cap == GL_LIGHTING)
        gl.lighting = true;
    else if (cap == GL_LIGHT0)
        gl.light0 = true;
    else if (cap == GL_DEPTH_TEST || cap == GL_CULL_FACE)
        emscripten_glEnable(cap);
    if (cap == GL_CULL_FACE) gl.cull = true;
}
void glDisable(GLenum cap) {
    if (cap == GL_LIGHTING)
        gl.lighting = false;
    else if (cap == GL_LIGHT0)
        gl.light0 = false;
    else if (cap == GL_DEPTH_TEST || cap == GL_CULL_FACE)
        emscripten_glDisable(cap);
    if (cap == GL_CULL_FACE) gl.cull = false;
}
void glCullFace(GLenum mode) {
    emscripten_glCullFace(mode);
}
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h) {
    gl.viewport[0] = x;
    gl.viewport[1] = y;
    gl.viewport[2] = w;
    gl.viewport[3] = h;
    emscripten_glViewport(x, y, w, h);
}

void glMatrixMode(GLenum mode) {
    if (mode == GL_MODELVIEW || mode == GL_PROJECTION || mode == GL_TEXTURE) gl.mode = mode;
}
void glLoadIdentity(void) {
    top() = identity;
}
void glLoadMatrixf(const GLfloat *m) {
    std::memcpy(top().m, m, sizeof(mat4));
}
void glMultMatrixd(const GLdouble *m) {
    mat4 f;
    for (int i = 0; i < 16; ++i)
        f.m[i] = static_cast<float>(m[i]);
    top() = mul(top(), f);
}
void glPushMatrix(void) {
    std::vector<mat4> &s = stack();
    // The depths Mesa offers; deeper pushes are dropped as there.
    const size_t limit = gl.mode == GL_TEXTURE ? 10 : 32;
    if (s.size() < limit) s.push_back(s.back());
}
void glPopMatrix(void) {
    std::vector<mat4> &s = stack();
    if (s.size() > 1) s.pop_back();
}
void glRotated(GLdouble angle, GLdouble x, GLdouble y, GLdouble z) {
    const float a = static_cast<float>(angle);
    if (a == 0.0f) return;
    float ax = static_cast<float>(x), ay = static_cast<float>(y), az = static_cast<float>(z);
    const float len = std::sqrt(ax * ax + ay * ay + az * az);
    if (len == 0) return;
    ax /= len;
    ay /= len;
    az /= len;
    const float rad = a * static_cast<float>(M_PI / 180.0);
    const float s = std::sin(rad), c = std::cos(rad), t = 1 - c;
    mat4 r = identity;
    r.m[0] = ax * ax * t + c;
    r.m[1] = ay * ax * t + az * s;
    r.m[2] = az * ax * t - ay * s;
    r.m[4] = ax * ay * t - az * s;
    r.m[5] = ay * ay * t + c;
    r.m[6] = az * ay * t + ax * s;
    r.m[8] = ax * az * t + ay * s;
    r.m[9] = ay * az * t - ax * s;
    r.m[10] = az * az * t + c;
    top() = mul(top(), r);
}
void glTranslated(GLdouble x, GLdouble y, GLdouble z) {
    mat4 &m = top();
    const float v[3] = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
    for (int row = 0; row < 4; ++row)
        m.m[12 + row] += m.m[row] * v[0] + m.m[4 + row] * v[1] + m.m[8 + row] * v[2];
}
void glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
    const float L = static_cast<float>(l), R = static_cast<float>(r), B = static_cast<float>(b),
                T = static_cast<float>(t), N = static_cast<float>(n), F = static_cast<float>(f);
    if (L == R || B == T || N == F) return;
    mat4 o = identity;
    o.m[0] = 2 / (R - L);
    o.m[5] = 2 / (T - B);
    o.m[10] = -2 / (F - N);
    o.m[12] = -(R + L) / (R - L);
    o.m[13] = -(T + B) / (T - B);
    o.m[14] = -(F + N) / (F - N);
    top() = mul(top(), o);
}
void glGetFloatv(GLenum pname, GLfloat *params) {
    const std::vector<mat4> *s = pname == GL_MODELVIEW_MATRIX    ? &gl.modelview
                                 : pname == GL_PROJECTION_MATRIX ? &gl.projection
                                 : pname == GL_TEXTURE_MATRIX    ? &gl.texture
                                                                 : nullptr;
    if (s) std::memcpy(params, s->back().m, sizeof(mat4));
}
void glGetIntegerv(GLenum pname, GLint *params) {
    if (pname == GL_MATRIX_MODE)
        params[0] = static_cast<GLint>(gl.mode);
    else if (pname == GL_VIEWPORT)
        std::memcpy(params, gl.viewport, sizeof gl.viewport);
}

void glLightfv(GLenum light, GLenum pname, const GLfloat *p) {
    if (light != GL_LIGHT0) return;
    if (pname == GL_POSITION) {
        // Stored in eye space, under the modelview of the moment.
        transform(gl.modelview.back(), p, gl.light_position);
    } else if (pname == GL_AMBIENT) {
        std::memcpy(gl.light_ambient, p, sizeof gl.light_ambient);
    } else if (pname == GL_DIFFUSE) {
        std::memcpy(gl.light_diffuse, p, sizeof gl.light_diffuse);
    }
}
void glMaterialfv(GLenum face, GLenum pname, const GLfloat *p) {
    if (face != GL_FRONT && face != GL_FRONT_AND_BACK) return;
    if (pname == GL_DIFFUSE || pname == GL_AMBIENT_AND_DIFFUSE)
        std::memcpy(gl.mat_diffuse, p, sizeof gl.mat_diffuse);
    if (pname == GL_AMBIENT || pname == GL_AMBIENT_AND_DIFFUSE)
        std::memcpy(gl.mat_ambient, p, sizeof gl.mat_ambient);
    if (pname == GL_EMISSION) std::memcpy(gl.mat_emission, p, sizeof gl.mat_emission);
}

void glBegin(GLenum mode) {
    gl.inside = true;
    gl.primitive = mode;
    gl.batch.clear();
}
void glEnd(void) {
    gl.inside = false;
    flush_batch(gl.primitive, gl.batch);
    gl.batch.clear();
}
void glVertex3d(GLdouble x, GLdouble y, GLdouble z) {
    if (!gl.inside) return;
    const float obj[4] = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z), 1};
    gl.batch.push_back(process(obj, gl.normal));
}
void glNormal3d(GLdouble x, GLdouble y, GLdouble z) {
    gl.normal[0] = static_cast<float>(x);
    gl.normal[1] = static_cast<float>(y);
    gl.normal[2] = static_cast<float>(z);
}
void glColor3d(GLdouble r, GLdouble g, GLdouble b) {
    gl.colour[0] = static_cast<float>(r);
    gl.colour[1] = static_cast<float>(g);
    gl.colour[2] = static_cast<float>(b);
    gl.colour[3] = 1;
}

void glEnableClientState(GLenum array) {
    if (array == GL_VERTEX_ARRAY) gl.vertex_array = true;
    if (array == GL_NORMAL_ARRAY) gl.normal_array = true;
}
void glDisableClientState(GLenum array) {
    if (array == GL_VERTEX_ARRAY) gl.vertex_array = false;
    if (array == GL_NORMAL_ARRAY) gl.normal_array = false;
}
void glVertexPointer(GLint size, GLenum type, GLsizei stride, const GLvoid *pointer) {
    gl.vertex_size = size;
    gl.vertex_type = type;
    gl.vertex_stride = stride;
    gl.vertex_pointer = pointer;
}
void glNormalPointer(GLenum type, GLsizei stride, const GLvoid *pointer) {
    gl.normal_type = type;
    gl.normal_stride = stride;
    gl.normal_pointer = pointer;
}
void glDrawArrays(GLenum mode, GLint first, GLsizei count) {
    // Without the vertex array switched on nothing is drawn, as on the desktop.
    if (!gl.vertex_array || !gl.vertex_pointer || count <= 0) return;
    std::vector<out_vertex> v;
    v.reserve(static_cast<size_t>(count));
    for (GLint i = first; i < first + count; ++i)
        v.push_back(array_vertex(i));
    flush_batch(mode, v);
}
void glDrawElements(GLenum mode, GLsizei count, GLenum type, const GLvoid *indices) {
    if (!gl.vertex_array || !gl.vertex_pointer || count <= 0) return;
    std::vector<out_vertex> v;
    v.reserve(static_cast<size_t>(count));
    for (GLsizei i = 0; i < count; ++i) {
        const int index = type == GL_UNSIGNED_SHORT  ? static_cast<const GLushort *>(indices)[i]
                          : type == GL_UNSIGNED_BYTE ? static_cast<const GLubyte *>(indices)[i]
                                                     : static_cast<const GLint *>(indices)[i];
        v.push_back(array_vertex(index));
    }
    flush_batch(mode, v);
}

void glRasterPos2i(GLint x, GLint y) {
    const float obj[4] = {static_cast<float>(x), static_cast<float>(y), 0, 1};
    float eye[4], clip[4];
    transform(gl.modelview.back(), obj, eye);
    transform(gl.projection.back(), eye, clip);
    const float w = clip[3];
    gl.raster_valid = w > 0 && clip[0] >= -w && clip[0] <= w && clip[1] >= -w && clip[1] <= w &&
                      clip[2] >= -w && clip[2] <= w;
    if (!gl.raster_valid) return;
    gl.raster[0] = gl.viewport[0] + (clip[0] / w + 1) * 0.5f * gl.viewport[2];
    gl.raster[1] = gl.viewport[1] + (clip[1] / w + 1) * 0.5f * gl.viewport[3];
    gl.raster[2] = clip[2] / w;
    shade(eye, gl.normal, gl.raster_colour);
}
void glPixelStorei(GLenum pname, GLint param) {
    if (pname == GL_UNPACK_ALIGNMENT) gl.unpack_alignment = param;
}
void glBitmap(GLsizei w, GLsizei h, GLfloat xorig, GLfloat yorig, GLfloat xmove, GLfloat ymove,
              const GLubyte *bitmap) {
    if (!gl.raster_valid) return;
    if (bitmap && w > 0 && h > 0) {
        ensure_programs();
        // The raster position is rounded down with a small allowance, as the desktop's GL
        // does, so a position a rounding error short of a whole pixel lands on it.
        const float epsilon = 0.0001f;
        const float x0 = std::floor(gl.raster[0] + epsilon - xorig),
                    y0 = std::floor(gl.raster[1] + epsilon - yorig);
        const float x1 = x0 + static_cast<float>(w), y1 = y0 + static_cast<float>(h);
        const float z = gl.raster[2];
        // Positions and texture coordinates; the first stored row is the bottom one.
        const out_vertex quad[6] = {{{x0, y0, z, 1}, {0, 0, 0, 0}}, {{x1, y0, z, 1}, {1, 0, 0, 0}},
                                    {{x1, y1, z, 1}, {1, 1, 0, 0}}, {{x0, y0, z, 1}, {0, 0, 0, 0}},
                                    {{x1, y1, z, 1}, {1, 1, 0, 0}}, {{x0, y1, z, 1}, {0, 1, 0, 0}}};
        const GLuint tex = glyph_texture(bitmap, w, h);
        emscripten_glUseProgram(bitmap_program);
        emscripten_glActiveTexture(TEXTURE0);
        emscripten_glBindTexture(TEXTURE_2D, tex);
        emscripten_glUniform1i(bitmap_sampler, 0);
        emscripten_glUniform4f(bitmap_colour, gl.raster_colour[0], gl.raster_colour[1],
                               gl.raster_colour[2], gl.raster_colour[3]);
        emscripten_glUniform4f(
            bitmap_area, static_cast<float>(gl.viewport[0]), static_cast<float>(gl.viewport[1]),
            static_cast<float>(gl.viewport[2]), static_cast<float>(gl.viewport[3]));
        emscripten_glBindBuffer(ARRAY_BUFFER, buffer);
        emscripten_glBufferData(ARRAY_BUFFER, sizeof quad, quad, STREAM_DRAW);
        emscripten_glEnableVertexAttribArray(0);
        emscripten_glEnableVertexAttribArray(1);
        emscripten_glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(out_vertex), nullptr);
        emscripten_glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, sizeof(out_vertex),
                                         reinterpret_cast<const void *>(4 * sizeof(float)));
        // Bitmaps are not culled: a pixel rectangle has no face.
        if (gl.cull) emscripten_glDisable(GL_CULL_FACE);
        emscripten_glDrawArrays(GL_TRIANGLES, 0, 6);
        if (gl.cull) emscripten_glEnable(GL_CULL_FACE);
    }
    gl.raster[0] += xmove;
    gl.raster[1] += ymove;
}

} // extern "C"
