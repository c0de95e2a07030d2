#include "testutil.h"

#include "platform/platform.h"

#include <GL/gl.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string iconv_sjis(const std::string &utf8) {
    std::string out;
    run_command("iconv -f UTF-8 -t CP932", utf8, &out);
    return out;
}

int run_command(const std::string &cmd, const std::string &input, std::string *out) {
    std::string inpath = std::string(TARMIK_SCRATCH) + "/stdin." + std::to_string(getpid());
    write_file(inpath, input);
    std::string full = "(" + cmd + ") < '" + inpath + "'";
    FILE *p = popen(full.c_str(), "r");
    if (!p) return -1;
    std::string data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        data.append(buf, n);
    int st = pclose(p);
    std::remove(inpath.c_str());
    if (out) *out = data;
    if (st == -1 || !WIFEXITED(st)) return -1;
    return WEXITSTATUS(st);
}

std::string scratch_dir(const std::string &name) {
    // Per process: ctest runs the cases of one program side by side.
    std::string d = std::string(TARMIK_SCRATCH) + "/" + name + "." + std::to_string(getpid());
    std::string cmd = "rm -rf '" + d + "' && mkdir -p '" + d + "'";
    if (std::system(cmd.c_str()) != 0) std::abort();
    return d;
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void test_window(int w, int h) {
    static bool made = false;
    if (!made) {
        int argc = 1;
        char name[] = "test";
        char *argv[] = {name, nullptr};
        const plat_window_setup setup{1, 1, w, h, "test", "test", "Test"};
        plat_callbacks cb{};
        cb.display = [] {};
        plat_open_window(argc, argv, setup, cb);
        made = true;
        // Let the server map the window, so the front buffer holds what is shown.
        for (int i = 0; i < 30; ++i) {
            plat_pump_events();
            usleep(10000);
        }
    } else {
        plat_reshape_window(w, h);
    }
    glViewport(0, 0, w, h);
}

std::vector<uint8_t> read_pixels(int w, int h) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    std::vector<uint8_t> raw(rgb.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, raw.data());
    for (int y = 0; y < h; ++y)
        std::copy(raw.begin() + static_cast<size_t>(h - 1 - y) * w * 3,
                  raw.begin() + static_cast<size_t>(h - y) * w * 3,
                  rgb.begin() + static_cast<size_t>(y) * w * 3);
    return rgb;
}

bool write_png(const std::string &path, int w, int h, const std::vector<uint8_t> &rgb) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y)
        png_write_row(png, const_cast<png_bytep>(&rgb[static_cast<size_t>(y) * w * 3]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return true;
}

std::vector<uint8_t> read_window(int w, int h) {
    std::vector<uint8_t> rgb, shown;
    int sw = 0, sh = 0;
    rgb.assign(static_cast<size_t>(w) * h * 3, 0);
    if (!plat_read_window(shown, sw, sh)) return rgb;
    for (int y = 0; y < h && y < sh; ++y)
        for (int x = 0; x < w && x < sw; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[(static_cast<size_t>(y) * w + x) * 3 + c] =
                    shown[(static_cast<size_t>(y) * sw + x) * 3 + c];
    return rgb;
}
