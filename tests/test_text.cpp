#include "testutil.h"
#include "text/glkanji.h"
#include "text/matrix.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <utility>

namespace {

// ---------------------------------------------------------------- font files made here

std::string header(int32_t size) {
    uint32_t u = static_cast<uint32_t>(size);
    std::string h;
    for (int i = 0; i < 4; ++i)
        h += static_cast<char>((u >> (8 * i)) & 0xFF);
    return h;
}

std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v)
        s += static_cast<char>(b);
    return s;
}

// Shift-JIS bytes by the system's iconv, fed through standard input: unlike iconv_sjis this
// shares no file with tests running beside it.
std::string sjis(const std::string &utf8) {
    std::string out;
    if (run_command("iconv -f UTF-8 -t CP932", utf8, &out) != 0) ADD_FAILURE() << "iconv failed";
    return out;
}

// Each test gets folders of its own: ctest runs tests side by side.
std::string font_path(const std::string &name, const std::string &contents) {
    const char *test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string p = scratch_dir(std::string("text_") + test + "_" + name) + "/font.f1b";
    write_file(p, contents);
    return p;
}

std::string data_of(const glKanji &k) {
    return std::string(k.fontData.begin(), k.fontData.end());
}

// A 16-pixel glyph as rows from the top, bit 15 the leftmost pixel.
using Glyph = std::array<uint16_t, 16>;

// A 16-pixel font of 9374 slots in literal runs only (independent of the game's encoder).
std::string make_font(const std::string &name, const std::map<int, Glyph> &glyphs, uint16_t fill,
                      int slots = 9374) {
    std::string raw;
    for (int slot = 0; slot < slots; ++slot) {
        Glyph g;
        g.fill(fill);
        auto it = glyphs.find(slot);
        if (it != glyphs.end()) g = it->second;
        for (int r = 15; r >= 0; --r) { // bottom row stored first
            raw += static_cast<char>(g[r] >> 8);
            raw += static_cast<char>(g[r] & 0xFF);
        }
    }
    std::string file = header(16);
    for (size_t i = 0; i < raw.size(); i += 128) {
        size_t n = std::min<size_t>(128, raw.size() - i);
        file += static_cast<char>(n - 1);
        file += raw.substr(i, n);
    }
    return font_path(name, file);
}

Glyph rows(std::initializer_list<std::pair<int, uint16_t>> set) {
    Glyph g{};
    for (auto &p : set)
        g[p.first] = p.second;
    return g;
}

// ---------------------------------------------------------------- drawing helpers

constexpr int W = 500, H = 500;
using Frame = std::vector<uint8_t>;
using Pixels = std::set<std::pair<int, int>>;

Frame draw(const std::function<void()> &body) {
    if (!std::getenv("DISPLAY")) ADD_FAILURE() << "drawing tests need a display (Xvfb)";
    test_window(W, H);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 1);
    body();
    glFinish();
    return read_pixels(W, H);
}

bool lit(const Frame &f, int x, int y) {
    return pixel_at(f, W, x, y)[0] > 128;
}

Pixels lit_pixels(const Frame &f) {
    Pixels s;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (lit(f, x, y)) s.insert({x, y});
    return s;
}

// The pixels of a glyph whose bitmap has its top-left corner at (x, y).
void add_glyph(Pixels &s, const Glyph &g, int x, int y) {
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            if (g[r] & (0x8000 >> c)) s.insert({x + c, y + r});
}

std::string describe(const Pixels &s) {
    std::string out;
    int n = 0;
    for (auto &p : s) {
        if (n++ == 12) return out + " ...";
        out += " (" + std::to_string(p.first) + "," + std::to_string(p.second) + ")";
    }
    return out.empty() ? " none" : out;
}

