#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

#include "ranking/score.h"
#include "testutil.h"

namespace {

// One line of the ranking file as the game writes it.
std::string line(int score, int stage, int hitrate, const std::string &title) {
    return std::to_string(score) + "\t\t" + std::to_string(stage) + "\t" + std::to_string(hitrate) +
           "\t" + title + "\n";
}

clData rec(int32_t score, int32_t stage, int32_t hitrate, const std::string &title) {
    clData r;
    r.score = score;
    r.stage = stage;
    r.hitrate = hitrate;
    r.title = title;
    return r;
}

// Scores 200, 190, ... 10 with titles R1..R20.
std::string full_table_file() {
    std::string s;
    for (int i = 1; i <= 20; ++i)
        s += line(210 - 10 * i, i, i, "R" + std::to_string(i));
    return s;
}

std::vector<std::string> titles(const Score &s) {
    std::vector<std::string> t;
    for (const clData &r : s.ranklist)
        t.push_back(r.title);
    return t;
}

std::vector<std::string> folder_entries(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = d ? readdir(d) : nullptr) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    if (d) closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

const uid_t nobody = 65534;
const gid_t nogroup = 65534;

// Runs body in a child process (as nobody when asked) with its standard output on a pipe;
// gives the child's exit status and what it printed.
int in_child(bool as_nobody, const std::function<int()> &body, std::string *printed) {
    int out[2];
    if (pipe(out) != 0) return -1;
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        dup2(out[1], STDOUT_FILENO);
        if (as_nobody && (setgroups(0, nullptr) != 0 || setresgid(nogroup, nogroup, nogroup) != 0 ||
                          setresuid(nobody, nobody, nobody) != 0))
            _exit(99);
        int status = body();
        std::fflush(stdout);
        _exit(status);
    }
    close(out[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    if (printed) *printed = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// A scratch folder every user can reach: the build folder may lie under one that others cannot
// enter (a clone in /root or in a private temporary folder). Removed when it goes out of scope.
struct open_scratch {
    std::string path;
    explicit open_scratch(const std::string &name) {
        std::string templ = "/tmp/tarmik-" + name + ".XXXXXX";
        if (!mkdtemp(&templ[0]) || chmod(templ.c_str(), 0755) != 0) std::abort();
        path = templ;
    }
    ~open_scratch() { std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string listing(Score &s) {
    testing::internal::CaptureStdout();
    s.outputdata();
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(Ranking, EqualScoresStayAheadOfANewResult) {
    std::string f = scratch_dir("rank_equal") + "/ranking.dat";
    write_file(f, line(100, 3, 50, "A") + line(80, 2, 40, "B") + line(80, 2, 41, "C") +
                      line(50, 1, 30, "D"));
    Console_Score s(f);
    EXPECT_EQ(s.inputdata(rec(80, 2, 42, "NEW")), 4);
    EXPECT_EQ(titles(s), (std::vector<std::string>{"A", "B", "C", "NEW", "D"}));
    EXPECT_EQ(read_file(f), line(100, 3, 50, "A") + line(80, 2, 40, "B") + line(80, 2, 41, "C") +
                                line(80, 2, 42, "NEW") + line(50, 1, 30, "D"));
}

TEST(Ranking, FullTableKeepsTwentyRecords) {
    std::string dir = scratch_dir("rank_full");
    std::string f = dir + "/ranking.dat";
    // Hand-made layout (single blanks, CR LF) so the rewrite is visible.
    std::string loose;
    for (int i = 1; i <= 20; ++i)
        loose += std::to_string(210 - 10 * i) + " " + std::to_string(i) + " " + std::to_string(i) +
                 " R" + std::to_string(i) + "\r\n";
    write_file(f, loose);

    {
        Console_Score s(f);
        ASSERT_EQ(s.ranklist.size(), 20u);
        // Equal to the last one: still behind it, so not kept.
        EXPECT_EQ(s.inputdata(rec(10, 0, 0, "LOW")), 21);
        EXPECT_EQ(s.ranklist.size(), 20u);
        EXPECT_EQ(s.ranklist.back().title, "R20");
        EXPECT_EQ(read_file(f), full_table_file());
    }
    {
        Console_Score s(f);
        EXPECT_EQ(s.inputdata(rec(999, 9, 90, "TOP")), 1);
        ASSERT_EQ(s.ranklist.size(), 20u);
        EXPECT_EQ(s.ranklist.front().title, "TOP");
        EXPECT_EQ(s.ranklist.back().title, "R19");
        std::string expect = line(999, 9, 90, "TOP");
        for (int i = 1; i <= 19; ++i)
            expect += line(210 - 10 * i, i, i, "R" + std::to_string(i));
        EXPECT_EQ(read_file(f), expect);
    }
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"ranking.dat"});
}

TEST(Ranking, FirstResultCreatesOrFillsTheFile) {
    std::string dir = scratch_dir("rank_first");
    std::string title = iconv_sjis(u8"ノーコン");
    for (bool exists : {false, true}) {
        std::string f = dir + (exists ? "/empty.dat" : "/missing.dat");
        if (exists) write_file(f, "");
        Console_Score s(f);
        EXPECT_TRUE(s.ranklist.empty());
        EXPECT_EQ(s.inputdata(rec(0, 0, 0, title)), 1);
        EXPECT_EQ(read_file(f), "0\t\t0\t0\t" + title + "\n");
    }
}

TEST(Ranking, ListingShowsTheBestTenInShiftJis) {
    std::string dir = scratch_dir("rank_list");
    std::string v2 = iconv_sjis(u8"Ｖ２");

    write_file(dir + "/three.dat",
               line(150, 1, 5, v2) + line(-20, 0, 0, "X") + line(7, 12, 100, "Y"));
    Console_Score three(dir + "/three.dat");
    EXPECT_EQ(listing(three), iconv_sjis(u8"1位　150点　ステージ1クリア　命中率5％　称号Ｖ２\n"
                                         u8"2位　-20点　ステージ0クリア　命中率0％　称号X\n"
                                         u8"3位　7点　ステージ12クリア　命中率100％　称号Y\n"));

    write_file(dir + "/full.dat", full_table_file());
    Console_Score full(dir + "/full.dat");
    std::string expect;
    for (int i = 1; i <= 10; ++i) {
        std::string n = std::to_string(i);
        expect += n + u8"位　" + std::to_string(210 - 10 * i) + u8"点　ステージ" + n +
                  u8"クリア　命中率" + n + u8"％　称号R" + n + "\n";
    }
    EXPECT_EQ(listing(full), iconv_sjis(expect));

    // The plain table lists nothing, nor does an empty one.
    Score plain(dir + "/full.dat");
    EXPECT_EQ(listing(plain), "");
    Console_Score none(dir + "/none.dat");
    EXPECT_EQ(listing(none), "");
}

TEST(Ranking, WrittenFileReadsBackTheSameTable) {
    std::string f = scratch_dir("rank_roundtrip") + "/ranking.dat";
    write_file(f, "");
    chmod(f.c_str(), 0640);
    std::vector<clData> in = {rec(INT32_MAX, 3, 77, iconv_sjis(u8"名人")),
                              rec(0, -1, 0, iconv_sjis(u8"ソ表")), // 0x5C trail bytes
                              rec(INT32_MIN, 0, -5, "x")};
    Console_Score s(f);
    for (const clData &r : in)
        s.inputdata(r);

    Console_Score back(f);
    ASSERT_EQ(back.ranklist.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(back.ranklist[i].score, in[i].score);
        EXPECT_EQ(back.ranklist[i].stage, in[i].stage);
        EXPECT_EQ(back.ranklist[i].hitrate, in[i].hitrate);
        EXPECT_EQ(back.ranklist[i].title, in[i].title);
    }
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(Ranking, HandMadeLongTableIsKeptAtItsLength) {
    std::string f = scratch_dir("rank_long") + "/ranking.dat";
    std::string text;
    for (int i = 0; i < 25; ++i)
        text += line(500 - i, 1, 1, "L" + std::to_string(i));
    write_file(f, text);
    Console_Score s(f);
    ASSERT_EQ(s.ranklist.size(), 25u);
    EXPECT_EQ(s.inputdata(rec(1000, 1, 1, "A")), 1);
    EXPECT_EQ(s.inputdata(rec(490, 1, 1, "B")), 13);
    EXPECT_EQ(s.ranklist.size(), 25u);
    EXPECT_EQ(s.ranklist.back().title, "L22");
    EXPECT_EQ(Console_Score(f).ranklist.size(), 25u);
}

TEST(Ranking, SeparatorsAndLineEndsDoNotMatter) {
    std::string dir = scratch_dir("rank_sep");
    std::string t = iconv_sjis(u8"Ｖ２");
    write_file(dir + "/lf.dat", "150\t\t1\t5\t" + t + "\n30\t\t0\t2\tB\n");
    write_file(dir + "/crlf.dat", "150\t\t1\t5\t" + t + "\r\n30\t\t0\t2\tB\r\n");
    write_file(dir + "/odd.dat", "  150 1\n\n5 \v" + t + "\f30\r0\t\t\t+2 B");
    for (const char *name : {"lf.dat", "crlf.dat", "odd.dat"}) {
        SCOPED_TRACE(name);
        Console_Score s(dir + "/" + name);
        ASSERT_EQ(s.ranklist.size(), 2u);
        EXPECT_EQ(s.ranklist[0].score, 150);
        EXPECT_EQ(s.ranklist[0].stage, 1);
        EXPECT_EQ(s.ranklist[0].hitrate, 5);
        EXPECT_EQ(s.ranklist[0].title, t);
        EXPECT_EQ(s.ranklist[1].score, 30);
        EXPECT_EQ(s.ranklist[1].hitrate, 2);
        EXPECT_EQ(s.ranklist[1].title, "B");
    }
}

TEST(Ranking, LoadingStopsAtTheFirstBadRecord) {
    std::string dir = scratch_dir("rank_bad");
    std::string good = line(300, 2, 10, "A") + line(200, 1, 9, "B");
    // The table is not sorted on loading: a lower score first stays first.
    std::vector<std::string> tails = {"",
                                      "abc\t\t1\t1\tC\n",
                                      "100\t\tx\t1\tC\n",
                                      "100\t\t1\t1.5\tC\n",
                                      "2147483648\t\t1\t1\tC\n",
                                      "100\t\t1\t-2147483649\tC\n",
                                      "100\t\t1\t1\n"};
    for (const std::string &tail : tails) {
        SCOPED_TRACE(tail);
        write_file(dir + "/ranking.dat", line(50, 0, 1, "Z") + good + tail + line(90, 0, 0, "D"));
        Console_Score s(dir + "/ranking.dat");
        if (tail.empty()) {
            EXPECT_EQ(titles(s), (std::vector<std::string>{"Z", "A", "B", "D"}));
        } else if (tail == "100\t\t1\t1\n") {
            // A missing title shifts the fields: the next line's score becomes the title.
            EXPECT_EQ(titles(s), (std::vector<std::string>{"Z", "A", "B", "90"}));
        } else {
            EXPECT_EQ(titles(s), (std::vector<std::string>{"Z", "A", "B"}));
        }
    }
    // An incomplete last record is dropped too.
    write_file(dir + "/ranking.dat", good + "100\t\t1");
    EXPECT_EQ(titles(Console_Score(dir + "/ranking.dat")), (std::vector<std::string>{"A", "B"}));
}

TEST(Ranking, FailedWriteKeepsTheOldFile) {
    std::string dir = scratch_dir("rank_fail");
    std::string f = dir + "/ranking.dat";
    std::string old = full_table_file();
    write_file(f, old);
    Console_Score s(f);

    // A file size limit makes the write itself fail, even for root.
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    auto prev = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    testing::internal::CaptureStdout();
    int32_t place = s.inputdata(rec(155, 4, 50, "MID"));
    const std::string said = testing::internal::GetCapturedStdout();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, prev);
    EXPECT_EQ(said, iconv_sjis(u8"ランキングを保存できませんでした\n"));

    EXPECT_EQ(place, 6);
    EXPECT_EQ(s.ranklist.size(), 20u);
    EXPECT_EQ(s.ranklist[5].title, "MID");
    EXPECT_EQ(read_file(f), old);
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"ranking.dat"});

    // The next registration that succeeds carries the record that could not be saved.
    EXPECT_EQ(s.inputdata(rec(1, 0, 0, "LAST")), 21);
    EXPECT_EQ(Console_Score(f).ranklist[5].title, "MID");

    // The final rename fails: a folder stands where the file should be.
    std::string blocked = scratch_dir("rank_blocked");
    ASSERT_EQ(mkdir((blocked + "/ranking.dat").c_str(), 0755), 0);
    Console_Score d(blocked + "/ranking.dat");
    EXPECT_EQ(d.inputdata(rec(5, 0, 0, "A")), 1);
    EXPECT_EQ(d.ranklist.size(), 1u);
    EXPECT_EQ(folder_entries(blocked), std::vector<std::string>{"ranking.dat"});
    EXPECT_EQ(folder_entries(blocked + "/ranking.dat"), std::vector<std::string>{});

    // No folder to write in at all.
    Console_Score nowhere(dir + "/no-such-folder/ranking.dat");
    EXPECT_EQ(nowhere.inputdata(rec(5, 0, 0, "A")), 1);
    EXPECT_EQ(nowhere.inputdata(rec(6, 0, 0, "B")), 1);
    EXPECT_EQ(titles(nowhere), (std::vector<std::string>{"B", "A"}));
}

// As a player without privileges: a file the player may not write stays as it is and the
// console says the result was not saved; a read-only folder still takes the record.
TEST(RankingFile, FilesThePlayerMayNotWriteAsAnUnprivilegedUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become nobody";
    const open_scratch scratch("rank_perm");
    const std::string &dir = scratch.path;
    const std::string old = full_table_file();
    const std::string notice = iconv_sjis(u8"ランキングを保存できませんでした\n");
    struct setup {
        const char *name;
        mode_t file_mode;
        uid_t owner;
        mode_t folder_mode;
        bool saved;
    };
    for (const setup &c : {setup{"unreadable", 0000, nobody, 0777, false},
                           setup{"read-only", 0444, nobody, 0777, false},
                           setup{"another user's", 0644, 0, 0777, false},
                           setup{"read-only folder", 0666, nobody, 0555, true}}) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir + "/" + std::to_string(c.file_mode) + c.name[0];
        const std::string f = folder + "/ranking.dat";
        ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
        write_file(f, old);
        ASSERT_EQ(chown(f.c_str(), c.owner, c.owner ? nogroup : 0), 0);
        ASSERT_EQ(chmod(f.c_str(), c.file_mode), 0);
        ASSERT_EQ(chmod(folder.c_str(), c.folder_mode), 0);
        std::string printed;
        int place = in_child(
            true, [&] { return Console_Score(f).inputdata(rec(999, 9, 90, "TOP")); }, &printed);
        EXPECT_EQ(place, 1);
        struct stat st;
        ASSERT_EQ(stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.file_mode);
        EXPECT_EQ(st.st_uid, c.owner);
        if (c.saved) {
            EXPECT_EQ(printed, "");
            EXPECT_EQ(read_file(f).rfind(line(999, 9, 90, "TOP"), 0), 0u);
            EXPECT_EQ(Console_Score(f).ranklist.size(), 20u);
        } else {
            EXPECT_EQ(printed, notice);
            EXPECT_EQ(read_file(f), old);
        }
        EXPECT_EQ(folder_entries(folder), std::vector<std::string>{"ranking.dat"});
    }
}

// Links stay links: the file a symbolic link names is the one rewritten, and a file with
// other names keeps them. Only regular files are read: a device or a pipe is an empty table.
TEST(RankingFile, LinksAreKeptAndOnlyRegularFilesAreRead) {
    const std::string dir = scratch_dir("rank_links");
    ASSERT_EQ(mkdir((dir + "/keep").c_str(), 0755), 0);
    write_file(dir + "/keep/real.dat", line(50, 1, 1, "OLD"));
    ASSERT_EQ(symlink("keep/real.dat", (dir + "/ranking.dat").c_str()), 0);
    EXPECT_EQ(Console_Score(dir + "/ranking.dat").inputdata(rec(60, 1, 1, "NEW")), 1);
    struct stat st;
    ASSERT_EQ(lstat((dir + "/ranking.dat").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(dir + "/keep/real.dat"), line(60, 1, 1, "NEW") + line(50, 1, 1, "OLD"));
    EXPECT_EQ(folder_entries(dir + "/keep"), std::vector<std::string>{"real.dat"});

    write_file(dir + "/hard.dat", line(50, 1, 1, "OLD"));
    ASSERT_EQ(link((dir + "/hard.dat").c_str(), (dir + "/backup.dat").c_str()), 0);
    EXPECT_EQ(Console_Score(dir + "/hard.dat").inputdata(rec(40, 1, 1, "NEW")), 2);
    ASSERT_EQ(stat((dir + "/backup.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_EQ(read_file(dir + "/backup.dat"), line(50, 1, 1, "OLD") + line(40, 1, 1, "NEW"));

    // Neither fills memory nor waits for a writer.
    ASSERT_EQ(symlink("/dev/zero", (dir + "/zero.dat").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo.dat").c_str(), 0644), 0);
    for (const char *name : {"/zero.dat", "/fifo.dat"}) {
        testing::internal::CaptureStdout();
        Console_Score s(dir + name);
        EXPECT_TRUE(s.ranklist.empty()) << name;
        EXPECT_EQ(s.inputdata(rec(1, 0, 0, "A")), 1) << name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  iconv_sjis(u8"ランキングを保存できませんでした\n"));
    }
}

// Games that end at the same time, each having read the file when it started, all keep
// their records: each writes in turn what the file holds by then plus its own.
TEST(RankingFile, GamesEndingTogetherKeepEveryRecord) {
    const std::string dir = scratch_dir("rank_together");
    const std::string f = dir + "/ranking.dat";
    const int games = 6;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        write_file(f, line(1000, 9, 9, "FIRST"));
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        std::vector<pid_t> kids;
        for (int g = 0; g < games; ++g) {
            pid_t pid = fork();
            if (pid == 0) {
                close(go[1]);
                freopen("/dev/null", "w", stdout);
                Console_Score s(f);
                char c;
                if (read(go[0], &c, 1) != 0) _exit(98); // all start when the pipe closes
                _exit(s.inputdata(rec(100 + g, 1, g, "G" + std::to_string(g))));
            }
            kids.push_back(pid);
        }
        close(go[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        close(go[1]);
        std::vector<int> places;
        for (pid_t pid : kids) {
            int st = 0;
            waitpid(pid, &st, 0);
            places.push_back(WIFEXITED(st) ? WEXITSTATUS(st) : -1);
        }
        std::vector<std::string> want = {"FIRST"};
        for (int g = games - 1; g >= 0; --g)
            want.push_back("G" + std::to_string(g));
        EXPECT_EQ(titles(Console_Score(f)), want);
        // Each game's place is its place among the results written before it.
        std::sort(places.begin(), places.end());
        for (int p : places)
            EXPECT_TRUE(p >= 2 && p <= games + 1) << p;
    }
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"ranking.dat"});
}

// A write killed at any moment leaves the ranking whole and at most one temporary file,
// which the next write replaces.
TEST(RankingFile, KilledWritesLeaveOneTemporaryFileAtMost) {
    const std::string dir = scratch_dir("rank_killed");
    const std::string f = dir + "/ranking.dat";
    write_file(f, full_table_file());
    for (int i = 0; i < 40; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            freopen("/dev/null", "w", stdout);
            Console_Score s(f);
            for (int32_t k = 0;; ++k)
                s.inputdata(rec(100 + k % 50, 1, 1, "K"));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + 997 * (i % 13)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::vector<std::string> left = folder_entries(dir);
    EXPECT_TRUE(left == std::vector<std::string>{"ranking.dat"} ||
                left == (std::vector<std::string>{"ranking.dat", "ranking.dat.tmp"}))
        << left.size() << " files";
    EXPECT_EQ(Console_Score(f).ranklist.size(), 20u);
    Console_Score(f).inputdata(rec(1, 0, 0, "LAST"));
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"ranking.dat"});
}

// A crafted title holds terminal escapes: on a terminal they show as ^X, pipes and files
// still get the exact bytes.
TEST(RankingFile, ControlCharactersInTitlesDoNotReachATerminal) {
    const std::string f = scratch_dir("rank_escape") + "/ranking.dat";
    const std::string title = "A\x1b]0;owned\x07\x1b[2J\x7f" + iconv_sjis(u8"Ｖ２");
    write_file(f, line(150, 1, 5, title));
    const std::string head = iconv_sjis(u8"1位　150点　ステージ1クリア　命中率5％　称号");
    Console_Score s(f);
    EXPECT_EQ(listing(s), head + title + "\n");

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(terminal.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) _exit(97);
        dup2(fd, STDOUT_FILENO);
        s.outputdata();
        _exit(0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    fcntl(master, F_SETFL, O_NONBLOCK);
    std::string got;
    char buf[512];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0)
        got.append(buf, static_cast<size_t>(n));
    close(master);
    EXPECT_EQ(std::count_if(got.begin(), got.end(),
                            [](char c) {
                                return (c >= 0 && c < 0x20 && c != '\r' && c != '\n') || c == 0x7F;
                            }),
              0);
    EXPECT_NE(got.find("A^[]0;owned^G^[[2J^?"), std::string::npos) << got;
}

// A link that another user planted in a shared sticky folder (as /tmp is) is not followed, as
// a kernel with protected links would not follow it: a game run by root must not rewrite
// root's file through it. The player's own link there, and a link in a folder that is not
// shared so, are followed, and the file they lead to is replaced as a whole.
TEST(RankingFile, LinksPlantedInASharedFolderByAnotherUserAreNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a link to nobody";
    const std::string dir = scratch_dir("rank_planted");
    const std::string shared = dir + "/shared", plain = dir + "/plain";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(mkdir(plain.c_str(), 0777), 0);
    ASSERT_EQ(chmod(plain.c_str(), 0777), 0);
    const std::string precious = dir + "/precious.dat", old = line(1, 1, 1, "ROOT");
    write_file(precious, old);
    ASSERT_EQ(symlink(precious.c_str(), (shared + "/ranking.dat").c_str()), 0);
    ASSERT_EQ(lchown((shared + "/ranking.dat").c_str(), nobody, nogroup), 0);

    testing::internal::CaptureStdout();
    Console_Score planted(shared + "/ranking.dat");
    EXPECT_TRUE(planted.ranklist.empty());
    EXPECT_EQ(planted.inputdata(rec(999, 9, 90, "TOP")), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              iconv_sjis(u8"ランキングを保存できませんでした\n"));
    EXPECT_EQ(read_file(precious), old);
    EXPECT_EQ(folder_entries(shared), std::vector<std::string>{"ranking.dat"});

    // The caller's own link in the shared folder, and nobody's in a plain one.
    for (const char *kind : {"shared", "plain"}) {
        SCOPED_TRACE(kind);
        const std::string folder = dir + "/" + kind;
        const std::string real = dir + "/real-" + kind + ".dat";
        write_file(real, line(50, 1, 1, "OLD"));
        const std::string link_name = folder + "/mine.dat";
        ASSERT_EQ(symlink(real.c_str(), link_name.c_str()), 0);
        if (folder == plain) {
            ASSERT_EQ(lchown(link_name.c_str(), nobody, nogroup), 0);
        }
        struct stat before, after;
        ASSERT_EQ(stat(real.c_str(), &before), 0);
        Console_Score mine(link_name);
        EXPECT_EQ(titles(mine), std::vector<std::string>{"OLD"});
        EXPECT_EQ(mine.inputdata(rec(60, 1, 1, "NEW")), 1);
        EXPECT_EQ(read_file(real), line(60, 1, 1, "NEW") + line(50, 1, 1, "OLD"));
        ASSERT_EQ(stat(real.c_str(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino) << "not replaced as a whole";
        ASSERT_EQ(lstat(link_name.c_str(), &after), 0);
        EXPECT_TRUE(S_ISLNK(after.st_mode));
    }
    EXPECT_EQ(read_file(precious), old);
    EXPECT_EQ(folder_entries(dir),
              (std::vector<std::string>{"plain", "precious.dat", "real-plain.dat",
                                        "real-shared.dat", "shared"}));
}

// The table in memory is the truth: a file deleted or spoilt during a game takes none of its
// records away, and what other games wrote meanwhile still comes in. Bytes that cannot be
// read are kept in ranking.dat.bak before the rewrite drops them, and the console says so.
TEST(RankingFile, TheTableInMemoryOutlivesTheFileAndUnreadBytesAreKept) {
    const std::string dir = scratch_dir("rank_memory");
    const std::string f = dir + "/ranking.dat";
    const std::string abc = line(500, 5, 50, "A") + line(400, 4, 40, "B") + line(300, 3, 30, "C");
    const std::string kept_line =
        iconv_sjis(u8"読めない記録があるため、元のランキングをranking.dat.bakに残しました\n");

    write_file(f, abc);
    Console_Score deleted(f);
    ASSERT_EQ(std::remove(f.c_str()), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(deleted.inputdata(rec(350, 4, 45, "NEW")), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(read_file(f), line(500, 5, 50, "A") + line(400, 4, 40, "B") +
                                line(350, 4, 45, "NEW") + line(300, 3, 30, "C"));

    // Garbage written in front; another game's result added behind it meanwhile.
    write_file(f, abc);
    Console_Score spoilt(f);
    Console_Score(f).inputdata(rec(450, 4, 45, "OTHER"));
    const std::string garbage = "garbage\n" + read_file(f);
    write_file(f, garbage);
    testing::internal::CaptureStdout();
    EXPECT_EQ(spoilt.inputdata(rec(350, 4, 45, "NEW")), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kept_line);
    EXPECT_EQ(titles(Console_Score(f)), (std::vector<std::string>{"A", "B", "NEW", "C"}));
    EXPECT_EQ(read_file(f + ".bak"), garbage);

    // A title with a blank stops the reading (as it always has); the records after it stay
    // in the backup, said once.
    const std::string split = line(5000, 9, 90, "A") + line(4500, 9, 90, "Secret Service") +
                              line(3000, 7, 70, "C") + line(2000, 6, 60, "D");
    write_file(f, split);
    Console_Score blank(f);
    EXPECT_EQ(titles(blank), (std::vector<std::string>{"A", "Secret"}));
    testing::internal::CaptureStdout();
    EXPECT_EQ(blank.inputdata(rec(100, 1, 1, "NEW")), 3);
    EXPECT_EQ(blank.inputdata(rec(90, 1, 1, "NEXT")), 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kept_line);
    EXPECT_EQ(read_file(f + ".bak"), split);
    EXPECT_EQ(read_file(f), line(5000, 9, 90, "A") + line(4500, 9, 90, "Secret") +
                                line(100, 1, 1, "NEW") + line(90, 1, 1, "NEXT"));
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"ranking.dat", "ranking.dat.bak"}));
}

// A ranking file grown huge is read only as far as a ranking needs; a lock another process
// holds is waited for a short while, then the result stays in memory for the next write.
TEST(RankingFile, AHugeFileOrAHeldLockDoesNotHoldTheGameUp) {
    const std::string dir = scratch_dir("rank_huge");
    const std::string f = dir + "/ranking.dat";
    write_file(f, line(5000, 9, 90, "A"));
    ASSERT_EQ(truncate(f.c_str(), 256 << 20), 0);
    // In a child, so that its peak memory is its own: the growth in MiB, or 255 on failure.
    const int grew = in_child(
        false,
        [&] {
            rusage before, after;
            getrusage(RUSAGE_SELF, &before);
            const auto start = std::chrono::steady_clock::now();
            Console_Score s(f);
            const bool ok = s.ranklist.size() == 1 && s.inputdata(rec(10, 1, 1, "NEW")) == 2;
            const auto took = std::chrono::steady_clock::now() - start;
            getrusage(RUSAGE_SELF, &after);
            if (!ok || took > std::chrono::seconds(2)) return 255;
            return static_cast<int>(
                std::min<long>(254, (after.ru_maxrss - before.ru_maxrss) >> 10));
        },
        nullptr);
    EXPECT_LT(grew, 32) << "MiB more memory, or 255: wrong or slow";
    EXPECT_EQ(read_file(f), line(5000, 9, 90, "A") + line(10, 1, 1, "NEW"));
    struct stat st;
    EXPECT_EQ(stat((f + ".bak").c_str(), &st) == 0 ? st.st_size : -1, 256 << 20);

    // Another process holds the folder's lock (for 6 s at most, then lets go).
    write_file(f, line(5000, 9, 90, "A"));
    Console_Score s(f);
    int held[2];
    ASSERT_EQ(pipe(held), 0);
    pid_t holder = fork();
    if (holder == 0) {
        int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        if (d < 0 || flock(d, LOCK_EX) != 0) _exit(1);
        if (write(held[1], "x", 1) != 1) _exit(1);
        std::this_thread::sleep_for(std::chrono::seconds(6));
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(held[0], &c, 1), 1);
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s.inputdata(rec(100, 1, 1, "WAITED")), 2);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              iconv_sjis(u8"ランキングを保存できませんでした\n"));
    EXPECT_LT(took, 4000) << "ms";
    EXPECT_EQ(read_file(f), line(5000, 9, 90, "A"));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(held[0]);
    close(held[1]);
    EXPECT_EQ(s.inputdata(rec(90, 1, 1, "NEXT")), 3);
    EXPECT_EQ(read_file(f),
              line(5000, 9, 90, "A") + line(100, 1, 1, "WAITED") + line(90, 1, 1, "NEXT"));
}
