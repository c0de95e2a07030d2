// Game flow: the state machine's counters, the result of a game and the window texts.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "flow/gamestate.h"
#include "platform/platform.h"
#include "tests/testutil.h"
#include "world/buttai.h"

namespace {

// Start-up followed by the first s on the title screen.
void start_first_game(gamestate &g) {
    plat_set_recording(true);
    g.init();
    g.syokifirst();
}

void ticks(gamestate &g, int n) {
    for (int i = 0; i < n; ++i)
        g.timer();
}

// One tick in which the stage was cleared: the tick runs next() after the state's timer.
void clearing_tick(gamestate &g) {
    g.timer();
    g.next();
}

hud_line line(int32_t x, int32_t y, const char *utf8) {
    return {x, y, iconv_sjis(utf8)};
}

void expect_lines(const std::vector<hud_line> &got, const std::vector<hud_line> &want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].x, want[i].x) << "line " << i;
        EXPECT_EQ(got[i].y, want[i].y) << "line " << i;
        EXPECT_EQ(got[i].text, want[i].text) << "line " << i;
    }
}

int count_text(const std::vector<hud_line> &lines, const std::string &text) {
    int n = 0;
    for (const hud_line &l : lines)
        n += l.text == text;
    return n;
}

} // namespace

TEST(GameState, StartUpValues) {
    gamestate g;
    g.registered = 1;
    g.init();
    EXPECT_EQ(g.status, -1);
    EXPECT_EQ(g.energy, 10);
    EXPECT_EQ(g.gameover, 0);
    EXPECT_EQ(g.started, 0);
    EXPECT_EQ(g.registered, 0);
    EXPECT_EQ(g.limitcount, 0);
    EXPECT_EQ(g.stage, 0);
}

TEST(GameState, FirstGameKeepsStartUpValuesAndHidesCursor) {
    gamestate g;
    plat_recorded().clear();
    shothitg = 7;
    g.hits = 3;
    g.shots = 4;
    start_first_game(g);
    EXPECT_EQ(g.status, 0);
    EXPECT_EQ(g.started, 1);
    EXPECT_EQ(g.stage, 0);
    EXPECT_EQ(g.hits, 0);
    EXPECT_EQ(g.shots, 0);
    EXPECT_EQ(shothitg, 0);
    EXPECT_EQ(g.energy, 10);
    EXPECT_EQ(g.limitcount, 0);
    EXPECT_EQ(g.gameover, 0);
    bool hidden = false;
    for (const plat_event &e : plat_recorded())
        hidden = hidden || e.what == "hide";
    EXPECT_TRUE(hidden);
}

TEST(GameState, LaterGameStartsFresh) {
    gamestate g;
    start_first_game(g);
    g.stage = 3;
    g.energy = 0;
    g.gameover = 1;
    g.limitcount = 500;
    g.shots = 40;
    g.hits = 12;
    g.registered = 1;
    g.status = -1;
    shothitg = 12;
    g.syokinormal();
    EXPECT_EQ(g.stage, 0);
    EXPECT_EQ(g.energy, 10);
    EXPECT_EQ(g.gameover, 0);
    EXPECT_EQ(g.limitcount, 0);
    EXPECT_EQ(g.shots, 0);
    EXPECT_EQ(g.hits, 0);
    EXPECT_EQ(g.registered, 0);
    EXPECT_EQ(g.status, 0);
    EXPECT_EQ(g.started, 1);
    EXPECT_EQ(shothitg, 0);
}

TEST(GameState, FirstTickOfAGameShowsLimit1198) {
    gamestate g;
    start_first_game(g);
    g.timer();
    EXPECT_EQ(g.status, 1);
    EXPECT_EQ(g.statuscount, 1);
    EXPECT_EQ(999 - g.limitcount, 1198);
    EXPECT_EQ(count_text(g.hud_lines(500, 500), "limit:1198"), 1);
}

TEST(GameState, TimeRunsOutAtThe1200thTick) {
    for (bool first : {true, false}) {
        gamestate g;
        start_first_game(g);
        if (!first) g.syokinormal();
        ticks(g, 1199);
        EXPECT_EQ(g.gameover, 0);
        EXPECT_EQ(g.limitcount, 999);
        g.timer();
        EXPECT_EQ(g.gameover, 1);
        EXPECT_EQ(g.limitcount, 0);
        EXPECT_EQ(g.statuscount, 0);
        // The counter starts again; running out a second time changes nothing.
        ticks(g, 1000);
        EXPECT_EQ(g.gameover, 1);
        EXPECT_EQ(g.limitcount, 0);
        EXPECT_EQ(g.status, 2);
    }
}