void expect_pixels(const Frame &f, const Pixels &want) {
    Pixels got = lit_pixels(f);
    Pixels missing, extra;
    for (auto &p : want)
        if (!got.count(p)) missing.insert(p);
    for (auto &p : got)
        if (!want.count(p)) extra.insert(p);
    EXPECT_TRUE(missing.empty()) << "missing:" << describe(missing);
    EXPECT_TRUE(extra.empty()) << "extra:" << describe(extra);
}

// Slots of the characters the drawing tests use.
constexpr int slot_A_full = 576; // Ａ
constexpr int slot_so = 764;     // ソ
constexpr int slot_B = 'B';

// An asymmetric mark (an L at the top-left, a dot at the bottom-right) so that flips and shifts
// show; the half-width one lives in the right half of its cell, as in the game's font.
const Glyph mark_full = rows({{0, 0xC000}, {1, 0x8000}, {15, 0x0001}});
const Glyph mark_half = rows({{0, 0x00C0}, {1, 0x0080}, {15, 0x0001}});

// Every other slot is solid, so that any wrong lookup floods the frame.
std::string marks_font() {
    return make_font("marks", {{slot_A_full, mark_full}, {slot_so, mark_full}, {slot_B, mark_half}},
                     0xFFFF);
}

} // namespace

// ---------------------------------------------------------------- decoding

TEST(FontLoad, LiteralAndRepeatRunsAcrossGlyphBoundaries) {
    // Size 2: one byte a row, two bytes a glyph. Runs of 3 + 4 + 1 bytes straddle glyphs.
    std::string p =
        font_path("runs", header(2) + bytes({0x02, 0x11, 0x22, 0x33, 0x83, 0x44, 0x00, 0x55}));
    glKanji k(0);
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(k.fontSize, 2);
    EXPECT_EQ(k.charBytes, 2);
    EXPECT_EQ(data_of(k), bytes({0x11, 0x22, 0x33, 0x44, 0x44, 0x44, 0x44, 0x55}));
    EXPECT_EQ(k.charCount, 4);
    EXPECT_EQ(k.getChar(1)[0], 0x33);
    EXPECT_EQ(k.getChar(1)[1], 0x44);
    EXPECT_EQ(k.getChar(3)[1], 0x55);

    // The longest runs: 128 literal bytes, 128 repeats.
    std::string lit128(128, '\x7A');
    p = font_path("long", header(8) + bytes({0x7F}) + lit128 + bytes({0xFF, 0x01}));
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(k.charBytes, 8);
    EXPECT_EQ(data_of(k), lit128 + std::string(128, '\x01'));
    EXPECT_EQ(k.charCount, 32);
}

TEST(FontLoad, GlyphBytesFollowTheSize) {
    // Rows round up to whole bytes.
    for (auto [size, want] : std::vector<std::pair<int, int>>{
             {1, 1}, {8, 8}, {9, 18}, {16, 32}, {17, 51}, {256, 8192}}) {
        std::string p = font_path("size", header(size));
        glKanji k(0);
        ASSERT_TRUE(k.load(p.c_str())) << size;
        EXPECT_EQ(k.charBytes, want) << size;
    }
}

TEST(FontLoad, TruncatedRunsAreFilledOut) {
    glKanji k(0);
    // A literal run cut short repeats its last byte read.
    std::string p = font_path("cut", header(2) + bytes({0x00, 0x09, 0x05, 0x21, 0x22}));
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(data_of(k), bytes({0x09, 0x21, 0x22, 0x22, 0x22, 0x22, 0x22}));
    EXPECT_EQ(k.charCount, 3);

    // A repeat run whose value is missing repeats the last byte of the run before.
    p = font_path("cut", header(2) + bytes({0x00, 0x37, 0x82}));
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(data_of(k), bytes({0x37, 0x37, 0x37, 0x37}));

    // Cut before any data byte at all: the missing bytes are zero.
    p = font_path("cut", header(2) + bytes({0x03}));
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(data_of(k), std::string(4, '\0'));
    p = font_path("cut", header(2) + bytes({0x81}));
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(data_of(k), std::string(2, '\0'));
}

