#include "launcher/window/MainWindow.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "launcher/CommandLine.h"
#include "launcher/DefaultProfile.h"
#include "launcher/EntryEditor.h"
#include "launcher/DosBoxReport.h"
#include "launcher/GameLaunch.h"
#include "launcher/GameSchema.h"
#include "launcher/LaunchThreads.h"
#include "launcher/PlayRecord.h"
#include "launcher/Storage.h"
#include "launcher/WebSearch.h"
#include "launcher/WindowSettings.h"
#include "launcher/window/EngineOptions.h"
#include "launcher/window/GameList.h"
#include "launcher/window/Messages.h"
#include "launcher/window/ImportGames.h"
#include "launcher/window/LibraryHolder.h"
#include "launcher/window/NewGameWizard.h"
#include "launcher/window/ShellIntegration.h"
#include "resource.h"
#include "ui/FontMetrics.h"
#include "ui/PropertyGrid.h"
#include "text/AnsiText.h"
#include "text/TextConvert.h"
#include "ui/XmlEditor.h"
#include "update/UpdateCheckThread.h"
#include "VantleVersion.h"

HICON ProgramIcon = nullptr;
void (*TakeLibraryBeforeFill)() = nullptr;

namespace {

const wchar_t kAboutText[] =
    L"Vantle.\r\n\r\n"
    L"Keeps your DOS games in one library and starts each of them in DOSBox with its own "
    L"settings.\r\n\r\n"
    L"Enter runs the selected game, Ctrl+Enter its setup, Shift+Enter opens its settings.";

// Posted by the update check when it has ended.
constexpr UINT kUpdateChecked = WM_APP + 1;
// Posted when the program that was to open a search ended at once with a
// failure; lParam owns the address (new std::wstring).
constexpr UINT kSearchFailed = WM_APP + 3;
// Posted to itself when another start handed over a folder to import.
constexpr UINT kImportHandedOver = WM_APP + 0x100;
// Fires once the window has drawn itself after its first fill (a timer's
// message comes after every other, painting included).
constexpr UINT_PTR kAfterFirstDrawTimer = 1;

// Folders handed over by other starts, imported one at a time.
std::vector<std::string> HandedFolders;
// True while the import's review is open: a folder handed over meanwhile
// waits for it instead of opening a second review over the first.
bool ImportOpen = false;

HWND ListOf(HWND dialog) { return GetDlgItem(dialog, IDC_GAME_LIST); }
HWND FindBoxOf(HWND dialog) { return GetDlgItem(dialog, IDC_FIND_BOX); }

// One check at a time for the whole program: the one started with the window
// and the ones the user asks for.
VULIBRARY::UpdateCheckThread& UpdateCheck() {
  static VULIBRARY::UpdateCheckThread check;
  return check;
}
// Whether the user asked for the running check (the start-up check is silent).
bool UpdateReportWanted = false;

bool KeyDown(int key) { return GetKeyState(key) < 0; }

WORD EnterCommand() {
  if (KeyDown(VK_CONTROL)) return IDM_SETUP;
  if (KeyDown(VK_SHIFT)) return IDM_EDIT;
  return IDM_RUN;
}

void Post(HWND dialog, WORD command) { PostMessageW(dialog, WM_COMMAND, command, 0); }

// The find box's height: a line of its font and the frame around it.
int FindBoxHeight(HWND box) { return FramedLineHeight(box) + 4; }

// The find box takes a line at the top; the list has the rest.
void OnSize(HWND dialog) {
  RECT client;
  GetClientRect(dialog, &client);
  HWND box = FindBoxOf(dialog);
  const int top = box ? FindBoxHeight(box) : 0;
  if (box) SetWindowPos(box, nullptr, 0, 0, client.right, top, SWP_NOZORDER);
  SetWindowPos(ListOf(dialog), nullptr, 0, top, client.right, client.bottom - top, SWP_NOZORDER);
  StretchLastColumn(ListOf(dialog));
}

void GoToFindBox(HWND dialog);
void PlaceMainWindow(HWND dialog, HWND list, const WindowSettings& settings);

// F4 to F7 and Ctrl+F, wherever the focus is.
void OnFKey(HWND dialog, WORD key) {
  switch (key) {
    case 'F':
      GoToFindBox(dialog);
      break;
    case VK_F4:
      Post(dialog, IDM_TOGGLE_GROUPS);
      break;
    case VK_F5:
      Post(dialog, IDM_UPDATE_CHECK);
      break;
    case VK_F6:
      Post(dialog, IDM_SEARCH_DOSBOX);
      break;
    case VK_F7:
      Post(dialog, IDM_SEARCH_WEB);
      break;
  }
}

// What the empty find box is for, drawn in grey. The edit control's own cue
// banner would do, but Wine's frees its copy from the wrong heap.
void PaintFindHint(HWND box) {
  if (GetWindowTextLengthW(box) > 0) return;
  RECT area;
  SendMessageW(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
  HDC dc = GetDC(box);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  DrawTextW(dc, L"Find a game by its name, description or category (Ctrl+F)", -1, &area,
            DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(dc, old);
  ReleaseDC(box, dc);
}

// Down arrow moves from the find box to the list; Enter and Escape reach the
// dialog as its OK and Cancel.
// The F keys do in the box what they do in the list; Ctrl+F selects what
// it holds, so that typing replaces it.
LRESULT CALLBACK FindBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == WM_KEYDOWN && wParam == VK_DOWN) {
    SetFocus(ListOf(GetParent(box)));
    return 0;
  }
  if (message == WM_KEYDOWN && (wParam == VK_F4 || wParam == VK_F5 || wParam == VK_F6 || wParam == VK_F7 ||
                                (wParam == 'F' && GetKeyState(VK_CONTROL) < 0))) {
    OnFKey(GetParent(box), static_cast<WORD>(wParam));
    return 0;
  }
  if (message == WM_PAINT) {
    const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
    PaintFindHint(box);
    return result;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(box, FindBoxProc, 0);
  return DefSubclassProc(box, message, wParam, lParam);
}

void CreateFindBox(HWND dialog) {
  HWND box = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                             0, 0, 0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FIND_BOX)),
                             GetModuleHandleW(nullptr), nullptr);
  SendMessageW(box, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
  SetWindowSubclass(box, FindBoxProc, 0, 0);
  // Tab order: the list first, as before the box was there.
  SetWindowPos(box, ListOf(dialog), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

std::string FindBoxText(HWND dialog) {
  wchar_t text[kPathBufferSize] = L"";
  GetWindowTextW(FindBoxOf(dialog), text, static_cast<int>(kPathBufferSize));
  return Utf8FromWide(text);
}

void GoToFindBox(HWND dialog) {
  HWND box = FindBoxOf(dialog);
  SetFocus(box);
  SendMessageW(box, EM_SETSEL, 0, -1);
}

// Escape in the find box clears it and gives the list the focus back.
void LeaveFindBox(HWND dialog) {
  SetWindowTextW(FindBoxOf(dialog), L"");
  SetFocus(ListOf(dialog));
}

// Characters typed into the list find games by name. They are taken from
// the thread's queue on their way to the list, so that no message sent to
// the list pays for it.
HHOOK TypeAheadHook = nullptr;

LRESULT CALLBACK WatchListCharacters(int code, WPARAM removed, LPARAM lParam) {
  MSG* message = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && removed == PM_REMOVE && message->message == WM_CHAR && message->hwnd == GameListWindow &&
      GameListTypeAhead(message->hwnd, static_cast<wchar_t>(message->wParam)))
    message->message = WM_NULL;
  return CallNextHookEx(nullptr, code, removed, lParam);
}

// COM and OLE on the window's thread, for shortcuts, the shell's folder
// picker and the editor's text area. Taken once the list shows, since under
// Wine it loads a dozen libraries, or at the first command that comes
// sooner.
void EnsureOle() {
  static bool initialized = false;
  if (initialized) return;
  OleInitialize(nullptr);
  initialized = true;
}

void StartCommandLineMode(const CommandLineRequest& request) {
  if (request.kind != CommandLineRequest::None) EnsureOle();
  switch (request.kind) {
    case CommandLineRequest::Run:
      PresetExecutable = request.argument;
      OpenNewGameWizard(nullptr);
      ExitProcess(0);  // only reached when the program could not be run
    case CommandLineRequest::Shortcut:
      RunShortcut(request.argument.c_str());  // returns when no game has that name
      break;
    case CommandLineRequest::Conf:
      RunConfFile(request.argument.c_str());
      break;
    case CommandLineRequest::Import:
      ExitProcess(static_cast<UINT>(ImportFolderQuietly(request.argument)));
    default:
      break;
  }
}

// Saves that take in another program's changes refill the list, whose items
// point at games; games open in an editor stay; a save that could not write
// says so.
void WatchLibrarySaves() {
  LibraryEventHandlers.merged = [] {
    // The save at the end comes after the window is gone.
    if (GameListWindow && IsWindow(GameListWindow)) FillGameList(GameListWindow);
  };
  LibraryEventHandlers.notSaved = [](const std::string& text) {
    HWND owner = GameListWindow ? GetParent(GameListWindow) : nullptr;
    MessageBoxW(IsWindow(owner) ? owner : nullptr, WideFromUtf8(text).c_str(), L"Vantle", MB_OK | MB_ICONWARNING);
  };
  LibraryEventHandlers.pinned = [](const XmlElement* game) { return FindXmlEditor(game) != nullptr; };
}

// A folder from another start: taken at once (the sender waits), imported
// when the window's queue comes to it.
BOOL OnCopyData(HWND dialog, const COPYDATASTRUCT* data) {
  std::string folder;
  if (!TakeHandedFolder(data, folder)) return FALSE;
  HandedFolders.push_back(folder);
  PostMessageW(dialog, kImportHandedOver, 0, 0);
  return TRUE;
}

void RunImport(HWND dialog, const std::string& folder) {
  ImportOpen = true;
  OpenImportDialog(dialog, folder);
  ImportOpen = false;
  if (!HandedFolders.empty()) PostMessageW(dialog, kImportHandedOver, 0, 0);
}

void ImportHandedFolder(HWND dialog) {
  if (HandedFolders.empty() || ImportOpen) return;
  const std::string folder = HandedFolders.front();
  HandedFolders.erase(HandedFolders.begin());
  SetForegroundWindow(dialog);
  RunImport(dialog, folder);
}

BOOL OnInitDialog(HWND dialog) {
  SetClassLongPtrW(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(ProgramIcon));
  SetClassLongPtrW(dialog, GCLP_HICONSM, reinterpret_cast<LONG_PTR>(ProgramIcon));

  // Read wide, once: names in any language arrive whole, as UTF-8.
  const std::vector<std::string> arguments = CommandLineArgumentsUtf8();
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  const CommandLineRequest request = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
  // An elevated copy started only to carry out one command: it never builds
  // the list, and the database is not written back.
  if (request.kind == CommandLineRequest::Replay) {
    AwaitLibraryAsRead();
    SendMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(request.command), ElevatedCommandMarker);
    ExitProcess(0);
  }

  CreateFindBox(dialog);
  HWND list = SetUpGameList(ListOf(dialog));
  GameListWindow = list;
  TypeAheadHook = SetWindowsHookExW(WH_GETMESSAGE, WatchListCharacters, nullptr, GetCurrentThreadId());
  // The window takes its place and the list its kept widths and order
  // before anything shows.
  const WindowSettings settings = ReadWindowSettings(WindowSettingsPath());
  PlaceMainWindow(dialog, list, settings);
  // The library is read while the window is made, and may not be read yet:
  // the window shows meanwhile, its list saying so, and takes no input until
  // the library is there.
  if (TakeLibraryBeforeFill) {
    OnSize(dialog);
    if (!IsWindowVisible(dialog)) ShowWindow(dialog, SW_SHOWNORMAL);
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    EnableWindow(dialog, FALSE);
    TakeLibraryBeforeFill();
    EnableWindow(dialog, TRUE);
  }
  // The first fill completes its games as every reader does; then the
  // fingerprints of what was read are taken while the window shows it, and
  // whatever may change it waits for them (MayChangeLibrary).
  if (settings.sortColumn >= 0) SortGameListAs(list, settings.sortColumn, settings.sortDirection);
  else FillGameList(list);
  // The fingerprints of the library and the start-up check run beside the
  // window and start once it has drawn the list: on a busy machine they
  // would take the processor from it, and the libraries the check loads
  // would hold up the threads that read the library and its rows, whose
  // start and end wait for the loader. Whatever may change the library
  // before then takes the fingerprints first.
  SetTimer(dialog, kAfterFirstDrawTimer, USER_TIMER_MINIMUM, nullptr);
  OnSize(dialog);
  // A command-line mode changes the library at once (-import adds to it).
  if (request.kind != CommandLineRequest::None) AwaitLibraryAsRead();
  StartCommandLineMode(request);
  // Still here: this process shows the library (a -shortcut that found no
  // game opens the window too), unless another window shows it already.
  if (!HoldLibrary(dialog, DatabasePath)) ExitProcess(0);
  WatchLibrarySaves();
  return TRUE;
}