TEST(GameState, NoShotsLeftDrainsTheLimit) {
    gamestate g;
    start_first_game(g);
    ticks(g, 40);
    g.energy = 0;
    const int32_t before = g.limitcount;
    g.timer();
    EXPECT_EQ(g.limitcount, before + 51);
    g.timer();
    EXPECT_EQ(g.limitcount, before + 102);

    // Spent at once: the game is over at the 24th tick.
    gamestate quick;
    start_first_game(quick);
    quick.energy = 0;
    ticks(quick, 23);
    EXPECT_EQ(quick.gameover, 0);
    quick.timer();
    EXPECT_EQ(quick.gameover, 1);

    // On the title screen only the drain counts.
    gamestate title;
    title.init();
    title.energy = 0;
    title.timer();
    EXPECT_EQ(title.limitcount, 50);
    EXPECT_EQ(title.status, -1);
}

TEST(GameState, CountersSaturateInsteadOfOverflowing) {
    gamestate title;
    title.init();
    title.energy = 0;
    title.limitcount = std::numeric_limits<int32_t>::max() - 70;
    title.timer();
    title.timer();
    EXPECT_EQ(title.limitcount, std::numeric_limits<int32_t>::max());
    title.timer();
    EXPECT_EQ(title.limitcount, std::numeric_limits<int32_t>::max());
}

TEST(GameState, StageClearWithNoShotsLeft) {
    gamestate g;
    start_first_game(g);
    ticks(g, 40);
    g.energy = 0;
    const int32_t before = g.limitcount;
    clearing_tick(g);
    EXPECT_EQ(g.limitcount, before + 1);
    EXPECT_EQ(g.energy, 20);
    EXPECT_EQ(g.stage, 1);
    EXPECT_EQ(g.status, 0);
    g.timer();
    EXPECT_EQ(g.limitcount, before + 1 - 199);
    EXPECT_EQ(g.status, 1);

    // With shots left nothing is taken back.
    g.energy = 3;
    const int32_t mid = g.limitcount;
    clearing_tick(g);
    EXPECT_EQ(g.limitcount, mid + 1);
    EXPECT_EQ(g.energy, 23);
    EXPECT_EQ(g.stage, 2);
}

TEST(GameState, IntroLasts30Ticks) {
    gamestate g;
    start_first_game(g);
    for (int round = 0; round < 2; ++round) {
        for (int t = 1; t <= 30; ++t) {
            g.timer();
            EXPECT_EQ(g.status, 1) << "tick " << t;
        }
        g.timer();
        EXPECT_EQ(g.status, 2);
        g.next(); // the second round is the intro after a stage clear
    }
}

TEST(GameState, StageClearAfterTimeRanOutResumesPlay) {
    gamestate g;
    start_first_game(g);
    ticks(g, 1200);
    ASSERT_EQ(g.gameover, 1);
    g.registered = 1; // the frame has entered the result
    clearing_tick(g);
    EXPECT_EQ(g.gameover, 0);
    EXPECT_EQ(g.registered, 1);
    EXPECT_EQ(g.stage, 1);
}

TEST(GameState, StageClearedOnTheTitleScreenStartsPlay) {
    gamestate g;
    g.init();
    clearing_tick(g);
    EXPECT_EQ(g.limitcount, 0);
    EXPECT_EQ(g.status, 0);
    EXPECT_EQ(g.stage, 1);
    EXPECT_EQ(g.energy, 30);
    EXPECT_EQ(g.started, 0);
    g.timer();
    EXPECT_EQ(g.status, 1);
    EXPECT_EQ(g.limitcount, -199);
}

