#include "launcher/Storage.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

std::string ProgramFolder;
std::string ProfileFolder;
std::string DatabasePath;
std::string PresetExecutable;
std::unique_ptr<XmlDocument> GameDatabase;

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

namespace {

// Creates the file only if it does not exist yet; -1 when it exists or cannot
// be made.
int CreateNewFile(const std::string& path) {
#ifdef _WIN32
  return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
#endif
}

void CloseFile(int fd) {
#ifdef _WIN32
  _close(fd);
#else
  close(fd);
#endif
}

}  // namespace

bool ProbeFolderWritable(const std::string& folder) {
  // Opening "woa.exe" for writing would empty a file of that name that
  // belongs to someone else, so the probe only ever creates a new file.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::string name = attempt == 0 ? std::string("woa.exe")
                                          : "woa" + std::to_string(attempt) + ".exe";
    const std::string path = JoinPath(folder, name.c_str());
    const int fd = CreateNewFile(path);
    if (fd >= 0) {
      CloseFile(fd);
      std::remove(path.c_str());
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool CanOpenForReading(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool SaveGameDatabase() {
  return GameDatabase && GameDatabase->IsIntact() && GameDatabase->Save();
}
