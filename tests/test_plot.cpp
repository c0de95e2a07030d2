// The stage authors' map: tarmik-stage plot, checked against the ground, the objects' sizes,
// the scope's window and the paths that trace reports for the same stage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "testutil.h"

namespace {

const std::string tool = std::string(TARMIK_BUILD_DIR) + "/tools/tarmik-stage";

// The value of attribute name in the first element that starts with head.
std::string attr(const std::string &svg, const std::string &head, const std::string &name) {
    const size_t at = svg.find(head);
    if (at == std::string::npos) return "(no " + head + ")";
    const size_t end = svg.find('>', at);
    const std::string el = svg.substr(at, end - at);
    const size_t a = el.find(" " + name + "=\"");
    if (a == std::string::npos) return "(no " + name + ")";
    const size_t v = a + name.size() + 3;
    return el.substr(v, el.find('"', v) - v);
}

std::string two(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.2f", v);
    return std::string(b) == "-0.00" ? "0.00" : b;
}

} // namespace

TEST(PlotTool, DrawsTheGroundBlocksTargetsAndTheStartingView) {
    const std::string dir = scratch_dir("plot_ground");
    write_file(dir + "/s.txt", "3\n"
                               "building 1  20 0 -10  3 4 0  0 0 0  0 0 0  10 0 0\n"
                               "mato 1  -7 0 12  1 2 2  0 0 0  0 0 0  10 0 0\n"
                               "mato 0  40 0 40  1 0 0  0 0 0  0 0 0  10 0 0\n");
    std::string out;
    ASSERT_EQ(run_command(tool + " plot " + dir + "/s.txt -o " + dir + "/s.svg", "", &out), 0);
    EXPECT_EQ(out, "");
    const std::string svg = read_file(dir + "/s.svg");
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");

    // Nothing beyond the ground: the ground and the margins, 600 pixels across the ground.
    EXPECT_EQ(attr(svg, "<svg", "viewBox"), "-166.00 -166.00 332.00 332.00");
    EXPECT_EQ(attr(svg, "<svg", "width"), "664.00");

    // Squares of 5 in the game's two colours: (0, 0) and (-150, -150) take the first,
    // their neighbours the second; 1800 squares of each.
    EXPECT_EQ(attr(svg, "<rect id=\"ground\"", "fill"), "#e6ff33");
    EXPECT_EQ(attr(svg, "<rect id=\"ground\"", "width"), "300");
    const std::string odd = attr(svg, "<path id=\"ground-odd\"", "d");
    EXPECT_EQ(attr(svg, "<path id=\"ground-odd\"", "fill"), "#cccc4d");
    EXPECT_EQ(odd.find("M0,0h"), std::string::npos);
    EXPECT_EQ(odd.find("M-150,-150h"), std::string::npos);
    EXPECT_NE(odd.find("M5,0h5v5h-5z"), std::string::npos);
    EXPECT_NE(odd.find("M0,-5h5v5h-5z"), std::string::npos);
    EXPECT_NE(odd.find("M-145,-150h5v5h-5z"), std::string::npos);
    EXPECT_NE(odd.find("M145,140h5v5h-5z"), std::string::npos);
    size_t squares = 0;
    for (size_t p = 0; (p = odd.find('M', p)) != std::string::npos; ++p)
        ++squares;
    EXPECT_EQ(squares, 1800u);

    // A block is a square of edge radius, a target a circle of that radius.
    const std::string block = "<rect class=\"building\"";
    EXPECT_EQ(attr(svg, block, "x"), "17.50");
    EXPECT_EQ(attr(svg, block, "y"), "-12.50");
    EXPECT_EQ(attr(svg, block, "width"), "5.00");
    EXPECT_EQ(attr(svg, block, "height"), "5.00");
    const std::string target = "<circle class=\"mato\" data-index=\"2\"";
    EXPECT_EQ(attr(svg, target, "cx"), "-7.00");
    EXPECT_EQ(attr(svg, target, "cy"), "12.00");
    EXPECT_EQ(attr(svg, target, "r"), "3.00");
    EXPECT_EQ(attr(svg, target, "opacity"), "(no opacity)");
    // A target with no life is gone after the first tick: drawn faded.
    EXPECT_EQ(attr(svg, "<circle class=\"mato\" data-index=\"3\"", "opacity"), "0.3");

    // The window of the scope on the ground 120.5 below the eye: the diamond |x| + |z| =
    // 0.275 * 120.5 cut by the square of half-width tan 15° * 120.5.
    const double half = std::tan(M_PI / 12) * 120.5, corner = 0.275 * 120.5 - half;
    const std::string outline = attr(svg, "<polygon", "points");
    EXPECT_EQ(outline.substr(0, outline.find(' ')), two(half) + "," + two(-corner));
    EXPECT_EQ(outline.substr(0, outline.find(' ')), "32.29,-0.85");
    EXPECT_NE(outline.find(two(-corner) + "," + two(half)), std::string::npos);
    EXPECT_EQ(std::count(outline.begin(), outline.end(), ','), 8);
    EXPECT_NE(svg.find("d=\"M-12.05,0H12.05M0,-12.05V12.05\""), std::string::npos);
}

