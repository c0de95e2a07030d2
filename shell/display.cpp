// One frame: the pending key command, the camera, the world, the scope and the texts.
#include <GL/gl.h>

#include <cmath>

#include <cmath>
#include <cstring>

#include "flow/gamestate.h"
#include "flow/stage.h"
#include "ranking/score.h"
#include "shell/messages.h"
#include "shell/shell.h"
#include "world/buttai.h"

namespace {

const GLfloat lightpos[4] = {3.0f, 40.0f, 5.0f, 1.0f};
const GLfloat ground[2][4] = {{0.9f, 1.0f, 0.2f, 1.0f}, {0.8f, 0.8f, 0.3f, 1.0f}};
const GLdouble vertices[4][3] = {
    {0.1, 0.0, -1.0}, {-0.1, 0.0, -1.0}, {0.0, 0.1, -1.0}, {0.0, -0.1, -1.0}};
const GLdouble scopeVertices[12][3] = {
    {0.275, 0.275, -1.0},   {0.0, 0.275, -1.0},  {0.275, 0.0, -1.0},   // upper right
    {-0.275, 0.275, -1.0},  {-0.275, 0.0, -1.0}, {0.0, 0.275, -1.0},   // upper left
    {-0.275, -0.275, -1.0}, {0.0, -0.275, -1.0}, {-0.275, 0.0, -1.0},  // lower left
    {0.275, -0.275, -1.0},  {0.275, 0.0, -1.0},  {0.0, -0.275, -1.0}}; // lower right

// The perspective GLU's gluPerspective makes, to the bit: the frame needs nothing else of GLU,
// and a program without a window (the replay checker of a server) then links no GLU at all.
void perspective(double fovy, double aspect, double zNear, double zFar) {
    const double radians = fovy / 2 * M_PI / 180;
    const double deltaZ = zFar - zNear;
    const double sine = std::sin(radians);
    if (deltaZ == 0 || sine == 0 || aspect == 0) return;
    const double cotangent = std::cos(radians) / sine;
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    m[0] = cotangent / aspect;
    m[5] = cotangent;
    m[10] = -(zFar + zNear) / deltaZ;
    m[11] = -1;
    m[14] = -2 * zNear * zFar / deltaZ;
    m[15] = 0;
    glMultMatrixd(m);
}

bool game_over_or_empty() {
    return gs.gameover == 1 || gs.energy <= 0;
}

// The sight (cross and mask) is drawn over the world while a game is played.
bool scope_shown() {
    return gs.status != -1 && gs.gameover != 1;
}

// Which squares of the ground can give a pixel in this frame: those that reach into the
// viewport and do not lie wholly under one of the mask's triangles, which is drawn over them
// later in the frame. Everything is taken from the matrices and the viewport GL holds now; a
// margin of a pixel covers rounding, and a square in any doubt is drawn.
class ground_cull {
  public:
    explicit ground_cull(bool masked) : masked_(masked) {
        GLfloat mv[16], pr[16];
        GLint vp[4];
        glGetFloatv(GL_MODELVIEW_MATRIX, mv);
        glGetFloatv(GL_PROJECTION_MATRIX, pr);
        glGetIntegerv(GL_VIEWPORT, vp);
        double m[16]; // projection times modelview, column-major as GL keeps it
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r) {
                double v = 0;
                for (int k = 0; k < 4; ++k)
                    v += static_cast<double>(pr[k * 4 + r]) * mv[c * 4 + k];
                m[c * 4 + r] = v;
            }
        lo_x_ = vp[0] - margin;
        lo_y_ = vp[1] - margin;
        hi_x_ = vp[0] + vp[2] + margin;
        hi_y_ = vp[1] + vp[3] + margin;
        for (int j = 0; j <= cells; ++j)
            for (int i = 0; i <= cells; ++i)
                corner_[j][i] = to_window(m, vp, 5.0 * (i - 30), -0.5, 5.0 * (j - 30));
        if (!masked_) return;
        double p[16];
        for (int k = 0; k < 16; ++k)
            p[k] = pr[k];
        for (int t = 0; t < 4; ++t) {
            point v[3];
            for (int k = 0; k < 3; ++k) {
                const GLdouble *e = scopeVertices[t * 3 + k];
                v[k] = to_window(p, vp, e[0], e[1], e[2]);
                if (!v[k].ok) masked_ = false;
            }
            mask_[t] = make_triangle(v);
        }
    }

