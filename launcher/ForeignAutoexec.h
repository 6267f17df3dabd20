// The commands a front end runs a game with, as DOS lines (a DOSBox
// configuration's [autoexec], or a batch file): which drives are mounted,
// which program is the game, and what runs before and after it.
#pragma once

#include <string>
#include <vector>

#include "launcher/ForeignFiles.h"
#include "launcher/ForeignGame.h"

// Reads lines into game: "mount"/"imgmount" lines become mounts (relative
// host paths starting from base); the last line that starts a program on a
// folder drive is the game's program (its host path through the mount of the
// current drive and folder, which "X:" and "cd" lines change) with the rest
// of the line as its parameters; the lines before it are pre-commands and
// those after it post-commands, the drive and folder changes and a final
// "exit" left out, since the entry's launch does those itself. Without such a
// line every other line is a pre-command. Returns whether a program was found.
bool ReadAutoexec(const std::vector<std::string>& lines, const std::string& base, PathFinder& finder,
                  ForeignGame& game);

// The lines of a batch file or section, without line ends.
std::vector<std::string> TextLines(const std::string& text);