TEST(FontLoad, HeaderOnlyAndPartialGlyphs) {
    glKanji k(0);
    std::string p = font_path("head", header(16));
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(k.fontSize, 16);
    EXPECT_EQ(k.charCount, 0);
    EXPECT_TRUE(k.fontData.empty());

    // 48 bytes of 32-byte glyphs: one whole glyph, the rest kept but never counted.
    p = font_path("half", header(16) + bytes({0xAF, 0x01}));
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(k.fontData.size(), 48u);
    EXPECT_EQ(k.charCount, 1);

    // A run-length bomb (a megabyte of 128-byte repeats: 64 MB) decodes only the 9374 slots
    // a character can reach; the rest of the file is ignored.
    std::string bomb = header(16);
    for (int i = 0; i < 1 << 19; ++i)
        bomb += bytes({0xFF, 0xFF});
    p = font_path("bomb", bomb);
    ASSERT_TRUE(k.load(p.c_str()));
    EXPECT_EQ(k.fontData.size(), 9374u * 32);
    EXPECT_EQ(k.charCount, 9374);
}

TEST(FontLoad, FailuresLeaveAnEmptyFont) {
    std::string good = font_path("good", header(2) + bytes({0x83, 0x7E}));
    for (const std::string &bad :
         {std::string("/nonexistent/shnm16.f1b"), font_path("short", bytes({0x10, 0x00, 0x00})),
          font_path("zero", header(0) + bytes({0x83, 0x7E})),
          font_path("neg", header(-16) + bytes({0x83, 0x7E})),
          font_path("huge", header(257) + bytes({0x83, 0x7E})),
          font_path("vast", header(0x7FFFFFFF) + bytes({0x83, 0x7E}))}) {
        glKanji k(good.c_str(), 0);
        ASSERT_EQ(k.charCount, 2);
        EXPECT_FALSE(k.load(bad.c_str())) << bad;
        EXPECT_TRUE(k.fontData.empty()) << bad;
        EXPECT_EQ(k.fontSize, 0) << bad;
        EXPECT_EQ(k.charBytes, 0) << bad;
        EXPECT_EQ(k.charCount, 0) << bad;
    }

    // A null name changes nothing.
    glKanji k(good.c_str(), 0);
    EXPECT_FALSE(k.load(nullptr));
    EXPECT_EQ(k.charCount, 2);
    EXPECT_EQ(k.fontData.size(), 4u);
}

TEST(FontLoad, SecondLoadReplacesAndInitKeepsData) {
    glKanji k(font_path("one", header(2) + bytes({0x87, 0x11})).c_str(), 1);
    EXPECT_EQ(k.codeType, 1);
    EXPECT_EQ(k.charCount, 4);
    ASSERT_TRUE(k.load(font_path("two", header(8) + bytes({0x80, 0x22})).c_str()));
    EXPECT_EQ(data_of(k), bytes({0x22}));
    EXPECT_EQ(k.charCount, 0);
    EXPECT_EQ(k.codeType, 1);

    k.init();
    EXPECT_EQ(k.fontSize, 0);
    EXPECT_EQ(k.charBytes, 0);
    EXPECT_EQ(k.charCount, 0);
    EXPECT_EQ(data_of(k), bytes({0x22}));
}

// ---------------------------------------------------------------- code conversion

