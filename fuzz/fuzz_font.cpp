// Any bytes as a font file and a text: the font is loaded and the text walked as print walks
// it, every glyph it would draw read whole. Input: one byte choosing the code type, the font
// file's length (4 bytes, little-endian), the font file, then the text.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "text/glkanji.h"

namespace {

std::string folder;
// Keeps the glyph reads.
volatile unsigned sink;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char shm[] = "/dev/shm/tarmik-fuzz-XXXXXX", tmp[] = "/tmp/tarmik-fuzz-XXXXXX";
    const char *made = mkdtemp(shm);
    if (!made) made = mkdtemp(tmp);
    if (!made) std::abort();
    folder = made;
    std::atexit([] {
        std::remove((folder + "/font.f1b").c_str());
        rmdir(folder.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 5) return 0;
    const int32_t codeType = data[0] % 3;
    uint32_t length;
    std::memcpy(&length, data + 1, 4);
    data += 5;
    size -= 5;
    if (length > size) length = static_cast<uint32_t>(size);

    const std::string file = folder + "/font.f1b";
    FILE *f = std::fopen(file.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(data, 1, length, f);
    std::fclose(f);

    glKanji font(codeType);
    const bool loaded = font.load(file.c_str());
    if (!loaded && !font.fontData.empty()) __builtin_trap();
    if (font.charBytes > 0 &&
        static_cast<size_t>(font.charCount) != font.fontData.size() / font.charBytes)
        __builtin_trap();
    // No more is decoded than the last reachable slot (JIS 0x7E 0x7E) needs.
    if (font.charBytes > 0 && font.fontData.size() > 9374u * font.charBytes) __builtin_trap();

    // The text exactly as long as the input says, then its terminator: a read past it is caught.
    const size_t n = size - length;
    char *text = new char[n + 1];
    std::memcpy(text, data + length, n);
    text[n] = 0;
    unsigned sum = 0;
    glKanji::glyph g;
    const char *p = text;
    for (const char *next; (next = font.walk(p, g)) != nullptr; p = next) {
        if (next <= p || next > text + n) __builtin_trap();
        if (g.slot < 0) continue;
        if (g.slot >= font.charCount ||
            (static_cast<size_t>(g.slot) + 1) * font.charBytes > font.fontData.size())
            __builtin_trap();
        const unsigned char *bits = font.getChar(g.slot);
        for (int32_t i = 0; i < font.charBytes; ++i)
            sum += bits[i];
    }
    delete[] text;
    sink = sum;
    return 0;
}
