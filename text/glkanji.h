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
};

void sjis2jis(unsigned char &first, unsigned char &second);
void euc2jis(unsigned char &first, unsigned char &second);
