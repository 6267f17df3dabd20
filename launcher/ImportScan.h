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
  std::string identity;     // folders only: the same for every path of one folder (FolderIdentityText), or empty
};

// Lists folder (a full path, UTF-8) into items; false when it cannot be read.
using ListFolderFunction = std::function<bool(const std::string& folder, std::vector<FolderItem>& items)>;

// The identity of the folder at a path (FolderIdentityText), or empty when it
// cannot be known.
using IdentifyFunction = std::function<std::string(const std::string& folder)>;

// A folder's identity from its volume's serial number and its file number:
// the same whichever path reaches the folder (a link, another drive letter).
// Empty for file number 0, which file systems without file numbers report
// for everything, so that such folders are never taken for one another.
std::string FolderIdentityText(std::uint32_t volumeSerial, std::uint64_t fileNumber);

// A game found under the chosen folder.
struct FoundGame {
  std::string folder;   // full path of the game's folder
  std::string name;     // from the folder's name; the user may change it before adding
  std::string run;      // full path of the program, or empty
  std::string install;  // full path of the installer, or empty
  std::string image;    // full path of a CD image (.cue before .iso), or empty
  std::string publisher;  // the folder between the chosen one and the game's (a publisher or series), or empty
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
// among the names of the folder's DOS programs: never an installer, an
// uninstaller or a set-up tool; a launcher batch file (GO, RUN, START, PLAY
// or named like the folder) first, then a name like the folder's, then the
// only one left, then the largest. Empty when there is none. sizes holds
// each name's size.
std::string ChooseProgram(const std::string& folderName, const std::vector<std::string>& names,
                          const std::vector<std::uint64_t>& sizes);

// The installer among names (INSTALL before SETUP), or empty.
std::string ChooseInstaller(const std::vector<std::string>& names);

// Looks for games in the chosen folder's subfolders and theirs (a game's own
// subfolders are not games of their own; a game two levels down keeps the
// folder above it as its publisher). knownFolders are the folders the
// library's games run from: a found folder is known when one of them lies in
// it (by path, without regard to case), or when it is one of them or the
// folder above one of them by identity, whatever path reached it. progress,
// when given, is called with the number of folders listed so far; cancel,
// when set, ends the scan early. identify, when given, tells the identity of
// the chosen folder (so that a link back to it is not followed) and of the
// known folders.
ImportScan ScanForGames(const std::string& root, const ListFolderFunction& list,
                        const std::vector<std::string>& knownFolders,
                        const std::function<void(int)>& progress = nullptr,
                        const std::atomic<bool>* cancel = nullptr, const IdentifyFunction& identify = nullptr);

// The folders the library's games run from (the folder of each Run path).
std::vector<std::string> LibraryRunFolders(const XmlDocument& library);

// A new game for found, as the new game wizard makes one for a game already
// on disk: a copy of templateEntry with the name, the publisher (Main's
// attribute Publisher, when there is one), the paths and the program's drive
// mounted under its own letter, and a CD image beside the program as the CD
// drive of the first letter from D on that the program's drive leaves free.
// A game with only a CD image gets the system drive as C and the image as CD
// drive D.
std::unique_ptr<XmlElement> MakeImportedEntry(XmlElement& templateEntry, const FoundGame& found,
                                              char systemDrive);
