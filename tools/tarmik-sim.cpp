// tarmik-sim [--headless] SCRIPT: the scripted driver on the desktop's platform, in a window
// (whose frames `png` can save) or, with --headless, without any display.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include "platform/platform.h"
#include "tools/driver.h"

namespace {

bool write_png(const std::string &path, std::string &error) {
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (!plat_read_window(rgb, w, h)) {
        error = "cannot read the window";
        return false;
    }
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = "cannot write " + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        error = "cannot write " + path;
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y)
        png_write_row(png, &rgb[static_cast<size_t>(y) * w * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(f) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

const driver_window desktop{write_png};

} // namespace

int main(int argc, char **argv) {
    return driver_main(argc, argv, &desktop);
}
