// English beside Japanese: the language the environment asks for, the compiled catalogs, the
// window's English layout, a whole game in English (its console, its frames, and the same
// ranking and demo bytes as in Japanese), the Japanese start in every Japanese locale, and
// terminals that cannot show Japanese.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/lang.h"
#include "flow/gamestate.h"
#include "testutil.h"
#include "text/glkanji.h"

namespace {

const std::string sim_tool = TARMIK_BUILD_DIR "/tools/tarmik-sim";
const std::string replay_tool = TARMIK_BUILD_DIR "/tools/tarmik-replay";

std::string sj(const std::string &utf8) {
    return iconv_sjis(utf8);
}

language english() {
    language l = japanese;
    EXPECT_TRUE(find_language("en", l));
    return l;
}

// ---------------------------------------------------------------- the environment

TEST(Language, EnvironmentIsReadAsGettextReadsIt) {
    const language en = english();
    struct asked {
        const char *language, *lc_all, *lc_messages, *lang;
        bool english;
    };
    const asked cases[] = {
        {nullptr, nullptr, nullptr, nullptr, false}, // nothing set: C
        {"", "", "", "", false},
        {nullptr, nullptr, nullptr, "C", false},
        {nullptr, nullptr, nullptr, "POSIX", false},
        {nullptr, nullptr, nullptr, "C.UTF-8", false},
        {nullptr, nullptr, nullptr, "ja_JP.UTF-8", false},
        {nullptr, nullptr, nullptr, "ja_JP.eucJP", false},
        {nullptr, nullptr, nullptr, "en_US.UTF-8", true},
        {nullptr, nullptr, nullptr, "en_GB", true},
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", true},        // no catalog: English
        {nullptr, "ja_JP.UTF-8", nullptr, "en_US.UTF-8", false}, // LC_ALL first
        {nullptr, nullptr, "en_US.UTF-8", "ja_JP.UTF-8", true},  // then LC_MESSAGES
        {nullptr, "C", "en_US.UTF-8", nullptr, false},
        {"ja", nullptr, nullptr, "en_US.UTF-8", false}, // LANGUAGE before them all
        {"en", nullptr, nullptr, "ja_JP.UTF-8", true},
        {"fr:ja", nullptr, nullptr, "en_US.UTF-8", false}, // the first with a catalog
        {"fr:de", nullptr, nullptr, "ja_JP.UTF-8", true},  // none has one: English
        {"en", nullptr, nullptr, "C", false},              // ignored in the C locale
        {"en", nullptr, nullptr, nullptr, false},
        {"en", "POSIX", nullptr, "ja_JP.UTF-8", false},
        {"en", nullptr, nullptr, "C.UTF-8", true}, // but not in C.UTF-8
    };
    for (const asked &a : cases)
        EXPECT_EQ(language_from(a.language, a.lc_all, a.lc_messages, a.lang),
                  a.english ? en : japanese)
            << (a.language ? a.language : "-") << " " << (a.lc_all ? a.lc_all : "-") << " "
            << (a.lc_messages ? a.lc_messages : "-") << " " << (a.lang ? a.lang : "-");
    language l;
    EXPECT_FALSE(find_language("fr", l));
    EXPECT_TRUE(find_language("ja", l));
    EXPECT_EQ(l, japanese);
}

// ---------------------------------------------------------------- the catalogs

// msgid -> msgstr of a PO file, UTF-8: translated entries only (no header, fuzzy or obsolete).
std::map<std::string, std::string> read_po(const std::string &path) {
    std::map<std::string, std::string> out;
    std::ifstream in(path);
    std::string line, id, str, *into = nullptr;
    bool fuzzy = false;
    auto done = [&] {
        if (!id.empty() && !str.empty() && !fuzzy) out[id] = str;
        id.clear();
        str.clear();
        into = nullptr;
        fuzzy = false;
    };
    auto text = [](const std::string &s) {
        std::string t;
        for (size_t i = s.find('"') + 1; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] == '\\') {
                ++i;
                t += s[i] == 'n' ? '\n' : s[i] == 't' ? '\t' : s[i];
            } else {
                t += s[i];
            }
        }
        return t;
    };
    while (std::getline(in, line)) {
        if (line.rfind("#,", 0) == 0 && line.find("fuzzy") != std::string::npos) fuzzy = true;
        if (line.rfind("msgid ", 0) == 0) {
            if (into == &str) done();
            id = text(line);
            into = &id;
        } else if (line.rfind("msgstr ", 0) == 0) {
            str = text(line);
            into = &str;
        } else if (line.rfind("\"", 0) == 0 && into) {
            *into += text(line);
        } else if (line.empty()) {
            done();
        }
    }
    done();
    return out;
}