TEST(Conversion, ShiftJisAndEucToJis) {
    struct Case {
        int s1, s2, j1, j2;
    };
    for (Case c :
         {Case{0x81, 0x40, 0x21, 0x21}, Case{0x88, 0x9F, 0x30, 0x21}, Case{0x83, 0x5E, 0x25, 0x3F},
          Case{0xE0, 0x40, 0x5F, 0x21}, Case{0xEA, 0xA4, 0x74, 0x26}, Case{0x83, 0x5C, 0x25, 0x3D},
          Case{0x81, 0x9E, 0x21, 0x7E}, Case{0xEF, 0xFC, 0x7E, 0x7E}, Case{0x81, 0x80, 0x21, 0x60},
          Case{0x81, 0x7E, 0x21, 0x5F}}) {
        unsigned char a = static_cast<unsigned char>(c.s1), b = static_cast<unsigned char>(c.s2);
        sjis2jis(a, b);
        EXPECT_EQ(a, c.j1) << std::hex << c.s1 << " " << c.s2;
        EXPECT_EQ(b, c.j2) << std::hex << c.s1 << " " << c.s2;
    }
    unsigned char a = 0xA4, b = 0xA2;
    euc2jis(a, b);
    EXPECT_EQ(a, 0x24);
    EXPECT_EQ(b, 0x22);
}

// ---------------------------------------------------------------- drawing

TEST(FontPrint, SlotNumbersOfDrawnCharacters) {
    // Each slot's glyph spells its own number in its top row, after a marker bit.
    std::map<int, Glyph> id;
    for (int s = 0; s < 9374; ++s)
        id[s] = rows({{0, static_cast<uint16_t>(0x8000 | s)}});
    std::string file = make_font("ids", id, 0);
    glKanji shift(file.c_str(), 0);
    glKanji euc(file.c_str(), 1);

    struct Case {
        std::string text;
        glKanji *font;
        int slot;
    };
    std::vector<Case> cases = {
        {sjis(u8"　"), &shift, 352}, // JIS 0x21 0x21
        {bytes({0x81, 0x9E}), &shift, 445}, {bytes({0x81, 0x9F}), &shift, 448},
        {sjis(u8"亜"), &shift, 1792},       {bytes({0xEF, 0xFC}), &shift, 9373},
        {sjis(u8"Ａ"), &shift, 576},        {sjis(u8"ソ"), &shift, 764},
        {bytes({0xA4, 0xA2}), &euc, 641},   {"B", &shift, 66},
    };

    Frame f = draw([&] {
        for (size_t i = 0; i < cases.size(); ++i)
            cases[i].font->print(40, static_cast<int>(20 * i), cases[i].text.c_str());
    });
    for (size_t i = 0; i < cases.size(); ++i) {
        int y = static_cast<int>(20 * i);
        int left = cases[i].text.size() == 1 ? 32 : 40; // half-width: 8 left of the pen
        int value = 0;
        for (int c = 0; c < 16; ++c)
            value = value << 1 | (lit(f, left + c, y) ? 1 : 0);
        EXPECT_EQ(value, 0x8000 | cases[i].slot) << "case " << i;
        for (int r = 1; r < 16; ++r)
            for (int c = 0; c < 16; ++c)
                EXPECT_FALSE(lit(f, left + c, y + r)) << "case " << i << " row " << r;
    }
}

TEST(FontPrint, FullWidthThenAsciiAdvanceTheirOwnWidths) {
    glKanji k(marks_font().c_str(), 0);
    const int x0 = 100, y0 = 50;
    std::string text = sjis(u8"ＡBＡ");
    ASSERT_EQ(text, bytes({0x82, 0x60, 'B', 0x82, 0x60}));
    Frame f = draw([&] { k.print(x0, y0, text.c_str()); });
    Pixels want;
    add_glyph(want, mark_full, x0, y0);          // left edge at the pen; pen +16
    add_glyph(want, mark_half, x0 + 16 - 8, y0); // left edge 8 left of the pen; pen +8
    add_glyph(want, mark_full, x0 + 16 + 8, y0);
    expect_pixels(f, want);
}

TEST(FontPrint, TrailByteInAsciiRangeStaysPartOfItsCharacter) {
    glKanji k(marks_font().c_str(), 0);
    std::string text = sjis(u8"ソB");
    ASSERT_EQ(text, bytes({0x83, 0x5C, 'B'}));
    Frame f = draw([&] { k.print(200, 300, text.c_str()); });
    Pixels want;
    add_glyph(want, mark_full, 200, 300);
    add_glyph(want, mark_half, 208, 300);
    expect_pixels(f, want);
}