// "Are you sure?", with what would go: the game's name, or how many games
// and the first of their names.
std::wstring DeleteQuestion(const std::vector<XmlElement*>& games) {
  std::wstring text = L"Are you sure?\r\n\r\n";
  const auto name = [](XmlElement* entry) { return L"\"" + WideFromUtf8(AttributeText(Section(entry, "Main"), "Name")) + L"\""; };
  if (games.size() == 1) return text + name(games.front()) + L" will be deleted.";
  text += std::to_wstring(games.size()) + L" games will be deleted:";
  constexpr std::size_t kNamed = 10;
  for (std::size_t i = 0; i < games.size() && i < kNamed; ++i) text += L"\r\n" + name(games[i]);
  if (games.size() > kNamed) text += L"\r\nand " + std::to_wstring(games.size() - kNamed) + L" more.";
  return text;
}

// Deletes every selected game after one question, and saves once.
void DeleteSelectedGames(HWND dialog) {
  HWND list = ListOf(dialog);
  const std::vector<XmlElement*> games = SelectedGames(list);
  if (games.empty()) return;
  for (XmlElement* entry : games) {
    if (HWND editor = FindXmlEditor(entry)) {
      // The editor works on this very element; it must outlive the window.
      MessageBoxW(dialog,
                  L"This game is open in an editor window. Close that window first, then delete "
                  L"the game.",
                  L"Vantle", MB_OK | MB_ICONINFORMATION);
      SetForegroundWindow(editor);
      return;
    }
  }
  if (MessageBoxW(dialog, DeleteQuestion(games).c_str(), L"Vantle", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
      IDYES)
    DeleteGameEntries(list, games);
}

// Commands that work on one game say so when several are selected, rather
// than choose one the user did not mean.
bool OneGameSelected(HWND dialog, const wchar_t* command) {
  if (SelectedGames(ListOf(dialog)).size() <= 1) return true;
  Tell(dialog, std::wstring(L"\"") + command + L"\" works on one game at a time: select only the game you mean.",
       MB_ICONINFORMATION);
  return false;
}

void EditDefaultProfile() {
  EnsureDefaultProfile();
  XmlDocument profile(DefaultProfilePath().c_str());
  OpenEntryEditor(nullptr, -1, profile.GetRoot());
  profile.Save();
}

void RestoreDefaultProfile(HWND dialog) {
  const std::wstring path = WideFromUtf8(DefaultProfilePath());
  // A profile that is not there is restored already: the built-in one is
  // written again when it is next needed.
  const DWORD error = DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    Tell(dialog,
         L"The default profile could not be restored: this file could not be deleted.\r\n" + path +
             L"\r\n\r\n" + SystemMessage(HRESULT_FROM_WIN32(error)),
         MB_ICONERROR);
    return;
  }
  MessageBoxW(dialog, L"Default profile restored.", L"Vantle", MB_OK);
}

