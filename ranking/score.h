#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/lang.h"

// One result.
struct clData {
    int32_t score;
    int32_t stage;
    int32_t hitrate;
    std::string title; // Shift-JIS, one word
};

// The ranking table on its file.
class Score {
  public:
    std::string filename;
    std::vector<clData> ranklist;
    bool save = true; // false: inputdata leaves the file alone (a demo played back)

    explicit Score(const std::string &filename);
    virtual void outputdata();
    // Inserts the record into the table held in memory, together with the records other games
    // wrote into the file since this one last read or wrote it; keeps at most 20 (one removed
    // at most), rewrites the file, returns the 1-based place (21 when not kept). A file that
    // cannot be saved is said so on the console and left as it is; the table in memory keeps
    // the record for the next write.
    int32_t inputdata(clData record);

  private:
    // The records the file held when this run last read or wrote it.
    std::vector<clData> known;
};

class Console_Score : public Score {
  public:
    explicit Console_Score(const std::string &filename);
    void outputdata() override;
};

// One line of the console's listing in language l: the place, score, stages, hit rate and the
// title (its name in l when it is one of the game's titles; the file keeps the Japanese word).
std::string listing_line(language l, int place, const clData &r);

extern Console_Score clScore;