TEST(FontPrint, UnknownCharactersAndLoneLeadBytes) {
    glKanji k(marks_font().c_str(), 0);
    // Half-width ｱ takes the next byte with it; the pair lies beyond the font and the pen stays.
    std::string kana = sjis(u8"ｱ") + "AB";
    // A lead byte right before the terminator: nothing more is drawn or read.
    const char lone[] = {'B', '\x82', '\0', 'B', '\0'};
    // DEL starts a pair whose slot comes out negative (JIS 0x1D 0x21).
    std::string del = bytes({0x7F, 0x40, 'B'});
    Frame f = draw([&] {
        k.print(100, 100, kana.c_str());
        k.print(100, 200, lone);
        k.print(100, 300, del.c_str());
    });
    Pixels want;
    add_glyph(want, mark_half, 92, 100);
    add_glyph(want, mark_half, 92, 200);
    add_glyph(want, mark_half, 92, 300);
    expect_pixels(f, want);
}

TEST(FontPrint, SingleBytesBeyondTheFontAreSkipped) {
    // 66 slots: 'A' is the last one, 'B' lies beyond and neither draws nor moves the pen.
    glKanji k(make_font("short", {{'A', mark_half}}, 0xFFFF, 66).c_str(), 0);
    ASSERT_EQ(k.charCount, 66);
    Frame f = draw([&] { k.print(100, 100, "BA"); });
    Pixels want;
    add_glyph(want, mark_half, 92, 100);
    expect_pixels(f, want);
}

TEST(FontPrint, OriginIsTheViewportTopLeft) {
    glKanji k(marks_font().c_str(), 0);
    Frame f = draw([&] {
        glViewport(100, 50, 300, 200); // window rows 250..449 from the top
        k.print(10, 20, sjis(u8"Ａ").c_str());
        glViewport(0, 0, W, H);
    });
    Pixels want;
    add_glyph(want, mark_full, 110, 270);
    expect_pixels(f, want);
}

TEST(FontPrint, StartOutsideTheViewportDrawsNothing) {
    glKanji k(make_font("solid", {}, 0xFFFF).c_str(), 0);
    std::string three = sjis(u8"ＡＡＡ");
    Frame f = draw([&] {
        k.print(-20, 50, three.c_str()); // would reach into view, but the start is out
        k.print(10, 490, three.c_str());
        k.print(501, 50, three.c_str());
        k.print(10, -40, three.c_str());
    });
    expect_pixels(f, {});

    // Starting inside, the glyphs run up to the right edge and no further.
    f = draw([&] { k.print(480, 100, three.c_str()); });
    Pixels want;
    for (int y = 100; y < 116; ++y)
        for (int x = 480; x < W; ++x)
            want.insert({x, y});
    expect_pixels(f, want);
}

TEST(FontPrint, MatricesComeBackExactly) {
    glKanji k(marks_font().c_str(), 0);
    for (const char *text : {"B", ""}) {
        float mv[16], pj[16], mv_after[16], pj_after[16];
        GLint mode = 0, align = 0;
        draw([&] {
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            gluLookAt(3.1, 120.7, 0.3, 0, 0, 0, 0, 0, -1);
            glRotatef(33.3f, 0.2f, 1.0f, 0.7f);
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            gluPerspective(30.0, 1.0, 1.0, 1000.0);
            glGetFloatv(GL_MODELVIEW_MATRIX, mv);
            glGetFloatv(GL_PROJECTION_MATRIX, pj);
            k.print(100, 100, text);
            glGetFloatv(GL_MODELVIEW_MATRIX, mv_after);
            glGetFloatv(GL_PROJECTION_MATRIX, pj_after);
            glGetIntegerv(GL_MATRIX_MODE, &mode);
            glGetIntegerv(GL_UNPACK_ALIGNMENT, &align);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            glMatrixMode(GL_MODELVIEW);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        });
        EXPECT_EQ(std::memcmp(mv, mv_after, sizeof mv), 0) << "'" << text << "'";
        EXPECT_EQ(std::memcmp(pj, pj_after, sizeof pj), 0) << "'" << text << "'";
        EXPECT_EQ(mode, GL_MODELVIEW) << "'" << text << "'";
        EXPECT_EQ(align, 1) << "'" << text << "'";
    }
}