// A program that takes web addresses may still fail to open one: Wine's
// hands them to a Linux browser and ends with an error when there is none.
// Its end is watched for a while beside the window; a real browser either
// runs on or hands the address to one already open and ends well.
void WatchSearchProgram(HWND dialog, HANDLE process, const std::wstring& address) {
  std::thread([dialog, process, address] {
    constexpr DWORD kWatchMilliseconds = 15000;
    DWORD code = 0;
    if (WaitForSingleObject(process, kWatchMilliseconds) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code) &&
        code != 0)
      PostMessageW(dialog, kSearchFailed, 0, reinterpret_cast<LPARAM>(new std::wstring(address)));
    CloseHandle(process);
  }).detach();
}

void SearchSelectedGame(HWND dialog, SearchSite site) {
  HWND list = ListOf(dialog);
  const int selected = SelectedGame(list);
  if (selected < 0) return;
  const std::wstring address = WideFromUtf8(SearchAddress(site, GameListText(list, selected, 1)));
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  execute.hwnd = dialog;
  execute.lpVerb = L"open";
  execute.lpFile = address.c_str();
  execute.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&execute)) {
    if (execute.hProcess) WatchSearchProgram(dialog, execute.hProcess, address);
    return;
  }
  const DWORD error = GetLastError();
  // The shell has shown nothing itself when no program takes the address.
  // Its old result code says why more reliably than the thread's last error
  // (Wine leaves an unrelated one there).
  const INT_PTR code = reinterpret_cast<INT_PTR>(execute.hInstApp);
  const std::wstring why = code == SE_ERR_NOASSOC || code == SE_ERR_FNF || error == ERROR_NO_ASSOCIATION
                               ? L"No program is registered to open web addresses on this system."
                               : SystemMessage(HRESULT_FROM_WIN32(error));
  Tell(dialog, L"The search could not be opened:\r\n" + address + L"\r\n\r\n" + why, MB_ICONWARNING);
}

