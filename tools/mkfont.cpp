// Builds the game's bitmap font file from the Shinonome 16-dot PCF fonts:
//   tarmik-mkfont KANJI.pcf.gz ROMAN.pcf.gz OUT.f1b
// KANJI is indexed by raw JIS X 0208 codes (0x2121...), ROMAN by single bytes 0x20-0x7E.
// Output: fontSize (int32, little-endian) then every glyph slot, run-length coded.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int cell = 16;
constexpr int row_bytes = 2;
constexpr int glyph_bytes = cell * row_bytes;
constexpr int slot_count = 9374;
// Baseline two rows above the cell's bottom edge.
constexpr int baseline = cell - 2;

int jis_slot(int row, int col) {
    return 96 * row + col - 2849;
}

FT_Face open_face(FT_Library lib, const char *path) {
    FT_Face face = nullptr;
    if (FT_New_Face(lib, path, 0, &face) != 0) {
        std::fprintf(stderr, "mkfont: cannot open %s\n", path);
        return nullptr;
    }
    // Bitmap fonts need a strike chosen; their one charmap uses raw codes.
    if (face->num_fixed_sizes > 0) FT_Select_Size(face, 0);
    if (!face->charmap && face->num_charmaps > 0) FT_Set_Charmap(face, face->charmaps[0]);
    return face;
}

// Renders one code into a cell whose stored rows run bottom first, MSB leftmost.
// xoff shifts the glyph right inside the cell. Returns false when the font lacks the code.
bool render(FT_Face face, unsigned long code, int xoff, unsigned char *out) {
    FT_UInt index = FT_Get_Char_Index(face, code);
    if (index == 0) return false;
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_MONOCHROME) != 0) return false;
    const FT_GlyphSlot g = face->glyph;
    const FT_Bitmap &bm = g->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_MONO || bm.pitch < 0) return false;
    for (unsigned r = 0; r < bm.rows; ++r) {
        int y = baseline - g->bitmap_top + static_cast<int>(r); // from the cell's top
        if (y < 0 || y >= cell) continue;
        const unsigned char *src = bm.buffer + static_cast<size_t>(r) * bm.pitch;
        unsigned char *dst = out + (cell - 1 - y) * row_bytes;
        for (unsigned c = 0; c < bm.width; ++c) {
            if (!(src[c >> 3] & (0x80 >> (c & 7)))) continue;
            int x = g->bitmap_left + static_cast<int>(c) + xoff;
            if (x < 0 || x >= cell) continue;
            dst[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
        }
    }
    return true;
}

size_t repeat_length(const std::vector<unsigned char> &d, size_t i) {
    size_t n = 1;
    while (i + n < d.size() && n < 128 && d[i + n] == d[i])
        ++n;
    return n;
}

std::vector<unsigned char> encode(const std::vector<unsigned char> &d) {
    std::vector<unsigned char> out;
    size_t i = 0;
    while (i < d.size()) {
        size_t rep = repeat_length(d, i);
        if (rep >= 2) {
            out.push_back(static_cast<unsigned char>(127 + rep));
            out.push_back(d[i]);
            i += rep;
            continue;
        }
        // A literal runs until a repeat worth coding starts (three alike) or it is full.
        size_t start = i;
        while (i < d.size() && i - start < 128 && (i == start || repeat_length(d, i) < 3))
            ++i;
        out.push_back(static_cast<unsigned char>(i - start - 1));
        out.insert(out.end(), d.begin() + start, d.begin() + i);
    }
    return out;
}

std::vector<unsigned char> decode(const std::vector<unsigned char> &e) {
    std::vector<unsigned char> d;
    size_t i = 0;
    while (i < e.size()) {
        unsigned n = e[i++];
        if (n < 0x80) {
            d.insert(d.end(), e.begin() + i, e.begin() + i + n + 1);
            i += n + 1;
        } else {
            d.insert(d.end(), n - 127, e[i++]);
        }
    }
    return d;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s KANJI.pcf.gz ROMAN.pcf.gz OUT.f1b\n", argv[0]);
        return 2;
    }
    FT_Library lib;
    if (FT_Init_FreeType(&lib) != 0) {
        std::fprintf(stderr, "mkfont: cannot start FreeType\n");
        return 1;
    }
    FT_Face kanji = open_face(lib, argv[1]);
    FT_Face roman = open_face(lib, argv[2]);
    if (!kanji || !roman) return 1;

    std::vector<unsigned char> glyphs(static_cast<size_t>(slot_count) * glyph_bytes, 0);
    int roman_found = 0, kanji_found = 0;
    for (int c = 0x20; c <= 0x7E; ++c)
        // The game draws a single-byte glyph 8 pixels left of the pen: use the right half.
        roman_found += render(roman, c, cell / 2, &glyphs[static_cast<size_t>(c) * glyph_bytes]);
    for (int row = 0x21; row <= 0x7E; ++row)
        for (int col = 0x21; col <= 0x7E; ++col)
            kanji_found += render(kanji, static_cast<unsigned long>(row << 8 | col), 0,
                                  &glyphs[static_cast<size_t>(jis_slot(row, col)) * glyph_bytes]);
    FT_Done_Face(kanji);
    FT_Done_Face(roman);
    FT_Done_FreeType(lib);

    // JIS X 0208 has 6879 characters; far fewer means the wrong charmap or font.
    if (roman_found < 0x5F || kanji_found < 6000) {
        std::fprintf(stderr, "mkfont: only %d single-byte and %d JIS glyphs found\n", roman_found,
                     kanji_found);
        return 1;
    }

    std::vector<unsigned char> packed = encode(glyphs);
    if (decode(packed) != glyphs) {
        std::fprintf(stderr, "mkfont: run-length coding does not round-trip\n");
        return 1;
    }

    std::FILE *f = std::fopen(argv[3], "wb");
    if (!f) {
        std::fprintf(stderr, "mkfont: cannot write %s\n", argv[3]);
        return 1;
    }
    const unsigned char head[4] = {cell, 0, 0, 0};
    bool ok = std::fwrite(head, 1, 4, f) == 4 &&
              std::fwrite(packed.data(), 1, packed.size(), f) == packed.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "mkfont: error writing %s\n", argv[3]);
        std::remove(argv[3]);
        return 1;
    }
    return 0;
}
