#include "launcher/window/PickPath.h"

#include <commdlg.h>
#include <shlobj.h>

#include "launcher/Storage.h"
#include "ui/UiText.h"

bool PickProgramFile(HWND owner, const wchar_t* title, const std::string& initial,
                     std::string& chosen) {
  static const wchar_t kFilter[] = L"*.EXE;*.COM;*.BAT\0*.EXE;*.COM;*.BAT\0";
  wchar_t path[kPathBufferSize] = L"";
  const std::wstring start = WideFromUtf8(initial);
  if (start.size() < kPathBufferSize) start.copy(path, start.size());

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = kFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = static_cast<DWORD>(kPathBufferSize);
  dialog.lpstrTitle = title;
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
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
