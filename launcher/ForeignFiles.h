// Reading another front end's library: its files reached through two
// functions the caller passes (so that the readers run anywhere), paths
// written on Windows found on a case-sensitive file system, and text in
// whichever encoding the other program wrote it.
#pragma once

#include <functional>
#include <map>
#include <unordered_map>
#include <utility>
#include <string>
#include <vector>

#include "launcher/ImportScan.h"

struct ForeignFiles {
  ListFolderFunction list;
  // The whole file as bytes; false when it cannot be read.
  std::function<bool(const std::string& path, std::string& bytes)> read;
  // Optional: whether a file or folder is at path (names matched as this
  // system matches them), with spelt set to path with its names spelt as
  // stored. Asking costs far less than listing a folder (under Wine no call
  // to its server), so that thousands of games, each in a folder of its own,
  // are found without listing each of those folders.
  std::function<bool(const std::string& path, std::string& spelt)> spell;
};

// The file system of this machine (spell under Wine and on POSIX systems,
// where the stored spelling is known without a listing).
ForeignFiles SystemForeignFiles();

// The separator of this system's paths.
char PathSeparator();

// Text as UTF-8: a byte-order mark dropped, kept as it is when it is valid
// UTF-8, otherwise read as Windows-1252 (what older Windows programs wrote
// in the West).
std::string TextAsUtf8(const std::string& bytes);
// The same in place, so that a buffer read into again and again keeps its
// memory.
void MakeTextUtf8(std::string& bytes);

// Whether a and b are equal, ASCII case aside.
bool SameTextIgnoringCase(const std::string& a, const std::string& b);

// Finds paths as a Windows program wrote them: "\" or "/" between names,
// relative ones starting from a base folder, each name matched first exactly
// and then without regard to case. Listings are kept, so that thousands of
// games in one folder list it once.
class PathFinder {
 public:
  explicit PathFinder(ForeignFiles files) : files_(std::move(files)) {}

  // The path of written (absolute, or relative to base; ".\" and ".."
  // understood) with each name spelt as on disk where it exists. found tells
  // whether the whole path exists; the part that does not is appended as
  // written.
  std::string Find(const std::string& base, const std::string& written, bool* found = nullptr);

  // Find, noting "<what> <written> does not exist" in notCarried when the
  // path is not there.
  std::string FindNoting(const std::string& base, const std::string& written, std::vector<std::string>& notCarried,
                         const char* what);

  // Whether the path (as Find returns it) names a folder.
  bool IsFolder(const std::string& path);

  // The names in folder (spelt as on disk); empty when it cannot be read.
  const std::vector<FolderItem>& List(const std::string& folder);

 private:
  // A folder's items with their names indexed, as written and in lower case
  // (the first of each), so that finding one of thousands of games in their
  // folder is a look-up, not a pass over all of them.
  struct Listing {
    std::vector<FolderItem> items;
    std::unordered_map<std::string, std::size_t> exact, folded;
  };
  const Listing& Listed(const std::string& folder);

  ForeignFiles files_;
  std::map<std::string, Listing> listings_;
};

// path's folder and its last name.
std::string FolderPart(const std::string& path);
std::string NamePart(const std::string& path);