TEST(PlotTool, PathsAreTheStepsThatTraceReports) {
    const std::string dir = scratch_dir("plot_paths");
    write_file(dir + "/s.txt", "1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n"
                               "# the stage drawn\n5\n"
                               "hito 1  -20 0 10  1 1 1  3 0 1  0 0 0  10 0 3\n"
                               "mato 1  5 0 5  1 1 1  0 0 0  0 0 0  10 0 0\n"
                               "hito 1  10 0 -10  1 1 1  2 0 2  0 0 0  10 0 9\n"
                               "hito 0  30 0 30  1 1 1  1 0 1  0 0 0  10 0 1\n"
                               "hito 1  150 0 0  1 1 1  400 0 0  0 0 0  10 0 5\n");
    const std::string args = dir + "/s.txt --stage 2 --ticks 120";
    std::string svg, traced;
    ASSERT_EQ(run_command(tool + " plot " + args + " -o " + dir + "/s.svg", "", &svg), 0);
    svg = read_file(dir + "/s.svg");
    ASSERT_EQ(run_command(tool + " trace " + args, "", &traced), 0);

    // trace's positions, to two places, with the ticks of standing still left out.
    std::map<int, std::vector<std::string>> want;
    std::istringstream lines(traced);
    long tick;
    int index;
    std::string type;
    double x, y, z;
    while (lines >> tick >> index >> type >> x >> y >> z) {
        if (type != "hito") continue;
        std::vector<std::string> &w = want[index];
        const std::string pt = two(x) + "," + two(z);
        if (w.empty() || w.back() != pt) w.push_back(pt);
    }
    ASSERT_EQ(want.size(), 4u);
    ASSERT_GT(want[3].size(), 10u); // the random walker has walked
    for (int i : {1, 3, 5}) {
        const std::string group = "<g class=\"hito\" data-index=\"" + std::to_string(i) + "\">";
        const size_t at = svg.find(group);
        ASSERT_NE(at, std::string::npos) << i;
        std::string pts = attr(svg.substr(at), "<polyline", "points"), joined;
        for (const std::string &p : want[i])
            joined += (joined.empty() ? "" : " ") + p;
        EXPECT_EQ(pts, joined) << i;
        const std::string &last = want[i].back();
        EXPECT_EQ(attr(svg.substr(svg.find("<circle", svg.find("<polyline", at))), "<circle", "cx"),
                  last.substr(0, last.find(','))) // the ring where the path ends
            << i;
    }
    // The dead figure stays where it was loaded, faded, with no path.
    const size_t dead = svg.find("<g class=\"hito\" data-index=\"4\" opacity=\"0.3\">");
    ASSERT_NE(dead, std::string::npos);
    EXPECT_EQ(svg.substr(dead, svg.find("</g>", dead) - dead).find("<polyline"), std::string::npos);
    // The drifter leaves the ground (4 units a tick for 120 ticks, to x = 630): the plot grows
    // to show it, the margins with it.
    double vx, vz, vw, vh;
    std::istringstream box(attr(svg, "<svg", "viewBox"));
    ASSERT_TRUE(box >> vx >> vz >> vw >> vh);
    EXPECT_LT(vx, -150);
    EXPECT_EQ(vz, vx);
    EXPECT_GT(vx + vw, 630 + std::sqrt(3.0));
    EXPECT_NEAR(vh - 300, (vw - 785) / 2 * 2, 0.02);
}

