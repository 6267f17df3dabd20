#pragma once
// The main window opened on a library of the test's making, its modal loop
// on a thread of its own as in the program, and the means to drive it: clicks
// and keys on the list, waiting until the window has worked through what was
// posted, and closing it (which saves the library, as the program does).
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <thread>
#include <vector>

#include "LaunchFixture.h"
#include "UiDriver.h"
#include "WinTestUtil.h"
#include "launcher/DatabaseOpen.h"
#include "launcher/DefaultProfile.h"
#include "launcher/LaunchThreads.h"
#include "launcher/Storage.h"
#include "launcher/window/GameList.h"
#include "launcher/window/MainWindow.h"
#include "resource.h"
#include "ui/XmlEditor.h"

namespace launchtest {

inline ProfileBytes ProfileFromResource() {
  HRSRC found = FindResourceA(nullptr, "DEFAULTXML", "DATA");
  ProfileBytes bytes;
  bytes.data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  bytes.size = SizeofResource(nullptr, found);
  return bytes;
}

struct Game {
  const char *name, *category, *run, *install;
  const char *year = "", *developer = "";
};

class MainWindowTest : public LaunchFolders {
 protected:
  void SetUp() override {
    LaunchFolders::SetUp();
    ProgramFolder = ProfileFolder = program_.string();
    DatabasePath = (program_ / "vtl.xml").string();
    SetDefaultProfileSource(ProfileFromResource);
    EnsureDefaultProfile();
    GroupsShown = true;
    SortDirection = +1;
    SortedColumn = -1;
    PresetExecutable.clear();
  }

  void TearDown() override {
    Close();
    GameDatabase.reset();
    LaunchFolders::TearDown();
  }

  void WriteLibrary(const std::vector<Game>& games) {
    std::string xml = "<?xml version=\"1.0\"?>\r\n<root><Games>";
    for (const Game& g : games)
      xml += std::string("<g><Main Name=\"") + g.name + "\" Description=\"about " + g.name +
             "\" Category=\"" + g.category + "\" Run=\"" + g.run + "\" Install=\"" + g.install + "\"" +
             (*g.year ? std::string(" Year=\"") + g.year + "\"" : "") +
             (*g.developer ? std::string(" Developer=\"") + g.developer + "\"" : "") + "/>" +
             (*g.run || *g.install ? kMountC : std::string()) + "</g>";
    WriteBytes(DatabasePath, xml + "</Games></root>\r\n");
  }

  // Opens the library and the main window, as the program's start does.
  void Open() {
    const FileStamp read = ReadFileStamp(DatabasePath);
    GameDatabase = OpenGameDatabase(DatabasePath).document;
    RememberLibraryAsRead(read);
    ui_ = std::thread([] {
      PrepareWindows(GetModuleHandleW(nullptr));
      DialogBoxParamW(GetModuleHandleW(nullptr), L"DIALOG_1", nullptr, MainDialogProc, 0);
      FinishLaunches();
      SaveGameDatabase();
    });
    main_ = uitest::WaitForDialog(L"Vantle");
    ASSERT_NE(nullptr, main_);
    list_ = GetDlgItem(main_, IDC_GAME_LIST);
    uiThread_ = GetWindowThreadProcessId(main_, nullptr);
    if (!markerSeen_) markerSeen_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    hook_ = SetWindowsHookExW(WH_GETMESSAGE, WatchQueue, nullptr, uiThread_);
  }

  // Closes the window the way Alt+F4 does; the library is then saved.
  void Close() {
    if (!ui_.joinable()) return;
    // A failed check may leave a message box, the wizard or an editor open;
    // they are dismissed so that the window can end.
    for (int i = 0; i < 100 && IsWindow(main_); ++i) {
      EnumThreadWindows(uiThread_, Dismiss, reinterpret_cast<LPARAM>(main_));
      PostMessageW(main_, WM_COMMAND, IDM_EXIT, 0);
      Sleep(100);
    }
    ui_.join();
    UnhookWindowsHookEx(hook_);
  }

  int Count() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
  std::wstring Cell(int row, int column) const { return uitest::CellText(list_, row, column); }
  std::wstring Column(int column) const {
    std::wstring texts;
    for (int row = 0; row < Count(); ++row) texts += Cell(row, column) + L";";
    return texts;
  }

  void Select(int row) {
    uitest::ClickCell(list_, row, 1);
    Settle();
  }

  // A key pressed on the list while the given modifiers are held down.
  void Key(UINT key, std::vector<BYTE> held = {}) {
    AttachThreadInput(GetCurrentThreadId(), uiThread_, TRUE);
    BYTE state[256] = {};
    for (BYTE h : held) state[h] = 0x80;
    SetKeyboardState(state);
    PostMessageW(list_, WM_KEYDOWN, key, 1);
    PostMessageW(list_, WM_KEYUP, key, 0xC0000001);
    Settle();
    BYTE none[256] = {};
    SetKeyboardState(none);
    AttachThreadInput(GetCurrentThreadId(), uiThread_, FALSE);
  }

  void ClickHeader(int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list_, LVM_GETHEADER, 0, 0));
    RECT r{};
    SendMessageW(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&r));
    uitest::Click(header, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    Settle();
  }

  // Waits until the window's thread has handled everything posted so far,
  // and what that posted in turn: a marker posted behind it is seen taken
  // from the queue, twice.
  void Settle() const {
    for (int round = 0; round < 2; ++round) {
      PostMessageW(main_, kMarker, 0, 0);
      WaitForSingleObject(markerSeen_, 30000);
    }
  }

  static BOOL CALLBACK Dismiss(HWND window, LPARAM main) {
    if (window == reinterpret_cast<HWND>(main)) return TRUE;
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    PostMessageW(window, WM_COMMAND, IDNO, 0);
    wchar_t name[32] = L"";
    GetClassNameW(window, name, 32);
    if (std::wstring(name) == XML_EDITOR_CLASS) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
  }

  static constexpr UINT kMarker = WM_APP + 0x3A7;
  static inline HANDLE markerSeen_ = nullptr;
  static LRESULT CALLBACK WatchQueue(int code, WPARAM removed, LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removed == PM_REMOVE && message->message == kMarker) SetEvent(markerSeen_);
    return CallNextHookEx(nullptr, code, removed, lParam);
  }

  std::string SavedLibrary() const { return ReadBytes(DatabasePath); }

  std::thread ui_;
  HWND main_ = nullptr, list_ = nullptr;
  DWORD uiThread_ = 0;
  HHOOK hook_ = nullptr;
};

}  // namespace launchtest
