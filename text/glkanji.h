#pragma once
#include <cstdint>
#include <vector>

// Bitmap Kanji font: decoded once into memory, drawn glyph by glyph with glBitmap.
class glKanji {
  public:
    int32_t fontSize = 0;
    int32_t charBytes = 0;
    int32_t charCount = 0;
    int32_t codeType = 0; // 0 Shift-JIS, 1 EUC-JP, other: JIS
    std::vector<unsigned char> fontData;

    explicit glKanji(int32_t codeType);
    glKanji(const char *fileName, int32_t codeType);
    ~glKanji();

    void init();
    bool load(const char *fileName);
    unsigned char *getChar(int32_t slot);
    // Draws text with the top-left of its first cell at pixel (x, y), y growing downward.
    void print(int32_t x, int32_t y, const char *text);

    // One character of print's walk: the slot it draws, or -1 when it draws nothing (and the
    // pen stays); half for a single-byte character, drawn fontSize / 2 left of the pen and
    // moving it fontSize / 2, else drawn at the pen and moving it fontSize.
    struct glyph {
        int32_t slot;
        bool half;
    };
    // Reads the character at p into g; returns where the next one starts, or nullptr at the
    // end of the text (never reading past its terminator).
    const char *walk(const char *p, glyph &g) const;
};

void sjis2jis(unsigned char &first, unsigned char &second);
void euc2jis(unsigned char &first, unsigned char &second);
