// Where the program keeps its files, and the process-wide state that the rest
// of the launcher reads: the folders, the game database and the preset
// executable of the -run mode.
#pragma once

#include <memory>
#include <string>

#include "launcher/FileStamp.h"
#include "xml/Xml.h"

// The folders and paths are Windows paths in the program itself; the portable
// build (tests only) uses the host's separator so that the same code touches
// real files on both systems.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Paths travel in buffers of this size throughout the launcher (999
// characters and the terminating zero).
constexpr std::size_t kPathBufferSize = 1000;

// The folders and paths are UTF-8 from the moment they are read from the
// system, like every other text of the program; the Windows calls that use
// them take the wide form (xml/FileNames.h), so that a folder outside the
// ANSI code page is still reached.
extern std::string ProgramFolder;
extern std::string ProfileFolder;
extern std::string DatabasePath;
extern std::string PresetExecutable;
extern std::unique_ptr<XmlDocument> GameDatabase;

// folder + separator + name.
std::string JoinPath(const std::string& folder, const char* name);

// The path with everything from its last separator on removed; the path
// itself when it has none.
std::string FolderOfPath(const std::string& path);

struct StorageFolders {
  std::string programFolder;
  std::string profileFolder;
  std::string databasePath;
};

// What deciding the folders needs from the system, passed in so that both
// outcomes can be tried without a read-only disk.
struct FolderServices {
  bool (*isWritable)(const std::string& folder);
  std::string (*appDataFolder)();                 // the per-user application-data folder
  void (*createFolder)(const std::string& folder);  // errors (it exists) are ignored
};

// The program folder, when it can be written, holds the database and the
// profile; otherwise the database goes to "<app data>\Vantle\vtl.xml" and the
// profile to the application-data folder itself.
StorageFolders SettleFolders(const std::string& modulePath, const FolderServices& services);

// Whether a file can be created in folder. Creates "woa.exe" there and removes
// it again; a file of that name that is already there is never opened or
// removed (another free name is tried instead).
bool ProbeFolderWritable(const std::string& folder);

bool FileExists(const std::string& path);

// Whether path names a file that can be opened for reading now.
bool CanOpenForReading(const std::string& path);

// What whoever shows the library wants to hear of its saves. Any may be null.
struct LibraryEvents {
  // Games came in with, or went with, another program's save: everything
  // that points at games of the library must be made again.
  void (*merged)() = nullptr;
  // A save did not write over the file; the text says why and where the
  // library went instead.
  void (*notSaved)(const std::string& text) = nullptr;
  // A game that must stay in memory whatever the file did (one open in an
  // editor).
  bool (*pinned)(const XmlElement* game) = nullptr;
};
extern LibraryEvents LibraryEventHandlers;

// Notes which games GameDatabase holds as read from its file, and the file's
// stamp taken just before it was read: what the next save compares with.
void RememberLibraryAsRead(const FileStamp& stampBeforeRead);

// The same, with the games noted later on a thread of their own: from
// StartNotingLibraryAsRead on, while the window shows the list, GameDatabase
// may be read but nothing may change it until AwaitLibraryAsRead has
// returned. Before that start nothing else reads it, so the first fill of the
// list may complete its games.
void RememberLibraryAsReadMeanwhile(const FileStamp& stampBeforeRead);
void StartNotingLibraryAsRead();
// Returns once the games of the library as read are noted (noting them here
// when that was not started; at once when nothing is to be noted).
void AwaitLibraryAsRead();

// Writes GameDatabase to its file, unless it is missing or not intact (then a
// save could only lose games). When another program saved the file since it
// was read or last saved here, the file is read first and its changes are
// merged into memory, game by game; when it cannot be read, it is left as it
// is and memory goes beside it to the first free "<file>.unsaved",
// "<file>.unsaved.1", ... instead. False when the file was not written.
bool SaveGameDatabase();