TEST(GameState, EndOfTheStageFileEndsTheGame) {
    gamestate g;
    start_first_game(g);
    ticks(g, 100);
    g.next();
    ticks(g, 100);
    clearing_tick(g); // the last stage
    g.ending();
    EXPECT_EQ(g.gameover, 1);
    EXPECT_EQ(g.registered, 0); // the next frame enters the result
    EXPECT_EQ(g.stage, 2);
    EXPECT_EQ(g.limitcount, 0);

    // No intro of a stage that does not exist, and the prompt blinks.
    const std::string prompt = "Continue? (Y/N)";
    for (int t = 1; t <= 40; ++t) {
        g.timer();
        EXPECT_EQ(g.gameover, 1);
        EXPECT_EQ(g.status, 2);
        shothitg = 0;
        g.fill_result();
        const auto lines = g.hud_lines(500, 500);
        EXPECT_EQ(count_text(lines, prompt), t % 2 == 0 ? 1 : 0) << "tick " << t;
        // Energy, hit rate, title and the prompt's blink: nothing else.
        EXPECT_EQ(lines.size(), t % 2 == 0 ? 4u : 3u) << "tick " << t;
    }
    EXPECT_EQ(g.result.stage, 2);
}

TEST(Result, ScoresAndTitles) {
    struct row {
        int32_t stage, hits, shots, hitrate, score;
        const char *title;
    };
    const row rows[] = {
        {0, 1, 20, 5, 50, u8"ロケット花火"},
        {0, 3, 50, 6, 60, u8"ペットボトルロケット"},
        {1, 1, 20, 5, 150, u8"Ｖ２"},
        {10, 10, 10, 100, 2000, u8"KGB"},
        {10, 101, 100, 101, 2010, u8"シークレットサービス"},
        {15, 50, 50, 100, 2500, u8"シークレットサービス"},
        {3, 7, 10, 70, 1000, u8"BAT"},
        {0, 12, 10, 120, 1200, u8"CIA"}, // several objects hit by one bullet
        {2, 0, 0, 0, 200, u8"ノドン"},   // no shot fired
        {0, 0, 0, 0, 0, u8"ロケット花火"},
    };
    for (const row &r : rows) {
        const clData d = compute_result(r.stage, r.hits, r.shots);
        EXPECT_EQ(d.stage, r.stage);
        EXPECT_EQ(d.hitrate, r.hitrate) << r.hits << "/" << r.shots;
        EXPECT_EQ(d.score, r.score);
        EXPECT_EQ(d.title, iconv_sjis(r.title)) << d.score;
    }
}

TEST(Result, TitleSteps) {
    struct step {
        int32_t upto;
        const char *word;
    };
    const step steps[] = {
        {50, u8"ロケット花火"}, {100, u8"ペットボトルロケット"},
        {150, u8"Ｖ２"},        {200, u8"ノドン"},
        {300, u8"テポドン"},    {400, u8"アグニ"},
        {500, u8"コブラ"},      {600, u8"トマホーク"},
        {700, u8"スカッド"},    {800, u8"パトリオット"},
        {900, u8"PAC-3"},       {1000, u8"BAT"},
        {1500, u8"CIA"},        {2000, u8"KGB"},
    };
    int32_t low = -10;
    for (const step &s : steps) {
        EXPECT_EQ(title_for_score(low + 10), iconv_sjis(s.word)) << low + 10;
        EXPECT_EQ(title_for_score(s.upto), iconv_sjis(s.word)) << s.upto;
        low = s.upto;
    }
    const std::string top = iconv_sjis(u8"シークレットサービス");
    for (int32_t score : {2010, 2490, 2500, 100000})
        EXPECT_EQ(title_for_score(score), top) << score;
}

TEST(Result, HitRateTruncates) {
    EXPECT_EQ(hit_rate(1, 3), 33);
    EXPECT_EQ(hit_rate(2, 3), 66);
    EXPECT_EQ(hit_rate(999, 1000), 99);
    EXPECT_EQ(hit_rate(29, 100), 29); // 0.29 * 100 would give 28
    EXPECT_EQ(hit_rate(57, 100), 57);
    EXPECT_EQ(hit_rate(5, 0), 0);
}

TEST(Result, FilledFromTheHitCounter) {
    gamestate g;
    g.stage = 3;
    g.shots = 10;
    g.gameover = 1;
    shothitg = 7;
    g.fill_result();
    EXPECT_EQ(g.hits, 7);
    EXPECT_EQ(g.result.score, 1000);
    EXPECT_EQ(g.result.stage, 3);
    EXPECT_EQ(g.result.hitrate, 70);
    EXPECT_EQ(g.result.title, "BAT");
}

