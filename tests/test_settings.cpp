// The settings file as the game reads it: bad lines are said once each and left out, the rest
// applies; the command line wins; --settings tells each value and where it came from.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "testutil.h"

namespace {

const std::string game = TARMIK_GAME_DIR "/tarmik";

struct run {
    int status;
    std::string out, err;
};

// The game with HOME in a scratch folder (its usual file there when text is given), no display.
run settings_run(const std::string &name, const std::string *text, const std::string &args,
                 const std::string &env = "") {
    const std::string home = scratch_dir("settings-" + name);
    if (text) {
        run_command("mkdir -p '" + home + "/.config/tarmik'", "", nullptr);
        write_file(home + "/.config/tarmik/tarmik.conf", *text);
    }
    run r;
    r.status = run_command("cd '" + home + "' && env -u DISPLAY -u XDG_CONFIG_HOME HOME='" + home +
                               "' " + env + " '" + game + "' " + args + " 2> err.txt",
                           "", &r.out);
    r.err = read_file(home + "/err.txt");
    return r;
}

std::string conf(const std::string &name) {
    return std::string(TARMIK_SCRATCH) + "/settings-" + name + "." + std::to_string(getpid()) +
           "/.config/tarmik/tarmik.conf";
}

// The line of --settings for a key.
std::string line_of(const std::string &report, const std::string &key) {
    const size_t at = report.find("\n" + key + " = ");
    if (at == std::string::npos) return "";
    return report.substr(at + 1, report.find('\n', at + 1) - at - 1);
}

std::string value_from(const std::string &value, const std::string &from, const std::string &key) {
    std::string l = key + " = " + value;
    l.resize(l.size() < 28 ? 28 : l.size() + 1, ' ');
    return l + "# " + from;
}

TEST(Settings, BadLinesAreSaidAndLeftOutTheRestApplies) {
    const std::string text = "# my settings\n"
                             "scale = 2\n"
                             "fullscreen = maybe\n"
                             "  sensitivity=1.5   # faster\n"
                             "colour = blue\n"
                             "just words\n"
                             "music-volume = 101\n"
                             "effects-volume = 40\r\n"
                             "\n"
                             "messages = on";
    const run r = settings_run("bad", &text, "--settings");
    EXPECT_EQ(r.status, 0);
    const std::string f = conf("bad");
    EXPECT_EQ(r.err,
              "tarmik: " + f + ":3: fullscreen takes on or off, not \"maybe\"; left out\n" +
                  "tarmik: " + f + ":5: unknown setting \"colour\"; left out\n" + "tarmik: " + f +
                  ":6: not a \"key = value\" line: \"just words\"; left out\n" + "tarmik: " + f +
                  ":7: music-volume takes 0 to 100, not \"101\"; left out\n");
    EXPECT_EQ(line_of(r.out, "scale"), value_from("2", f + ":2", "scale"));
    EXPECT_EQ(line_of(r.out, "fullscreen"), value_from("off", "default", "fullscreen"));
    EXPECT_EQ(line_of(r.out, "sensitivity"), value_from("1.5", f + ":4", "sensitivity"));
    EXPECT_EQ(line_of(r.out, "music-volume"), value_from("100", "default", "music-volume"));
    EXPECT_EQ(line_of(r.out, "effects-volume"), value_from("40", f + ":8", "effects-volume"));
    EXPECT_EQ(line_of(r.out, "messages"), value_from("on", f + ":10", "messages"));
    EXPECT_EQ(line_of(r.out, "filter"), value_from("nearest", "default", "filter"));
    EXPECT_NE(r.out.find("# file: " + f + "\n"), std::string::npos) << r.out;
    // Ranges and words: each takes only what it says.
    for (const char *bad :
         {"scale = 0", "scale = 9", "scale = 2.5", "scale = -1", "filter = cubic",
          "sensitivity = 0.05", "sensitivity = 11", "sensitivity = 1e1", "sensitivity = nan",
          "sensitivity = 1.2.3", "effects-volume = -5", "= 3", "messages =",
          // The shared ranking's address and name: nothing a request could be made to carry.
          "server = ftp://example.org", "server = http://", "server = http://a b",
          "server = http://\x7f", "player = \x01name", "player = \xff\xfe",
          "player = 123456789012345678901"}) {
        const std::string one = std::string(bad) + "\n";
        const run b = settings_run("range", &one, "--settings");
        EXPECT_EQ(b.status, 0);
        EXPECT_NE(b.err.find(":1: "), std::string::npos) << bad;
        EXPECT_EQ(b.out.find(conf("range") + ":1"), std::string::npos) << bad;
    }
}

// The name the player wrote (UTF-8) is shown in the console's Shift-JIS, as every text is.
TEST(Settings, TheSharedRankingsAddressAndThePlayersName) {
    const std::string text = u8"server = https://ranking.example.org/club\nplayer = テスター\n";
    const run r = settings_run("shared", &text, "--settings");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(line_of(r.out, "server"),
              value_from("https://ranking.example.org/club", conf("shared") + ":1", "server"));
    EXPECT_EQ(line_of(r.out, "player"),
              value_from(iconv_sjis(u8"テスター"), conf("shared") + ":2", "player"));
}

TEST(Settings, TheCommandLineWinsAndPlayTurnsTheMessagesOn) {
    const std::string text = "scale = 2\nfullscreen = off\nfilter = linear\n";
    run r = settings_run("wins", &text, "--scale auto --fullscreen --settings");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(line_of(r.out, "scale"), value_from("auto", "--scale", "scale"));
    EXPECT_EQ(line_of(r.out, "fullscreen"), value_from("on", "--fullscreen", "fullscreen"));
    EXPECT_EQ(line_of(r.out, "filter"), value_from("linear", conf("wins") + ":3", "filter"));
    r = settings_run("play", nullptr, "--play --settings");
    EXPECT_EQ(line_of(r.out, "messages"), value_from("on", "default with --play", "messages"));
    // The file's word stands even with --play.
    const std::string off = "messages = off\n";
    r = settings_run("play-off", &off, "--play --settings");
    EXPECT_EQ(line_of(r.out, "messages"), value_from("off", conf("play-off") + ":1", "messages"));
    // A value the key does not take, on the command line: one line and status 2.
    r = settings_run("bad-option", nullptr, "--scale 0 --settings");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tarmik: scale takes 1 to 8, or auto, not \"0\"\n");
}

