#include "text/glkanji.h"

#include "text/matrix.h"

#include "base/files.h"

#include <GL/gl.h>
#include <cstdio>
#include <limits>

glKanji::glKanji(int32_t codeType) : codeType(codeType) {}

glKanji::glKanji(const char *fileName, int32_t codeType) : codeType(codeType) {
    load(fileName);
}

glKanji::~glKanji() = default;

void glKanji::init() {
    fontSize = 0;
    charBytes = 0;
    charCount = 0;
}

namespace {

// Largest glyph edge we accept; keeps every size computation far from overflow.
constexpr int32_t max_font_size = 256;
// Slots a character can reach: JIS 0x7E 0x7E is the last.
constexpr size_t addressable_slots = 9374;

// Cells are 96 slots a JIS row; rows start at 0x21, after the 256 single-byte slots.
inline int32_t jis_slot(int32_t row, int32_t cell) {
    return 96 * row + cell - 2849;
}

} // namespace

bool glKanji::load(const char *fileName) {
    if (!fileName) return false;

    // Empty first, so that any failure below leaves an empty font behind.
    std::vector<unsigned char>().swap(fontData);
    fontSize = 0;
    charBytes = 0;
    charCount = 0;

    // Only a regular file: a device could feed runs for ever, a pipe keep the game waiting.
    std::FILE *f = fopen_regular(fileName, "rb");
    if (!f) return false;

    unsigned char head[4];
    if (std::fread(head, 1, 4, f) != 4) {
        std::fclose(f);
        return false;
    }
    uint32_t raw = static_cast<uint32_t>(head[0]) | static_cast<uint32_t>(head[1]) << 8 |
                   static_cast<uint32_t>(head[2]) << 16 | static_cast<uint32_t>(head[3]) << 24;
    int32_t size = static_cast<int32_t>(raw);
    if (size <= 0 || size > max_font_size) {
        std::fclose(f);
        return false;
    }
    fontSize = size;
    int32_t rowBits = ((fontSize - 1) >> 3) * 8 + 8;
    charBytes = fontSize * rowBits / 8;

    // Bytes a truncated run is still owed repeat the last data byte read (zero if none was).
    // Nothing is decoded beyond the last slot a character can reach, so no run-length bomb
    // fills memory; the rest of the file is ignored.
    const size_t room = addressable_slots * static_cast<size_t>(charBytes);
    unsigned char last = 0;
    for (int n = std::fgetc(f); n != EOF && fontData.size() < room; n = std::fgetc(f)) {
        if (n < 0x80) {
            for (int i = 0; i <= n; ++i) {
                int b = std::fgetc(f);
                if (b != EOF) last = static_cast<unsigned char>(b);
                fontData.push_back(last);
            }
        } else {
            int b = std::fgetc(f);
            if (b != EOF) last = static_cast<unsigned char>(b);
            fontData.insert(fontData.end(), static_cast<size_t>(n - 127), last);
        }
    }
    std::fclose(f);
    if (fontData.size() > room) fontData.resize(room);

    charCount = static_cast<int32_t>(fontData.size() / static_cast<size_t>(charBytes));
    return true;
}

unsigned char *glKanji::getChar(int32_t slot) {
    return fontData.data() + static_cast<size_t>(charBytes) * static_cast<size_t>(slot);
}

void glKanji::print(int32_t x, int32_t y, const char *text) {
    if (!text || fontData.empty()) return;

    MatrixSaver modelview(GL_MODELVIEW_MATRIX);
    MatrixSaver projection(GL_PROJECTION_MATRIX);
    ScreenMatrix screen;

    // The pen stands on the bottom line of the first cell.
    int64_t base = static_cast<int64_t>(y) + fontSize;
    if (base > std::numeric_limits<int32_t>::max()) base = std::numeric_limits<int32_t>::max();
    glRasterPos2i(x, static_cast<GLint>(base));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

    const GLfloat full = static_cast<GLfloat>(fontSize);
    const GLfloat half = static_cast<GLfloat>(fontSize / 2);
    glyph g;
    for (const char *p = text; (p = walk(p, g)) != nullptr;) {
        if (g.slot < 0) continue;
        // Half-width glyphs sit in the right half of their cell.
        if (g.half)
            glBitmap(fontSize, fontSize, half, 0, half, 0, getChar(g.slot));
        else
            glBitmap(fontSize, fontSize, 0, 0, full, 0, getChar(g.slot));
    }
}

const char *glKanji::walk(const char *p, glyph &g) const {
    const unsigned char *u = reinterpret_cast<const unsigned char *>(p);
    const unsigned char c = u[0];
    if (c == 0) return nullptr;
    if (c >= 0x20 && c <= 0x7E) {
        g.slot = c < charCount ? c : -1;
        g.half = true;
        return p + 1;
    }
    if (u[1] == 0) return nullptr; // a lead byte with nothing after it
    unsigned char b1 = u[0], b2 = u[1];
    if (codeType == 0)
        sjis2jis(b1, b2);
    else if (codeType == 1)
        euc2jis(b1, b2);
    const int32_t slot = jis_slot(b1, b2);
    g.slot = slot >= 0 && slot < charCount ? slot : -1;
    g.half = false;
    return p + 2;
}

void sjis2jis(unsigned char &first, unsigned char &second) {
    if (first >= 0xE0) first = static_cast<unsigned char>(first + 0xC0);
    if (second >= 0x80) second = static_cast<unsigned char>(second + 0xFF);
    if (second >= 0x9E) {
        first = static_cast<unsigned char>(first * 2 + 0x120);
        second = static_cast<unsigned char>(second + 0x83);
    } else {
        first = static_cast<unsigned char>(first * 2 + 0x21F);
        second = static_cast<unsigned char>(second + 0xE1);
    }
}

void euc2jis(unsigned char &first, unsigned char &second) {
    first = static_cast<unsigned char>(first + 0x80);
    second = static_cast<unsigned char>(second + 0x80);
}
