#include "launcher/window/ImportGames.h"

#include <commctrl.h>
#include <winternl.h>

#include <cwctype>

#include <atomic>
#include <thread>
#include <vector>

#include "launcher/DefaultProfile.h"
#include "launcher/GameLaunch.h"
#include "launcher/GameSchema.h"
#include "launcher/ImportScan.h"
#include "launcher/Storage.h"
#include "launcher/window/GameList.h"
#include "launcher/window/NewGameWizard.h"
#include "launcher/window/PickPath.h"
#include "resource.h"
#include "text/TextConvert.h"

namespace {

constexpr UINT kScanDone = WM_APP + 1;
constexpr UINT_PTR kProgressTimer = 1;

// The identity of a folder, the same for every path that reaches it (through
// a link, a junction or another spelling): the drive of the path and the
// folder's file number. The file number is asked of the file system alone;
// the volume's serial number would need the volume itself, which Wine does
// not open for its drive of the whole Linux file system.
std::string Identity(const std::wstring& path, LONGLONG fileNumber) {
  const wchar_t drive = path.size() >= 2 && path[1] == L':' ? static_cast<wchar_t>(towupper(path[0])) : L'\\';
  return Utf8FromWide(std::wstring(1, drive)) + ":" + std::to_string(fileNumber);
}

std::string FolderIdentity(const std::wstring& path) {
  HANDLE folder = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return std::string();
  IO_STATUS_BLOCK status{};
  FILE_INTERNAL_INFORMATION information{};
  const NTSTATUS result = NtQueryInformationFile(folder, &status, &information, sizeof(information),
                                                 FileInternalInformation);
  CloseHandle(folder);
  if (result < 0) return std::string();
  return Identity(path, information.IndexNumber.QuadPart);
}

// One open folder listed a buffer at a time, each entry with its file number,
// so that a folder's identity costs nothing beyond the listing. Only a link
// is opened on its own: its listed number is the link's, not its target's.
bool ListFolder(const std::string& folder, std::vector<FolderItem>& items) {
  const std::wstring wideFolder = WideFromUtf8(folder);
  HANDLE handle = CreateFileW(wideFolder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const std::wstring prefix = wideFolder + (wideFolder.empty() || wideFolder.back() != L'\\' ? L"\\" : L"");
  alignas(LONGLONG) static thread_local unsigned char buffer[64 * 1024];
  bool listed = true;
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
    if (!GetFileInformationByHandleEx(handle, kind, buffer, sizeof(buffer))) {
      listed = GetLastError() == ERROR_NO_MORE_FILES;
      break;
    }
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        FolderItem item;
        item.name = Utf8FromWide(name);
        item.folder = (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        item.size = static_cast<std::uint64_t>(entry->EndOfFile.QuadPart);
        if (item.folder)
          item.identity = (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FolderIdentity(prefix + name)
                                                                                 : Identity(prefix, entry->FileId.QuadPart);
        items.push_back(std::move(item));
      }
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
  CloseHandle(handle);
  return listed;
}

// Adds games to the library as new entries of the default profile's
// template; false when the template cannot be read.
bool AddGames(const std::vector<FoundGame>& games) {
  XmlDocument profile(DefaultProfilePath().c_str());
  XmlElement* templateEntry = TemplateEntry(profile);
  if (!templateEntry || !GameDatabase) return false;
  const char drive = SystemDriveLetter();
  XmlElement* library = GamesOf(*GameDatabase);
  for (const FoundGame& game : games) library->AddChild(MakeImportedEntry(*templateEntry, game, drive));
  return true;
}

std::wstring SkippedText(const ImportScan& scan) {
  std::wstring text;
  auto add = [&text](int count, const wchar_t* what) {
    if (count > 0) text += L"\r\n" + std::to_wstring(count) + L" " + what;
  };
  add(scan.alreadyKnown, L"already in the library");
  add(scan.unreadable, L"that could not be read");
  add(scan.loops, L"reached again through a link");
  add(scan.badNames, L"with names DOS cannot carry (control characters)");
  return text.empty() ? text : L"\r\n\r\nFolders skipped:" + text;
}

// --- the dialog -------------------------------------------------------------------

struct ImportState {
  std::string root;  // the folder of the last scan
  std::thread worker;
  std::atomic<int> listed{0};
  std::atomic<bool> cancel{false};
  ImportScan scan;
  bool scanning = false;
  bool closing = false;
};

ImportState* StateOf(HWND dialog) { return reinterpret_cast<ImportState*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

HWND ListOf(HWND dialog) { return GetDlgItem(dialog, IDC_IMPORT_LIST); }

void SetStatus(HWND dialog, const std::wstring& text) { SetDlgItemTextW(dialog, IDC_IMPORT_STATUS, text.c_str()); }

// A path as the list shows it: from the chosen folder on, which the user
// just typed or picked.
std::string Shown(const std::string& path, const std::string& root) {
  if (root.empty() || path.compare(0, root.size(), root) != 0) return path;
  std::size_t from = root.size();
  while (from < path.size() && (path[from] == '\\' || path[from] == '/')) ++from;
  return path.substr(from);
}

void SetCell(HWND list, int index, int column, const std::string& text) {
  std::wstring wide = WideFromUtf8(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

void OnInitDialog(HWND dialog, ImportState* state) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
  HWND list = ListOf(dialog);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  RECT area;
  GetClientRect(list, &area);
  const wchar_t* const headers[] = {L"Name", L"Program", L"Installer or CD image"};
  const int widths[] = {area.right * 3 / 10, area.right * 4 / 10, area.right * 3 / 10 - GetSystemMetrics(SM_CXVSCROLL)};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(headers[i]);
    column.cx = widths[i];
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
  SetStatus(dialog, L"Choose the folder that holds your games, one folder for each game, then Find Games.");
  SetFocus(GetDlgItem(dialog, IDC_IMPORT_FOLDER));
  if (!state->root.empty()) {
    SetDlgItemTextW(dialog, IDC_IMPORT_FOLDER, WideFromUtf8(state->root).c_str());
    PostMessageW(dialog, WM_COMMAND, IDC_IMPORT_FIND, 0);
  }
}

void StartScan(HWND dialog) {
  ImportState* state = StateOf(dialog);
  if (state->scanning) return;
  wchar_t typed[kPathBufferSize] = L"";
  GetDlgItemTextW(dialog, IDC_IMPORT_FOLDER, typed, static_cast<int>(kPathBufferSize));
  const std::string folder = Utf8FromWide(typed);
  if (folder.empty()) return;
  if (state->worker.joinable()) state->worker.join();
  state->scanning = true;
  state->root = folder;
  state->listed = 0;
  state->cancel = false;
  SendMessageW(ListOf(dialog), LVM_DELETEALLITEMS, 0, 0);
  EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_IMPORT_FIND), FALSE);
  SetStatus(dialog, L"Looking for games...");
  SetTimer(dialog, kProgressTimer, 100, nullptr);
  const std::vector<std::string> known = LibraryRunFolders(*GameDatabase);
  // The scan reads folders only; the library is read before it starts and
  // changed on this thread after it ends.
  state->worker = std::thread([dialog, state, folder, known] {
    state->scan = ScanForGames(folder, ListFolder, known, [state](int listed) { state->listed = listed; },
                               &state->cancel, FolderIdentity(WideFromUtf8(folder)));
    PostMessageW(dialog, kScanDone, 0, 0);
  });
}

void OnScanDone(HWND dialog) {
  ImportState* state = StateOf(dialog);
  state->worker.join();
  state->scanning = false;
  KillTimer(dialog, kProgressTimer);
  EnableWindow(GetDlgItem(dialog, IDC_IMPORT_FIND), TRUE);
  if (state->closing) {
    EndDialog(dialog, IDCANCEL);
    return;
  }
  HWND list = ListOf(dialog);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const std::vector<FoundGame>& games = state->scan.games;
  for (int i = 0; i < static_cast<int>(games.size()); ++i) {
    const FoundGame& game = games[static_cast<std::size_t>(i)];
    std::wstring name = WideFromUtf8(game.name);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = i;
    item.pszText = name.data();
    item.lParam = i;
    const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    SetCell(list, index, 1, Shown(game.run, state->root));
    SetCell(list, index, 2, Shown(game.image.empty() ? game.install : game.image, state->root));
    LVITEMW check{};
    check.stateMask = LVIS_STATEIMAGEMASK;
    check.state = INDEXTOSTATEIMAGEMASK(2);
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&check));
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  std::wstring status = state->scan.cancelled ? L"Stopped. " : L"";
  status += std::to_wstring(games.size()) + (games.size() == 1 ? L" game found" : L" games found");
  status += games.empty() ? L"." : L": untick what you do not want, click a name to change it, then Add.";
  SetStatus(dialog, status);
  EnableWindow(GetDlgItem(dialog, IDOK), !games.empty());
  if (!games.empty()) {
    SendMessageW(dialog, DM_SETDEFID, IDOK, 0);
    SetFocus(list);
  }
}

void OnAdd(HWND dialog) {
  ImportState* state = StateOf(dialog);
  if (state->scanning) return;
  HWND list = ListOf(dialog);
  std::vector<FoundGame> chosen;
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int index = 0; index < count; ++index) {
    const LRESULT checked = SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_STATEIMAGEMASK);
    if ((checked & LVIS_STATEIMAGEMASK) != INDEXTOSTATEIMAGEMASK(2)) continue;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    chosen.push_back(state->scan.games[static_cast<std::size_t>(item.lParam)]);
  }
  if (!AddGames(chosen)) {
    MessageBoxW(dialog, L"The default profile for new games (defrc.xml) cannot be read.", L"Vantle", MB_OK | MB_ICONERROR);
    return;
  }
  // One save for all of them, through the same atomic replacement as every
  // other save.
  const bool saved = SaveGameDatabase();
  FillGameList(GameListWindow);
  EndDialog(dialog, IDOK);
  std::wstring text = L"Added " + std::to_wstring(chosen.size()) + (chosen.size() == 1 ? L" game" : L" games") +
                      L" to the library." + SkippedText(state->scan);
  if (!saved) text += L"\r\n\r\nThe library could not be saved; it will be saved again when Vantle closes.";
  MessageBoxW(GetParent(dialog), text.c_str(), L"Vantle", MB_OK | (saved ? MB_ICONINFORMATION : MB_ICONWARNING));
}