TEST(Settings, WhereTheFileIs) {
    // None there: no word of it, every value its default.
    run r = settings_run("none", nullptr, "--settings");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("(not there)"), std::string::npos);
    EXPECT_EQ(line_of(r.out, "scale"), value_from("1", "default", "scale"));
    // XDG_CONFIG_HOME when absolute; a relative one is not used.
    const std::string dir = scratch_dir("settings-elsewhere");
    run_command("mkdir -p '" + dir + "/tarmik'", "", nullptr);
    write_file(dir + "/tarmik/tarmik.conf", "scale = 3\n");
    r = settings_run("xdg", nullptr, "--settings", "XDG_CONFIG_HOME='" + dir + "'");
    EXPECT_EQ(line_of(r.out, "scale"), value_from("3", dir + "/tarmik/tarmik.conf:1", "scale"));
    r = settings_run("xdg-rel", nullptr, "--settings", "XDG_CONFIG_HOME=rel");
    EXPECT_NE(r.out.find("# file: " + std::string(TARMIK_SCRATCH) + "/settings-xdg-rel."),
              std::string::npos)
        << r.out;
    // --config: another file, counted from where the command is typed; one that cannot be
    // read is an error, as any option's bad value.
    write_file(dir + "/mine.conf", "sensitivity = 2\n");
    r = settings_run("config", nullptr, "--config '" + dir + "/mine.conf' --settings");
    EXPECT_EQ(line_of(r.out, "sensitivity"), value_from("2", dir + "/mine.conf:1", "sensitivity"));
    r = settings_run("config-missing", nullptr, "--config nowhere.conf --settings");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("nowhere.conf: cannot open"), std::string::npos) << r.err;
    // A folder where the file should be: said, and the defaults apply.
    const std::string home = scratch_dir("settings-folder");
    run_command("mkdir -p '" + home + "/.config/tarmik/tarmik.conf'", "", nullptr);
    std::string out;
    EXPECT_EQ(run_command("cd '" + home + "' && env -u DISPLAY -u XDG_CONFIG_HOME HOME='" + home +
                              "' '" + game + "' --settings 2> err.txt",
                          "", &out),
              0);
    EXPECT_EQ(read_file(home + "/err.txt"), "tarmik: " + home +
                                                "/.config/tarmik/tarmik.conf: not a regular "
                                                "file; the settings are the defaults\n");
    EXPECT_EQ(line_of(out, "scale"), value_from("1", "default", "scale"));
}

} // namespace