    // The square whose corner is (5i, 5j), i and j from -30 to 29.
    bool drawn(int i, int j) const {
        const point q[4] = {corner_[j + 30][i + 30], corner_[j + 31][i + 30],
                            corner_[j + 31][i + 31], corner_[j + 30][i + 31]};
        double x0 = q[0].x, x1 = q[0].x, y0 = q[0].y, y1 = q[0].y;
        for (const point &c : q) {
            if (!c.ok) return true; // at or behind the eye: left to GL's clipping
            // Finite here (ok), so plain comparisons do: libm's fmin costs a call a corner.
            x0 = c.x < x0 ? c.x : x0;
            x1 = c.x > x1 ? c.x : x1;
            y0 = c.y < y0 ? c.y : y0;
            y1 = c.y > y1 ? c.y : y1;
        }
        if (x1 < lo_x_ || x0 > hi_x_ || y1 < lo_y_ || y0 > hi_y_) return false;
        if (!masked_) return true;
        // What of the square the viewport shows; hidden when all of it is under one triangle.
        point poly[8];
        const int n = clip_to_view(q, poly);
        for (const auto &tri : mask_) {
            bool inside = n > 0;
            for (int k = 0; k < n && inside; ++k)
                inside = within(tri, poly[k]);
            if (inside) return false;
        }
        return true;
    }

  private:
    struct point {
        double x = 0, y = 0;
        bool ok = false;
    };
    static constexpr int cells = 60;
    static constexpr double margin = 1.0;

    static point to_window(const double *m, const GLint *vp, double x, double y, double z) {
        const double cx = m[0] * x + m[4] * y + m[8] * z + m[12];
        const double cy = m[1] * x + m[5] * y + m[9] * z + m[13];
        const double cw = m[3] * x + m[7] * y + m[11] * z + m[15];
        point p;
        if (!(cw > 1e-6)) return p;
        p.x = vp[0] + (cx / cw + 1.0) * 0.5 * vp[2];
        p.y = vp[1] + (cy / cw + 1.0) * 0.5 * vp[3];
        p.ok = std::isfinite(p.x) && std::isfinite(p.y);
        return p;
    }

    // A mask triangle in the window, with what within() needs of it worked out once a frame.
    struct triangle {
        point v[3];
        double turn = 0;     // 1 or -1, whichever way round it turns; 0: no area
        double need[3] = {}; // how far inside each edge a point must be: a margin, in pixels
    };

    static triangle make_triangle(const point (&v)[3]) {
        triangle t;
        for (int e = 0; e < 3; ++e)
            t.v[e] = v[e];
        const double area =
            (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[1].y - v[0].y) * (v[2].x - v[0].x);
        t.turn = area > 0 ? 1 : area < 0 ? -1 : 0;
        for (int e = 0; e < 3; ++e) {
            const point &a = v[e], &b = v[(e + 1) % 3];
            t.need[e] = margin * std::hypot(b.x - a.x, b.y - a.y);
        }
        return t;
    }

    // At least a margin inside the triangle.
    static bool within(const triangle &t, const point &p) {
        if (t.turn == 0) return false;
        for (int e = 0; e < 3; ++e) {
            const point &a = t.v[e], &b = t.v[(e + 1) % 3];
            const double side = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
            if (t.turn * side < t.need[e]) return false;
        }
        return true;
    }

    // The quad cut to the viewport (widened by the margin); the number of corners left.
    int clip_to_view(const point (&q)[4], point (&out)[8]) const {
        point a[8], b[8];
        int n = 4;
        for (int k = 0; k < 4; ++k)
            a[k] = q[k];
        for (int edge = 0; edge < 4 && n > 0; ++edge) {
            auto value = [&](const point &p) {
                switch (edge) {
                case 0:
                    return p.x - lo_x_;
                case 1:
                    return hi_x_ - p.x;
                case 2:
                    return p.y - lo_y_;
                default:
                    return hi_y_ - p.y;
                }
            };
            int m = 0;
            for (int k = 0; k < n; ++k) {
                const point &p = a[k], &r = a[(k + 1) % n];
                const double vp = value(p), vr = value(r);
                if (vp >= 0 && m < 8) b[m++] = p;
                if ((vp >= 0) != (vr >= 0) && m < 8) {
                    const double t = vp / (vp - vr);
                    point c;
                    c.x = p.x + (r.x - p.x) * t;
                    c.y = p.y + (r.y - p.y) * t;
                    c.ok = true;
                    b[m++] = c;
                }
            }
            n = m;
            for (int k = 0; k < n; ++k)
                a[k] = b[k];
        }
        for (int k = 0; k < n; ++k)
            out[k] = a[k];
        return n;
    }

    bool masked_;
    double lo_x_, lo_y_, hi_x_, hi_y_;
    point corner_[cells + 1][cells + 1];
    triangle mask_[4];
};

void run_key_command() {
    switch (key_press) {
    case KEY_N:
        if (game_over_or_empty()) gs.status = -1;
        break;
    case KEY_Y:
        if (game_over_or_empty()) restart_game();
        break;
    case KEY_S:
        if (gs.status == -1) {
            // The first game plays the stage loaded at start-up while it is still there.
            const bool first_stage_waits = gs.started == 0 && !stage_file_ended;
            if (gs.started == 0) gs.syokifirst();
            if (!first_stage_waits) restart_game();
        }
        break;
    case KEY_R:
        window_messages_listing_begin();
        clScore.outputdata();
        window_messages_listing_end();
        break;
    default:
        break;
    }
    key_press = KEY_NONE;
}

} // namespace

