// Where --record may write: never over the game's own files, through a link, or among the
// installed files that the game folder links to.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "shell/record_target.h"
#include "testutil.h"

TEST(RecordTarget, TheGamesOwnFilesAndLinksAreRefused) {
    // A player's folder as the launcher makes it: links to the installed files, a ranking.
    const std::string dir = scratch_dir("record_target");
    const std::string installed = dir + "/installed", game = dir + "/game";
    ASSERT_EQ(mkdir(installed.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(game.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/other").c_str(), 0755), 0);
    for (const char *name : {"stagefile.txt", "shnm16.f1b", "bgm.mid", "tarmik.demo"}) {
        write_file(installed + "/" + name, name);
        ASSERT_EQ(symlink((installed + "/" + name).c_str(), (game + "/" + name).c_str()), 0);
    }
    write_file(game + "/ranking.dat", "100\t\t1\t1\tA\n");
    ASSERT_EQ(link((game + "/ranking.dat").c_str(), (dir + "/other/hard.dat").c_str()), 0);
    ASSERT_EQ(symlink(installed.c_str(), (dir + "/shipped").c_str()), 0);
    ASSERT_EQ(symlink((dir + "/other/x").c_str(), (game + "/mine.demo").c_str()), 0);
    write_file(dir + "/other/ranking.dat", "");

    char was[PATH_MAX];
    ASSERT_NE(getcwd(was, sizeof was), nullptr);
    ASSERT_EQ(chdir(game.c_str()), 0);
    const std::string own = "it is one of the game's own files";
    for (const std::pair<std::string, std::string> &c :
         std::vector<std::pair<std::string, std::string>>{
             {"ranking.dat", own},
             {game + "/ranking.dat.bak", own},
             {"../game/stagefile.txt", "it is a symbolic link"},
             {"tarmik.demo", "it is a symbolic link"},
             {"mine.demo", "it is a symbolic link"},
             {dir + "/other/hard.dat", own},
             {installed + "/new.demo", "it would go among the game's own files"},
             {dir + "/shipped/new.demo", "it would go among the game's own files"},
             {"new.demo", ""},
             {dir + "/other/ranking.dat", ""},
             {dir + "/other/new.demo", ""}}) {
        EXPECT_EQ(record_target_refused(c.first), c.second) << c.first;
    }
    ASSERT_EQ(chdir(was), 0);
}
