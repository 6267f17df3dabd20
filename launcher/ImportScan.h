// Bringing a folder of games into the library at once: which folders are
// games, which program starts each, which one installs it. Window-free; the
// file system is reached through the listing function the caller passes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "xml/Xml.h"

struct FolderItem {
  std::string name;         // UTF-8, no path
  bool folder = false;
  std::uint64_t size = 0;   // files only
  std::string identity;     // folders only: the same for two paths of one folder (a link), or empty
};

// Lists folder (a full path, UTF-8) into items; false when it cannot be read.
using ListFolderFunction = std::function<bool(const std::string& folder, std::vector<FolderItem>& items)>;

// A game found under the chosen folder.
struct FoundGame {
  std::string folder;   // full path of the game's folder
  std::string name;     // from the folder's name; the user may change it before adding
  std::string run;      // full path of the program, or empty
  std::string install;  // full path of the installer, or empty
  std::string image;    // full path of a CD image, when the folder holds no program
};

struct ImportScan {
  std::vector<FoundGame> games;
  int unreadable = 0;     // folders that could not be listed
  int loops = 0;          // links back to a folder seen already
  int badNames = 0;       // paths with characters DOS cannot carry
  int alreadyKnown = 0;   // game folders the library holds already
  bool cancelled = false;
};

// Whether name (a file name) is a DOS program: .EXE, .COM or .BAT.
bool IsDosProgram(const std::string& name);

// The program most likely to start the game in a folder named folderName,
// among the names of the folder's DOS programs: never an installer or a
// set-up tool; a name like the folder's first, then the only one left, then
// the largest. Empty when there is none. sizes holds each name's size.
std::string ChooseProgram(const std::string& folderName, const std::vector<std::string>& names,
                          const std::vector<std::uint64_t>& sizes);

// The installer among names (INSTALL before SETUP), or empty.
std::string ChooseInstaller(const std::vector<std::string>& names);

// Looks for games in the chosen folder's subfolders and theirs (a game's own
// subfolders are not games of their own). knownFolders are the folders the
// library's games run from, compared without regard to case; progress, when
// given, is called with the number of folders listed so far; cancel, when
// set, ends the scan early. rootIdentity, when known, is the chosen folder's
// identity, so that a link back to it is not followed.
ImportScan ScanForGames(const std::string& root, const ListFolderFunction& list,
                        const std::vector<std::string>& knownFolders,
                        const std::function<void(int)>& progress = nullptr,
                        const std::atomic<bool>* cancel = nullptr, const std::string& rootIdentity = std::string());

// The folders the library's games run from (the folder of each Run path).
std::vector<std::string> LibraryRunFolders(const XmlDocument& library);

// A new game for found, as the new game wizard makes one for a game already
// on disk: a copy of templateEntry with the name, the paths and the program's
// drive mounted under its own letter; a game with only a CD image gets the
// system drive as C and the image as CD drive D.
std::unique_ptr<XmlElement> MakeImportedEntry(XmlElement& templateEntry, const FoundGame& found,
                                              char systemDrive);
