#pragma once
// Shared helpers for the tests: independent Shift-JIS bytes, child processes, a GL window,
// pixel read-back and PNG output.
#include <cstdint>
#include <string>
#include <vector>

// Shift-JIS bytes of a UTF-8 text, made by the system's iconv (not by our compiler flags).
std::string iconv_sjis(const std::string &utf8);

// Runs a shell command with the given standard input; returns its exit status (or -1)
// and fills out with its standard output.
int run_command(const std::string &cmd, const std::string &input, std::string *out);

// A fresh scratch folder for one test; returns its path.
std::string scratch_dir(const std::string &name);
void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);

// Opens (once) a GLUT window of the given client size for drawing tests; needs DISPLAY.
void test_window(int w, int h);
// Reads the back buffer as RGB rows, top row first.
std::vector<uint8_t> read_pixels(int w, int h);
// Reads what the window shows on the screen (X drawing included), top row first.
std::vector<uint8_t> read_window(int w, int h);
bool write_png(const std::string &path, int w, int h, const std::vector<uint8_t> &rgb);
// Pixel (x, y) from the top-left of an RGB buffer of width w.
inline const uint8_t *pixel_at(const std::vector<uint8_t> &rgb, int w, int x, int y) {
    return &rgb[(static_cast<size_t>(y) * w + x) * 3];
}
