#pragma once
// The command language of driver scripts and demos, one command a line ("#" starts a comment).
// One table (script.cpp) holds every command with its arguments, their ranges, its help and
// what it runs; the scripted driver (tarmik-sim), the game's --playdemo and --timedemo and the
// page's demo playback all use it, and the usage text is made from it.
//
// A demo holds the recorded commands only: menu, tick, timer, frame, key, click, motion,
// reshape and expect. The driver's own commands (move, burst, resize, png, state, objects)
// stand in for a player and look at the game.
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// A line as read: its command and arguments, ranges checked.
struct script_line {
    std::string name;               // empty for a blank or comment line
    bool recorded = false;          // one of the commands a demo holds
    std::vector<long> numbers;      // in order of appearance
    std::vector<std::string> words; // the words that are not numbers (key names, button words,
                                    // expect's NAME=VALUE, png's file)
};

// Reads one line. False with error set when it is not a command of the language or its
// arguments are malformed or out of range; demo_only refuses the driver's own commands.
bool script_parse(const std::string &line, bool demo_only, script_line &out, std::string &error);

// The usage text of the language (the driver's own commands too when driver is set).
std::string script_usage(bool driver);

// What carries the commands out beside the game's callbacks.
struct script_host {
    bool driver = false;      // the driver's own commands are allowed
    void (*pace)() = nullptr; // before each tick (a playback in real time)
    // The window's picture as PNG; false with error set.
    bool (*png)(const std::string &path, std::string &error) = nullptr;
    // Runs the window system until a resize of the real window has come (the driver).
    void (*await_resize)(int w, int h) = nullptr;
    // After every frame the commands draw (the driver's frame hashes).
    void (*after_frame)() = nullptr;
    std::FILE *report = stderr; // where state and objects go
};

// Runs scripts against the game: the callbacks are called as the window system would call
// them, and the pointer is a driven one.
class script_runner {
  public:
    explicit script_runner(const script_host &host) : host_(host) {}
    // Runs one parsed line. Returns 0 to go on; otherwise the status to end with (1: an expect
    // that differs, 2: a command that cannot be carried out) and error says why.
    int run(const script_line &line, std::string &error);
    // Frames and ticks the commands ran.
    long frames() const { return frames_; }
    long ticks() const { return ticks_; }

    // One frame, as the window system asks for it; one tick, with its frame or without.
    void frame();
    void tick(bool with_frame);
    // Follows the game's warps: the driver's pointer goes where the game put it. True when
    // there was one.
    bool take_warps();
    // The same, and the echo of the last warp comes back as the window system sends it.
    void take_echo();

    // Where the driver's pointer stands on the screen.
    int cursor_x = 0, cursor_y = 0;

  private:
    script_host host_;
    long frames_ = 0, ticks_ = 0;
};

// The game's state as NAME=VALUE pairs: what `expect` compares and `state` prints.
std::vector<std::pair<std::string, std::string>> game_state();
// Each object of the three lists with its position (what `objects` prints).
void print_objects(std::FILE *out);
// A line as shown in a message: control characters as ^X, other bytes that are not printable
// ASCII as \xNN, and no more than a few dozen characters.
std::string shown_line(const std::string &line);
