#pragma once
// Where a recording may not be written: the game never records over its own files.
#include <string>

// Why the demo file path (absolute, or relative to the working folder, which is the game's
// folder) may not be written by --record: a symbolic link (it may lead into the installed
// files), one of the game's own files in its folder or the same file under another name, or
// a place in the folder that the game folder's files really lie in. Empty when it may.
std::string record_target_refused(const std::string &path);
