// LaunchBox's library: Data\Platforms\<platform>.xml under its folder, one
// <Game> element for each game, paths relative to the LaunchBox folder. Only
// DOS games are read (platform "MS-DOS", or played through DOSBox); a game
// can name a DOSBox configuration of its own for its settings and mounts.
#pragma once

#include <map>
#include <string>

#include "launcher/ForeignFiles.h"
#include "launcher/ForeignGame.h"

extern const char* const kLaunchBoxSource;

// The LaunchBox folder that path is, or holds the platform files of (path
// may be the folder, its Data\Platforms folder or one platform file); "" when
// it is none.
std::string LaunchBoxFolderOf(PathFinder& finder, const std::string& path);

// The DOS games of every platform file (or of the one path names). A file
// that is no LaunchBox platform file is listed in broken.
ForeignLibrary ReadLaunchBoxLibrary(const ForeignFiles& files, const std::string& path);

// The DOS games of one platform file's text; launchBox is the folder
// relative paths start from. emulators names the DOSBox of each emulator ID
// (Data\Emulators.xml), for the games that choose one.
void ReadLaunchBoxPlatform(const std::string& text, const std::string& file, const std::string& launchBox,
                           PathFinder& finder, const ForeignFiles& files, ForeignLibrary& library,
                           const std::map<std::string, std::string>* emulators = nullptr);
