// Entry point of vtl64.exe: prepares the libraries the windows need, settles
// where the files live, opens the game database, runs the main window and
// writes the database back when it closes.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "launcher/DatabaseOpen.h"
#include "launcher/DefaultProfile.h"
#include "launcher/window/MainWindow.h"
#include "launcher/Storage.h"

namespace {

ProfileBytes EmbeddedProfile() {
  ProfileBytes bytes;
  HRSRC found = FindResourceA(nullptr, "DEFAULTXML", "DATA");
  if (!found) return bytes;
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (!loaded) return bytes;
  // Resources of the running module stay mapped for the whole run, so the
  // bytes may be used after FreeResource (which does nothing on 64-bit).
  bytes.data = static_cast<const char*>(LockResource(loaded));
  bytes.size = bytes.data ? SizeofResource(nullptr, found) : 0;
  FreeResource(loaded);
  return bytes;
}

std::string AppDataFolder() {
  char path[kPathBufferSize] = "";
  LPITEMIDLIST list = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &list)) && list) {
    if (!SHGetPathFromIDListA(list, path)) path[0] = '\0';
    CoTaskMemFree(list);
  }
  return path;
}

void CreateFolder(const std::string& folder) { CreateDirectoryA(folder.c_str(), nullptr); }

void ShowMessage(const std::string& text, UINT icon) {
  MessageBoxA(nullptr, text.c_str(), "Vantle", MB_OK | icon);
}

// False when the program's own path does not fit the launcher's path buffers.
bool ReadModulePath(std::string& modulePath) {
  char path[kPathBufferSize];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length >= sizeof(path) - 1) return false;
  modulePath.assign(path, length);
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  PresetExecutable.clear();
  PrepareWindows(instance);

  std::string modulePath;
  if (!ReadModulePath(modulePath)) {
    ShowMessage("Vantle cannot run from a folder whose path is longer than 999 characters.",
                MB_ICONERROR);
    return 1;
  }
  const StorageFolders folders =
      SettleFolders(modulePath, FolderServices{ProbeFolderWritable, AppDataFolder, CreateFolder});
  ProgramFolder = folders.programFolder;
  ProfileFolder = folders.profileFolder;
  DatabasePath = folders.databasePath;

  OpenedDatabase opened = OpenGameDatabase(DatabasePath);
  GameDatabase = std::move(opened.document);
  if (opened.damaged) ShowMessage(DamagedDatabaseMessage(DatabasePath, opened), MB_ICONWARNING);

  SetDefaultProfileSource(EmbeddedProfile);
  EnsureDefaultProfile();

  // The wide dialog: game names show, and are typed, in any language.
  DialogBoxParamW(instance, L"DIALOG_1", nullptr, MainDialogProc, 0);

  SaveGameDatabase();
  GameDatabase.reset();
  return 0;
}