TEST(FontPrint, EmptyFontOrNullTextTouchesNoState) {
    glKanji none(0);
    glKanji head(font_path("head", header(16)).c_str(), 0);
    glKanji loaded(marks_font().c_str(), 0);
    GLint mode = 0, align = 0;
    Frame f = draw([&] {
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glMatrixMode(GL_PROJECTION);
        none.print(100, 100, "B");
        head.print(100, 100, "B");
        loaded.print(100, 100, nullptr);
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &align);
        glMatrixMode(GL_MODELVIEW);
    });
    EXPECT_EQ(mode, GL_PROJECTION);
    EXPECT_EQ(align, 4);
    expect_pixels(f, {});
}

// ---------------------------------------------------------------- overlay matrices

TEST(Overlay, SaverRestoresUnderItsOwnModeAndScreenMapsPixels) {
    draw([&] {
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glTranslatef(0.25f, 0.5f, 0);
        float tex[16], now[16];
        glGetFloatv(GL_TEXTURE_MATRIX, tex);
        {
            MatrixSaver saver(GL_TEXTURE_MATRIX);
            EXPECT_EQ(saver.mode, GL_TEXTURE);
            glLoadIdentity();
            glMatrixMode(GL_PROJECTION); // the restore comes back to this mode
        }
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_PROJECTION);
        glMatrixMode(GL_TEXTURE);
        glGetFloatv(GL_TEXTURE_MATRIX, now);
        EXPECT_EQ(std::memcmp(tex, now, sizeof tex), 0);
        glLoadIdentity();

        EXPECT_EQ(MatrixSaver(GL_MODELVIEW_MATRIX).mode, GL_MODELVIEW);
        EXPECT_EQ(MatrixSaver(GL_PROJECTION_MATRIX).mode, GL_PROJECTION);

        // Pixel (x, y) lands x right of and y below the viewport's top-left corner; only the
        // viewport's size enters the projection.
        for (auto v : {std::array<GLint, 4>{0, 0, W, H}, std::array<GLint, 4>{100, 50, 300, 200}}) {
            glViewport(v[0], v[1], v[2], v[3]);
            ScreenMatrix screen;
            glGetIntegerv(GL_MATRIX_MODE, &mode);
            EXPECT_EQ(mode, GL_MODELVIEW);
            double m[16], p[16];
            glGetDoublev(GL_MODELVIEW_MATRIX, m);
            glGetDoublev(GL_PROJECTION_MATRIX, p);
            for (int i = 0; i < 16; ++i)
                EXPECT_EQ(m[i], i % 5 == 0 ? 1.0 : 0.0);
            for (auto [px, py] : std::vector<std::array<double, 2>>{
                     {0, 0}, {0, double(v[3])}, {double(v[2]), 0}, {37, 91}}) {
                double x, y, z;
                ASSERT_TRUE(gluProject(px, py, 0, m, p, v.data(), &x, &y, &z));
                EXPECT_NEAR(x, v[0] + px, 1e-3);
                EXPECT_NEAR(y, v[1] + v[3] - py, 1e-3); // GL counts window rows from the bottom
            }
        }
        glViewport(0, 0, W, H);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
    });
}

// ---------------------------------------------------------------- the game's font

namespace {
bool empty_glyph(glKanji &k, int slot) {
    const unsigned char *g = k.getChar(slot);
    return std::all_of(g, g + 32, [](unsigned char b) { return b == 0; });
}
} // namespace