TEST(Hud, TitleMenu) {
    expect_lines(title_lines(500, 500),
                 {line(178, 175, u8"スタート(S)"), line(178, 225, u8"ランキング(R)"),
                  line(178, 275, u8"終わる(Q)")});
    expect_lines(title_lines(1000, 1000),
                 {line(357, 350, u8"スタート(S)"), line(357, 450, u8"ランキング(R)"),
                  line(357, 550, u8"終わる(Q)")});
}

TEST(Hud, IntroAndPlay) {
    gamestate g;
    g.stage = 1;
    g.status = 1;
    g.limitcount = -197;
    g.energy = 20;
    expect_lines(g.hud_lines(500, 500),
                 {line(200, 166, u8"ステージ 2"), line(166, 250, u8"ステージ1 クリア!!"),
                  line(200, 416, u8"limit:1196"), line(200, 89, u8"エネルギー:20")});
    expect_lines(g.hud_lines(1000, 1000),
                 {line(400, 333, u8"ステージ 2"), line(333, 500, u8"ステージ1 クリア!!"),
                  line(400, 833, u8"limit:1196"), line(400, 178, u8"エネルギー:20")});
    g.status = 2;
    expect_lines(g.hud_lines(500, 500),
                 {line(200, 416, u8"limit:1196"), line(200, 89, u8"エネルギー:20")});
}

TEST(Hud, IntroLinesBlink) {
    gamestate g;
    g.stage = 1;
    g.status = 1;
    const std::string stage_line = iconv_sjis(u8"ステージ 2");
    const std::string banner = iconv_sjis(u8"ステージ1 クリア!!");
    struct row {
        int32_t limitcount;
        int stage_shown, banner_shown;
    };
    for (const row &r : {row{-195, 0, 0}, row{-198, 1, 0}, row{-200, 0, 1}, row{-196, 1, 1},
                         row{0, 0, 0}, row{7, 1, 1}}) {
        g.limitcount = r.limitcount;
        const auto lines = g.hud_lines(500, 500);
        EXPECT_EQ(count_text(lines, stage_line), r.stage_shown) << r.limitcount;
        EXPECT_EQ(count_text(lines, banner), r.banner_shown) << r.limitcount;
    }

    // A game's first intro: the stage line is dark one tick in five, no banner.
    gamestate first;
    start_first_game(first);
    const std::string first_line = iconv_sjis(u8"ステージ 1");
    int lit = 0;
    for (int t = 0; t < 31; ++t) {
        first.timer();
        const auto lines = first.hud_lines(500, 500);
        lit += count_text(lines, first_line);
        for (const hud_line &l : lines)
            EXPECT_NE(l.y, 250) << "no banner at the first stage";
    }
    EXPECT_EQ(lit, 24);
}

TEST(Hud, GameOver) {
    gamestate g;
    g.stage = 2;
    g.shots = 10;
    g.energy = 5;
    g.gameover = 1;
    g.status = 2;
    g.rank = 3;
    g.limitcount = 4;
    shothitg = 7;
    g.fill_result();
    expect_lines(g.hud_lines(500, 500),
                 {line(200, 89, u8"エネルギー:5"), line(125, 250, u8"命中率:70％"),
                  line(166, 333, "Continue? (Y/N)"), line(125, 166, u8"称号:PAC-3")});
    expect_lines(g.result_lines(500, 500),
                 {line(125, 200, u8"順位:3位"), line(125, 125, u8"得点:900点")});
    expect_lines(g.hud_lines(1000, 1000),
                 {line(400, 178, u8"エネルギー:5"), line(250, 500, u8"命中率:70％"),
                  line(333, 666, "Continue? (Y/N)"), line(250, 333, u8"称号:PAC-3")});
    expect_lines(g.result_lines(1000, 1000),
                 {line(250, 400, u8"順位:3位"), line(250, 250, u8"得点:900点")});

    g.limitcount = 5; // the prompt's dark tick
    EXPECT_EQ(count_text(g.hud_lines(500, 500), "Continue? (Y/N)"), 0);
    g.gameover = 0;
    EXPECT_TRUE(g.result_lines(500, 500).empty());
}
