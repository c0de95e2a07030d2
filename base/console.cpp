#include "base/console.h"

#include "base/terminal.h"

#include <unistd.h>

#include <cstdio>

namespace {

// Asked each time: the console's lines are few, and standard output may change hands.
bool on_terminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void (*line_listener)(const std::string &) = nullptr;

} // namespace

void console_write(const std::string &sjis) {
    if (!on_terminal()) {
        std::fwrite(sjis.data(), 1, sjis.size(), stdout);
        return;
    }
    const std::string out = terminal_text(sjis);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void console_line(const std::string &sjis) {
    console_write(sjis);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (line_listener) line_listener(sjis);
}

void console_set_listener(void (*listener)(const std::string &sjis)) {
    line_listener = listener;
}

language console_language() {
    const language l = game_language();
    language english = l;
    if (l == japanese && !terminal_shows_japanese() && find_language("en", english)) return english;
    return l;
}

void console_say(const char *msgid) {
    console_line(tr_in(console_language(), msgid));
}

void console_say(const std::function<std::string(language)> &make) {
    console_line(make(console_language()));
}
