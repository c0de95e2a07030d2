// Title menu, head-up display and the result of a game.
#include <cstdio>

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

const title_row titles[] = {
    {50, "ロケット花火"}, {100, "ペットボトルロケット"},
    {150, "Ｖ２"},        {200, "ノドン"},
    {300, "テポドン"},    {400, "アグニ"},
    {500, "コブラ"},      {600, "トマホーク"},
    {700, "スカッド"},    {800, "パトリオット"},
    {900, "PAC-3"},       {1000, "BAT"},
    {1500, "CIA"},        {2000, "KGB"},
};

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
    return "シークレットサービス";
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
        {x, h / 10 + h / 4, "スタート(S)"},
        {x, (h / 10) * 2 + h / 4, "ランキング(R)"},
        {x, h / 10 + h / 5 + h / 4, "終わる(Q)"},
    };
}

void gamestate::fill_result() {
    hits = shothitg;
    result = compute_result(stage, hits, shots);
}

std::vector<hud_line> gamestate::hud_lines(int32_t w, int32_t h) const {
    std::vector<hud_line> lines;
    char text[200];

    // The intro lines blink: dark one tick in five, and one in three.
    std::snprintf(text, sizeof text, "ステージ %d", stage + 1);
    if (limitcount % 5 != 0 && status == 1) lines.push_back({part(w, 2, 5), h / 3, text});

    std::snprintf(text, sizeof text, "ステージ%d クリア!!", stage);
    if (limitcount % 3 != 0 && status == 1 && stage > 0) lines.push_back({w / 3, h / 2, text});

    if (gameover != 1) {
        std::snprintf(text, sizeof text, "limit:%d", 999 - limitcount);
        lines.push_back({part(w, 2, 5), part(h, 5, 6), text});
    }

    std::snprintf(text, sizeof text, "エネルギー:%d", energy);
    lines.push_back({part(w, 2, 5), part(h, 5, 28), text});

    if (gameover == 1) {
        std::snprintf(text, sizeof text, "命中率:%d％", result.hitrate);
        lines.push_back({w / 4, h / 2, text});
        // limitcount grows by an odd amount every tick, so the prompt blinks.
        if (limitcount % 2 == 0) lines.push_back({w / 3, part(h, 2, 3), "Continue? (Y/N)"});
        std::snprintf(text, sizeof text, "称号:%s", result.title.c_str());
        lines.push_back({w / 4, h / 3, text});
    }
    return lines;
}

std::vector<hud_line> gamestate::result_lines(int32_t w, int32_t h) const {
    std::vector<hud_line> lines;
    if (gameover != 1) return lines;
    char text[200];
    std::snprintf(text, sizeof text, "順位:%d位", rank);
    lines.push_back({w / 4, part(h, 2, 5), text});
    std::snprintf(text, sizeof text, "得点:%d点", result.score);
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