TEST(Language, EveryCatalogTextIsFoundByTheBytesTheGameHolds) {
    const language en = english();
    const auto po = read_po(TARMIK_SOURCE_DIR "/po/en.po");
    ASSERT_GT(po.size(), 40u);
    for (const auto &p : po)
        EXPECT_EQ(tr_in(en, sj(p.first).c_str()), sj(p.second)) << p.first;
    // The literals as this compiler makes them, and what no catalog holds.
    EXPECT_STREQ(tr_in(en, "ヒット"), "Hit");
    EXPECT_STREQ(tr_in(en, "称号:%s"), "Title:%s");
    EXPECT_STREQ(tr_in(en, "no such text"), "no such text");
    EXPECT_STREQ(tr_in(japanese, "ヒット"), "ヒット");
    EXPECT_EQ(format_text(tr_in(en, "命中率:%d％"), 70), "Hit rate:70%");
    // Every title the ranking can store has a name in English, made of ASCII alone.
    for (int score = 0; score <= 3000; score += 10)
        for (char c : std::string(tr_in(en, title_for_score(score))))
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << score;
}

// ---------------------------------------------------------------- the English layout

struct box {
    int x0, y0, x1, y1; // half-open
};
box box_of(const hud_line &l) {
    return {l.x, l.y, l.x + 8 * static_cast<int>(l.text.size()), l.y + 16};
}
bool meets(const box &a, const box &b) {
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

// The cross of a 500 x 500 frame, as its red pixels stand: two arms through (250, 250), from
// 157 to 343 (a pixel more on each side for the glyphs' edges).
const box cross_h{156, 248, 345, 253}, cross_v{248, 156, 253, 345};

TEST(Language, EnglishWindowTextsStayClearOfTheCrossAndInsideTheFrame) {
    set_game_language(english());
    gamestate g;
    // One screen's lines: inside the frame, apart from each other, and clear of the cross
    // when it shows.
    auto take = [&](const std::vector<hud_line> &lines, bool cross) {
        for (size_t i = 0; i < lines.size(); ++i)
            for (size_t j = i + 1; j < lines.size(); ++j)
                EXPECT_FALSE(meets(box_of(lines[i]), box_of(lines[j])))
                    << lines[i].text << " and " << lines[j].text;
        for (const hud_line &l : lines) {
            for (unsigned char c : l.text)
                EXPECT_TRUE(c >= 0x20 && c < 0x7F) << l.text;
            const box b = box_of(l);
            EXPECT_TRUE(b.x0 >= 0 && b.y0 >= 0 && b.x1 <= 500 && b.y1 <= 500) << l.text;
            if (cross) {
                EXPECT_FALSE(meets(b, cross_h)) << l.text << " at " << l.x << "," << l.y;
                EXPECT_FALSE(meets(b, cross_v)) << l.text << " at " << l.x << "," << l.y;
            }
        }
    };
    take(title_lines(500, 500), false);
    // Stage intros with the widest numbers, both lines shown.
    for (int stage : {1, 9, 99, 999}) {
        g.status = 1;
        g.stage = stage;
        g.limitcount = -1;
        g.energy = 12345;
        g.gameover = 0;
        const auto lines = g.hud_lines(500, 500);
        EXPECT_EQ(lines.size(), 4u);
        take(lines, true);
    }
    // The result: no cross then, every line inside the frame, the longest title included.
    g.status = 2;
    g.gameover = 1;
    g.limitcount = 2;
    g.result = compute_result(200, 99999, 1);
    g.rank = 21;
    std::vector<hud_line> over = g.hud_lines(500, 500);
    for (const hud_line &l : g.result_lines(500, 500))
        over.push_back(l);
    EXPECT_EQ(over.size(), 6u);
    take(over, false);
    set_game_language(japanese);
}

// ---------------------------------------------------------------- whole games

struct game_run {
    int status;
    std::string out, err, dir;
};

// What the game reads its language from, cleared before a run sets its own.
const std::string unset = "-u LANG -u LANGUAGE -u LC_ALL -u LC_MESSAGES ";

// The same stages and script in a fresh folder, the environment before the driver.
game_run play(const std::string &name, const std::string &env, const std::string &tool,
              const std::string &stages, const std::string &script, const std::string &args = "") {
    game_run r;
    r.dir = scratch_dir("lang-" + name);
    write_file(r.dir + "/stagefile.txt", stages);
    write_file(r.dir + "/shnm16.f1b", read_file(TARMIK_GAME_DIR "/shnm16.f1b"));
    write_file(r.dir + "/script.txt", script);
    r.status = run_command("cd '" + r.dir + "' && env " + unset + env + " '" + tool + "' " + args +
                               " script.txt 2> err.txt",
                           "", &r.out);
    r.err = read_file(r.dir + "/err.txt");
    return r;
}

// One target under the eye, hit; a second stage far away, missed; the time runs out.
const std::string two_stages = "#1\n1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n"
                               "#2\n1\nmato 1 100 0 100 1 1 1 0 0 0 0 0 0 10 0 0\n";
std::string game_script(const std::string &dir) {
    return "menu 1\nkey s\nframe\nmove 0 0\nclick left\ntick 3\ntick 3\nstate\npng " + dir +
           "/intro.png\nclick left\ntick 1400\nstate\npng " + dir + "/over.png\nkey r\nframe\n";
}

std::map<std::string, std::string> state(const std::string &err, int n) {
    std::map<std::string, std::string> m;
    std::istringstream in(err);
    std::string line;
    int block = -1;
    while (std::getline(in, line)) {
        if (line.rfind("rank=", 0) == 0) ++block;
        if (block != n) continue;
        const size_t eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

struct image {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    bool dark(int x, int y) const {
        const uint8_t *p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        return p[0] < 40 && p[1] < 40 && p[2] < 40;
    }
};

image read_png(const std::string &path) {
    image im;
    png_image p{};
    p.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&p, path.c_str())) return im;
    p.format = PNG_FORMAT_RGB;
    im.w = static_cast<int>(p.width);
    im.h = static_cast<int>(p.height);
    im.rgb.resize(PNG_IMAGE_SIZE(p));
    if (!png_image_finish_read(&p, nullptr, im.rgb.data(), 0, nullptr)) im.w = im.h = 0;
    return im;
}

// Whether the frame shows text exactly as the game's font draws it at (x, y): every glyph pixel
// dark, and nothing else dark in the text's box and a margin of two pixels around it.
std::string drawn_as(const image &im, const glKanji &font, int x, int y, const std::string &text) {
    std::vector<std::vector<bool>> ink(20, std::vector<bool>(8 * text.size() + 4 + 16, false));
    int pen = 0;
    glKanji::glyph g;
    for (const char *p = text.c_str(); (p = font.walk(p, g)) != nullptr;) {
        const unsigned char *bits = const_cast<glKanji &>(font).getChar(g.slot);
        const int left = g.half ? pen - 8 : pen;
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 16; ++col)
                if (bits[2 * (15 - row) + col / 8] & (0x80 >> (col % 8)) && left + col >= 0)
                    ink[row + 2][left + col + 2] = true;
        pen += g.half ? 8 : 16;
    }
    int wrong = 0;
    std::string first;
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < pen + 4; ++c) {
            const int px = x - 2 + c, py = y - 2 + r;
            if (px < 0 || py < 0 || px >= im.w || py >= im.h) continue;
            if (im.dark(px, py) != ink[r][c]) {
                if (first.empty()) first = std::to_string(px) + "," + std::to_string(py);
                ++wrong;
            }
        }
    return wrong == 0 ? "" : std::to_string(wrong) + " pixels differ, first at " + first;
}

