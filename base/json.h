#pragma once
// JSON text for the little the game says in JSON (a replay's verdict, a game sent to a ranking).
#include <string>

// A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
std::string json_string(const std::string &utf8);
