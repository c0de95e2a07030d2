// Title menu, head-up display and the result of a game.
#include <cmath>
#include <cstdio>

#include "base/lang.h"
#include "flow/gamestate.h"
#include "world/buttai.h"

namespace {

// Integer part of v * num / den, exact for any window size.
int32_t part(int32_t v, int32_t num, int32_t den) {
    return static_cast<int32_t>(static_cast<int64_t>(v) * num / den);
}

struct title_row {
    int32_t upto;
    const char *word;
};

// The words the ranking stores, whatever the language; shown by their translated names.
const title_row titles[] = {
    {50, N_("ロケット花火")}, {100, N_("ペットボトルロケット")},
    {150, N_("Ｖ２")},        {200, N_("ノドン")},
    {300, N_("テポドン")},    {400, N_("アグニ")},
    {500, N_("コブラ")},      {600, N_("トマホーク")},
    {700, N_("スカッド")},    {800, N_("パトリオット")},
    {900, N_("PAC-3")},       {1000, N_("BAT")},
    {1500, N_("CIA")},        {2000, N_("KGB")},
};

// Pixels a text takes in the game's font: 16 a two-byte character, 8 a single byte.
int32_t text_width(const std::string &sjis) {
    int32_t w = 0;
    for (size_t i = 0; i < sjis.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(sjis[i]);
        if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < sjis.size()) {
            w += 16;
            ++i;
        } else {
            w += 8;
        }
    }
    return w;
}

int32_t centred(int32_t w, const std::string &sjis) {
    return (w - text_width(sjis)) / 2;
}

// How far the cross's arms reach from the window's centre, in pixels: 0.1 at a distance of 1
// under the frame's field of view of 30 degrees.
int32_t cross_reach(int32_t h) {
    return static_cast<int32_t>(std::ceil(h / 2.0 * 0.1 / std::tan(15.0 * M_PI / 180.0)));
}

// The Japanese texts stand where the original put them, some across the cross; other
// languages' stage lines go clear of it: the stage number above, the banner below.
int32_t above_cross(int32_t h) {
    return h / 2 - cross_reach(h) - 8 - 16;
}
int32_t below_cross(int32_t h) {
    return h / 2 + cross_reach(h) + 8;
}

void draw(glKanji &font, const std::vector<hud_line> &lines) {
    for (const hud_line &l : lines)
        font.print(l.x, l.y, l.text.c_str());
}

} // namespace

int32_t hit_rate(int32_t hits, int32_t shots) {
    if (shots == 0) return 0; // a game without a shot has nothing to rate
    return static_cast<int32_t>(hits * 100.0 / shots);
}

const char *title_for_score(int32_t score) {
    for (const title_row &row : titles)
        if (score <= row.upto) return row.word;
    // Everything above the last step, so the ranking never stores an empty title.
    return N_("シークレットサービス");
}

clData compute_result(int32_t stage, int32_t hits, int32_t shots) {
    clData r{};
    r.stage = stage;
    r.hitrate = hit_rate(hits, shots);
    r.score = (stage * 10 + r.hitrate) * 10;
    r.title = title_for_score(r.score);
    return r;
}

std::vector<hud_line> title_lines(int32_t w, int32_t h) {
    const int32_t x = part(w, 5, 14);
    return {
        {x, h / 10 + h / 4, tr("スタート(S)")},
        {x, (h / 10) * 2 + h / 4, tr("ランキング(R)")},
        {x, h / 10 + h / 5 + h / 4, tr("終わる(Q)")},
    };
}

void gamestate::fill_result() {
    hits = shothitg;
    result = compute_result(stage, hits, shots);
}

std::vector<hud_line> gamestate::hud_lines(int32_t w, int32_t h) const {
    std::vector<hud_line> lines;
    const bool own = game_language() == japanese;
    char text[200];

    // The intro lines blink: dark one tick in five, and one in three.
    std::snprintf(text, sizeof text, tr("ステージ %d"), stage + 1);
    if (limitcount % 5 != 0 && status == 1)
        lines.push_back(own ? hud_line{part(w, 2, 5), h / 3, text}
                            : hud_line{centred(w, text), above_cross(h), text});

    std::snprintf(text, sizeof text, tr("ステージ%d クリア!!"), stage);
    if (limitcount % 3 != 0 && status == 1 && stage > 0)
        lines.push_back(own ? hud_line{w / 3, h / 2, text}
                            : hud_line{centred(w, text), below_cross(h), text});

    if (gameover != 1) {
        std::snprintf(text, sizeof text, tr("limit:%d"), 999 - limitcount);
        lines.push_back({part(w, 2, 5), part(h, 5, 6), text});
    }

    std::snprintf(text, sizeof text, tr("エネルギー:%d"), energy);
    lines.push_back({part(w, 2, 5), part(h, 5, 28), text});

    if (gameover == 1) {
        std::snprintf(text, sizeof text, tr("命中率:%d％"), result.hitrate);
        lines.push_back({w / 4, h / 2, text});
        // limitcount grows by an odd amount every tick, so the prompt blinks.
        if (limitcount % 2 == 0) lines.push_back({w / 3, part(h, 2, 3), tr("Continue? (Y/N)")});
        std::snprintf(text, sizeof text, tr("称号:%s"), tr(result.title.c_str()));
        lines.push_back({w / 4, h / 3, text});
    }
    return lines;
}

std::vector<hud_line> gamestate::result_lines(int32_t w, int32_t h) const {
    std::vector<hud_line> lines;
    if (gameover != 1) return lines;
    char text[200];
    std::snprintf(text, sizeof text, tr("順位:%d位"), rank);
    lines.push_back({w / 4, part(h, 2, 5), text});
    std::snprintf(text, sizeof text, tr("得点:%d点"), result.score);
    lines.push_back({w / 4, h / 4, text});
    return lines;
}

void gamestate::viewtitle(int32_t w, int32_t h) {
    draw(font, title_lines(w, h));
}

// The result was filled by the frame's rules before drawing began (fill_result).
void gamestate::scoredisplay(int32_t w, int32_t h) {
    draw(font, hud_lines(w, h));
}

void gamestate::scoredisplay2(int32_t w, int32_t h) {
    draw(font, result_lines(w, h));
}
