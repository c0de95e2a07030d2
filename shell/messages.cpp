#include "shell/messages.h"

#include <GL/gl.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/lang.h"
#include "flow/gamestate.h"
#include "ranking/score.h"
#include "text/matrix.h"

namespace {

// Counted in the game's ticks, so a demo shows them as it was played.
constexpr int line_ticks = 40;  // a line shows four seconds,
constexpr int fade_ticks = 10;  // the last of them fading
constexpr int table_ticks = 60; // the table six
constexpr size_t kept_lines = 4;
constexpr int line_step = 18; // the font's 16 pixels and a little air

struct line {
    std::string sjis;
    int age;
};

bool on = false;
std::deque<line> lines;
bool listing = false;
bool table_shown = false;
int table_age = 0;
std::vector<clData> table;

void heard(const std::string &sjis) {
    if (listing) return; // the table shows these
    lines.push_back({sjis, 0});
    while (lines.size() > kept_lines)
        lines.pop_front();
}

// A text with a black outline, legible on the light ground and on the dark mask alike. Lighting
// is off, so the raster takes the current colour.
void outlined(int x, int y, const std::string &t, double r, double g, double b) {
    glColor3d(0.0, 0.0, 0.0);
    const int around[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (const auto &d : around)
        gs.font.print(x + d[0], y + d[1], t.c_str());
    glColor3d(r, g, b);
    gs.font.print(x, y, t.c_str());
}

// A dark panel behind the table, in pixels from the top-left corner.
void panel(int x0, int y0, int x1, int y1) {
    MatrixSaver modelview(GL_MODELVIEW_MATRIX);
    MatrixSaver projection(GL_PROJECTION_MATRIX);
    ScreenMatrix screen;
    glDisable(GL_CULL_FACE);
    glColor3d(0.02, 0.12, 0.02);
    glBegin(GL_QUADS);
    glVertex3d(x0, y0, 0.0);
    glVertex3d(x0, y1, 0.0);
    glVertex3d(x1, y1, 0.0);
    glVertex3d(x1, y0, 0.0);
    glEnd();
    glEnable(GL_CULL_FACE);
}

void draw_table(int w) {
    const int left = w / 2 - 214, top = 10;
    const int rows = 1 + (table.empty() ? 1 : static_cast<int>(table.size()));
    panel(left, top, left + 428, top + 8 + rows * line_step);
    const int x = left + 8, columns[5] = {x, x + 48, x + 120, x + 196, x + 256};
    int y = top + 4;
    // The heads and the cells in the game's language; the titles by their translated names.
    const char *heads[5] = {tr("順位"), tr("得点"), tr("ステージ"), tr("命中率"), tr("称号")};
    for (int c = 0; c < 5; ++c)
        outlined(columns[c], y, heads[c], 0.6, 1.0, 0.6);
    if (table.empty()) outlined(columns[0], y + line_step, tr("記録なし"), 1.0, 1.0, 1.0);
    for (size_t i = 0; i < table.size(); ++i) {
        const clData &r = table[i];
        y += line_step;
        const std::string cells[5] = {format_text(tr("%d位"), static_cast<int>(i + 1)),
                                      format_text(tr("%d点"), r.score), std::to_string(r.stage),
                                      format_text(tr("%d％"), r.hitrate), tr(r.title.c_str())};
        for (int c = 0; c < 5; ++c)
            outlined(columns[c], y, cells[c], 1.0, 1.0, 0.75);
    }
}

} // namespace

void window_messages_start() {
    on = true;
    console_set_listener(heard);
}

void window_messages_tick() {
    if (!on) return;
    for (line &l : lines)
        ++l.age;
    while (!lines.empty() && lines.front().age >= line_ticks)
        lines.pop_front();
    if (table_shown && ++table_age >= table_ticks) table_shown = false;
}

void window_messages_key() {
    table_shown = false;
}

void window_messages_listing_begin() {
    listing = true;
}

void window_messages_listing_end() {
    listing = false;
    if (!on) return;
    // The ten the console lists.
    table.assign(clScore.ranklist.begin(),
                 clScore.ranklist.begin() + std::min<size_t>(clScore.ranklist.size(), 10));
    table_shown = true;
    table_age = 0;
}

bool window_messages_over_title() {
    return on && table_shown;
}

void window_messages_draw(int w, int) {
    if (!on || (lines.empty() && !table_shown)) return;
    // Over everything, the sight's mask included, in colours of their own.
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    int y = 6;
    for (const line &l : lines) {
        const int left = line_ticks - l.age;
        const double v = left >= fade_ticks ? 1.0 : static_cast<double>(left) / fade_ticks;
        outlined(6, y, l.sjis, v, v, v);
        y += line_step;
    }
    if (table_shown) draw_table(w);
    glColor3d(0.0, 0.0, 0.0);
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
}
