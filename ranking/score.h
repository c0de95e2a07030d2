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
    // Inserts the record into the table as the file holds it now (other games may have
    // written it since), keeps at most 20 (one removed at most), rewrites the file, returns
    // the 1-based place (21 when not kept). A file that cannot be saved is said so on the
    // console and left as it is.
    int32_t inputdata(clData record);

  private:
    // Results of this run that could not be saved yet (the best 20), carried to the next write.
    std::vector<clData> unsaved;
};

class Console_Score : public Score {
  public:
    explicit Console_Score(const std::string &filename);
    void outputdata() override;
};

extern Console_Score clScore;
