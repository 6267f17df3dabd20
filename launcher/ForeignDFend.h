// D-Fend Reloaded's library: one INI profile per game in Confs\*.prof under
// its data folder. Relative paths (".\VirtualHD\KEEN\") start from the data
// folder, or from the folder Settings\DFend.ini names as its default
// location; DFend.dat beside the program says whether the data folder is the
// program's own or the user's.
#pragma once

#include <string>

#include "launcher/ForeignFiles.h"
#include "launcher/ForeignGame.h"

extern const char* const kDFendSource;

// Whether folder is D-Fend Reloaded's program or data folder.
bool IsDFendFolder(PathFinder& finder, const std::string& folder);

// Every profile of the library in folder, in the order of their file names.
// A profile that cannot be read is listed in broken and the rest still read.
ForeignLibrary ReadDFendLibrary(const ForeignFiles& files, const std::string& folder);

// One profile's text (already UTF-8) as a game, relative paths starting from
// base. False, with reason, when it is no D-Fend Reloaded profile of a DOS
// game.
bool ReadDFendProfile(const std::string& text, const std::string& base, PathFinder& finder, ForeignGame& game,
                      std::string& reason);

// Its escapes decoded: "[13][10]" a line break, "[61]" an equals sign.
std::string DFendUnescaped(const std::string& text);
