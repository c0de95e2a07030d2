#pragma once
#include <cstdint>
#include <string>
#include <vector>

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
    // Inserts the record, keeps at most 20 (one removed at most), rewrites the file,
    // returns the 1-based place (21 when not kept).
    int32_t inputdata(clData record);
};

class Console_Score : public Score {
  public:
    explicit Console_Score(const std::string &filename);
    void outputdata() override;
};

extern Console_Score clScore;
