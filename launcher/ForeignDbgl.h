// DBGL's libraries: its folder, where profiles\<id>.conf holds each game's
// DOSBox configuration (relative paths starting from its dosroot folder) and
// the titles and facts live in its database, whose tables db\*.script keeps
// as SQL text; and its game packs, *.dbgl.zip, whose profiles.xml lists each
// game whole and whose other entries are the games' files.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "launcher/ForeignFiles.h"
#include "launcher/ForeignGame.h"

extern const char* const kDbglSource;

// The DBGL folders and packs path is (a folder holding profiles\*.conf beside
// dosroot\ or db\, or a *.dbgl.zip) or holds directly (folders only when
// their names hold "DBGL", case aside); empty when none.
std::vector<std::string> DbglLibrariesIn(PathFinder& finder, const std::string& path);

// Every game of the folders and packs DbglLibrariesIn finds. A pack's game
// files are unpacked, once, into the folder beside it named after it
// ("Keen.dbgl.zip" into "Keen\"), which is then its games' dosroot.
ForeignLibrary ReadDbglLibrary(const ForeignFiles& files, const std::string& path);

// What DBGL's database says of one game, by the names of its columns.
struct DbglFacts {
  std::string title, developer, publisher, genre, year, status, notes, lastRun;
  std::string setup, setupParameters;
  std::vector<std::pair<std::string, std::string>> alternatives;  // program, parameters
  std::string dosbox;                                             // the title and version of the DOSBox it names
  bool favorite = false;
  long long runs = 0;
};

// The games of a database script (HSQLDB's SQL text) by their id; what it
// cannot make out is left empty.
std::map<std::string, DbglFacts> ReadDbglScript(const std::string& text);

// The games of a pack's profiles.xml (text as UTF-8), relative paths
// starting from dosroot; file names the pack in broken lines.
void ReadDbglProfilesXml(const std::string& text, const std::string& file, const std::string& dosroot,
                         PathFinder& finder, ForeignLibrary& library);
