#pragma once
// Demos: a game recorded callback by callback in the command language of shell/script.h, and
// played back by calling the same callbacks with the recorded arguments.
//
// A demo starts with the line "# tarmik-demo FORMAT tarmik VERSION", then (format 2) the line
// "stages HASH", the SHA-256 of the stage file it was played on; then come the menu answers
// ("menu WORD") and the callbacks as the window system delivered them:
//   tick [N]            N times: the timer callback, then a frame
//   timer               the timer callback alone (no frame came before the next event)
//   frame               the display callback
//   key C|esc|space|NN X Y          the keyboard callback
//   click left|middle|right|NN down|up X Y   the mouse-button callback
//   motion X Y          the passive-motion callback, as delivered (warps' echoes included)
//   reshape W H         the reshape callback
//   expect NAME=VALUE ...   the game's state as the recorded game ended
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

extern const int demo_format; // the format this build writes; format 1 still plays

// Acts on the options --record, --playdemo, --timedemo and --ranking. Returns -1 to go on,
// or the exit status after a one-line message on standard error.
int demo_start();

// The callbacks the window system calls: they record what they pass on, and while a demo
// plays back (or a driver runs the game) they keep live input and redraws away from the game.
void demo_display();
void demo_resize(int w, int h);
void demo_keyboard(unsigned char key, int x, int y);
void demo_mouse(int button, int state, int x, int y);
void demo_mousemove(int x, int y);
void demo_timer(int value);
// Each word the console menu reads.
void demo_menu_word(const std::string &word);

// The game's callbacks as demos see them: each is noted in its recorded form (in the run's
// recording with --record, and in the game's own demo) and then run. The live callbacks above
// and every playback go through these.
void feed_timer();
void feed_frame();
void feed_reshape(int w, int h);
void feed_key(unsigned char key, int x, int y);
void feed_click(int button, int state, int x, int y);
void feed_motion(int x, int y);

// Keeps each game's own demo, from what starts it to the frame that enters its result; all
// of them when all is set (a driver cutting a run into games), else only the last.
void demo_keep_games(bool all);
// The last finished game's demo (empty before one finished).
const std::string &demo_last_game();
const std::vector<std::string> &demo_finished_games();

// While set, live input and redraws do not reach the game (Esc and q still end it).
void demo_set_playing(bool on);
// Reshapes the window system delivered (also while playing back): the window is up.
int demo_live_reshapes();

// The recorded form of the callbacks, written as they happen: each timer followed by its
// frame is a tick, and runs of ticks one "tick N". A write that fails is said once on
// standard error, and the program then ends with status 1.
class demo_writer {
  public:
    // Opens path for writing (a new file, or a regular file replaced); false with error set.
    bool open(const std::string &path, std::string &error);
    // Writes into a string instead (tests).
    void open_memory();
    bool is_open() const { return file_ || memory_; }
    void timer();
    void frame();
    void line(const std::string &l);
    // Writes what is pending and closes; false when any write failed.
    bool close();
    const std::string &text() const { return text_; }
    bool failed() const { return failed_; }
    const std::string &path() const { return path_; }

  private:
    void flush_run();
    void put(const std::string &l);
    std::FILE *file_ = nullptr;
    bool memory_ = false;
    std::string text_, path_;
    bool pending_timer_ = false;
    long run_ = 0;
    bool failed_ = false;
};

// What the first lines of a script or demo file say.
struct demo_header {
    bool is_demo = false;
    int format = 0;
    std::string version;
    std::string stages;     // empty: not named (format 1)
    std::string menu_words; // each menu answer followed by a line feed
    long lines = 0;
    // One game's demo ("game first T ..." or "game restart ..."): where the game begins. A first
    // game replays T timer ticks from start-up (the title's), a restart begins from the stage
    // file's first stage; both then take the generator's state and the view given.
    bool game = false;
    bool game_first = false;
    long title_ticks = 0;
    std::vector<std::pair<std::string, std::string>> game_view; // rand, ply.*, gw, gh, xo, yo,
                                                                // moveon
};

// A script or demo file read line by line: only a regular file, lines of bounded length.
class script_file {
  public:
    bool open(const std::string &path, std::string &error);
    // The next line and its number; false at the end, or with error set on a read fault.
    bool next(std::string &line, long &number, std::string &error);
    const std::string &path() const { return path_; }

  private:
    std::FILE *f_ = nullptr;
    std::string path_;
    long number_ = 0;

  public:
    ~script_file();
};

// Reads the whole file once: its header, every line checked against the command language
// (the recorded commands only for a demo, or when demo_only), and its menu answers. False with
// a one-line message "FILE:LINE: ..." in error. must_be_demo refuses a file that is not one.
bool demo_check(const std::string &path, bool must_be_demo, bool demo_only, demo_header &out,
                std::string &error);
// Brings the game to where a game's demo begins (nothing for other demos); false with error
// set when it cannot begin there (a first game whose generator does not come out as given).
bool demo_begin_game(const demo_header &h, std::string &error);
// A demo that names its stage set and was not played on this one: the message, or empty.
std::string demo_stage_mismatch(const demo_header &h, const std::string &path);
// Hands the menu answers to the console menu instead of standard input (when it has any). A
// demo without any was recorded with --play, and is played back so.
void demo_feed_menu(const demo_header &h);
