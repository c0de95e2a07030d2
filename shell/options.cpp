#include "shell/options.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console.h"
#include "flow/stage.h"
#include "shell/settings.h"

#ifndef TARMIK_VERSION
#error "the build defines TARMIK_VERSION, the game's version"
#endif

game_options options;
const char *const tarmik_version = TARMIK_VERSION;

namespace {

// A file named on the command line, as seen from the folder the game was started in.
std::string from_start_folder(const char *name) {
    if (name[0] == '/') return name;
    char here[4096];
    if (!getcwd(here, sizeof here)) return name;
    return std::string(here) + "/" + name;
}

struct option_def {
    const char *name;  // without the leading "--"
    const char *value; // the value's name in the help; nullptr: the option takes none
    const char *help;
    void (*set)(const char *value);
};

// One row per option; the help is made from this table.
const option_def option_table[] = {
    {"help", nullptr, "show this help and exit", [](const char *) { options.help = true; }},
    {"version", nullptr, "show the version and exit", [](const char *) { options.version = true; }},
    {"play", nullptr, "start at once, without the console menu (as if 1 were answered)",
     [](const char *) { options.play = true; }},
    {"data", "DIR", "run in the game folder DIR instead of the working folder",
     [](const char *v) { options.data = v; }},
    {"record", "FILE", "record the game as it is played into FILE, a demo",
     [](const char *v) { options.record = from_start_folder(v); }},
    {"playdemo", "FILE", "play the demo FILE back in the window",
     [](const char *v) { options.playdemo = from_start_folder(v); }},
    {"timedemo", "FILE", "play the demo FILE back as fast as possible, show frames per second",
     [](const char *v) { options.timedemo = from_start_folder(v); }},
    {"ranking", nullptr, "with --playdemo: enter the demo's result into the ranking",
     [](const char *) { options.ranking = true; }},
    {"lang", "ja|en", "the language of the game's texts (the language setting)",
     [](const char *v) { options.lang = v; }},
    {"scale", "N|auto", "show the 500 x 500 frame N times over (the scale setting)",
     [](const char *v) { options.scale = v; }},
    {"fullscreen", nullptr, "start in fullscreen (the fullscreen setting)",
     [](const char *) { options.fullscreen = true; }},
    {"config", "FILE", "read the settings from FILE instead of the usual file",
     [](const char *v) { options.config = from_start_folder(v); }},
    {"settings", nullptr, "show the settings in effect, where each comes from, and exit",
     [](const char *) { options.show_settings = true; }},
};

// GLUT's options that take the next argument as their value.
bool glut_takes_value(const char *arg) {
    return std::strcmp(arg, "-display") == 0 || std::strcmp(arg, "-geometry") == 0;
}

// One line, as command-line tools do, and status 2.
[[noreturn]] void bad_usage(const char *arg, const char *what) {
    std::fprintf(stderr, "tarmik: %s%s (try tarmik --help)\n", arg, what);
    std::exit(2);
}

void show_help() {
    std::string text = "Usage: tarmik [OPTION]... [GLUT OPTION]...\n"
                       "A 3D target-shooting game: the console menu starts it, the window "
                       "plays it.\n\n";
    for (const option_def &o : option_table) {
        std::string left =
            std::string("  --") + o.name + (o.value ? std::string(" ") + o.value : "");
        left.resize(left.size() < 18 ? 18 : left.size() + 1, ' ');
        text += left + o.help + "\n";
    }
    text +=
        "\nOther arguments (such as -display or -geometry) go to GLUT.\n\n"
        "Keys and mouse:\n"
        "  mouse motion      slide the view (0.1 units of ground per pixel)\n"
        "  left button       fire a shot through the cross (one unit of energy)\n"
        "  right button      redraw the window\n"
        "  s                 start a game on the title screen\n"
        "  y / n             after the game is over: a new game / back to the title\n"
        "  r                 list the best ten of the ranking\n"
        "  q or Esc          quit at once\n"
        "  F11 or Alt+Enter  fullscreen on or off\n\n"
        "Settings, \"key = value\" lines in " +
        (settings_path().empty() ? std::string("~/.config/tarmik/tarmik.conf") : settings_path()) +
        "\n(or the file --config names; options win over them):\n" + settings_help() +
        "\nThe game reads stagefile.txt, shnm16.f1b, bgm.mid, shot.wav, kara.wav, ata.wav\n"
        "and ranking.dat from its folder, and writes ranking.dat there.\n";
    console_write(text);
}

} // namespace

void take_options(int &argc, char **argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strncmp(arg, "--", 2) != 0) {
            argv[kept++] = argv[i];
            if (glut_takes_value(arg) && i + 1 < argc) argv[kept++] = argv[++i];
            continue;
        }
        const char *eq = std::strchr(arg, '=');
        const std::string name(arg + 2, eq ? eq - (arg + 2) : std::strlen(arg + 2));
        const option_def *def = nullptr;
        for (const option_def &o : option_table)
            if (name == o.name) def = &o;
        if (!def) bad_usage(arg, ": unknown option");
        const char *value = nullptr;
        if (def->value) {
            // Another option in its place is a value left out, not a file named "--data".
            if (eq)
                value = eq + 1;
            else if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0)
                value = argv[++i];
            if (!value || !*value) bad_usage(arg, " needs a value");
        } else if (eq) {
            bad_usage(arg, ": this option takes no value");
        }
        def->set(value);
    }
    language l;
    if (!options.lang.empty() && !find_language(options.lang, l))
        bad_usage(("--lang " + options.lang).c_str(),
                  (": no such language (there are " + language_codes() + ")").c_str());
    argc = kept;
    argv[argc] = nullptr;

    if (options.help) {
        show_help();
        std::exit(0);
    }
    if (options.version) {
        console_write("tarmik " TARMIK_VERSION "\n");
        std::exit(0);
    }
    if (!options.data.empty()) {
        if (chdir(options.data.c_str()) != 0) {
            std::fprintf(stderr, "tarmik: cannot enter the game folder %s: %s\n",
                         options.data.c_str(), std::strerror(errno));
            std::exit(1);
        }
        reopen_game_files();
    }
}
