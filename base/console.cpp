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

namespace {

// A line as the console shows it and as the listener (the window) hears it: the two differ
// when a terminal that cannot show Japanese gets a Japanese game's line in English.
void emit(const std::string &shown, const std::string &heard) {
    console_write(shown);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (line_listener) line_listener(heard);
}

} // namespace

void console_line(const std::string &sjis) {
    emit(sjis, sjis);
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
    emit(tr_in(console_language(), msgid), tr(msgid));
}

void console_say(const std::function<std::string(language)> &make) {
    const language shown = console_language();
    const std::string line = make(shown);
    emit(line, shown == game_language() ? line : make(game_language()));
}
