#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace server {

// What a replay of a game gave.
struct GameResult {
    std::string version; // the game's version the demo was recorded with
    std::string stages;  // SHA-256 of the stage file
    int64_t score = 0, stage = 0, hitrate = 0, hits = 0, shots = 0, ticks = 0;
    std::string title;      // UTF-8
    std::string title_sjis; // the same in Shift-JIS, as hex
};

struct NewGame {
    std::string player;
    std::string demo;
    std::string demo_sha256;
    GameResult result;
    int64_t submitted_ms = 0;
};

struct Game {
    int64_t id = 0;
    std::string player;
    std::string demo_sha256;
    GameResult result;
    int64_t submitted_ms = 0;
};

struct Ranked {
    Game game;
    int64_t place = 0;
};

// The database cannot answer now (busy, gone, full): the request may be tried again later.
struct Unavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where games are kept. Every method may be called from any thread at once. Places are
// computed from what is stored: score descending, and of equal scores the earlier stored
// (smaller id) ahead, so no two games of a stage set share a place.
class Storage {
  public:
    virtual ~Storage() = default;
    // Stores the game unless one with the same demo_sha256 is stored; either way returns the
    // stored game and whether this call stored it.
    virtual std::pair<Game, bool> submit(const NewGame &game) = 0;
    virtual std::optional<Game> find_by_demo(const std::string &demo_sha256) = 0;
    virtual std::optional<Game> game(int64_t id) = 0;
    virtual std::optional<std::string> demo(int64_t id) = 0;
    virtual int64_t place(const Game &game) = 0;
    // The best `limit` games of a stage set, best first, with their places.
    virtual std::vector<Ranked> ranking(const std::string &stages, int limit) = 0;
    // Removes a game and its demo; false when there was none.
    virtual bool remove(int64_t id) = 0;
    // Throws Unavailable when the database cannot be read.
    virtual void check() = 0;
    virtual int schema_version() = 0;
};

} // namespace server