void restart_game() {
    fin.close();
    fin = open_stage_file();
    gs.syokinormal();
    buttai_del();
    buttaiinit();
}

void frame_rules() {
    run_key_command();
    if (gs.status != -1) {
        // The result shown on the game-over screen, computed afresh each frame; it enters the
        // ranking once, in the first such frame.
        if (gs.gameover == 1) gs.fill_result();
        if (gs.registered == 0 && gs.gameover == 1) {
            gs.rank = clScore.inputdata(gs.result);
            gs.registered = 1;
        }
    }
}

void display() {
    frame_rules();
    if (plat_window_open()) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        glRotated(ry, 1.0, 0.0, 0.0);
        glRotated(rx, 0.0, 1.0, 0.0);
        glTranslated(ply.x, ply.y, ply.z);
        glLightfv(GL_LIGHT0, GL_POSITION, lightpos);
        scene();
        plat_swap_buffers();
        // (Unless the ranking's table, in the window, stands where the line would go.)
        if (gs.status == -1 && !window_messages_over_title()) {
            char title[80];
            std::strcpy(title, "ＴＡＲＭＩＫ");
            plat_title_text(hWnd, static_cast<int32_t>(gw * 0.2857142857142857), gh / 6, title,
                            static_cast<int32_t>(std::strlen(title)));
        }
    }
    // While a game is played the pointer stays in the window, where panning can see it.
    plat_confine_pointer(hWnd, gs.status != -1 && gs.gameover == 0);
}

namespace {

// Shapes of the sight, given in eye coordinates, in one flat colour; lighting is left off
// for the caller to turn on again.
void draw_sight_part(GLenum mode, const GLdouble *vertices, int count, double red, double green) {
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
    glPushMatrix();
    glLoadIdentity();
    // freeglut's solid shapes switch the vertex array off behind our back.
    glEnableClientState(GL_VERTEX_ARRAY);
    glColor3d(red, green, 0.0);
    glVertexPointer(3, GL_DOUBLE, 0, vertices);
    glDrawArrays(mode, 0, count);
    glColor3d(0.0, 0.0, 0.0);
    glPopMatrix();
}

// The sight's dark mask lies on the near plane: drawn before the world, it leaves everything
// behind it to fail the depth test there, unshaded. Each pixel comes out as when the mask was
// drawn over the finished world, which it covered wherever it stands.
void draw_mask() {
    draw_sight_part(GL_TRIANGLES, &scopeVertices[0][0], 12, 0.0, 0.2);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
}

} // namespace

void scene() {
    if (scope_shown()) draw_mask();
    for (buttai *b : buttai_set)
        b->draw();
    for (buttai *b : tama_set)
        b->draw();
    for (buttai *b : building_set)
        b->draw();

    // Only the squares that can give a pixel are sent: a tenth of them or less. The squares
    // never overlap, so their order is free: those of one colour go together, each colour one
    // batch with its material set once.
    const ground_cull cull(scope_shown());
    bool sent[60][60];
    for (int j = -30; j < 30; ++j)
        for (int i = -30; i < 30; ++i)
            sent[j + 30][i + 30] = cull.drawn(i, j);
    for (int colour = 1; colour >= 0; --colour) {
        glMaterialfv(GL_FRONT, GL_DIFFUSE, ground[colour]);
        glBegin(GL_QUADS);
        glNormal3d(0.0, 1.0, 0.0);
        for (int j = -30; j < 30; ++j) {
            for (int i = -30; i < 30; ++i) {
                if (((i + j) & 1) != colour || !sent[j + 30][i + 30]) continue;
                glVertex3d(5.0 * i, -0.5, 5.0 * j);
                glVertex3d(5.0 * i, -0.5, 5.0 * j + 5.0);
                glVertex3d(5.0 * i + 5.0, -0.5, 5.0 * j + 5.0);
                glVertex3d(5.0 * i + 5.0, -0.5, 5.0 * j);
            }
        }
        glEnd();
    }
    // The texts are lit with the material of the last square, (29, 29): colour 0, set last.
    drawscope();
}

void drawscope() {
    if (gs.status == -1) {
        gs.viewtitle(gw, gh);
    } else if (scope_shown()) {
        // The cross; the mask went first (draw_mask).
        draw_sight_part(GL_LINES, &vertices[0][0], 4, 1.0, 0.0);
    }
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    if (gs.status != -1) {
        gs.scoredisplay(gw, gh);
        gs.scoredisplay2(gw, gh);
    }
    window_messages_draw(gw, gh);
}

void resize(int w, int h) {
    gw = w;
    gh = h;
    if (plat_window_open()) {
        glViewport(0, 0, w, h);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        // A window squashed to no height keeps a finite aspect.
        perspective(30.0, static_cast<double>(w) / (h > 0 ? h : 1), 1.0, 200.0);
        glMatrixMode(GL_MODELVIEW);
    }
    // A scaled frame is the game's window: it takes this size, and puts the viewport where
    // the frame lies.
    plat_frame_size(w, h);
    plat_warp_cursor(w / 2, h / 2);
}
