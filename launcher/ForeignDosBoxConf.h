// A DOSBox configuration another front end keeps for a game: its settings
// and the mounts and commands of its "[autoexec]".
#pragma once

#include <string>

#include "launcher/ForeignFiles.h"
#include "launcher/ForeignGame.h"

// Adds the settings of text (UTF-8) to game, the mounts of its [autoexec]
// (relative host paths starting from base) to its mounts, and the other
// lines of [autoexec] to its pre-commands; a final "exit" is left out, since
// the entry's own commands decide what happens after the game.
void ReadDosBoxConf(const std::string& text, const std::string& base, PathFinder& finder, ForeignGame& game);

// The settings of text (UTF-8) as ReadDosBoxConf adds them, and its
// [autoexec] read by ReadAutoexec: the program it starts is the game's.
// Returns whether it starts one.
bool ReadGameDosBoxConf(const std::string& text, const std::string& base, PathFinder& finder, ForeignGame& game);

// One "mount" or "imgmount" line as a mount; false for any other line.
bool ReadMountCommand(const std::string& line, const std::string& base, PathFinder& finder, ForeignGame& game);
