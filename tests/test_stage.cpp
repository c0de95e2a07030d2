// Stage file: the loader, the game's wrapper around it, the authors' tool and the shipped stages.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

#include "flow/stage.h"
#include "testutil.h"
#include "world/buttai.h"
#include "world/random.h"

namespace {

const std::string tool = std::string(TARMIK_BUILD_DIR) + "/tools/tarmik-stage";

std::string rec(const std::string &type, double x, double z, int pattern = 0, double vx = 0,
                double vz = 0) {
    std::ostringstream s;
    s << type << " 1  " << x << " 0 " << z << "  1 1 1  " << vx << " 0 " << vz << "  0 0 0  10 0 "
      << pattern;
    return s.str();
}

// Points fin at a scratch file holding text, as the restart sequence would reopen it.
std::string use_file(const std::string &name, const std::string &text) {
    const std::string path = scratch_dir(name) + "/stagefile.txt";
    write_file(path, text);
    fin.close();
    fin.clear();
    fin.open(path);
    buttai_del();
    return path;
}

struct outcome {
    int status;
    std::string out;
};

// Runs fn in a child process with its standard output captured.
outcome in_child(void (*fn)()) {
    std::fflush(stdout);
    int p[2];
    if (pipe(p) != 0) return {-1, ""};
    const pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        dup2(p[1], 1);
        close(p[1]);
        fn();
        std::fflush(stdout);
        _exit(99);
    }
    close(p[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(p[0], buf, sizeof buf)) > 0)
        out.append(buf, n);
    close(p[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

// A load that must end the program; the lists are reported at exit, so a broken block that
// left objects behind shows up.
void load_and_report() {
    std::atexit([] { std::printf("lists %zu %zu\n", buttai_set.size(), building_set.size()); });
    buttaiinit();
}

} // namespace

TEST(StageRead, SkipsCommentsBlanksAndCarriageReturnsAndKeepsFileOrder) {
    const std::string long_comment = "#" + std::string(500, 'x');
    std::istringstream in("# head\r\n\r\n" + long_comment + "\n   \t\n2\r\n" +
                          rec("hito", 1, 2, 3) + "\r\n" +
                          "building 1 +1.5e1 0 -2E-1  2 2 2  0 0 0  0 0 0  2.9 -7 12  \n" +
                          "   \n# between\n\n1\n" + rec("mato", 5, 6) + "\n");
    int line = 1;
    stage_block b;
    stage_fault f;
    ASSERT_EQ(read_stage(in, line, b, f), stage_read::loaded);
    EXPECT_EQ(b.count_line, 5);
    ASSERT_EQ(b.records.size(), 2u);
    EXPECT_EQ(b.records[0].type, "hito");
    EXPECT_EQ(b.records[0].pattern, 3);
    EXPECT_EQ(b.records[1].type, "building");
    EXPECT_EQ(b.records[1].line, 7);
    EXPECT_EQ(b.records[1].pos.x, 15.0);
    EXPECT_EQ(b.records[1].pos.z, -0.2);
    EXPECT_EQ(b.records[1].detail, 2.9);
    EXPECT_EQ(b.records[1].spare, -7);
    EXPECT_EQ(b.records[1].pattern, 12);
    ASSERT_EQ(read_stage(in, line, b, f), stage_read::loaded);
    EXPECT_EQ(b.count_line, 11);
    EXPECT_EQ(b.records.at(0).type, "mato");
    EXPECT_EQ(read_stage(in, line, b, f), stage_read::ended);
    EXPECT_EQ(read_stage(in, line, b, f), stage_read::ended);
}

TEST(StageRead, ReportsTheFirstFaultWithLineTokenAndExpectation) {
    struct fault_case {
        std::string text;
        int line;
        std::string found, expected_part;
    };
    const std::vector<fault_case> cases = {
        {"1\nMato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n", 2, "\"Mato\"", "type word"},
        {"\n\n2\n" + rec("mato", 0, 0) + "\ntree 1\n", 5, "\"tree\"", "record 2 of 2"},
        {"1\nmato 1 0 0\n", 2, "end of file", "pos z"},
        {"1\nmato 1 0 0 x 1 1 1 0 0 0 0 0 0 10 0 0\n", 2, "\"x\"", "pos z"},
        {"1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0\n+\n", 3, "\"+\"", "pattern"},
        {"1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 2147483648\n", 2, "\"2147483648\"", "pattern"},
        {"2000000000\n" + rec("mato", 0, 0) + "\n\n", 2, "end of file", "record 2 of 2000000000"},
        {"# c\nthree\n", 2, "\"three\"", "record count"},
        {"2\n" + rec("hito", 0, 0) + "\n# a comment inside a block\n", 3, "\"#\"", "record 2 of 2"},
    };
    for (const fault_case &c : cases) {
        std::istringstream in(c.text);
        int line = 1;
        stage_block b;
        stage_fault f;
        ASSERT_EQ(read_stage(in, line, b, f), stage_read::malformed) << c.text;
        EXPECT_EQ(f.line, c.line) << c.text;
        EXPECT_EQ(f.found, c.found) << c.text;
        EXPECT_NE(f.expected.find(c.expected_part), std::string::npos) << f.expected;
    }
}

TEST(StageLoad, PopulatesTheListsInFileOrderWithEveryFieldSet) {
    use_file("stage_order", "# first\n3\nmato 1 1 2 3  3 4 0  9 9 9  1 1 1  8 5 7\n" +
                                rec("building", 4, 4) + "\n" + rec("hito", -1, -2, 3, 1, 0) + "\n");
    buttaiinit();
    ASSERT_EQ(buttai_set.size(), 2u);
    ASSERT_EQ(building_set.size(), 1u);
    const buttai *m = buttai_set.front();
    EXPECT_NE(dynamic_cast<const mato *>(m), nullptr);
    EXPECT_NE(dynamic_cast<const hito *>(buttai_set.back()), nullptr);
    EXPECT_NE(dynamic_cast<const building *>(building_set.front()), nullptr);
    EXPECT_EQ(m->life, 1.0);
    EXPECT_EQ(m->pos.z, 3.0);
    EXPECT_EQ(m->radius, 5.0); // syoki ran: length of (3, 4, 0)
    EXPECT_EQ(m->acc.x, 1.0);
    EXPECT_EQ(m->spare, 5);
    EXPECT_EQ(m->pattern, 7);
    EXPECT_EQ(buttai_set.back()->pos.x, -1.0);
    EXPECT_FALSE(stageend());
    EXPECT_FALSE(stage_file_ended);
    EXPECT_EQ(stages_loaded(), 1);
}

TEST(StageLoad, EmptyAndBuildingOnlyStagesAreClearedAtOnce) {
    use_file("stage_empty", "0\n# only blocks\n2\n" + rec("building", 1, 1) + "\n" +
                                rec("building", 2, 2) + "\n-3\n");
    buttaiinit();
    EXPECT_TRUE(stageend());
    EXPECT_TRUE(building_set.empty());
    buttaiinit();
    EXPECT_TRUE(stageend());
    EXPECT_EQ(building_set.size(), 2u);
    buttai_del();
    buttaiinit(); // a negative count has always meant an empty stage
    EXPECT_TRUE(stageend());
    EXPECT_FALSE(stage_file_ended);
    EXPECT_EQ(stages_loaded(), 3);
}

TEST(StageLoad, EndOfFileEndsTheGameAndAReopenStartsOver) {
    // The last record runs into the end of the file without a line feed.
    const std::string path =
        use_file("stage_end", "1\n" + rec("mato", 1, 1) + "\n1\n" + rec("hito", 2, 2));
    buttaiinit();
    buttai_del();
    buttaiinit();
    EXPECT_EQ(buttai_set.size(), 1u);
    EXPECT_FALSE(stage_file_ended);
    buttai_del();
    for (int i = 0; i < 3; ++i) {
        buttaiinit();
        EXPECT_TRUE(stage_file_ended);
        EXPECT_TRUE(buttai_set.empty());
        EXPECT_FALSE(fin.fail());
    }
    fin.close();
    fin.open(path);
    buttaiinit();
    EXPECT_FALSE(stage_file_ended);
    EXPECT_EQ(stages_loaded(), 1);
    ASSERT_EQ(buttai_set.size(), 1u);
    EXPECT_EQ(buttai_set.front()->pos.x, 1.0);
}

TEST(StageLoad, BadFilesEndTheProgramWithTheirMessage) {
    // Type words in capitals or unknown, a record cut short, a count beyond the records, an
    // integer out of range, no stage at all: none leaves an object behind.
    const std::string lists = "lists 0 0\n";
    for (const std::string &text :
         {std::string("1\nMATO 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n"),
          std::string("1\nbaum 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 0\n"),
          "2\n" + rec("mato", 0, 0) + "\nhito 1 0 0 0 1 1\n",
          "999999999\n" + rec("mato", 0, 0) + "\n" + rec("building", 0, 0) + "\n",
          std::string("1\nmato 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 99999999999\n"),
          std::string("# no stage here\n\n   \n"), std::string()}) {
        use_file("stage_bad", text);
        const outcome o = in_child(load_and_report);
        EXPECT_EQ(o.status, 1) << text;
        EXPECT_EQ(o.out, iconv_sjis(u8"ステージファイルが不正です") + "\n" + lists) << text;
    }

    // A missing file: the stream failed when it was opened.
    buttai_del();
    fin.close();
    fin.clear();
    fin.open(scratch_dir("stage_missing") + "/stagefile.txt");
    const outcome o = in_child(load_and_report);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "Error: cannot open file( stagefile.txt )\n" + lists);
}

TEST(StageLoad, DeleteEmptiesAllThreeListsAndOnlyFiguresAndTargetsCount) {
    EXPECT_EQ(buttai_del(), 0);
    use_file("stage_del", "2\n" + rec("building", 0, 0) + "\n" + rec("mato", 1, 1) + "\n");
    buttaiinit();
    tama_set.push_front(new tama());
    EXPECT_FALSE(stageend());
    delete buttai_set.front();
    buttai_set.clear();
    EXPECT_TRUE(stageend()); // a block and a bullet remain
    EXPECT_EQ(buttai_del(), 0);
    EXPECT_TRUE(buttai_set.empty() && tama_set.empty() && building_set.empty());
}

TEST(StageTool, CheckListsStagesOrReportsTheFirstFault) {
    const std::string dir = scratch_dir("stage_tool_check");
    write_file(dir + "/good.txt", "# one\n2\n" + rec("hito", 0, 0, 1) + "\n" +
                                      rec("building", 0, 0) + "\n\n# two\n3\n" + rec("mato", 0, 0) +
                                      "\n" + rec("mato", 1, 1) + "\n" + rec("hito", 1, 1) + "\n");
    std::string out;
    EXPECT_EQ(run_command(tool + " check " + dir + "/good.txt", "", &out), 0);
    EXPECT_EQ(out, "stage 1 line 2 hito 1 mato 0 building 1\n"
                   "stage 2 line 7 hito 1 mato 2 building 0\n");

    write_file(dir + "/bad.txt", "1\n" + rec("mato", 0, 0) + "\n1\nmato 1 0 0 0 1 1 1 0 zero\n");
    EXPECT_EQ(run_command(tool + " check " + dir + "/bad.txt 2>&1 >/dev/null", "", &out), 1);
    EXPECT_EQ(out, dir + "/bad.txt:4: found \"zero\", expected vel y (a real number) of record 1 "
                         "of 1\n");
    EXPECT_EQ(run_command(tool + " check " + dir + "/bad.txt 2>/dev/null", "", &out), 1);
    EXPECT_EQ(out, "stage 1 line 1 hito 0 mato 1 building 0\n");

    write_file(dir + "/none.txt", "# nothing\n");
    EXPECT_EQ(run_command(tool + " check " + dir + "/none.txt 2>/dev/null", "", &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(run_command(tool + " check " + dir + "/absent.txt 2>&1", "", &out), 1);
    EXPECT_NE(out.find("absent.txt"), std::string::npos);
    EXPECT_EQ(run_command(tool + " trace " + dir + "/good.txt --ticks 2>/dev/null", "", &out), 2);
}

TEST(StageTool, TraceFollowsThePatternsFromTheFirstRandomDraw) {
    const std::string dir = scratch_dir("stage_tool_trace");
    write_file(dir + "/s.txt", "1\n" + rec("hito", 0, 0, 1) + "\n# two\n4\n" +
                                   rec("building", 9, 9) + "\n" + rec("hito", 0, 0, 3, 1, 0) +
                                   "\nmato 0  7 0 7  1 1 1  0 0 0  0 0 0  10 0 0\n" +
                                   rec("hito", 0, 0, 4, 1, 1) + "\n");
    std::string out;
    ASSERT_EQ(run_command(tool + " trace " + dir + "/s.txt --stage 2 --ticks 101", "", &out), 0);
    std::istringstream lines(out);
    int tick, index, rows = 0, dead_rows = 0;
    std::string type;
    double x, y, z, last_x = 0;
    while (lines >> tick >> index >> type >> x >> y >> z) {
        ++rows;
        if (index == 3) {
            EXPECT_EQ(type, "mato");
            ++dead_rows;
        }
        if (index == 4 && tick == 1) {
            // First draws of the generator from its initial state: 41 and 18467.
            EXPECT_NEAR(x, (41 % 30 - 10) * 0.01, 1e-12);
            EXPECT_NEAR(z, (18467 % 30 - 10) * 0.01, 1e-12);
        }
        if (index != 2) continue;
        EXPECT_EQ(type, "hito");
        EXPECT_EQ(y, 0.0);
        EXPECT_EQ(z, 0.0);
        // Forward on ticks 1-50 and 101, back on 51-100.
        if (tick > 0) {
            const double want = (tick <= 50 || tick == 101) ? 0.1 : -0.1;
            EXPECT_NEAR(x - last_x, want, 1e-9) << tick;
        }
        if (tick == 100) {
            EXPECT_NEAR(x, 0.0, 1e-9);
        }
        last_x = x;
    }
    EXPECT_TRUE(lines.eof()) << "only trace lines on standard output";
    EXPECT_EQ(dead_rows, 1); // life 0: shown after loading, removed by the first pass
    EXPECT_EQ(rows, 3 + 2 * 101);
    EXPECT_EQ(out.substr(0, out.find('\n')), "0 2 hito 0 0 0");
    EXPECT_NE(out.find("\n101 2 hito 0.09999999"), std::string::npos);

    EXPECT_EQ(run_command(tool + " trace " + dir + "/s.txt --stage 3 2>/dev/null", "", &out), 1);
    EXPECT_EQ(out, "");
}

// The shipped stages: well formed, every kind of object, clearable and on the ground.
TEST(StageData, ShippedStagesAreCompleteClearableAndStayOnTheGround) {
    const std::string path = std::string(TARMIK_SOURCE_DIR) + "/data/stagefile.txt";
    std::string out;
    ASSERT_EQ(run_command(tool + " check " + path, "", &out), 0);
    int stage_lines = 0;
    for (size_t p = 0; (p = out.find("stage ", p)) != std::string::npos; ++p)
        ++stage_lines;
    EXPECT_GE(stage_lines, 12);
    EXPECT_EQ(read_file(std::string(TARMIK_GAME_DIR) + "/stagefile.txt"), read_file(path));

    std::vector<std::string> text_lines;
    std::istringstream all(read_file(path));
    for (std::string l; std::getline(all, l);)
        text_lines.push_back(l);

    std::ifstream in(path);
    int line = 1, shots = 10, stages = 0;
    std::set<int> patterns;
    std::set<std::string> types;
    stage_block b;
    stage_fault f;
    while (read_stage(in, line, b, f) == stage_read::loaded) {
        ++stages;
        ASSERT_GE(b.count_line, 2);
        EXPECT_EQ(text_lines[b.count_line - 2].substr(0, 1), "#")
            << "comment before stage " << stages;
        int targets = 0;
        for (const stage_record &r : b.records) {
            types.insert(r.type);
            if (r.type == "building") continue;
            ++targets;
            if (r.type == "hito") patterns.insert(r.pattern);
            EXPECT_GT(r.life, 0.0);
            EXPECT_EQ(r.pos.y, 0.0);
        }
        EXPECT_GT(targets, 0) << stages;
        EXPECT_LE(targets, shots) << "stage " << stages << " needs more shots than it gives";
        shots += 20 - targets;

        // Over the longest this stage can last in a game, its objects stay on the ground.
        buttai_del();
        populate_stage(b.records);
        game_rand_reset();
        const int ticks = 1200 + 200 * (stages - 1);
        double reach = 0;
        bool level = true;
        for (int t = 0; t < ticks; ++t)
            for (buttai *o : buttai_set) {
                o->move();
                reach = std::fmax(reach, std::fmax(std::fabs(o->pos.x), std::fabs(o->pos.z)));
                level = level && o->pos.y == 0.0;
            }
        EXPECT_LE(reach, 140.0) << "stage " << stages;
        EXPECT_TRUE(level) << "stage " << stages;
        buttai_del();
    }
    EXPECT_EQ(stages, stage_lines);
    EXPECT_EQ(patterns, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(types, (std::set<std::string>{"hito", "mato", "building"}));
}
