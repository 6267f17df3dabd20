// eXoDOS's tree: under its eXo folder, eXoDOS\!dos\<dir>\ holds each game's
// DOSBox configuration and the batch file that starts it, and
// eXoDOS\<Game (Year)>.zip its files until they are unpacked. The
// configuration mounts folders relative to the eXo folder; the batch file
// names the configuration and the DOSBox build that runs it.
#pragma once

#include <string>

#include "launcher/ForeignFiles.h"
#include "launcher/ForeignGame.h"

extern const char* const kExoSource;

// The eXo folder path is, or holds (as the LaunchBox folder of the pack
// does), or is the eXoDOS folder of; "" when none.
std::string ExoFolderOf(PathFinder& finder, const std::string& path);

// Every game of the !dos folder, in the order of the folders' names.
ForeignLibrary ReadExoLibrary(const ForeignFiles& files, const std::string& path);

// The game whose folder under !dos is gameFolder (a host path): its
// settings, mounts, program and commands, and the build of DOSBox as
// engine. Its name and year come from the batch file's name when the game has
// none yet. A game whose files are still zipped keeps no program, and its zip
// is named in notCarried. False when the folder holds neither a batch file
// nor a configuration.
bool ReadExoGame(const ForeignFiles& files, PathFinder& finder, const std::string& exo, const std::string& gameFolder,
                 ForeignGame& game);
