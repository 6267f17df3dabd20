// A game as another front end kept it, whatever that front end was, and the
// game entry made from it. The readers of each front end fill ForeignGame;
// MakeForeignEntry is the one place that decides where each piece goes in an
// entry, and lists what has no place.
//
// The catalogue facts an entry has no section for become attributes of Main
// that the configuration writer never reads: Developer, Publisher, Year,
// Genre, Notes, Favorite ("true"/"false"), PlayCount, PlayTime (seconds),
// LastPlayed (as the other program wrote the date), and Source (the front
// end it came from). The program's and the installer's parameters are
// RunParameters and InstallParameters, written after the program.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "xml/Xml.h"

struct ForeignMount {
  enum Kind { Folder, Floppy, CD, FloppyImage, CDImage, DiskImage };
  Kind kind = Folder;
  char letter = 'C';
  std::string host;  // full host path of the folder or image
};

struct ForeignSetting {
  std::string section;  // as DOSBox names it, without brackets: "sblaster"
  std::string key;
  std::string value;
};

struct ForeignGame {
  std::string source;  // the front end: "D-Fend Reloaded", "LaunchBox", ...
  std::string file;    // the file the game was read from
  std::string name, genre, developer, publisher, year, notes;
  bool favorite = false;
  long long playCount = 0;
  long long playTime = 0;  // seconds
  std::string lastPlayed;
  std::string program, parameters;             // host path of the program
  std::string installer, installerParameters;  // host path of the installer
  std::vector<ForeignMount> mounts;
  std::vector<ForeignSetting> settings;
  std::string preCommands, postCommands;  // DOS lines, "\r\n" between them
  std::vector<std::string> notCarried;    // one line for each thing left behind
  std::string engine;  // the DOSBox the other front end runs it with, as it names that one ("" for its default)
};

// A file that could not be read as a game, and why.
struct BrokenProfile {
  std::string file;
  std::string reason;
};

// What a reader found in one library.
struct ForeignLibrary {
  std::string source;
  std::vector<ForeignGame> games;
  std::vector<BrokenProfile> broken;
};

// A copy of templateEntry holding game: name; the category its genre names
// (the first of several names separated by ";" or "," that equals one of
// the categories, case aside), the template's otherwise; the catalogue
// attributes; every mount as an m element; the program and installer as DOS
// paths through the mount that holds them (a program that no mount holds
// gets its folder as drive C when C is free); the settings in their
// sections, under the template's names; and the commands. What finds no
// place is added to game.notCarried.
std::unique_ptr<XmlElement> MakeForeignEntry(const XmlElement& templateEntry, ForeignGame& game);

// The DOS path of host path through mounts ("" when no folder mount holds
// it); folders are compared without regard to case.
std::string DosPathThroughMounts(const std::vector<ForeignMount>& mounts, const std::string& host);

// The name this program's template uses for key of DOSBox section section
// (lower case) as an older DOSBox or another front end wrote it; key itself
// when it was not renamed.
std::string TemplateKeyName(const std::string& section, const std::string& key);
