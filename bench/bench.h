#pragma once
// Shared set-up of the benchmarks.
#include <string>

// A file of the game folder.
std::string game_file(const char *name);
// Opens (once) the 500 x 500 game window with the game's fixed GL state and projection;
// needs DISPLAY.
void game_window();
// The game state of a game in play, with its font loaded; nothing is entered in a ranking.
void game_in_play();