void OnSearchFailed(HWND dialog, LPARAM owned) {
  const std::unique_ptr<std::wstring> address(reinterpret_cast<std::wstring*>(owned));
  Tell(dialog,
       L"The search could not be opened:\r\n" + *address +
           L"\r\n\r\nThe program that opens web addresses on this system ended with an error. Is a web "
           L"browser installed?",
       MB_ICONWARNING);
}

// Where the window was and its columns' widths come back as they were
// left (its sort comes back with the first fill); a place off every screen
// of this system is not taken.
void PlaceMainWindow(HWND dialog, HWND list, const WindowSettings& settings) {
  if (settings.placed) {
    RECT place{settings.left, settings.top, settings.left + settings.width, settings.top + settings.height};
    if (MonitorFromRect(&place, MONITOR_DEFAULTTONULL)) {
      WINDOWPLACEMENT placement{};
      placement.length = sizeof(placement);
      GetWindowPlacement(dialog, &placement);
      placement.rcNormalPosition = place;
      placement.showCmd = settings.maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
      SetWindowPlacement(dialog, &placement);
    }
  }
  SetGameListColumnWidths(list, settings.columnWidths);
}

void KeepWindowSettings(HWND dialog) {
  // Read again: the import dialog keeps its folder in the same file.
  WindowSettings settings = ReadWindowSettings(WindowSettingsPath());
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  if (GetWindowPlacement(dialog, &placement)) {
    const RECT& place = placement.rcNormalPosition;
    settings.placed = place.right > place.left && place.bottom > place.top;
    settings.left = place.left, settings.top = place.top;
    settings.width = place.right - place.left, settings.height = place.bottom - place.top;
    settings.maximized = placement.showCmd == SW_SHOWMAXIMIZED || IsZoomed(dialog);
  }
  settings.columnWidths = GameListColumnWidths(ListOf(dialog));
  settings.sortColumn = SortedColumn;
  settings.sortDirection = SortedDirection;
  WriteWindowSettings(WindowSettingsPath(), settings);
}

