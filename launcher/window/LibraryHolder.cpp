#include "launcher/window/LibraryHolder.h"

#include <vector>

#include "launcher/CommandLine.h"
#include "launcher/LibraryHandOver.h"
#include "launcher/Storage.h"
#include "text/AnsiText.h"
#include "text/TextConvert.h"

namespace {

// How long a start waits for the holder's window: the holder may still be
// reading a large library.
constexpr DWORD kWaitForWindowMs = 15000;

// What the named object holds: the main window and its process, once shown.
struct Published {
  LONG64 window;
  DWORD process;
};

HANDLE HeldMapping = nullptr;
Published* HeldView = nullptr;

// Folded by the file system's rules of case, the same whatever the user's
// language (not the window library's CharUpperBuff: it would load that
// library before the game library starts to be read).
std::wstring Upper(std::wstring text) {
  if (!text.empty())
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()), text.data(),
                 static_cast<int>(text.size()));
  return text;
}

// The same for every path that reaches the library: the identity of its
// folder (the file itself gets a new one with every save) and the file's
// name; the full path, case folded, when the folder cannot be asked.
std::string LibraryIdentity(const std::string& databasePath) {
  const std::string folder = FolderOfPath(databasePath);
  const std::string name = Utf8FromWide(Upper(WideFromUtf8(databasePath.substr(folder.size()))));
  HANDLE handle = CreateFileW(WideFromUtf8(folder).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION information;
    const BOOL known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (known)
      return std::to_string(information.dwVolumeSerialNumber) + ":" +
             std::to_string((static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                            information.nFileIndexLow) +
             name;
  }
  wchar_t full[kPathBufferSize] = L"";
  const DWORD length = GetFullPathNameW(WideFromUtf8(databasePath).c_str(), kPathBufferSize, full, nullptr);
  return Utf8FromWide(Upper(length > 0 && length < kPathBufferSize ? full : WideFromUtf8(databasePath)));
}

std::wstring ObjectName(const std::string& databasePath) {
  return WideFromUtf8(LibraryObjectName(LibraryIdentity(databasePath)));
}

// The window of the process that holds the library, waiting up to waitMs
// for it to show one. With take, a library nobody holds is taken (and null
// returned). Null also when the holder showed no window in time: this
// process then goes on beside it, and saves merge what either wrote.
HWND FindHolder(const std::wstring& name, bool take, DWORD waitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    HANDLE mapping = take ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Published),
                                               name.c_str())
                          : OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    if (!mapping) return nullptr;
    const bool heldElsewhere = !take || GetLastError() == ERROR_ALREADY_EXISTS;
    auto* view = static_cast<Published*>(
        MapViewOfFile(mapping, take ? FILE_MAP_ALL_ACCESS : FILE_MAP_READ, 0, 0, sizeof(Published)));
    if (!heldElsewhere) {
      if (view) {
        HeldMapping = mapping;
        HeldView = view;
      } else {
        CloseHandle(mapping);
      }
      return nullptr;
    }
    HWND window = nullptr;
    DWORD process = 0;
    if (view) {
      window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(*reinterpret_cast<volatile LONG64*>(&view->window)));
      process = view->process;
      UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    // A window handle outlives nothing: it must still be the holder's.
    DWORD owner = 0;
    if (window && GetWindowThreadProcessId(window, &owner) && owner == process) return window;
    if (GetTickCount() - start >= waitMs) return nullptr;
    Sleep(50);
  }
}

void BringToFront(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  AllowSetForegroundWindow(process);
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  // A dialog of the window (an editor's question, the import) comes up with it.
  HWND active = GetLastActivePopup(window);
  SetForegroundWindow(active ? active : window);
}

bool HandOver(HWND window, const std::string& folder) {
  // The window has another current folder: a relative path is made whole here.
  wchar_t full[kPathBufferSize] = L"";
  const DWORD length = GetFullPathNameW(WideFromUtf8(folder).c_str(), kPathBufferSize, full, nullptr);
  if (length == 0 || length >= kPathBufferSize) return false;
  const std::string whole = Utf8FromWide(full);
  COPYDATASTRUCT data{kHandOverImport, static_cast<DWORD>(whole.size()), const_cast<char*>(whole.data())};
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  AllowSetForegroundWindow(process);
  DWORD_PTR accepted = FALSE;
  return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 10000,
                             &accepted) &&
         accepted == TRUE;
}

}  // namespace

int DeferToLibraryWindow(const std::string& databasePath) {
  const std::vector<std::string> arguments = CommandLineArgumentsUtf8();
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  const CommandLineRequest request = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
  if (request.kind == CommandLineRequest::None) {
    if (HWND window = FindHolder(ObjectName(databasePath), true, kWaitForWindowMs)) {
      BringToFront(window);
      return 0;
    }
  } else if (request.kind == CommandLineRequest::Import) {
    // No window, or one that does not take the folder (closing, hung): the
    // import runs here, as without a window.
    HWND window = FindHolder(ObjectName(databasePath), false, kWaitForWindowMs);
    if (window && HandOver(window, request.argument)) return kImportHandedOver;
  }
  return -1;
}

bool HoldLibrary(HWND window, const std::string& databasePath) {
  if (!HeldView) {
    if (HWND holder = FindHolder(ObjectName(databasePath), true, 0)) {
      BringToFront(holder);
      return false;
    }
  }
  if (HeldView) {
    HeldView->process = GetCurrentProcessId();
    InterlockedExchange64(&HeldView->window, static_cast<LONG64>(reinterpret_cast<LONG_PTR>(window)));
  }
  return true;
}

bool TakeHandedFolder(const COPYDATASTRUCT* data, std::string& folder) {
  return data && data->dwData == kHandOverImport &&
         ReadHandedFolder(static_cast<const char*>(data->lpData), data->cbData, folder);
}
