#include "launcher/Storage.h"

#include <cerrno>
#include <cstdio>

#include "xml/FileNames.h"

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

bool SaveGameDatabase() {
  return GameDatabase && GameDatabase->IsIntact() && GameDatabase->Save();
}
