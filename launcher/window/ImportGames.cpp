#include "launcher/window/ImportGames.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "launcher/DefaultProfile.h"
#include "launcher/ForeignImport.h"
#include "launcher/GameLaunch.h"
#include "launcher/GameSchema.h"
#include "launcher/ImportScan.h"
#include "launcher/Storage.h"
#include "launcher/WindowSettings.h"
#include "launcher/window/GameList.h"
#include "launcher/window/NewGameWizard.h"
#include "launcher/window/PickPath.h"
#include "resource.h"
#include "text/TextConvert.h"

namespace {

constexpr UINT kScanDone = WM_APP + 1;
constexpr UINT_PTR kProgressTimer = 1;

// The folders of one scan, listed and known by identity: the volume's serial
// number and the folder's file number, the same for every path that reaches
// the folder (a link, a junction, and under Wine Z: or a drive letter, whose
// serial numbers both come from the drive that holds the folder itself).
// The serial number costs a round trip to Wine's mount manager, about a
// millisecond, more than listing a small folder; so it is asked of the chosen
// folder, of links and of the folders that hold the library's games only. A
// folder listed inside another, and no link, lies on that one's volume.
// Used on the scan's thread only.
class ScanFolders {
 public:
  explicit ScanFolders(const std::string& root) { Asked(WideFromUtf8(root)); }

  bool List(const std::string& folder, std::vector<FolderItem>& items);
  std::string Identify(const std::string& folder);

 private:
  struct Id {
    DWORD serial = 0;
    std::uint64_t number = 0;
    bool known = false;
  };

  static std::wstring Key(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    for (wchar_t& c : path) c = static_cast<wchar_t>(towupper(c));
    return path;
  }

  static HANDLE Open(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }

  static std::string Text(const Id& id) { return id.known ? FolderIdentityText(id.serial, id.number) : std::string(); }

