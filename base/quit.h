#pragma once
// Every end of the program the game decides on (q, Esc, the menu's 2, a bad stage file, no
// memory) goes through here, so a harness that plays many games in one process (a fuzzer) can
// take the end instead of the process ending.

[[noreturn]] void quit(int status);
// A hook that must not return (it may throw); nullptr restores std::exit.
void set_quit_hook(void (*hook)(int status));
