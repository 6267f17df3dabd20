#include "launcher/window/PickPath.h"

#include <commdlg.h>
#include <shlobj.h>

#include "launcher/Storage.h"
#include "text/TextConvert.h"

namespace {

// What both file dialogs share: the owner, the filter, and path (which the
// dialog fills in) starting as initial.
OPENFILENAMEW FileDialog(HWND owner, const wchar_t* filter, wchar_t* path,
                         const std::string& initial) {
  const std::wstring start = WideFromUtf8(initial);
  const std::size_t length = start.size() < kPathBufferSize ? start.size() : 0;
  start.copy(path, length);
  path[length] = L'\0';
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = static_cast<DWORD>(kPathBufferSize);
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  return dialog;
}

}  // namespace

bool PickProgramFile(HWND owner, const wchar_t* title, const std::string& initial,
                     std::string& chosen) {
  wchar_t path[kPathBufferSize];
  OPENFILENAMEW dialog =
      FileDialog(owner, L"*.EXE;*.COM;*.BAT\0*.EXE;*.COM;*.BAT\0", path, initial);
  dialog.lpstrTitle = title;
  if (!GetOpenFileNameW(&dialog)) {
    // A value that is no host path (a path inside DOSBox, a typo) must not
    // keep the dialog from opening at all.
    if (CommDlgExtendedError() != FNERR_INVALIDFILENAME || !path[0]) return false;
    path[0] = L'\0';
    if (!GetOpenFileNameW(&dialog)) return false;
  }
  chosen = Utf8FromWide(path);
  return true;
}

bool PickFolder(HWND owner, std::string& chosen) {
  BROWSEINFOW browse{};
  browse.hwndOwner = owner;
  LPITEMIDLIST folder = SHBrowseForFolderW(&browse);
  if (!folder) return false;
  wchar_t path[MAX_PATH] = L"";
  const bool found = SHGetPathFromIDListW(folder, path) != FALSE;
  CoTaskMemFree(folder);
  if (!found) return false;
  chosen = Utf8FromWide(path);
  return true;
}

bool PickConfSaveFile(HWND owner, const std::string& proposed, const std::string& startFolder,
                      std::string& chosen) {
  wchar_t path[kPathBufferSize];
  OPENFILENAMEW dialog = FileDialog(owner, L"CONF Files (*.conf)\0*.conf\0", path, proposed);
  const std::wstring folder = WideFromUtf8(startFolder);
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrDefExt = L"conf";
  dialog.Flags |= OFN_OVERWRITEPROMPT;
  if (!GetSaveFileNameW(&dialog)) return false;
  chosen = Utf8FromWide(path);
  return true;
}
