#pragma once
#include "config.h"
#include "storage.h"

#include <string>
#include <vector>

namespace server {

struct Board {
    const StageSet *set;
    std::vector<Ranked> games;
};

// The style block of the leaderboard, which the page's Content-Security-Policy allows by hash.
const std::string &page_style();
// The leaderboard: one table per stage set, every text escaped.
std::string leaderboard_html(const std::vector<Board> &boards, bool with_web_game);

} // namespace server
