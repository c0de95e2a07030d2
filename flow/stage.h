#pragma once
#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <vector>

#include "world/vectord.h"

class buttai;

// The stage file stream, open for the whole run; its read position is the game's progress.
extern std::ifstream fin;
// "stagefile.txt" opened for reading when it is a regular file (or a link to one); anything
// else gives a failed stream, which the first load reports as a file that cannot be opened.
std::ifstream open_stage_file();
// Reads the stages from path instead of "stagefile.txt" in the working folder (a driver that
// replays a game on a stage set kept elsewhere).
void set_stage_file(const std::string &path);
// The stage set a game is played on: SHA-256 of the stage file's bytes (empty when it cannot
// be read).
std::string stage_set_hash();
// The same, of the stage file as fin last opened it (what the game in play is played on).
const std::string &opened_stage_hash();
// Opens the stage file and reads the ranking again, in the working folder of now.
void reopen_game_files();

// Reads the next stage from fin into the lists.
void buttaiinit();
// Deletes every object of the three lists; always 0.
int32_t buttai_del();
// The stage-clear condition: no figure or target left.
bool stageend();
// True once a load found the end of the file instead of a stage.
extern bool stage_file_ended;
// Stages read from fin since it was last opened (a stream back at its start counts as opened).
int32_t stages_loaded();

// One object record of a stage block, as the file gives it.
struct stage_record {
    std::string type; // "hito", "building" or "mato"
    int line;         // where the type word stands
    double life;
    VECTORD pos, size, vel, acc;
    double detail;
    int32_t spare;
    int32_t pattern;
};

// One stage block: its count and its records in file order.
struct stage_block {
    int32_t count;  // as written; zero or less means an empty stage
    int count_line; // where the count stands
    std::vector<stage_record> records;
};

// The first fault of a malformed file.
struct stage_fault {
    int line;
    std::string found;    // the offending token, or "end of file"
    std::string expected; // what belongs there
};

enum class stage_read { loaded, ended, malformed };

// Reads one stage block from in. Comment lines and blank lines before the count are skipped.
// line is the line the read position stands on (1 for a fresh stream) and moves with it.
// Returns ended when no count is left, malformed with fault filled at the first bad token.
stage_read read_stage(std::istream &in, int &line, stage_block &block, stage_fault &fault);

// Creates the objects of the records, fully filled and initialised, and appends them to their
// lists (building_set for "building", buttai_set otherwise). Returns them in record order.
std::vector<buttai *> populate_stage(const std::vector<stage_record> &records);