TEST(GameFont, DecodesToEverySlot) {
    glKanji k(0);
    ASSERT_TRUE(k.load(TARMIK_GAME_DIR "/shnm16.f1b"));
    EXPECT_EQ(k.fontSize, 16);
    EXPECT_EQ(k.charBytes, 32);
    EXPECT_EQ(k.charCount, 9374);
    EXPECT_EQ(k.fontData.size(), 9374u * 32u);
    if (k.charCount != 9374) return;

    // Single bytes: printable ones drawn in the right half only, the rest empty.
    for (int c = 0; c < 256; ++c) {
        if (c <= 0x20 || c >= 0x7F) {
            EXPECT_TRUE(empty_glyph(k, c)) << c;
            continue;
        }
        EXPECT_FALSE(empty_glyph(k, c)) << c;
        for (int r = 0; r < 16; ++r)
            EXPECT_EQ(k.getChar(c)[2 * r], 0) << c;
    }
    // Slots between the single bytes and the first JIS row, and the two spare slots of each row.
    for (int s = 256; s < 352; ++s)
        EXPECT_TRUE(empty_glyph(k, s)) << s;
    for (int row = 0; row < 94; ++row) {
        EXPECT_TRUE(empty_glyph(k, 352 + 96 * row + 94)) << row;
        EXPECT_TRUE(empty_glyph(k, 352 + 96 * row + 95)) << row;
    }
    for (int s : {352 + 1, slot_A_full, slot_so, 1792, 8325}) // 、Ａソ亜 and the last kanji
        EXPECT_FALSE(empty_glyph(k, s)) << s;

    // Upright and not mirrored: '_' sits low, '^' high, '/' leans right.
    auto row_of = [&](int c, bool lowest) {
        for (int i = 0; i < 16; ++i) {
            int r = lowest ? i : 15 - i;
            if (k.getChar(c)[2 * r + 1]) return r;
        }
        return -1;
    };
    EXPECT_LT(row_of('_', true), 4);
    EXPECT_GT(row_of('^', false), 10);
    const unsigned char *slash = k.getChar('/');
    int bottom = row_of('/', true), top = row_of('/', false);
    ASSERT_GE(bottom, 0);
    EXPECT_GT(slash[2 * bottom + 1], slash[2 * top + 1]); // higher bits lie further left
}

TEST(GameFont, ScreenshotOfJapaneseAndAscii) {
    glKanji k(TARMIK_GAME_DIR "/shnm16.f1b", 0);
    ASSERT_EQ(k.charCount, 9374);
    std::vector<std::string> lines = {
        sjis(u8"ステージ 1"),      sjis(u8"エネルギー:10"),
        sjis(u8"命中率:70％"),     sjis(u8"称号:シークレットサービス"),
        sjis(u8"Continue? (Y/N)"), sjis(u8"ソ表…ABCxyz_^/"),
    };
    Frame f = draw([&] {
        for (size_t i = 0; i < lines.size(); ++i)
            k.print(20, 20 + 24 * static_cast<int>(i), lines[i].c_str());
    });
    std::string dir = scratch_dir("text_screenshot");
    ASSERT_TRUE(write_png(dir + "/text.png", W, H, f));

    for (size_t i = 0; i < lines.size(); ++i) {
        int y0 = 20 + 24 * static_cast<int>(i);
        int count = 0;
        for (int y = y0; y < y0 + 16; ++y)
            for (int x = 0; x < W; ++x)
                count += lit(f, x, y);
        EXPECT_GT(count, 20) << "line " << i;
    }
    // The line that starts with ASCII draws nothing left of its pen.
    int y5 = 20 + 24 * 4;
    for (int y = y5; y < y5 + 16; ++y)
        for (int x = 0; x < 20; ++x)
            EXPECT_FALSE(lit(f, x, y)) << x << "," << y;
}