void OnCancel(HWND dialog) {
  ImportState* state = StateOf(dialog);
  if (state->scanning) {
    // The scan stops at the next folder; the dialog closes when it has.
    state->cancel = true;
    state->closing = true;
    return;
  }
  EndDialog(dialog, IDCANCEL);
}

void OnBrowse(HWND dialog) {
  std::string folder;
  if (PickFolder(dialog, folder)) {
    SetDlgItemTextW(dialog, IDC_IMPORT_FOLDER, WideFromUtf8(folder).c_str());
    StartScan(dialog);
  }
}

// A renamed game keeps its new name for the add; an empty name is refused.
BOOL OnEndLabelEdit(HWND dialog, const NMLVDISPINFOW* info) {
  if (!info->item.pszText || !info->item.pszText[0]) return FALSE;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = info->item.iItem;
  SendMessageW(ListOf(dialog), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  StateOf(dialog)->scan.games[static_cast<std::size_t>(item.lParam)].name = Utf8FromWide(info->item.pszText);
  return TRUE;
}

INT_PTR CALLBACK ImportDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog, reinterpret_cast<ImportState*>(lParam));
      return FALSE;  // the focus was set
    case WM_TIMER:
      SetStatus(dialog, L"Looking for games... " + std::to_wstring(StateOf(dialog)->listed.load()) + L" folders read.");
      return TRUE;
    case kScanDone:
      OnScanDone(dialog);
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == IDC_IMPORT_LIST && header->code == LVN_ENDLABELEDITW) {
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, OnEndLabelEdit(dialog, reinterpret_cast<const NMLVDISPINFOW*>(lParam)));
        return TRUE;
      }
      return FALSE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          // Enter in the folder field looks; once games are shown, it adds.
          if (GetFocus() == GetDlgItem(dialog, IDC_IMPORT_FOLDER)) StartScan(dialog);
          else OnAdd(dialog);
          return TRUE;
        case IDC_IMPORT_FIND:
          StartScan(dialog);
          return TRUE;
        case IDC_IMPORT_BROWSE:
          OnBrowse(dialog);
          return TRUE;
        case IDCANCEL:
          OnCancel(dialog);
          return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      OnCancel(dialog);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void OpenImportDialog(HWND owner, const std::string& folder) {
  if (!GameDatabase) return;
  ImportState state;
  state.root = folder;
  DialogBoxParamW(GetModuleHandleW(nullptr), L"DIALOG_IMPORT", owner, ImportDialogProc,
                  reinterpret_cast<LPARAM>(&state));
  if (state.worker.joinable()) state.worker.join();
}

int ImportFolderQuietly(const std::string& folder) {
  if (!GameDatabase) return 2;
  std::vector<FolderItem> probe;
  if (!ListFolder(folder, probe)) return 1;
  const ImportScan scan = ScanForGames(folder, ListFolder, LibraryRunFolders(*GameDatabase), nullptr, nullptr,
                                      FolderIdentity(WideFromUtf8(folder)));
  if (!AddGames(scan.games)) return 2;
  return SaveGameDatabase() ? 0 : 2;
}
