#pragma once
#include <cstdint>
#include <fstream>

// The stage file stream, open for the whole run; its read position is the game's progress.
extern std::ifstream fin;

// Reads the next stage from fin into the lists.
void buttaiinit();
// Deletes every object of the three lists; always 0.
int32_t buttai_del();
// The stage-clear condition: no figure or target left.
bool stageend();
// True once a load found the end of the file instead of a stage.
extern bool stage_file_ended;