  // The identity asked of the folder itself, serial number and all.
  const Id& Asked(const std::wstring& path) {
    const auto found = ids_.find(Key(path));
    if (found != ids_.end()) return found->second;
    Id id;
    HANDLE folder = Open(path, FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION information{};
    if (folder != INVALID_HANDLE_VALUE && GetFileInformationByHandle(folder, &information)) {
      id.serial = information.dwVolumeSerialNumber;
      id.number = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
      id.known = id.number != 0;
    }
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    return ids_[Key(path)] = id;
  }

  std::map<std::wstring, Id> ids_;       // by Key of the path
  std::set<std::wstring> listedAbove_;  // folders listed for the library's folders in them, by Key
};

// A library folder is known from the listing of the folder above it, which
// tells the file numbers of all its neighbours at once: a library of
// thousands of games in a few folders costs a few listings, not a file
// opened for each game.
std::string ScanFolders::Identify(const std::string& folder) {
  const std::wstring path = WideFromUtf8(folder), key = Key(path);
  auto found = ids_.find(key);
  if (found != ids_.end()) return Text(found->second);
  const std::size_t slash = key.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return Text(Asked(path));  // a drive's root
  std::wstring above = path.substr(0, slash);
  if (!above.empty() && above.back() == L':') above += L'\\';
  std::vector<FolderItem> ignored;
  if (listedAbove_.insert(Key(above)).second) List(Utf8FromWide(above), ignored);
  found = ids_.find(key);
  return found == ids_.end() ? std::string() : Text(found->second);
}

// One open folder listed a buffer at a time, each entry with its file number,
// so that a folder's identity costs nothing beyond the listing. Only a link
// is asked on its own: its listed number may be the link's, and its target
// may lie on another volume.
bool ScanFolders::List(const std::string& folder, std::vector<FolderItem>& items) {
  const std::wstring wideFolder = WideFromUtf8(folder);
  const Id own = Asked(wideFolder);  // known from the listing of the folder above it, but for the chosen one
  HANDLE handle = Open(wideFolder, FILE_LIST_DIRECTORY);
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
        if (item.folder && (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          item.identity = Text(Asked(prefix + name));
        } else if (item.folder) {
          const std::uint64_t number = static_cast<std::uint64_t>(entry->FileId.QuadPart);
          // A folder asked before (one that holds library games) keeps what it was asked.
          item.identity = Text(ids_.emplace(Key(prefix + name), Id{own.serial, number, own.known && number != 0}).first->second);
        }
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

// Reads another front end's library at path, its entries made from the
// default profile's template; no source when path is none or the template
// cannot be read.
ForeignReview ReviewForeign(const ForeignFiles& files, const std::string& path,
                            const std::vector<std::string>& knownPrograms) {
  XmlDocument profile(DefaultProfilePath().c_str());
  XmlElement* templateEntry = TemplateEntry(profile);
  if (!templateEntry) return ForeignReview();
  return ReviewForeignLibrary(files, path, knownPrograms, *templateEntry, ReadEngineList(EngineListPath()));
}

// What a look into the chosen folder found: another front end's library
// (foreign.source set), or else the game folders it holds.
struct FolderLook {
  bool listed = false;  // whether the chosen folder itself could be listed
  ForeignReview foreign;
  ImportScan scan;
};

// Looks into folder as another front end's library first, then as a folder
// of game folders. The folder is listed once for both: under Wine every entry
// of a listing costs file system calls, and a folder of games holds
// thousands.
FolderLook LookIntoFolder(const std::string& folder, const std::vector<std::string>& knownFolders,
                          const std::vector<std::string>& knownPrograms, const std::function<void(int)>& progress,
                          const std::atomic<bool>* cancel) {
  FolderLook look;
  ScanFolders folders(folder);
  std::vector<FolderItem> rootItems;
  look.listed = folders.List(folder, rootItems);
  ForeignFiles files = SystemForeignFiles();
  const ListFolderFunction systemList = files.list;
  files.list = [&](const std::string& path, std::vector<FolderItem>& items) {
    if (!look.listed || path != folder) return systemList(path, items);
    items = rootItems;
    return true;
  };
  look.foreign = ReviewForeign(files, folder, knownPrograms);
  if (look.foreign.source) return look;
  bool rootGiven = !look.listed;  // a folder that could not be listed is asked again, and counted
  look.scan = ScanForGames(
      folder,
      [&](const std::string& path, std::vector<FolderItem>& items) {
        if (rootGiven || path != folder) return folders.List(path, items);
        rootGiven = true;
        items = std::move(rootItems);
        return true;
      },
      knownFolders, progress, cancel, [&folders](const std::string& path) { return folders.Identify(path); });
  return look;
}

// Adds the chosen games (their numbers in the review) to the library.
bool AddForeignGames(ForeignReview& review, const std::vector<std::size_t>& chosen) {
  if (!GameDatabase) return false;
  XmlElement* library = GamesOf(*GameDatabase);
  for (std::size_t index : chosen)
    if (std::unique_ptr<XmlElement> entry = TakeForeignEntry(review, index)) library->AddChild(std::move(entry));
  return true;
}

// What an import of another front end's library left out, for the closing
// message.
std::wstring ForeignSkippedText(const ForeignReview& review) {
  std::wstring text;
  if (review.alreadyKnown > 0)
    text += L"\r\n\r\n" + std::to_wstring(review.alreadyKnown) + L" already in the library (same program).";
  if (!review.broken.empty())
    text += L"\r\n\r\nFiles that could not be read:\r\n" + WideFromUtf8(BrokenProfilesText(review.broken));
  return text;
}

// The folders skipped, each kind after separator; empty when none were.
std::wstring SkippedList(const ImportScan& scan, const wchar_t* separator) {
  std::wstring text;
  auto add = [&text, separator](int count, const wchar_t* what) {
    if (count > 0) text += (text.empty() ? L"" : separator) + std::to_wstring(count) + L" " + what;
  };
  add(scan.alreadyKnown, L"already in the library");
  add(scan.unreadable, L"that could not be read");
  add(scan.loops, L"reached again through a link");
  add(scan.badNames, L"with names DOS cannot carry (control characters)");
  return text;
}

std::wstring SkippedText(const ImportScan& scan) {
  const std::wstring list = SkippedList(scan, L"\r\n");
  return list.empty() ? list : L"\r\n\r\nFolders skipped:\r\n" + list;
}

// --- the dialog -------------------------------------------------------------------

// How a control follows the dialog's lower right corner when it is resized:
// its left or top edge moves with it, or its right or bottom edge does (it
// grows), or both (it moves).
enum Follow : unsigned { kGrowX = 1, kGrowY = 2, kMoveX = 4, kMoveY = 8 };

struct Anchor {
  int id;
  unsigned follow;
};

const Anchor kAnchors[] = {
    {IDC_IMPORT_FOLDER, kGrowX}, {IDC_IMPORT_BROWSE, kMoveX},           {IDC_IMPORT_FIND, kMoveX},
    {IDC_IMPORT_STATUS, kGrowX}, {IDC_IMPORT_LIST, kGrowX | kGrowY},   {IDOK, kMoveX | kMoveY},
    {IDCANCEL, kMoveX | kMoveY},
};

struct ImportState {
  std::string root;  // the folder of the last scan
  SIZE smallest{};           // the dialog's size as the resource makes it: it may grow, never shrink
  SIZE designed{};           // its client area at that size
  RECT placed[std::size(kAnchors)]{};  // each anchored control's place in it
  std::thread worker;
  std::atomic<int> listed{0};
  std::atomic<bool> cancel{false};
  ImportScan scan;
  ForeignReview foreign;  // when the folder is another front end's library (foreign.source set)
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

// Remembers where the resource puts everything, so that each resize places
// the controls from there rather than from their last place (no drift).
void RememberLayout(HWND dialog, ImportState* state) {
  RECT window, client;
  GetWindowRect(dialog, &window);
  GetClientRect(dialog, &client);
  state->smallest = {window.right - window.left, window.bottom - window.top};
  state->designed = {client.right, client.bottom};
  for (std::size_t i = 0; i < std::size(kAnchors); ++i) {
    RECT& place = state->placed[i];
    GetWindowRect(GetDlgItem(dialog, kAnchors[i].id), &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  }
}

// The list's columns keep their shares of its width, as the user left them.
void FitColumns(HWND list) {
  RECT area;
  GetClientRect(list, &area);
  int available = area.right;
  if (!(GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL)) available -= GetSystemMetrics(SM_CXVSCROLL);
  int widths[3], total = 0;
  for (int i = 0; i < 3; ++i) total += widths[i] = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0));
  if (total <= 0 || available <= 0) return;
  int used = 0;
  for (int i = 0; i < 3; ++i) {
    const int width = i < 2 ? static_cast<int>(static_cast<long long>(widths[i]) * available / total) : available - used;
    used += width;
    SendMessageW(list, LVM_SETCOLUMNWIDTH, i, width);
  }
}

void OnSize(HWND dialog, int width, int height) {
  ImportState* state = StateOf(dialog);
  if (!state || state->designed.cx == 0) return;
  const int dx = std::max(0, width - static_cast<int>(state->designed.cx));
  const int dy = std::max(0, height - static_cast<int>(state->designed.cy));
  HDWP moves = BeginDeferWindowPos(static_cast<int>(std::size(kAnchors)));
  for (std::size_t i = 0; i < std::size(kAnchors) && moves; ++i) {
    RECT place = state->placed[i];
    const unsigned follow = kAnchors[i].follow;
    if (follow & kMoveX) place.left += dx;
    if (follow & (kMoveX | kGrowX)) place.right += dx;
    if (follow & kMoveY) place.top += dy;
    if (follow & (kMoveY | kGrowY)) place.bottom += dy;
    moves = DeferWindowPos(moves, GetDlgItem(dialog, kAnchors[i].id), nullptr, place.left, place.top,
                           place.right - place.left, place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (moves) EndDeferWindowPos(moves);
  FitColumns(ListOf(dialog));
  // The controls uncovered a strip of the dialog that their old places held.
  InvalidateRect(dialog, nullptr, TRUE);
}

void OnInitDialog(HWND dialog, ImportState* state) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
  RememberLayout(dialog, state);
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
  // A folder handed over by another start is looked in at once; otherwise
  // the folder of the last import is offered again, selected, so that typing
  // replaces it.
  HWND box = GetDlgItem(dialog, IDC_IMPORT_FOLDER);
  SetFocus(box);
  if (!state->root.empty()) {
    SetDlgItemTextW(dialog, IDC_IMPORT_FOLDER, WideFromUtf8(state->root).c_str());
    PostMessageW(dialog, WM_COMMAND, IDC_IMPORT_FIND, 0);
    return;
  }
  SetWindowTextW(box, WideFromUtf8(ReadWindowSettings(WindowSettingsPath()).importFolder).c_str());
  SendMessageW(box, EM_SETSEL, 0, -1);
}

void RememberImportFolder(const std::string& folder) {
  WindowSettings settings = ReadWindowSettings(WindowSettingsPath());
  if (settings.importFolder == folder) return;
  settings.importFolder = folder;
  WriteWindowSettings(WindowSettingsPath(), settings);
}

void StartScan(HWND dialog) {
  ImportState* state = StateOf(dialog);
  if (state->scanning) return;
  wchar_t typed[kPathBufferSize] = L"";
  GetDlgItemTextW(dialog, IDC_IMPORT_FOLDER, typed, static_cast<int>(kPathBufferSize));
  const std::string folder = Utf8FromWide(typed);
  if (folder.empty()) return;
  RememberImportFolder(folder);
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
  const std::vector<std::string> programs = LibraryProgramPaths(*GameDatabase);
  // The scan reads folders only; the library is read before it starts and
  // changed on this thread after it ends.
  state->worker = std::thread([dialog, state, folder, known, programs] {
    FolderLook look = LookIntoFolder(folder, known, programs, [state](int listed) { state->listed = listed; }, &state->cancel);
    state->foreign = std::move(look.foreign);
    state->scan = std::move(look.scan);
    PostMessageW(dialog, kScanDone, 0, 0);
  });
}

void AddRow(HWND list, int i, const std::string& name, const std::string& program, const std::string& last) {
  std::wstring wide = WideFromUtf8(name);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = i;
  item.pszText = wide.data();
  item.lParam = i;
  const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  SetCell(list, index, 1, program);
  SetCell(list, index, 2, last);
  LVITEMW check{};
  check.stateMask = LVIS_STATEIMAGEMASK;
  check.state = INDEXTOSTATEIMAGEMASK(2);
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&check));
}

// Another front end's games: each with where it came from and what could
// not come along.
void OnForeignReviewed(HWND dialog, ImportState* state) {
  HWND list = ListOf(dialog);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const std::vector<ForeignGame>& games = state->foreign.games;
  for (int i = 0; i < static_cast<int>(games.size()); ++i) {
    const ForeignGame& game = games[static_cast<std::size_t>(i)];
    const std::string left = NotCarriedLine(game);
    AddRow(list, i, game.name, Shown(game.program.empty() ? game.installer : game.program, state->root),
           game.source + (left.empty() ? "" : ". " + left));
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  std::wstring status = std::to_wstring(games.size()) + (games.size() == 1 ? L" game" : L" games") + L" in this " +
                        WideFromUtf8(state->foreign.source) + L" library";
  status += games.empty() ? L"." : L": untick what you do not want, click a name to change it, then Add.";
  if (state->foreign.alreadyKnown > 0) status += L" " + std::to_wstring(state->foreign.alreadyKnown) + L" already in the library.";
  if (!state->foreign.broken.empty()) status += L" " + std::to_wstring(state->foreign.broken.size()) + L" files could not be read.";
  SetStatus(dialog, status);
  EnableWindow(GetDlgItem(dialog, IDOK), !games.empty());
  if (!games.empty()) {
    SendMessageW(dialog, DM_SETDEFID, IDOK, 0);
    SetFocus(list);
  }
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
  if (state->foreign.source) {
    OnForeignReviewed(dialog, state);
    return;
  }
  HWND list = ListOf(dialog);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const std::vector<FoundGame>& games = state->scan.games;
  for (int i = 0; i < static_cast<int>(games.size()); ++i) {
    const FoundGame& game = games[static_cast<std::size_t>(i)];
    std::string setup = Shown(game.install, state->root);
    if (!game.image.empty()) setup += (setup.empty() ? "" : ", ") + Shown(game.image, state->root);
    AddRow(list, i, game.name, Shown(game.run, state->root), setup);
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  std::wstring status = state->scan.cancelled ? L"Stopped. " : L"";
  status += std::to_wstring(games.size()) + (games.size() == 1 ? L" game found" : L" games found");
  status += games.empty() ? L"." : L": untick what you do not want, click a name to change it, then Add.";
  // With nothing to add, the message that would tell what was skipped never
  // comes: the status says it.
  const std::wstring skipped = SkippedList(state->scan, L", ");
  if (games.empty() && !skipped.empty()) status += L" Folders skipped: " + skipped + L".";
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
  std::vector<std::size_t> chosenForeign;
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int index = 0; index < count; ++index) {
    const LRESULT checked = SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_STATEIMAGEMASK);
    if ((checked & LVIS_STATEIMAGEMASK) != INDEXTOSTATEIMAGEMASK(2)) continue;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    const std::size_t at = static_cast<std::size_t>(item.lParam);
    if (state->foreign.source) chosenForeign.push_back(at);
    else chosen.push_back(state->scan.games[at]);
  }
  const std::size_t added = chosen.size() + chosenForeign.size();
  if (state->foreign.source ? !AddForeignGames(state->foreign, chosenForeign) : !AddGames(chosen)) {
    MessageBoxW(dialog, L"The default profile for new games (defrc.xml) cannot be read.", L"Vantle", MB_OK | MB_ICONERROR);
    return;
  }
  // One save for all of them, through the same atomic replacement as every
  // other save.
  const bool saved = SaveGameDatabase();
  FillGameList(GameListWindow);
  EndDialog(dialog, IDOK);
  std::wstring text = L"Added " + std::to_wstring(added) + (added == 1 ? L" game" : L" games") + L" to the library." +
                      (state->foreign.source ? ForeignSkippedText(state->foreign) : SkippedText(state->scan));
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
  ImportState* state = StateOf(dialog);
  const std::size_t at = static_cast<std::size_t>(item.lParam);
  (state->foreign.source ? state->foreign.games[at].name : state->scan.games[at].name) = Utf8FromWide(info->item.pszText);
  return TRUE;
}

INT_PTR CALLBACK ImportDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog, reinterpret_cast<ImportState*>(lParam));
      return FALSE;  // the focus was set
    case WM_SIZE:
      OnSize(dialog, LOWORD(lParam), HIWORD(lParam));
      return TRUE;
    case WM_GETMINMAXINFO:
      // Asked before the dialog is set up too, when there is no size to keep.
      if (const ImportState* state = StateOf(dialog); state && state->smallest.cx > 0) {
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {state->smallest.cx, state->smallest.cy};
        return TRUE;
      }
      return FALSE;
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

namespace {

// Lines for whoever started the -import mode (a console or a redirection);
// nowhere when there is none.
void Tell(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int ImportFolderQuietly(const std::string& folder) {
  if (!GameDatabase) return 2;
  FolderLook look = LookIntoFolder(folder, LibraryRunFolders(*GameDatabase), LibraryProgramPaths(*GameDatabase), nullptr, nullptr);
  ForeignReview& foreign = look.foreign;
  if (foreign.source) {
    std::vector<std::size_t> all(foreign.games.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    if (!AddForeignGames(foreign, all)) return 2;
    std::string text = "Added " + std::to_string(foreign.games.size()) + " games from " + foreign.source + ".\n";
    if (foreign.alreadyKnown > 0) text += std::to_string(foreign.alreadyKnown) + " already in the library.\n";
    if (!foreign.broken.empty()) text += "Files that could not be read:\n" + BrokenProfilesText(foreign.broken);
    Tell(text);
    return SaveGameDatabase() ? 0 : 2;
  }
  if (!look.listed) return 1;
  if (!AddGames(look.scan.games)) return 2;
  return SaveGameDatabase() ? 0 : 2;
}