// Command 197: the check runs beside the window, which tells its outcome
// when it has ended. A check already running (the start-up one, say) is not
// started again; its outcome is told instead.
void CheckForUpdates(HWND dialog) {
  if (UpdateCheck().Running()) {
    if (UpdateReportWanted)
      Tell(dialog, L"An update check is already running. Its result will be shown when it ends.",
           MB_ICONINFORMATION);
    UpdateReportWanted = true;
    return;
  }
  if (!UpdateCheck().Start(dialog, kUpdateChecked)) {
    Tell(dialog, L"The update check could not be started.", MB_ICONERROR);
    return;
  }
  UpdateReportWanted = true;
}

void OnUpdateChecked(HWND dialog) {
  const VULIBRARY::CheckOutcome outcome = UpdateCheck().TakeOutcome();
  if (!UpdateReportWanted) return;
  UpdateReportWanted = false;
  // An installed update has told the user already, and the window closes.
  if (outcome.Installed()) return;
  Tell(dialog, VULIBRARY::CheckOutcomeMessage(outcome), outcome.result < 0 ? MB_ICONWARNING : MB_ICONINFORMATION);
}

void OnCommand(HWND dialog, WORD command, LPARAM marker) {
  EnsureOle();
  HWND list = ListOf(dialog);
  switch (command) {
    case IDOK:  // Enter, from the dialog manager (also in the find box)
      Post(dialog, EnterCommand());
      break;
    case IDCANCEL:  // Escape, from the dialog manager
      if (GetFocus() == FindBoxOf(dialog)) LeaveFindBox(dialog);
      break;
    case IDM_IMPORT_FOLDER:
      RunImport(dialog, std::string());
      break;
    case IDM_NEW:
      OpenNewGameWizard(dialog);
      break;
    case IDM_RUN:
    case IDM_SETUP: {
      const int selected = SelectedGame(list);
      if (selected >= 0)
        RunGame(list, selected, command == IDM_RUN ? LaunchMode::Run : LaunchMode::Install, nullptr);
      break;
    }
    case IDM_EDIT: {
      const int selected = SelectedGame(list);
      if (selected >= 0) OpenEntryEditor(list, selected, nullptr);
      break;
    }
    case IDM_DELETE:
      DeleteSelectedGames(dialog);
      break;
    case IDM_EXIT:
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      break;
    case IDM_SEARCH_DOSBOX:
      SearchSelectedGame(dialog, SearchSite::DosBoxCompatibility);
      break;
    case IDM_SEARCH_WEB:
      SearchSelectedGame(dialog, SearchSite::WebSearch);
      break;
    case IDM_TOGGLE_GROUPS:
      GroupsShown = !GroupsShown;
      ApplyGroupView(list);
      FillGameList(list);
      break;
    case IDM_EDIT_DEFAULT_PROFILE:
      EditDefaultProfile();
      break;
    case IDM_RESTORE_DEFAULT_PROFILE:
      RestoreDefaultProfile(dialog);
      break;
    case IDM_ENGINES:
      OpenEngineOptions(dialog);
      break;
    case IDM_UPDATE_CHECK:
      CheckForUpdates(dialog);
      break;
    case IDM_CREATE_SHORTCUT:
      if (OneGameSelected(dialog, L"Create Shortcut in program directory"))
        CreateGameShortcut(list, SelectedGame(list));
      break;
    case IDM_SAVE_CONF: {
      const int selected = SelectedGame(list);
      if (selected >= 0 && OneGameSelected(dialog, L"Save CONF File...")) SaveConfFile(list, selected);
      break;
    }
    case IDM_CONF_FOR_EXECUTABLE:
      SaveConfFile(list, -1);
      break;
    // Without administrator rights the registry refuses; an elevated copy
    // replays the command with the marker and so never asks again.
    case IDM_REGISTER_SHELL:
    case IDM_UNREGISTER_SHELL:
      ChangeShellVerbs(dialog, command == IDM_REGISTER_SHELL, marker == ElevatedCommandMarker);
      break;
    case IDM_ABOUT:
      MessageBoxW(dialog, (std::wstring(kAboutText) + L"\r\n\r\nVersion " VANTLE_VERSION_WIDE).c_str(), L"Vantle",
                  MB_OK | MB_ICONINFORMATION);
      break;
  }
}

