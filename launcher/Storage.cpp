#include "launcher/Storage.h"

#include <cerrno>
#include <cstdio>
#include <thread>

#include "launcher/LibraryMerge.h"
#include "xml/FileNames.h"

std::string ProgramFolder;
std::string ProfileFolder;
std::string DatabasePath;
std::string PresetExecutable;
std::unique_ptr<XmlDocument> GameDatabase;
LibraryEvents LibraryEventHandlers;

namespace {

// The library's file as last read or written here, and its games then.
struct LibraryBase {
  FileStamp stamp;
  std::vector<GameFingerprint> games;
};
LibraryBase Base;
// Notes Base.games of a library just read while the window shows it; until
// it is started, the noting is pending.
std::thread BaseNoting;
bool NotingPending = false;

std::vector<bool> PinnedGames(const XmlDocument& library) {
  std::vector<bool> pinned;
  XmlElement* games = library.GetRoot() ? library.GetRoot()->FindChild("Games") : nullptr;
  for (unsigned i = 0; games && i < games->GetChildCount(); ++i) {
    const XmlElement* game = games->GetChildren()[i];
    if (std::string(game->GetStoredName()) != "g") continue;
    pinned.push_back(LibraryEventHandlers.pinned && LibraryEventHandlers.pinned(game));
  }
  return pinned;
}

// Reads what another program saved to path and merges it into memory; false
// when the file cannot be read as a library, or kept changing while read.
bool TakeOutsideChanges(const std::string& path) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const FileStamp before = ReadFileStamp(path);
    // A file that is gone holds nothing to keep.
    if (!before.exists) return true;
    XmlDocument file(path.c_str());
    if (ReadFileStamp(path) != before) continue;
    if (file.GetParseStatus() != 0 || !file.GetRoot()) return false;
    const std::vector<GameFingerprint> theirs = FingerprintLibrary(file);
    if (theirs != Base.games) {
      const std::vector<MergedGame> plan =
          PlanLibraryMerge(Base.games, FingerprintLibrary(*GameDatabase), theirs, PinnedGames(*GameDatabase));
      const MergeCounts counts = ApplyLibraryMerge(*GameDatabase, file, plan);
      if ((counts.added > 0 || counts.removed > 0) && LibraryEventHandlers.merged) LibraryEventHandlers.merged();
    }
    Base.stamp = before;
    Base.games = theirs;
    return true;
  }
  return false;
}

std::string FreeUnsavedName(const std::string& path) {
  std::string name = path + ".unsaved";
  for (unsigned n = 1; FileExists(name); ++n) name = path + ".unsaved." + std::to_string(n);
  return name;
}

// Memory's library beside a file that must not be written over.
void KeepBeside(const std::string& path) {
  const std::string keptAs = FreeUnsavedName(path);
  GameDatabase->SetFileName(keptAs.c_str());
  const bool kept = GameDatabase->Save();
  GameDatabase->SetFileName(path.c_str());
  if (!LibraryEventHandlers.notSaved) return;
  std::string text = "The game library was changed by another program, and its file cannot be read now:\r\n" +
                     path + "\r\n\r\nIt was not written over, so nothing in it is lost.";
  text += kept ? "\r\n\r\nThe library as this window holds it was saved beside it as:\r\n" + keptAs
               : "\r\n\r\nThe library as this window holds it could not be saved beside it either; it is "
                 "saved again with the next change.";
  LibraryEventHandlers.notSaved(text);
}

}  // namespace

std::string JoinPath(const std::string& folder, const char* name) {
  std::string path = folder;
  path += kPathSeparator;
  path += name;
  return path;
}

std::string FolderOfPath(const std::string& path) {
  const std::size_t cut = path.rfind(kPathSeparator);
  return cut == std::string::npos ? path : path.substr(0, cut);
}

StorageFolders SettleFolders(const std::string& modulePath, const FolderServices& services) {
  StorageFolders folders;
  folders.programFolder = FolderOfPath(modulePath);
  if (services.isWritable(folders.programFolder)) {
    folders.profileFolder = folders.programFolder;
    folders.databasePath = JoinPath(folders.programFolder, "vtl.xml");
    return folders;
  }
  const std::string appData = services.appDataFolder();
  const std::string databaseFolder = JoinPath(appData, "Vantle");
  services.createFolder(databaseFolder);
  folders.profileFolder = appData;
  folders.databasePath = JoinPath(databaseFolder, "vtl.xml");
  return folders;
}

bool ProbeFolderWritable(const std::string& folder) {
  // Opening "woa.exe" for writing would empty a file of that name that
  // belongs to someone else, so the probe only ever creates a new file.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::string name = attempt == 0 ? std::string("woa.exe")
                                          : "woa" + std::to_string(attempt) + ".exe";
    const std::string path = JoinPath(folder, name.c_str());
    if (std::FILE* file = CreateNewFileUtf8(path)) {
      std::fclose(file);
      RemoveFileUtf8(path);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool CanOpenForReading(const std::string& path) {
  std::FILE* file = OpenFileUtf8(path, "rb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

bool FileExists(const std::string& path) { return PathExistsUtf8(path); }

void RememberLibraryAsRead(const FileStamp& stampBeforeRead) {
  AwaitLibraryAsRead();
  Base.stamp = stampBeforeRead;
  Base.games = GameDatabase ? FingerprintLibrary(*GameDatabase) : std::vector<GameFingerprint>();
}

void RememberLibraryAsReadMeanwhile(const FileStamp& stampBeforeRead) {
  AwaitLibraryAsRead();
  Base.stamp = stampBeforeRead;
  Base.games.clear();
  NotingPending = GameDatabase != nullptr;
}

void StartNotingLibraryAsRead() {
  if (!NotingPending) return;
  NotingPending = false;
  // Fingerprinting a large library takes a noticeable part of reading it;
  // nothing needs the fingerprints until the library changes, and the window
  // shows the list meanwhile.
  BaseNoting = std::thread([] { Base.games = FingerprintLibrary(*GameDatabase); });
}

void AwaitLibraryAsRead() {
  StartNotingLibraryAsRead();
  if (BaseNoting.joinable()) BaseNoting.join();
}

bool SaveGameDatabase() {
  AwaitLibraryAsRead();
  if (!GameDatabase || !GameDatabase->IsIntact() || !GameDatabase->GetFileName()) return false;
  const std::string path = GameDatabase->GetFileName();
  if (ReadFileStamp(path) != Base.stamp && !TakeOutsideChanges(path)) {
    KeepBeside(path);
    return false;
  }
  // The fingerprints of what is written are taken beside the write: both
  // only read the library, and the save takes no longer for them.
  std::vector<GameFingerprint> games;
  std::thread fingerprints([&games] { games = FingerprintLibrary(*GameDatabase); });
  const bool saved = GameDatabase->Save();
  fingerprints.join();
  if (!saved) return false;
  Base.stamp = ReadFileStamp(path);
  Base.games = std::move(games);
  return true;
}
