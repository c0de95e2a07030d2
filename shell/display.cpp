// One frame: the pending key command, the camera, the world, the scope and the texts.
#include <GL/gl.h>

#include <cmath>

#include <cstring>

#include "flow/gamestate.h"
#include "flow/stage.h"
#include "ranking/score.h"
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
        clScore.outputdata();
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
        if (gs.status == -1) {
            char title[80];
            std::strcpy(title, "ＴＡＲＭＩＫ");
            plat_title_text(hWnd, static_cast<int32_t>(gw * 0.2857142857142857), gh / 6, title,
                            static_cast<int32_t>(std::strlen(title)));
        }
    }
    // While a game is played the pointer stays in the window, where panning can see it.
    plat_confine_pointer(hWnd, gs.status != -1 && gs.gameover == 0);
}

void scene() {
    for (buttai *b : buttai_set)
        b->draw();
    for (buttai *b : tama_set)
        b->draw();
    for (buttai *b : building_set)
        b->draw();

    glBegin(GL_QUADS);
    glNormal3d(0.0, 1.0, 0.0);
    for (int j = -30; j < 30; ++j) {
        for (int i = -30; i < 30; ++i) {
            glMaterialfv(GL_FRONT, GL_DIFFUSE, ground[(i + j) & 1]);
            glVertex3d(5.0 * i, -0.5, 5.0 * j);
            glVertex3d(5.0 * i, -0.5, 5.0 * j + 5.0);
            glVertex3d(5.0 * i + 5.0, -0.5, 5.0 * j + 5.0);
            glVertex3d(5.0 * i + 5.0, -0.5, 5.0 * j);
        }
    }
    glEnd();
    drawscope();
}

void drawscope() {
    if (gs.status == -1) {
        gs.viewtitle(gw, gh);
    } else if (gs.gameover != 1) {
        glDisable(GL_LIGHTING);
        glDisable(GL_LIGHT0);
        glPushMatrix();
        glLoadIdentity();
        // freeglut's solid shapes switch the vertex array off behind our back.
        glEnableClientState(GL_VERTEX_ARRAY);
        glColor3d(1.0, 0.0, 0.0);
        glVertexPointer(3, GL_DOUBLE, 0, vertices);
        glDrawArrays(GL_LINES, 0, 4);
        glColor3d(0.0, 0.2, 0.0);
        glVertexPointer(3, GL_DOUBLE, 0, scopeVertices);
        glDrawArrays(GL_TRIANGLES, 0, 12);
        glColor3d(0.0, 0.0, 0.0);
        glPopMatrix();
    }
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    if (gs.status != -1) {
        gs.scoredisplay(gw, gh);
        gs.scoredisplay2(gw, gh);
    }
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
    plat_warp_cursor(w / 2, h / 2);
}