void OnListKey(HWND dialog, WORD key) {
  switch (key) {
    case 'N':
      if (KeyDown(VK_CONTROL)) Post(dialog, IDM_NEW);
      break;
    case 'I':
      if (KeyDown(VK_CONTROL)) Post(dialog, IDM_IMPORT_FOLDER);
      break;
    case 'F':
      if (KeyDown(VK_CONTROL)) GoToFindBox(dialog);
      break;
    case VK_F4:
    case VK_F5:
    case VK_F6:
    case VK_F7:
      OnFKey(dialog, key);
      break;
    case VK_DELETE:
      Post(dialog, IDM_DELETE);
      break;
    case VK_RETURN:
      Post(dialog, EnterCommand());
      break;
  }
}

void OnNotify(HWND dialog, const NMHDR* header) {
  SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
  if (header->idFrom != IDC_GAME_LIST) return;
  switch (header->code) {
    case LVN_DELETEALLITEMS:
      // No LVN_DELETEITEM for each of them: a refill of tens of thousands of
      // games would wait for as many notifications.
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
      break;
    case LVN_GETDISPINFOW:
      GameListDispInfo(reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header)));
      break;
    case NM_CUSTOMDRAW:
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT,
                        GameListCustomDraw(reinterpret_cast<const NMLVCUSTOMDRAW*>(header)));
      break;
    case LVN_KEYDOWN:
      OnListKey(dialog, reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey);
      break;
    case NM_DBLCLK:
      Post(dialog, IDM_RUN);
      break;
    case LVN_COLUMNCLICK:
      SortGameList(header->hwndFrom, reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
      break;
  }
}

}  // namespace

