#include "launcher/GameLaunch.h"

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "launcher/EntryEditor.h"
#include "launcher/GameSchema.h"
#include "launcher/LaunchPlan.h"
#include "launcher/Storage.h"
#include "launcher/window/GameList.h"
#include "text/AnsiText.h"
#include "text/TextConvert.h"

HWND GameListWindow = nullptr;

namespace {

// DOSBox is given this long to read its configuration before the file goes.
constexpr DWORD kConfReadMilliseconds = 3000;

// Starts commandLine (UTF-8) with the launcher's environment and folder.
// Whether it started is not reported: a missing DOSBox shows nothing.
void StartDosBox(const std::string& commandLine) {
  std::wstring line = WideFromUtf8(commandLine);
  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

// The configuration file's path as DOSBox can open it: DOSBox reads its
// arguments in the ANSI code page, so a path outside it is handed over in
// its short form, where the system has one.
std::string PathForDosBox(const std::string& path) {
  std::string ansi;
  if (Utf8ToAnsi(path, ansi)) return path;
  wchar_t shortPath[kPathBufferSize];
  const DWORD length = GetShortPathNameW(WideFromUtf8(path).c_str(), shortPath, kPathBufferSize);
  if (length == 0 || length >= kPathBufferSize) return path;
  const std::string shortUtf8 = Utf8FromWide(std::wstring(shortPath, length));
  return Utf8ToAnsi(shortUtf8, ansi) ? shortUtf8 : path;
}

}  // namespace

XmlElement* ListItemEntry(HWND list, int index) {
  if (!list || index < 0) return nullptr;
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  return reinterpret_cast<XmlElement*>(item.lParam);
}

void RunGame(HWND list, int index, LaunchMode mode, XmlElement* entry) {
  if (!entry) entry = ListItemEntry(list, index);
  if (!entry) return;

  // The system makes the name unique by creating the file; the writer then
  // creates it again.
  wchar_t tempPath[MAX_PATH] = L"";
  std::string confPath;
  if (GetTempFileNameW(WideFromUtf8(ProfileFolder).c_str(), L"woa", 0, tempPath)) {
    DeleteFileW(tempPath);
    confPath = Utf8FromWide(tempPath);
  }
  const std::wstring confFile = WideFromUtf8(confPath);

  if (!WriteLaunchConf(entry, confPath, mode)) {
    if (!confPath.empty()) DeleteFileW(confFile.c_str());
    OpenEntryEditor(list, index, nullptr);
    return;
  }
  StartDosBox(GameLaunchCommandLine(ProgramFolder, LaunchParameters(entry), PathForDosBox(confPath)));
  // The window does not answer while DOSBox reads its file; the busy cursor
  // says so.
  const HCURSOR previous = SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
  Sleep(kConfReadMilliseconds);
  SetCursor(previous);
  DeleteFileW(confFile.c_str());
}

void RunConfFile(const char* path) {
  StartDosBox(ConfCommandLine(ProgramFolder, path ? path : ""));
  Sleep(kConfReadMilliseconds);
  ExitProcess(0);
}

void RunShortcut(const char* argument) {
  if (!argument) return;
  // The argument comes in the system's ANSI code page, the names are UTF-8
  // and may hold characters outside it; a link file holds UTF-8 already.
  std::string name = CommandLineArgumentUtf8(argument);
  if (CanOpenForReading(argument) && !ReadGameLinkName(argument, name)) return;

  const int count = static_cast<int>(SendMessageA(GameListWindow, LVM_GETITEMCOUNT, 0, 0));
  for (int index = 0; index < count; ++index) {
    if (GameListText(GameListWindow, index, 1) != name) continue;
    RunGame(GameListWindow, index, LaunchMode::Run, nullptr);
    ExitProcess(0);
  }
}