TEST(Language, WholeGameInEnglishSaysAndDrawsEnglishAndKeepsTheFilesOfTheJapaneseGame) {
    const std::string en_dir = scratch_dir("lang-frames-en"),
                      ja_dir = scratch_dir("lang-frames-ja");
    game_run en =
        play("en", "LANG=en_US.UTF-8", sim_tool, two_stages, game_script(en_dir), "--cut game");
    game_run ja = play("ja", "LC_ALL=C", sim_tool, two_stages, game_script(ja_dir), "--cut game");
    ASSERT_EQ(en.status, 0) << en.err;
    ASSERT_EQ(ja.status, 0) << ja.err;

    // The console, line for line, in English, nothing but ASCII.
    EXPECT_EQ(en.out, "NOW LOADING...\n"
                      "********************************************\n"
                      "*                                          *\n"
                      "*                  TARMIK                  *\n"
                      "*                                          *\n"
                      "********************************************\n"
                      "1: Start the game  2: Quit\n"
                      "!!! Note !!!\n"
                      "Once the game starts, the mouse pointer is hidden.\n"
                      "To end the game at any time, press Esc or Q.\n"
                      "Hit\n"
                      "Stage clear\n"
                      "No.1  600 points  stages cleared 1  hit rate 50%  title Tomahawk\n");
    // ... and the same game in Japanese: the same states, the same files to the byte.
    const std::string ja_end =
        sj(u8"ヒット\nステージクリア\n1位　600点　ステージ1クリア　命中率50％　称号トマホーク\n");
    ASSERT_GT(ja.out.size(), ja_end.size());
    EXPECT_EQ(ja.out.substr(ja.out.size() - ja_end.size()), ja_end);
    EXPECT_EQ(en.err, ja.err);
    const std::string ranking = read_file(en.dir + "/ranking.dat");
    EXPECT_EQ(ranking, sj(u8"600\t\t1\t50\tトマホーク\n"));
    EXPECT_EQ(ranking, read_file(ja.dir + "/ranking.dat"));
    const std::string demo = read_file(en.dir + "/game-1.demo");
    EXPECT_NE(demo.find("\nclick"), std::string::npos);
    EXPECT_EQ(demo, read_file(ja.dir + "/game-1.demo"));

    // The frames: each English text where the layout puts it, drawn with the game's font.
    glKanji font(TARMIK_GAME_DIR "/shnm16.f1b", 0);
    ASSERT_EQ(font.fontSize, 16);
    const auto intro = state(en.err, 0), over = state(en.err, 1);
    ASSERT_EQ(intro.at("status"), "1");
    ASSERT_NE(std::stoi(intro.at("limitcount")) % 15, 0);
    ASSERT_EQ(over.at("gameover"), "1");
    ASSERT_EQ(std::stoi(over.at("limitcount")) % 2, 0);
    const image a = read_png(en_dir + "/intro.png"), b = read_png(en_dir + "/over.png");
    ASSERT_EQ(a.w, 500);
    ASSERT_EQ(b.w, 500);
    const std::string left = std::to_string(999 - std::stoi(intro.at("limitcount")));
    struct expected {
        const image &im;
        int x, y;
        std::string text;
    };
    const expected texts[] = {
        {a, 222, 132, "Stage 2"},           // centred, above the cross
        {a, 182, 352, "Stage 1 cleared!!"}, // centred, below it
        {a, 200, 89, "Shots left:" + intro.at("energy")},
        {a, 200, 416, "Time left:" + left},
        {b, 200, 89, "Shots left:28"},
        {b, 125, 125, "Score:600"},
        {b, 125, 166, "Title:Tomahawk"},
        {b, 125, 200, "Place:1"},
        {b, 125, 250, "Hit rate:50%"},
        {b, 166, 333, "Play again? (Y/N)"},
    };
    for (const expected &e : texts)
        EXPECT_EQ(drawn_as(e.im, font, e.x, e.y, e.text), "") << e.text;
    // The Japanese game's frame draws its own words where the original did.
    const image j = read_png(ja_dir + "/over.png");
    EXPECT_EQ(drawn_as(j, font, 125, 166, sj(u8"称号:トマホーク")), "");
}