TEST(PlotTool, ZoomBadArgumentsAndMissingStages) {
    const std::string dir = scratch_dir("plot_args");
    write_file(dir + "/s.txt", "2\nhito 1 0 0 0 1 1 1 1 0 0 0 0 0 10 0 3\n"
                               "building 1 100 0 100 2 2 2 0 0 0 0 0 0 10 0 0\n");
    const std::string f = dir + "/s.txt";
    std::string out;
    ASSERT_EQ(run_command(tool + " plot " + f + " --zoom 10,-10,20 -o " + dir + "/z.svg", "", &out),
              0);
    const std::string svg = read_file(dir + "/z.svg");
    // 40 units across, margins scaled alike; squares from x -10 and z -30 on.
    EXPECT_EQ(attr(svg, "<svg", "viewBox"), "-12.13 -32.13 44.27 44.27");
    EXPECT_EQ(attr(svg, "<svg", "width"), "664.00");
    EXPECT_EQ(attr(svg, "<rect id=\"ground\"", "x"), "-10");
    EXPECT_EQ(attr(svg, "<rect id=\"ground\"", "y"), "-30");
    EXPECT_EQ(attr(svg, "<path id=\"ground-odd\"", "d").rfind("M-5,-30h5v5h-5z", 0), 0u);

    for (const std::string &bad :
         {" plot " + f, " plot " + f + " -o", " plot " + f + " --ticks 100001 -o x.svg",
          " plot " + f + " --zoom 1,2 -o x.svg", " plot " + f + " --zoom 1,2,0 -o x.svg",
          " plot " + f + " --zoom 1,2,3x -o x.svg", " trace " + f + " --zoom 1,2,3",
          " trace " + f + " -o x.svg", " plot " + f + " --stage 0 -o x.svg"})
        EXPECT_EQ(run_command(tool + bad + " 2>/dev/null", "", &out), 2) << bad;

    EXPECT_EQ(run_command(tool + " plot " + f + " --stage 2 -o " + dir + "/two.svg 2>&1", "", &out),
              1);
    EXPECT_NE(out.find("no stage 2"), std::string::npos) << out;
    EXPECT_EQ(read_file(dir + "/two.svg"), "");
    EXPECT_EQ(run_command(tool + " plot " + f + " -o " + dir + "/none/x.svg 2>/dev/null", "", &out),
              1);
}

// Objects far off the ground, or running off to infinity, are named and left off the map,
// which stays the ground's size; they used to make the map (and the time to draw it) endless.
TEST(PlotTool, FarObjectsAreNamedAndLeftOffTheMap) {
    const std::string dir = scratch_dir("plot_far");
    write_file(dir + "/s.txt", "3\n"
                               "mato 1  1e12 0 5  1 1 1  0 0 0  0 0 0  10 0 0\n"
                               "hito 1  0 0 0  1 1 1  1e306 0 1e306  1e306 0 0  10 0 5\n"
                               "hito 1  10 0 10  1 1 1  1 0 1  0 0 0  10 0 3\n");
    const std::string f = dir + "/s.txt";
    std::string out;
    ASSERT_EQ(
        run_command("timeout 20 " + tool + " plot " + f + " -o " + dir + "/s.svg 2>&1", "", &out),
        0);
    EXPECT_NE(out.find(f + ":2: mato (record 1) stands beyond 1000000 units"), std::string::npos)
        << out;
    EXPECT_NE(out.find(f + ":3: hito (record 2) walks beyond 1000000 units"), std::string::npos)
        << out;
    const std::string svg = read_file(dir + "/s.svg");
    EXPECT_EQ(attr(svg, "<svg", "viewBox"), "-166.00 -166.00 332.00 332.00");
    EXPECT_EQ(svg.find("class=\"mato\""), std::string::npos);
    EXPECT_NE(svg.find("<g class=\"hito\" data-index=\"3\">"), std::string::npos);
    EXPECT_EQ(run_command("timeout 20 " + tool + " plot " + f + " --zoom 1e300,0,5 -o " + dir +
                              "/z.svg 2>/dev/null",
                          "", &out),
              2);
}
