#pragma once
// Demos: a game recorded callback by callback as a tarmik-sim script, and played back.
//
// A demo starts with the line "# tarmik-demo FORMAT tarmik VERSION"; then come the menu
// answers ("menu WORD") and the callbacks as the window system delivered them:
//   tick [N]            N times: the timer callback, then a frame
//   timer               the timer callback alone (no frame came before the next event)
//   frame               the display callback
//   key C|esc|space|NN [X Y]        the keyboard callback (NN: two or more digits, the code)
//   click [left|middle|right|NN] [down|up] [X Y]   the mouse-button callback
//   motion X Y          the passive-motion callback, in window coordinates, as delivered
//                       (warps' echoes included: nothing is synthesised on playback)
//   reshape W H         the reshape callback
//   expect NAME=VALUE ...   the game's state at that point; a playback that differs stops
#include <cstdint>
#include <istream>
#include <string>
#include <utility>
#include <vector>

extern const int demo_format; // the format this build writes and plays

// Acts on the options --record, --playdemo, --timedemo and --ranking. Returns -1 to go on,
// or the exit status after a one-line message on standard error.
int demo_start();

// The callbacks the window system calls: they record what they pass on, and while a demo
// plays back they keep live input and redraws away from the game.
void demo_display();
void demo_resize(int w, int h);
void demo_keyboard(unsigned char key, int x, int y);
void demo_mouse(int button, int state, int x, int y);
void demo_mousemove(int x, int y);
void demo_timer(int value);
// Each word the console menu reads.
void demo_menu_word(const std::string &word);

// The game's state as NAME=VALUE pairs (what `expect` compares, and the driver's `state`).
std::vector<std::pair<std::string, std::string>> demo_state();

// A script as read: a demo's lines (a plain script is streamed by its player, so that its
// length costs no memory), whether it is a demo, and its menu answers.
struct demo_script {
    std::vector<std::string> lines;
    bool is_demo = false;
    std::string menu_words; // each answer followed by a line feed
};
// Reads a script. A file whose first line names another demo format fails with a one-line
// message in error; so does any file that is not a demo when must_be_demo holds.
bool demo_read(const std::string &path, bool must_be_demo, demo_script &out, std::string &error);
// Hands the script's menu answers to the console menu instead of standard input (when it
// has any). A demo without any was recorded with --play, and is played back so.
void demo_feed_menu(const demo_script &s);

// Runs one command of the recorded language. Returns false when the command is not one of
// them; error is set when it is one but cannot be read, or when an `expect` differs.
// (x, y) is the pointer position for keys and clicks that give none.
bool demo_command(const std::string &cmd, std::istream &args, int x, int y, std::string &error);

// While a demo plays back, live input and redraws do not reach the game.
void demo_set_playing(bool on);
// Reshapes the window system delivered (also while playing back): the window is up.
int demo_live_reshapes();
// Called before each timer tick of a playback (pacing), when set.
extern void (*demo_pace)();
// Frames drawn by playback commands.
extern long demo_frames;
