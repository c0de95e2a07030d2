#pragma once
// The shared ranking: each finished game's own demo is sent to the server the settings name,
// in the background, and the server's answer (the verified place, or why the game was refused)
// comes back as a console notice.
#include <string>

// Where to send and under which name; nothing is sent while either is empty.
void submit_configure(const std::string &server_url, const std::string &player_utf8);
bool submit_configured();
// A game has entered its result: its demo goes to the server.
void submit_game(const std::string &demo);
// On the game's own thread, now and then: the answers that have come become notices.
void submit_poll();