void PrepareWindows(HINSTANCE instance) {
  ProgramIcon = LoadIconA(instance, "ICON_1");
  RegisterGridClasses(instance);
  INITCOMMONCONTROLSEX controls{sizeof(controls), 0x7FF};
  InitCommonControlsEx(&controls);
}

void DeleteGameEntry(HWND list, int index) {
  if (XmlElement* entry = ListItemEntry(list, index)) DeleteGameEntries(list, {entry});
}

void DeleteGameEntries(HWND list, const std::vector<XmlElement*>& entries) {
  bool removed = false;
  for (XmlElement* entry : entries) {
    XmlElement* games = entry ? entry->GetParent() : nullptr;
    const int position = games ? games->IndexOfChild(entry) : -1;
    if (position < 0) continue;
    games->RemoveChild(static_cast<unsigned>(position));
    removed = true;
  }
  if (!removed) return;
  SaveGameDatabase();
  FillGameList(list);
}

namespace {

// DOSBox has ended after a game of the list: its play time and last play go
// on the game (unless it was deleted meanwhile) and the library is saved.
// What DOSBox reported about the game's settings, once it has ended, with
// the offer to open them; nothing for a run that reported nothing.
void TellReports(HWND dialog, XmlElement* game, const std::string& output) {
  const std::vector<std::string> reports = DosBoxReports(output, game);
  if (reports.empty()) return;
  std::string text = "DOSBox reported this about the settings of " + AttributeText(Section(game, "Main"), "Name") +
                     ":\n";
  for (const std::string& report : reports) text += "\n" + report;
  text += "\n\nOpen the game's settings?";
  if (MessageBoxW(dialog, WideFromUtf8(text).c_str(), L"Vantle", MB_YESNO | MB_ICONWARNING) != IDYES) return;
  HWND list = ListOf(dialog);
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int index = 0; index < count; ++index)
    if (ListItemEntry(list, index) == game) return OpenEntryEditor(list, index, nullptr);
}