// ---------------------------------------------------------------- Japanese, as the original

TEST(Language, JapaneseStartIsTheOriginalsBytesInEveryJapaneseLocale) {
    const std::string start = sj(u8"NOW LOADING…\n"
                                 "********************************************\n"
                                 "*                                          *\n"
                                 "*               ＴＡＲＭＩＫ               *\n"
                                 "*                                          *\n"
                                 "********************************************\n"
                                 "１：ゲームを開始する２：終了\n"
                                 "!!!注意!!!\n"
                                 "ゲームが開始するとマウスポインタが見えなくなります．\n"
                                 "ゲームを途中で終了するときはEscまたはQキーを押してください．\n"
                                 "ヒット\nステージクリア\n");
    const std::string script = "menu 1\nkey s\nframe\nmove 0 0\nclick left\ntick 6\n";
    for (const char *env :
         {"LC_ALL=C", "LC_ALL=POSIX", "LANG=C.UTF-8", "LANG=ja_JP.UTF-8", "LANG=ja_JP.eucJP",
          "LC_ALL=C LANGUAGE=en", "LANG=en_US.UTF-8 LC_MESSAGES=ja_JP.UTF-8"}) {
        game_run r = play("ja", env, replay_tool, two_stages, script);
        EXPECT_EQ(r.status, 0) << env << ": " << r.err;
        EXPECT_EQ(r.out, start) << env;
    }
    // The game's --lang wins over the environment, both ways; a language without a catalog is
    // refused.
    const std::string dir = scratch_dir("lang-option");
    const std::string game = "cd '" + dir + "' && env " + unset;
    std::string out;
    EXPECT_EQ(run_command(game + "LC_ALL=C '" TARMIK_GAME_DIR "/tarmik' --lang en 2> /dev/null",
                          "2\n", &out),
              255);
    EXPECT_EQ(out.substr(0, 15), "NOW LOADING...\n");
    EXPECT_NE(out.find("\n1: Start the game  2: Quit\n"), std::string::npos) << out;
    EXPECT_EQ(
        run_command(game + "LANG=en_US.UTF-8 '" TARMIK_GAME_DIR "/tarmik' --lang=ja 2> /dev/null",
                    "2\n", &out),
        255);
    EXPECT_EQ(out, start.substr(0, start.find(sj(u8"!!!"))));
    EXPECT_EQ(run_command(game + "'" TARMIK_GAME_DIR "/tarmik' --lang fr 2>&1", "2\n", &out), 2);
    EXPECT_EQ(out, "tarmik: --lang fr: no such language (there are ja, en) (try tarmik --help)\n");
    // The settings' language wins over the environment, --lang over the settings; --settings
    // tells which.
    run_command("mkdir -p '" + dir + "/conf/tarmik'", "", nullptr);
    write_file(dir + "/conf/tarmik/tarmik.conf", "language = en\n");
    const std::string with_file =
        game + "XDG_CONFIG_HOME='" + dir + "/conf' LC_ALL=C '" + TARMIK_GAME_DIR "/tarmik' ";
    EXPECT_EQ(run_command(with_file + "2> /dev/null", "2\n", &out), 255);
    EXPECT_NE(out.find("\n1: Start the game  2: Quit\n"), std::string::npos) << out;
    EXPECT_EQ(run_command(with_file + "--settings", "", &out), 0);
    EXPECT_NE(out.find("\nlanguage = en               # " + dir + "/conf/tarmik/tarmik.conf:1\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(run_command(with_file + "--lang ja 2> /dev/null", "2\n", &out), 255);
    EXPECT_EQ(out, start.substr(0, start.find(sj(u8"!!!"))));
    EXPECT_EQ(
        run_command(game + "LANG=en_GB.UTF-8 '" TARMIK_GAME_DIR "/tarmik' --settings", "", &out),
        0);
    EXPECT_NE(out.find("\nlanguage = en               # the environment\n"), std::string::npos)
        << out;
}

// ---------------------------------------------------------------- terminals

// The console of a short game on a terminal (script(1) gives it one) with the environment env.
std::string on_terminal(const std::string &env) {
    const std::string dir = scratch_dir("lang-tty");
    write_file(dir + "/stagefile.txt", two_stages);
    write_file(dir + "/script.txt", "menu 1\nkey s\nframe\nmove 0 0\nclick left\ntick 6\n");
    std::string out;
    run_command("cd '" + dir + "' && env -u LANG -u LANGUAGE -u LC_ALL -u LC_CTYPE " + env +
                    " script -qec \"'" + replay_tool + "' script.txt\" /dev/null",
                "", &out);
    std::string lines;
    for (char c : out)
        if (c != '\r') lines += c;
    return lines;
}

TEST(Language, TerminalsThatCannotShowJapaneseReadEnglishAndPipesKeepTheBytes) {
    const std::string english_start = "NOW LOADING...\n*****";
    const std::string english_end = "1: Start the game  2: Quit\n!!! Note !!!\n"
                                    "Once the game starts, the mouse pointer is hidden.\n"
                                    "To end the game at any time, press Esc or Q.\nHit\n"
                                    "Stage clear\n";
    // A Japanese game on an ASCII terminal (the C locale of a plain "su - user"), on a Latin-1
    // one and on the kernel's console: the console speaks English.
    for (const char *env : {"TERM=xterm LC_ALL=C", "TERM=xterm LANG=POSIX",
                            "TERM=xterm LANG=ja_JP.ISO-8859-1", "TERM=linux LANG=C.UTF-8"}) {
        const std::string out = on_terminal(env);
        EXPECT_EQ(out.substr(0, english_start.size()), english_start) << env << ": " << out;
        EXPECT_NE(out.find(english_end), std::string::npos) << env << ": " << out;
        for (char c : out)
            ASSERT_TRUE(static_cast<unsigned char>(c) < 0x80) << env << ": " << out;
    }
    // A terminal that shows Japanese gets it converted to its codeset, even from a locale this
    // system has not generated.
    for (const char *env : {"TERM=xterm LANG=C.UTF-8", "TERM=xterm LANG=ja_JP.UTF-8",
                            "TERM=xterm LC_ALL=ja_JP.utf8"}) {
        const std::string out = on_terminal(env);
        EXPECT_NE(out.find(u8"１：ゲームを開始する２：終了\n!!!注意!!!\n"), std::string::npos)
            << env << ": " << out;
        EXPECT_NE(out.find(u8"ヒット\nステージクリア\n"), std::string::npos) << env;
    }
    {
        std::string expected;
        run_command("iconv -f UTF-8 -t EUC-JP", u8"ヒット\nステージクリア\n", &expected);
        EXPECT_NE(on_terminal("TERM=xterm LANG=ja_JP.eucJP").find(expected), std::string::npos);
    }
    // English on any terminal is English.
    const std::string out = on_terminal("TERM=xterm LANG=en_US.ISO-8859-1");
    EXPECT_NE(out.find(english_end), std::string::npos) << out;
    // Through a pipe the chosen language keeps its exact bytes, whatever the locale's codeset.
    game_run piped = play("pipe", "LC_ALL=C", replay_tool, two_stages,
                          "menu 1\nkey s\nframe\nmove 0 0\nclick left\ntick 6\n");
    EXPECT_NE(piped.out.find(sj(u8"ヒット\nステージクリア\n")), std::string::npos);
}

// The window's notices (the messages setting) speak the game's language: a Japanese game on a
// terminal that gets English still shows Japanese in its window, the frame the same as when
// the console is a pipe.
TEST(Language, WindowNoticesSpeakTheGamesLanguageWhateverTheTerminal) {
    const std::string dir = scratch_dir("lang-notices");
    write_file(dir + "/stagefile.txt", two_stages);
    write_file(dir + "/shnm16.f1b", read_file(TARMIK_GAME_DIR "/shnm16.f1b"));
    write_file(dir + "/tty.txt",
               "menu 1\nkey s\nframe\nmove 0 0\nclick left\ntick 3\npng tty.png\n");
    write_file(dir + "/pipe.txt",
               "menu 1\nkey s\nframe\nmove 0 0\nclick left\ntick 3\npng pipe.png\n");
    const std::string env = "cd '" + dir + "' && env -u LANG -u LANGUAGE -u LC_ALL -u LC_CTYPE " +
                            "TERM=xterm LC_ALL=C ";
    const std::string sim = "'" + sim_tool + "' --set messages=on ";
    std::string out;
    run_command(env + "script -qec \"" + sim + "tty.txt\" /dev/null", "", &out);
    EXPECT_NE(out.find("!!! Note !!!"), std::string::npos) << out;
    EXPECT_EQ(run_command(env + sim + "pipe.txt > /dev/null", "", nullptr), 0);
    const std::string tty = read_file(dir + "/tty.png"), pipe = read_file(dir + "/pipe.png");
    EXPECT_FALSE(pipe.empty());
    EXPECT_TRUE(tty == pipe) << "the frames differ: " << dir;
    // And the notices are there to compare: without them the frame is another.
    run_command("cd '" + dir + "' && sed 's/pipe.png/bare.png/' pipe.txt > bare.txt", "", nullptr);
    EXPECT_EQ(run_command(env + "'" + sim_tool + "' bare.txt > /dev/null", "", nullptr), 0);
    EXPECT_FALSE(read_file(dir + "/bare.png") == pipe);
}

} // namespace
