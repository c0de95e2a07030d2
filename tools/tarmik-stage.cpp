// For stage authors: checks a stage file with the game's own loader, traces how a stage's
// objects move with the game's own movement code, and draws a stage as a map.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "flow/stage.h"
#include "base/console.h"
#include "world/buttai.h"
#include "world/random.h"

namespace {

const char usage[] =
    "usage: tarmik-stage check FILE\n"
    "       tarmik-stage trace FILE [--stage N] [--ticks T]\n"
    "       tarmik-stage plot FILE [--stage N] [--ticks T] [--zoom X,Z,HALF] -o OUT.svg\n"
    "\n"
    "check  reads every stage as the game does and prints one line per stage on standard\n"
    "       output: stage NUMBER line LINE hito H mato M building B (LINE: where its count\n"
    "       stands). Exits 0 when the whole file is good. Otherwise the first fault goes to\n"
    "       standard error as FILE:LINE: found TOKEN, expected WHAT, and the exit status is 1.\n"
    "trace  loads stages 1 to N (default 1) as the game does, resets the random generator and\n"
    "       runs the tick's object pass T times (default 100) over stage N: dead objects are\n"
    "       removed, live ones moved. Standard output gets one line per object of the moving\n"
    "       list after loading (tick 0) and after each tick: TICK INDEX TYPE X Y Z, INDEX being\n"
    "       the record's place in its block (buildings counted). Faults go to standard error,\n"
    "       status 1.\n"
    "plot   draws stage N (default 1) seen from above as an SVG file OUT: the 300 x 300 ground\n"
    "       with its checkerboard of 5-unit squares, blocks (grey squares), targets (dark\n"
    "       circles), each figure where it starts (blue), the path it walks over T ticks (default\n"
    "       300, at most 100000; the same steps as trace) and a ring where it ends, and the\n"
    "       dashed window of the scope at the starting eye. --zoom shows only the square of\n"
    "       half-width HALF around (X, Z). Faults go to standard error, status 1.\n"
    "Bad arguments: this text on standard error, status 2.\n";

int bad_usage() {
    std::fputs(usage, stderr);
    return 2;
}

void report(const std::string &file, const stage_fault &f) {
    std::fprintf(stderr, "%s:%d: found %s, expected %s\n", file.c_str(), f.line, f.found.c_str(),
                 f.expected.c_str());
}

bool open_file(const std::string &file, std::ifstream &in) {
    in.open(file);
    if (in) return true;
    std::fprintf(stderr, "%s: cannot open the file\n", file.c_str());
    return false;
}

int check(const std::string &file) {
    std::ifstream in;
    if (!open_file(file, in)) return 1;
    int line = 1;
    for (int n = 1;; ++n) {
        stage_block block;
        stage_fault fault;
        switch (read_stage(in, line, block, fault)) {
        case stage_read::malformed:
            report(file, fault);
            return 1;
        case stage_read::ended:
            if (n == 1) {
                // The game refuses a file without a single stage.
                report(file,
                       {line, "end of file", "a stage's record count (no stage in the file)"});
                return 1;
            }
            return 0;
        case stage_read::loaded:
            break;
        }
        int hito = 0, mato = 0, building = 0;
        for (const stage_record &r : block.records) {
            if (r.type == "hito")
                ++hito;
            else if (r.type == "mato")
                ++mato;
            else
                ++building;
        }
        char buf[160];
        std::snprintf(buf, sizeof buf, "stage %d line %d hito %d mato %d building %d", n,
                      block.count_line, hito, mato, building);
        console_line(buf);
    }
}

// A non-negative decimal option value.
bool parse_count(const char *s, long &v) {
    char *end = nullptr;
    v = std::strtol(s, &end, 10);
    return *s && !*end && v >= 0 && v <= 100000000;
}

struct traced {
    int index;
    std::string type;
};

// Stage N of a file in the lists, as the game would have it right after loading.
struct loaded_stage {
    stage_block block;
    std::unordered_map<const buttai *, traced> who;
};

// Reads stages 1 to N as the game does and populates the lists with stage N. Faults go to
// standard error.
bool load_stage(const std::string &file, long stage, loaded_stage &s) {
    std::ifstream in;
    if (!open_file(file, in)) return false;
    int line = 1;
    for (long n = 1; n <= stage; ++n) {
        stage_fault fault;
        switch (read_stage(in, line, s.block, fault)) {
        case stage_read::malformed:
            report(file, fault);
            return false;
        case stage_read::ended:
            std::fprintf(stderr, "%s: holds %ld stage(s), no stage %ld\n", file.c_str(), n - 1,
                         stage);
            return false;
        case stage_read::loaded:
            break;
        }
    }
    buttai_del();
    const std::vector<buttai *> made = populate_stage(s.block.records);
    s.who.clear();
    for (size_t i = 0; i < made.size(); ++i)
        s.who[made[i]] = {static_cast<int>(i + 1), s.block.records[i].type};
    return true;
}

// The tick's object pass, T times over the loaded stage from the generator's first draw:
// the dead leave, the living move. visit(t) sees the moving list after loading (t = 0) and
// after each pass. trace and plot both walk the stage through here.
void run_ticks(long ticks, const std::function<void(long)> &visit) {
    game_rand_reset();
    for (long t = 0;; ++t) {
        visit(t);
        if (t == ticks) break;
        for (auto it = buttai_set.begin(); it != buttai_set.end();) {
            if ((*it)->life <= 0) {
                delete *it;
                it = buttai_set.erase(it);
            } else {
                (*it)->move();
                ++it;
            }
        }
    }
}

int trace(const std::string &file, long stage, long ticks) {
    loaded_stage s;
    if (!load_stage(file, stage, s)) return 1;
    std::string out;
    char buf[200];
    run_ticks(ticks, [&](long t) {
        out.clear();
        for (const buttai *b : buttai_set) {
            const traced &w = s.who[b];
            std::snprintf(buf, sizeof buf, "%ld %d %s %.17g %.17g %.17g\n", t, w.index,
                          w.type.c_str(), b->pos.x, b->pos.y, b->pos.z);
            out += buf;
        }
        console_write(out);
    });
    std::fflush(stdout);
    buttai_del();
    return 0;
}

// The plot: a top view as the game shows it, x to the right and z downwards, one SVG unit per
// world unit.
const double ground_half = 150.0;
// The eye starts 120 units above the origin and the ground lies at -0.5.
const double view_depth = 120.5;
// Most ticks a plot takes: every tick can add a point to each path.
const long plot_tick_limit = 100000;
// What lies further out than this on x or z is left off the map, so that an object far off
// the ground (or running off to infinity) cannot make the map, or the time to draw it, grow
// without bound.
const double plot_reach = 1e6;

bool within_reach(double x, double z) {
    return std::fabs(x) <= plot_reach && std::fabs(z) <= plot_reach;
}

// The part of the world a plot shows.
struct area {
    double x0, z0, x1, z1;
    void take(double x, double z, double r) {
        if (!within_reach(x, z) || !std::isfinite(r)) return;
        r = std::min(std::fabs(r), plot_reach);
        x0 = std::min(x0, x - r);
        z0 = std::min(z0, z - r);
        x1 = std::max(x1, x + r);
        z1 = std::max(z1, z + r);
    }
};

std::string num(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.2f", v);
    const std::string s = b;
    return s == "-0.00" ? "0.00" : s;
}

// Names in the caption keep to printable ASCII, so the SVG stays valid UTF-8 and XML.
std::string caption_text(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    return out;
}

// The scope's window on the ground at the starting eye: the mask leaves the diamond
// |x| + |y| < 0.275 on the near plane (at distance 1), the square window cuts it at tan 15°.
// Both scale with the distance down to the ground.
std::vector<std::pair<double, double>> view_outline() {
    const double d = 0.275 * view_depth;
    const double h = std::tan(15.0 * 3.14159265358979 / 180.0) * view_depth;
    const double c = d - h; // how far the diamond's corners reach past the window's edges
    return {{h, -c}, {h, c}, {c, h}, {-c, h}, {-h, c}, {-h, -c}, {-c, -h}, {c, -h}};
}

// A round step for the coordinates along the edges: about six labels across.
double label_step(double width) {
    for (double s : {1.0, 2.0, 5.0, 10.0, 20.0, 25.0, 50.0, 100.0, 200.0, 500.0})
        if (width / s <= 7) return s;
    for (double s = 1000.0;; s *= 10)
        for (double m : {1.0, 2.0, 5.0})
            if (width / (s * m) <= 7) return s * m;
}

struct plot_options {
    long stage = 1;
    long ticks = 300;
    std::string out;
    bool zoomed = false;
    double zx = 0, zz = 0, zhalf = 0;
};

// "X,Z,HALF" with HALF > 0.
bool parse_zoom(const char *s, plot_options &o) {
    char tail = 0;
    if (std::sscanf(s, "%lf,%lf,%lf%c", &o.zx, &o.zz, &o.zhalf, &tail) != 3) return false;
    o.zoomed = true;
    return within_reach(o.zx, o.zz) && o.zhalf > 0 && o.zhalf < 1e6;
}

int plot(const std::string &file, const plot_options &opt) {
    loaded_stage s;
    if (!load_stage(file, opt.stage, s)) return 1;

    // What stands still is drawn as loaded; figures get their paths.
    struct thing {
        std::string type;
        int index;
        double x, z, r, life;
        std::vector<std::string> points; // the path as drawn, standing still left out
        double end_x, end_z;
    };
    auto thing_of = [&s](const buttai *b) {
        const traced &w = s.who[b];
        return thing{w.type,  w.index, b->pos.x, b->pos.z, b->radius,
                     b->life, {},      b->pos.x, b->pos.z};
    };
    std::vector<thing> blocks, others;
    for (const buttai *b : building_set)
        blocks.push_back(thing_of(b));
    std::unordered_map<const buttai *, size_t> figure;
    for (const buttai *b : buttai_set) {
        if (s.who[b].type == "hito") figure[b] = others.size();
        others.push_back(thing_of(b));
    }
    // Objects out of reach are named once, on standard error, and left off the map.
    std::vector<bool> told(s.block.records.size() + 1);
    auto reachable = [&](const thing &o, double x, double z, long tick) {
        if (within_reach(x, z)) return true;
        if (!told[o.index]) {
            told[o.index] = true;
            const std::string when = tick ? " by tick " + std::to_string(tick) : "";
            std::fprintf(stderr,
                         "%s:%d: %s (record %d) %s beyond %.0f units from the origin%s; "
                         "what lies there is not drawn\n",
                         file.c_str(), s.block.records[o.index - 1].line, o.type.c_str(), o.index,
                         tick ? "walks" : "stands", plot_reach, when.c_str());
        }
        return false;
    };
    area box{-ground_half, -ground_half, ground_half, ground_half};
    for (const thing &o : blocks)
        box.take(o.x, o.z, o.r / 2);
    for (const thing &o : others)
        box.take(o.x, o.z, o.r);

    for (const thing &o : blocks)
        reachable(o, o.x, o.z, 0);
    for (const thing &o : others)
        reachable(o, o.x, o.z, 0);
    run_ticks(opt.ticks, [&](long t) {
        for (const buttai *b : buttai_set) {
            const auto f = figure.find(b);
            if (f == figure.end()) continue;
            thing &o = others[f->second];
            if (!reachable(o, b->pos.x, b->pos.z, t)) continue;
            const std::string pt = num(b->pos.x) + "," + num(b->pos.z);
            if (o.points.empty() || o.points.back() != pt) o.points.push_back(pt);
            o.end_x = b->pos.x;
            o.end_z = b->pos.z;
            box.take(b->pos.x, b->pos.z, b->radius);
        }
    });
    buttai_del();

    // The whole ground and all that stands or walks beyond it, or the zoomed square.
    if (opt.zoomed) {
        box = {opt.zx - opt.zhalf, opt.zz - opt.zhalf, opt.zx + opt.zhalf, opt.zz + opt.zhalf};
    } else {
        box = {std::floor(box.x0 / 5) * 5, std::floor(box.z0 / 5) * 5, std::ceil(box.x1 / 5) * 5,
               std::ceil(box.z1 / 5) * 5};
    }
    // Lines and letters keep their size on the page whatever the scale.
    const double u = std::max(box.x1 - box.x0, box.z1 - box.z0) / 300.0;
    const double margin = 16 * u;
    const double vx = box.x0 - margin, vz = box.z0 - margin;
    const double vw = box.x1 - box.x0 + 2 * margin, vh = box.z1 - box.z0 + 2 * margin;
    const double px = 2 / u; // pixels per unit on the page: 600 across the plotted area
    // Letters are set at their page size and scaled down into the plot's units: renderers
    // handle font sizes of a fraction of a unit badly.
    char scale[40];
    std::snprintf(scale, sizeof scale, "%.6g", u);
    auto text = [&scale](double x, double z, double size, const std::string &attrs,
                         const std::string &body) {
        return "<text transform=\"translate(" + num(x) + " " + num(z) + ") scale(" + scale +
               ")\" font-size=\"" + num(size) + "\"" + attrs + ">" + body + "</text>";
    };
    auto whole = [](double v) { return std::to_string(static_cast<long>(std::lround(v))); };

    std::string svg;
    auto add = [&svg](const std::string &t) { svg += t; };
    add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    add("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(vw * px) + "\" height=\"" +
        num(vh * px) + "\" viewBox=\"" + num(vx) + " " + num(vz) + " " + num(vw) + " " + num(vh) +
        "\" font-family=\"sans-serif\">\n");
    add("<defs><clipPath id=\"plotted\"><rect x=\"" + num(box.x0) + "\" y=\"" + num(box.z0) +
        "\" width=\"" + num(box.x1 - box.x0) + "\" height=\"" + num(box.z1 - box.z0) +
        "\"/></clipPath></defs>\n");
    add("<rect x=\"" + num(vx) + "\" y=\"" + num(vz) + "\" width=\"" + num(vw) + "\" height=\"" +
        num(vh) + "\" fill=\"#ffffff\"/>\n");
    add("<g clip-path=\"url(#plotted)\">\n");

    // The ground: squares of 5 units, the first colour where the square's indices add up to an
    // even number; the second colour goes on top as one path.
    const int i0 = std::max(-30, static_cast<int>(std::floor(box.x0 / 5)));
    const int i1 = std::min(29, static_cast<int>(std::ceil(box.x1 / 5)));
    const int j0 = std::max(-30, static_cast<int>(std::floor(box.z0 / 5)));
    const int j1 = std::min(29, static_cast<int>(std::ceil(box.z1 / 5)));
    if (i0 <= i1 && j0 <= j1) {
        add("<rect id=\"ground\" x=\"" + std::to_string(5 * i0) + "\" y=\"" +
            std::to_string(5 * j0) + "\" width=\"" + std::to_string(5 * (i1 - i0 + 1)) +
            "\" height=\"" + std::to_string(5 * (j1 - j0 + 1)) + "\" fill=\"#e6ff33\"/>\n");
        add("<path id=\"ground-odd\" fill=\"#cccc4d\" d=\"");
        for (int j = j0; j <= j1; ++j)
            for (int i = i0; i <= i1; ++i)
                if ((i + j) & 1)
                    add("M" + std::to_string(5 * i) + "," + std::to_string(5 * j) + "h5v5h-5z");
        add("\"/>\n");
    }

    auto faded = [](double life) { return life > 0 ? "" : " opacity=\"0.3\""; };
    for (const thing &o : blocks)
        if (within_reach(o.x, o.z))
            add("<rect class=\"building\" data-index=\"" + std::to_string(o.index) + "\" x=\"" +
                num(o.x - o.r / 2) + "\" y=\"" + num(o.z - o.r / 2) + "\" width=\"" + num(o.r) +
                "\" height=\"" + num(o.r) +
                "\" fill=\"#808080\" stroke=\"#404040\" stroke-width=\"" + num(0.2 * u) + "\"/>\n");
    for (const thing &o : others)
        if (o.type == "mato" && within_reach(o.x, o.z))
            add("<circle class=\"mato\" data-index=\"" + std::to_string(o.index) + "\" cx=\"" +
                num(o.x) + "\" cy=\"" + num(o.z) + "\" r=\"" + num(o.r) + "\" fill=\"#1a1a1a\"" +
                faded(o.life) + "/>\n");

    // The view at the start: the scope's window and its cross (arms 0.1 on the near plane).
    std::string outline;
    for (const auto &pt : view_outline())
        outline += (outline.empty() ? "" : " ") + num(pt.first) + "," + num(pt.second);
    const std::string arm = num(0.1 * view_depth), minus_arm = num(-0.1 * view_depth);
    add("<g id=\"view\"><polygon points=\"" + outline +
        "\" fill=\"none\" stroke=\"#003300\" stroke-width=\"" + num(0.6 * u) +
        "\" stroke-dasharray=\"" + num(3 * u) + " " + num(2 * u) + "\"/><path d=\"M" + minus_arm +
        ",0H" + arm + "M0," + minus_arm + "V" + arm + "\" stroke=\"#ff0000\" stroke-width=\"" +
        num(0.3 * u) + "\"/></g>\n");

    // Figures: where they start (blue, as the game draws them), the path they walk in a colour
    // of its own (none of them the red of the cross), and a ring where they are at the end.
    static const char *const hues[] = {"#1f77b4", "#9467bd", "#e377c2", "#8c564b",
                                       "#17becf", "#2ca02c", "#000000"};
    size_t k = 0;
    for (const thing &o : others) {
        if (o.type != "hito" || !within_reach(o.x, o.z)) continue;
        const std::string hue = hues[k++ % (sizeof hues / sizeof *hues)];
        const std::string idx = std::to_string(o.index);
        add("<g class=\"hito\" data-index=\"" + idx + "\"" + faded(o.life) + ">");
        add("<circle cx=\"" + num(o.x) + "\" cy=\"" + num(o.z) + "\" r=\"" + num(o.r) +
            "\" fill=\"#0000ff\" fill-opacity=\"0.6\"/>");
        if (o.points.size() > 1) {
            add("<polyline fill=\"none\" stroke=\"" + hue + "\" stroke-width=\"" + num(0.7 * u) +
                "\" stroke-linejoin=\"round\" points=\"");
            for (size_t i = 0; i < o.points.size(); ++i)
                add((i ? " " : "") + o.points[i]);
            add("\"/><circle cx=\"" + num(o.end_x) + "\" cy=\"" + num(o.end_z) + "\" r=\"" +
                num(std::max(o.r, 0.8 * u)) + "\" fill=\"none\" stroke=\"" + hue +
                "\" stroke-width=\"" + num(0.4 * u) + "\"/>");
        }
        add(text(o.x + o.r + 0.8 * u, o.z - 0.8 * u, 4, " fill=\"#000080\"", idx) + "</g>\n");
    }
    add("</g>\n");

    // Coordinates along the top and left edges, the caption above them.
    const double step = label_step(box.x1 - box.x0);
    add("<g fill=\"#333333\">\n");
    for (double v = std::ceil(box.x0 / step) * step; v <= box.x1 + 1e-9; v += step)
        add(text(v, box.z0 - 2 * u, 4, " text-anchor=\"middle\"", whole(v)) + "\n");
    for (double v = std::ceil(box.z0 / step) * step; v <= box.z1 + 1e-9; v += step)
        add(text(box.x0 - 2 * u, v + 1.4 * u, 4, " text-anchor=\"end\"", whole(v)) + "\n");
    add(text(box.x1 + 6 * u, box.z0 - 2 * u, 4, "", "x"));
    add(text(box.x0 - 2 * u, box.z1 + 6 * u, 4, " text-anchor=\"end\"", "z") + "\n</g>\n");
    const std::string name = file.substr(file.find_last_of('/') + 1);
    char cap[200];
    std::snprintf(cap, sizeof cap, ", stage %ld: paths over %ld ticks (%ld.%ld s)", opt.stage,
                  opt.ticks, opt.ticks / 10, opt.ticks % 10);
    add(text(vx + 3 * u, vz + 7 * u, 5, "", caption_text(name) + cap) + "\n");
    add("</svg>\n");

    std::ofstream out(opt.out, std::ios::binary);
    out << svg;
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write the file\n", opt.out.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) return bad_usage();
    const std::string cmd = argv[1];
    const std::string file = argv[2];
    if (cmd == "check") {
        if (argc != 3) return bad_usage();
        return check(file);
    }
    if (cmd != "trace" && cmd != "plot") return bad_usage();
    const bool plotting = cmd == "plot";
    plot_options o;
    if (!plotting) o.ticks = 100;
    for (int i = 3; i < argc; i += 2) {
        const std::string opt = argv[i];
        if (i + 1 >= argc) return bad_usage();
        if (opt == "--stage") {
            if (!parse_count(argv[i + 1], o.stage) || o.stage < 1) return bad_usage();
        } else if (opt == "--ticks") {
            if (!parse_count(argv[i + 1], o.ticks)) return bad_usage();
        } else if (opt == "-o" && plotting) {
            o.out = argv[i + 1];
        } else if (opt == "--zoom" && plotting) {
            if (!parse_zoom(argv[i + 1], o)) return bad_usage();
        } else {
            return bad_usage();
        }
    }
    if (!plotting) return trace(file, o.stage, o.ticks);
    if (o.out.empty() || o.ticks > plot_tick_limit) return bad_usage();
    return plot(file, o);
}
