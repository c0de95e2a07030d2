#pragma once
// Opening the game's files: only regular files (or links to them) are read, so a device, a
// pipe or a folder standing under a name can neither block the game nor feed it for ever.
#include <cstddef>
#include <cstdio>
#include <string>

// A descriptor on the regular file name, opened with flags (O_CLOEXEC and O_NOCTTY added), or
// -1 with errno set (EINVAL for anything that is not a regular file). Never blocks on a FIFO.
int open_regular(const std::string &name, int flags);
// The same for the name in the folder dir, never following a link (O_NOFOLLOW added).
int open_regular_at(int dir, const std::string &name, int flags);
// The same as a stdio stream, for reading ("rb" or "r").
std::FILE *fopen_regular(const std::string &name, const char *mode);
// True when a regular file (or a link to one) stands under the name.
bool is_regular_file(const std::string &name);
// True when something stands under the name that is not a regular file.
bool is_other_than_file(const std::string &name);
// Reads at most max bytes of a regular file into text. Returns false with a short reason in
// error ("cannot open", "not a regular file", "longer than N bytes", "read error").
bool read_regular(const std::string &name, size_t max, std::string &text, std::string &error);