void OnGamePlayed(HWND dialog, LPARAM lParam) {
  std::unique_ptr<GamePlayed> played(reinterpret_cast<GamePlayed*>(lParam));
  if (!played || !GameDatabase) return;
  XmlElement* games = GamesOf(*GameDatabase);
  if (!HoldsGame(games, played->game)) return;
  char when[32];
  const SYSTEMTIME& t = played->ended;
  std::snprintf(when, sizeof(when), "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  XmlElement* game = const_cast<XmlElement*>(static_cast<const XmlElement*>(played->game));
  RecordPlay(game, played->seconds, when);
  SaveGameDatabase();
  TellReports(dialog, game, played->output);
}

// Whether a message may change the library. The list is shown and filled
// while the fingerprints of the library as read are still being taken; such
// a message waits for them first (a save waits by itself). Showing, sizing,
// finding, sorting and telling the user something only read it.
bool MayChangeLibrary(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      return LOWORD(wParam) != IDC_FIND_BOX;
    case WM_NOTIFY: {
      const UINT code = reinterpret_cast<const NMHDR*>(lParam)->code;
      return code == LVN_KEYDOWN || code == NM_DBLCLK;
    }
    case WM_CLOSE:
    case kImportHandedOver:
    case kGamePlayedMessage:
      return true;
  }
  return false;
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (MayChangeLibrary(message, wParam, lParam)) AwaitLibraryAsRead();
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_SIZE:
      OnSize(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_FIND_BOX) {
        if (HIWORD(wParam) == EN_CHANGE) FindInGameList(ListOf(dialog), FindBoxText(dialog));
        return TRUE;
      }
      OnCommand(dialog, LOWORD(wParam), lParam);
      return TRUE;
    case WM_NOTIFY:
      OnNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
      return TRUE;
    case WM_CLOSE:
      // The start that handed a folder over has already told its caller that
      // this window took it: it is reviewed before the window goes.
      while (!HandedFolders.empty() && !ImportOpen) ImportHandedFolder(dialog);
      KeepWindowSettings(dialog);
      if (TypeAheadHook) UnhookWindowsHookEx(TypeAheadHook);
      TypeAheadHook = nullptr;
      EndDialog(dialog, 0);
      return TRUE;
    case WM_TIMER:
      if (wParam != kAfterFirstDrawTimer) break;
      KillTimer(dialog, kAfterFirstDrawTimer);
      EnsureOle();
      StartNotingLibraryAsRead();
      UpdateCheck().Start(dialog, kUpdateChecked);
      return TRUE;
    case kUpdateChecked:
      OnUpdateChecked(dialog);
      return TRUE;
    case kSearchFailed:
      OnSearchFailed(dialog, lParam);
      return TRUE;
    case WM_COPYDATA:
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, OnCopyData(dialog, reinterpret_cast<const COPYDATASTRUCT*>(lParam)));
      return TRUE;
    case kImportHandedOver:
      ImportHandedFolder(dialog);
      return TRUE;
    case kGamePlayedMessage:
      OnGamePlayed(dialog, lParam);
      return TRUE;
  }
  return FALSE;
}
