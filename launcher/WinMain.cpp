// Entry point of vtl64.exe: prepares the libraries the windows need, settles
// where the files live, opens the game database, runs the main window and
// writes the database back when it closes.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "launcher/CommandLine.h"
#include "launcher/DatabaseOpen.h"
#include "launcher/DefaultProfile.h"
#include "launcher/LaunchThreads.h"
#include "launcher/window/LibraryHolder.h"
#include "launcher/window/MainWindow.h"
#include "launcher/Storage.h"
#include "text/AnsiText.h"
#include "text/TextConvert.h"

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
  wchar_t path[MAX_PATH] = L"";
  LPITEMIDLIST list = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &list)) && list) {
    if (!SHGetPathFromIDListW(list, path)) path[0] = L'\0';
    CoTaskMemFree(list);
  }
  return Utf8FromWide(path);
}

void CreateFolder(const std::string& folder) { CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr); }

void ShowMessage(const std::string& text, UINT icon) {
  MessageBoxW(nullptr, WideFromUtf8(text).c_str(), L"Vantle", MB_OK | icon);
}

// The program's own path as UTF-8; false when it is longer than the
// launcher's 999 characters.
bool ReadModulePath(std::string& modulePath) {
  wchar_t path[kPathBufferSize];
  const DWORD length = GetModuleFileNameW(nullptr, path, kPathBufferSize);
  if (length == 0 || length >= kPathBufferSize - 1) return false;
  modulePath = Utf8FromWide(std::wstring(path, length));
  return true;
}

// Whether the command line asks for the main window, as a start without
// arguments does.
bool OpensWindow() {
  const std::vector<std::string> arguments = CommandLineArgumentsUtf8();
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return ReadCommandLine(static_cast<int>(argv.size()), argv.data()).kind == CommandLineRequest::None;
}

FileStamp LibraryStampBeforeRead;

// The library as opened becomes the program's; an unreadable one was kept
// aside, and the user is told where. Nothing when nothing was opened.
void TakeLibrary(OpenedDatabase opened) {
  if (!opened.document) return;
  GameDatabase = std::move(opened.document);
  RememberLibraryAsReadMeanwhile(opened.damaged ? ReadFileStamp(DatabasePath) : LibraryStampBeforeRead);
  if (opened.damaged) ShowMessage(DamagedDatabaseMessage(DatabasePath, opened), MB_ICONWARNING);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  PresetExecutable.clear();

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
  // One window per library: a second start goes to the first one's window.
  if (const int handedOver = DeferToLibraryWindow(DatabasePath); handedOver >= 0) return handedOver;

  // Stamped before it is read: a save that lands in between shows as a
  // change at the next save here, never as none.
  LibraryStampBeforeRead = ReadFileStamp(DatabasePath);
  // The window is made while the library is read; a command-line mode needs
  // the library at once and mostly shows no window, so it reads it here.
  if (OpensWindow()) {
    StartOpeningGameDatabase(DatabasePath);
    TakeLibraryBeforeFill = [] { TakeLibrary(FinishOpeningGameDatabase()); };
    PrepareWindows(instance);
  } else {
    PrepareWindows(instance);
    TakeLibrary(OpenGameDatabase(DatabasePath));
  }

  SetDefaultProfileSource(EmbeddedProfile);
  EnsureDefaultProfile();

  // The wide dialog: game names show, and are typed, in any language.
  DialogBoxParamW(instance, L"DIALOG_1", nullptr, MainDialogProc, 0);
  // The window is gone; launches still in their first seconds end here.
  FinishLaunches();
  // A window that never came up leaves its library still to take.
  TakeLibrary(FinishOpeningGameDatabase());

  SaveGameDatabase();
  GameDatabase.reset();
  return 0;
}
