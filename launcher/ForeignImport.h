// Bringing another front end's whole library in: which kind of library a
// path is (or holds), its games read and compared with the library's, and
// the lines that tell the user what came across and what did not.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "launcher/EngineList.h"
#include "launcher/ForeignFiles.h"
#include "launcher/ForeignGame.h"
#include "xml/Xml.h"

// The front end whose library path is or holds (kDFendSource,
// kLaunchBoxSource, kDbglSource, kExoSource), or null when it is none.
const char* ForeignLibraryKind(const ForeignFiles& files, const std::string& path);

struct ForeignReview {
  const char* source = nullptr;      // null when path is no library of another front end
  std::vector<ForeignGame> games;    // those the library does not hold yet
  std::vector<BrokenProfile> broken;
  int alreadyKnown = 0;  // games whose program the library (or an earlier game of the import) has already
  // The entry of each game, made while reviewing so that the review can say
  // everything that will not be carried (settings included).
  std::vector<std::unique_ptr<XmlElement>> entries;
};

// Reads the library at path and leaves out the games whose program (or
// installer, for a game without one) is one of knownPrograms (as
// LibraryProgramPaths gives them), case aside. Each game's entry is made
// from templateEntry, and chooses the engine of engines that fits the DOSBox
// the other front end named for it (ForeignEngineName).
ForeignReview ReviewForeignLibrary(const ForeignFiles& files, const std::string& path,
                                   const std::vector<std::string>& knownPrograms, const XmlElement& templateEntry,
                                   const EngineList& engines = EngineList());

// The entry of review's game number index under the game's name now (the
// user may have renamed it), taken out of the review.
std::unique_ptr<XmlElement> TakeForeignEntry(ForeignReview& review, std::size_t index);

// The host paths of the programs and installers of library's games: each
// stored DOS path, and the host path it has through its drive's folder
// mount. A game with neither (one whose files are still zipped) is known
// instead by its name and its first mount's folder, as
// ReviewForeignLibrary compares such games.
std::vector<std::string> LibraryProgramPaths(const XmlDocument& library);

// "Not carried: a; b" for the review list, or "" when everything came.
std::string NotCarriedLine(const ForeignGame& game);

// The closing lines about the files that could not be read: one line for
// each, "file: reason".
std::string BrokenProfilesText(const std::vector<BrokenProfile>& broken);
