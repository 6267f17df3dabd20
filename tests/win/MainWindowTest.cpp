// The main window and the new game wizard, driven like a person drives them:
// the window runs its own modal loop on a thread of its own, as in the
// program; the test clicks, presses keys and answers the dialogs, and reads
// the list, the library file and what the test DOSBOX.EXE recorded.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MainWindowFixture.h"
#include "launcher/GameLaunch.h"
#include "launcher/EngineList.h"
#include "launcher/GameSchema.h"
#include "launcher/WindowSettings.h"
#include "launcher/window/ImportGames.h"
#include "text/TextConvert.h"

using namespace launchtest;

namespace {

// Runs a shell command of the host in folder and waits (five seconds at most)
// until it has left the file named done: Wine gives no handle to wait on.
void RunOnHost(const std::string& command, const fs::path& folder, const char* done) {
  std::string line = "Z:\\bin\\sh -c \"" + command + " && touch " + done + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.string().c_str(), &startup,
                     &process)) {
    for (HANDLE h : {process.hThread, process.hProcess})
      if (h) CloseHandle(h);
  }
  for (int i = 0; i < 100 && !fs::exists(folder / done); ++i) Sleep(50);
  fs::remove(folder / done);
}

// Where a control of dialog lies in the dialog's client area.
RECT PlaceOf(HWND dialog, int id) {
  RECT place;
  GetWindowRect(GetDlgItem(dialog, id), &place);
  return MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2), place;
}

// The import dialog's list after a scan of folder: "name|installer;" a row.
std::wstring ScanInImportDialog(HWND dialog, const std::wstring& folder) {
  SetDlgItemTextW(dialog, IDC_IMPORT_FOLDER, folder.c_str());
  uitest::PressButton(dialog, IDC_IMPORT_FIND);
  for (int i = 0; i < 300 && !IsWindowEnabled(GetDlgItem(dialog, IDOK)); ++i) Sleep(50);
  HWND found = GetDlgItem(dialog, IDC_IMPORT_LIST);
  std::wstring names;
  for (int row = 0; row < static_cast<int>(SendMessageW(found, LVM_GETITEMCOUNT, 0, 0)); ++row)
    names += uitest::CellText(found, row, 0) + L"|" + uitest::CellText(found, row, 2) + L";";
  return names;
}

}  // namespace

TEST_F(MainWindowTest, ListsTheLibraryByCategoryOrNumberAndSortsInTheSharedDirection) {
  std::vector<Game> games;
  static const char* const kNames[] = {"Game 1", "Game 2", "Game 3", "Game 4", "Game 5", "Game 6",
                                       "Game 7", "Game 8", "Game 9", "Game 10", "game 11", "Game 12"};
  for (const char* name : kNames) games.push_back({name, "Strategy", "C:\\G.EXE", ""});
  games[0].category = "action";
  games[1].category = "Racing";
  games[0].year = "1993", games[1].year = "1987", games[2].year = "1990";
  games[1].developer = "Bitmap Brothers";
  WriteLibrary(games);
  Open();

  ASSERT_EQ(12, Count());
  // This list view draws no groups, so column 0 names each game's category,
  // and a category's games stay together, as the groups would show them.
  EXPECT_EQ(L"No Category", Cell(0, 0));
  EXPECT_EQ(L"Game 2", Cell(0, 1));
  EXPECT_EQ(L"Action", Cell(1, 0));
  EXPECT_EQ(L"about Game 1", Cell(1, 2));
  EXPECT_EQ(L"Strategy", Cell(11, 0));
  EXPECT_EQ(L"Game 3", Cell(2, 1));
  EXPECT_EQ(L"1987", Cell(0, 3));
  EXPECT_EQ(L"Bitmap Brothers", Cell(0, 4));
  EXPECT_EQ(L"", Cell(11, 3));

  // The columns fit their widest text (or their header) as the list itself
  // would fit them, and the last reaches to the window's edge.
  const auto width = [this](int column) { return static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, column, 0)); };
  const auto fits = [&](int column) {
    const int fitted = width(column);
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE);
    const int text = width(column);
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE_USEHEADER);
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, column, fitted);
    return std::abs(fitted - text) <= 2 || std::abs(fitted - width(column)) <= 2;
  };
  for (int column : {1, 2, 3}) EXPECT_TRUE(fits(column)) << column;
  const int stretched = width(4);
  RECT client{};
  GetClientRect(list_, &client);
  EXPECT_NEAR(client.right, width(0) + width(1) + width(2) + width(3) + stretched, GetSystemMetrics(SM_CXVSCROLL));
  SendMessageW(list_, LVM_SETCOLUMNWIDTH, 4, LVSCW_AUTOSIZE);
  EXPECT_GT(stretched, width(4)) << "the developer column is stretched";
  SendMessageW(list_, LVM_SETCOLUMNWIDTH, 4, stretched);

  Key(VK_F4);  // groups off: the games are numbered
  EXPECT_FALSE(GroupsShown);
  EXPECT_EQ(L"1;2;3;4;5;6;7;8;9;10;11;12;", Column(0));

  const auto arrow = [this](int column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(reinterpret_cast<HWND>(SendMessageW(list_, LVM_GETHEADER, 0, 0)), HDM_GETITEMW, column,
                 reinterpret_cast<LPARAM>(&item));
    return item.fmt & (HDF_SORTUP | HDF_SORTDOWN);
  };
  ClickHeader(1);  // ascending, as the find box compares, numbers in their order
  EXPECT_EQ(L"Game 1;Game 2;Game 3;Game 4;Game 5;Game 6;Game 7;Game 8;Game 9;Game 10;game 11;Game 12;",
            Column(1));
  EXPECT_EQ(HDF_SORTUP, arrow(1));
  ClickHeader(0);  // the next click on any column sorts descending, numerically
  EXPECT_EQ(L"12;11;10;9;8;7;6;5;4;3;2;1;", Column(0));
  EXPECT_EQ(0, arrow(1));
  EXPECT_EQ(HDF_SORTDOWN, arrow(0));
  ClickHeader(0);
  EXPECT_EQ(L"1;2;3;4;5;6;7;8;9;10;11;12;", Column(0));
  ClickHeader(1);  // descending
  Key(VK_F4);  // and back to the categories: the sort holds through the refill
  EXPECT_EQ(L"Game 12;game 11;Game 10;Game 9;", Column(1).substr(0, 31));
  EXPECT_EQ(HDF_SORTDOWN, arrow(1));

  // The window's place and size, a width the user set and the sort are
  // there again at the next start.
  SetWindowPos(main_, nullptr, 40, 30, 720, 410, SWP_NOZORDER);
  SendMessageW(list_, LVM_SETCOLUMNWIDTH, 1, 123);
  Settle();
  RECT before{};
  GetWindowRect(main_, &before);
  Close();
  SortedColumn = -1, SortDirection = +1;
  Open();
  RECT after{};
  GetWindowRect(main_, &after);
  EXPECT_EQ(std::vector<LONG>({before.left, before.top, before.right, before.bottom}),
            std::vector<LONG>({after.left, after.top, after.right, after.bottom}));
  EXPECT_EQ(123, width(1));
  EXPECT_EQ(HDF_SORTDOWN, arrow(1));
  EXPECT_EQ(L"Game 12", Cell(0, 1));
  ClickHeader(1);  // the next click sorts the other way
  EXPECT_EQ(L"Game 1", Cell(0, 1));

  // Years sort as numbers, and games of no known year stay last either way.
  ClickHeader(3);
  EXPECT_EQ(L"1993;1990;1987;;", Column(3).substr(0, 16));
  EXPECT_EQ(L"Game 1;Game 3;Game 2;Game 4;", Column(1).substr(0, 28));
  ClickHeader(3);
  EXPECT_EQ(L"1987;1990;1993;;", Column(3).substr(0, 16));

  // Widths kept before the list had its later columns still hold for the
  // columns they name; the others fit their texts.
  Close();
  const std::string settings = ReadBytes(WindowSettingsPath());
  std::string older = settings;
  for (const char* later : {" Column3=\"", " Column4=\""}) {
    const std::size_t at = older.find(later);
    ASSERT_NE(std::string::npos, at) << settings;
    older.erase(at, older.find('"', at + std::strlen(later)) + 1 - at);
  }
  WriteBytes(WindowSettingsPath(), older);
  Open();
  EXPECT_EQ(123, width(1));
  EXPECT_TRUE(fits(3));
  EXPECT_GT(width(4), width(3));
}

TEST_F(MainWindowTest, TheFindBoxShowsWhatHoldsTheTextUntilEscapeAndTypingFindsNames) {
  WriteLibrary({{"Zw\xC3\xB6lf Boxk\xC3\xA4mpfer", "Sport", "C:\\ZB\\ZB.EXE", ""},
                {"Duke Nukem", "Action", "C:\\DUKE\\DUKE.EXE", ""},
                {"Sim City", "Simulation", "C:\\SIM\\SIM.EXE", ""},
                {"Doom", "Action", "C:\\DOOM\\DOOM.EXE", ""}});
  Open();
  HWND box = GetDlgItem(main_, IDC_FIND_BOX);
  ASSERT_NE(nullptr, box);
  auto focused = [this] {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(uiThread_, &info);
    return info.hwndFocus;
  };
  auto type = [&](const std::wstring& text) {
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    for (wchar_t c : text) PostMessageW(box, WM_CHAR, c, 1);
    Settle();
  };
  // The box sits above the list and takes its room from it.
  RECT boxArea, listArea, client;
  GetWindowRect(box, &boxArea);
  GetWindowRect(list_, &listArea);
  GetClientRect(main_, &client);
  EXPECT_EQ(boxArea.bottom, listArea.top);
  EXPECT_EQ(client.bottom, (boxArea.bottom - boxArea.top) + (listArea.bottom - listArea.top));

  Select(0);
  Key('F', {VK_CONTROL});
  EXPECT_EQ(box, focused());
  const struct {
    const wchar_t* typed;
    const wchar_t* shown;
  } cases[] = {
      {L"box", L"Zw\u00F6lf Boxk\u00E4mpfer;"}, {L"ZWOLF", L"Zw\u00F6lf Boxk\u00E4mpfer;"},
      {L"KAMPF", L"Zw\u00F6lf Boxk\u00E4mpfer;"}, {L"about d", L"Duke Nukem;Doom;"},
      {L"simul", L"Sim City;"}, {L"xyz", L""}, {L"duke", L"Duke Nukem;"},
  };
  for (const auto& c : cases) {
    type(c.typed);
    EXPECT_EQ(c.shown, Column(1)) << c.typed;
  }
  // Enter starts the match the box selected; a refill keeps the filter.
  PostMessageW(box, WM_KEYDOWN, VK_RETURN, 1);
  Settle();
  for (int i = 0; i < 200 && CallCount(program_) < 1; ++i) Sleep(50);
  ASSERT_EQ(1, CallCount(program_));
  EXPECT_NE(std::string::npos, CallConf(1).find("DUKE.EXE"));
  PostMessageW(main_, WM_COMMAND, IDM_TOGGLE_GROUPS, 0);
  Settle();
  EXPECT_EQ(L"Duke Nukem;", Column(1));
  PostMessageW(box, WM_KEYDOWN, VK_DOWN, 1);
  Settle();
  EXPECT_EQ(list_, focused());

  // Ctrl+F selects what the box holds, so that typing replaces it; F4 works
  // there as in the list, and a refill while nothing is found narrows no
  // column.
  const int nameWidth = static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, 1, 0));
  Key('F', {VK_CONTROL});
  DWORD from = 1, to = 0;
  SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(std::vector<DWORD>({0, 4}), std::vector<DWORD>({from, to}));
  type(L"nothing like it");
  const bool groups = GroupsShown;
  PostMessageW(box, WM_KEYDOWN, VK_F4, 1);
  Settle();
  EXPECT_NE(groups, GroupsShown);
  EXPECT_EQ(0, Count());

  // Escape clears the box and gives the list the focus back.
  Key('F', {VK_CONTROL});
  PostMessageW(box, WM_KEYDOWN, VK_ESCAPE, 1);
  Settle();
  EXPECT_EQ(L"", uitest::WindowText(box));
  EXPECT_EQ(4, Count());
  EXPECT_EQ(list_, focused());
  EXPECT_EQ(nameWidth, static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, 1, 0)));

  // Typing in the list finds by name, whatever column 0 shows.
  PostMessageW(list_, WM_CHAR, L's', 1);
  Settle();
  ASSERT_GE(SelectedGame(list_), 0);
  EXPECT_EQ(L"Sim City", Cell(SelectedGame(list_), 1));
}

TEST_F(MainWindowTest, ImportShowsTheGamesOfAFolderTreeAndAddsTheTickedOnesOnce) {
  WriteLibrary({});
  const fs::path games = root_ / L"Meine Spiele";
  for (const wchar_t* file : {L"Keen\\KEEN4.EXE", L"Keen\\INSTALL.EXE", L"Keen\\SAVES\\OTHER.EXE",
                              L"Sammlung\\Lemmings\\LEMMINGS.EXE", L"Sammlung\\Quest\\quest.cue",
                              L"OnlySetup\\SETUP.EXE", L"Zw\u00F6lf\\ZWOLF.EXE", L"Docs\\readme.txt"}) {
    fs::create_directories((games / file).parent_path());
    WriteBytes(games / file, "MZ");
  }
  // A link back to the chosen folder is no game and no way to loop. The host
  // makes it and takes it away before the test's folder is removed (which
  // would follow it round and round).
  // The same folder is reached a second way, through Z: and a host link.
  const std::wstring second = L"Z:\\tmp\\vantle-import-" + std::to_wstring(GetCurrentProcessId());
  const std::string hostSecond = "/tmp/vantle-import-" + std::to_string(GetCurrentProcessId());
  RunOnHost("ln -s . Loop && ln -sfn \\\"$PWD\\\" " + hostSecond, games, "linked");
  const std::shared_ptr<void> unlink(nullptr, [&](void*) { RunOnHost("rm -f Loop " + hostSecond, games, "unlinked"); });
  Open();
  PostMessageW(main_, WM_COMMAND, IDM_IMPORT_FOLDER, 0);
  HWND dialog = uitest::WaitForDialog(L"Import Games from Folder");
  ASSERT_NE(nullptr, dialog);
  // Paths show from the chosen folder on; the library gets them whole.
  EXPECT_EQ(L"Keen|Keen\\INSTALL.EXE;OnlySetup|OnlySetup\\SETUP.EXE;Lemmings|;Quest|Sammlung\\Quest\\quest.cue;"
            L"Zw\u00F6lf|;",
            ScanInImportDialog(dialog, games.wstring()));
  HWND found = GetDlgItem(dialog, IDC_IMPORT_LIST);
  EXPECT_EQ(L"Keen\\KEEN4.EXE", uitest::CellText(found, 0, 1));

  // Resized, the list grows with the dialog and the buttons stay in its
  // corner; it never gets smaller than it opened.
  RECT opened, smallest;
  GetWindowRect(dialog, &opened);
  const RECT list = PlaceOf(dialog, IDC_IMPORT_LIST), add = PlaceOf(dialog, IDOK);
  SetWindowPos(dialog, nullptr, 0, 0, opened.right - opened.left + 200, opened.bottom - opened.top + 150, SWP_NOMOVE);
  const RECT grown = PlaceOf(dialog, IDC_IMPORT_LIST), moved = PlaceOf(dialog, IDOK);
  EXPECT_EQ((std::vector<LONG>{list.left, list.top, list.right + 200, list.bottom + 150, add.left + 200, add.top + 150}),
            (std::vector<LONG>{grown.left, grown.top, grown.right, grown.bottom, moved.left, moved.top}));
  SetWindowPos(dialog, nullptr, 0, 0, 100, 80, SWP_NOMOVE);
  GetWindowRect(dialog, &smallest);
  EXPECT_EQ(opened.right - opened.left + opened.bottom - opened.top, smallest.right - smallest.left + smallest.bottom - smallest.top);

  // Untick one, rename another the way the list edits a label, then add.
  LVITEMW untick{};
  untick.stateMask = LVIS_STATEIMAGEMASK;
  untick.state = INDEXTOSTATEIMAGEMASK(1);
  SendMessageW(found, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&untick));
  HWND label = reinterpret_cast<HWND>(SendMessageW(found, LVM_EDITLABELW, 0, 0));
  ASSERT_NE(nullptr, label);
  SendMessageW(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Commander Keen 4"));
  PostMessageW(label, WM_KEYDOWN, VK_RETURN, 1);
  Settle();
  uitest::PressButton(dialog, IDOK);
  EXPECT_TRUE(uitest::AnswerDialog(L"Vantle", L"Added 4 games to the library.\r\n\r\nFolders skipped:\r\n1 reached again through a link", IDOK));
  Settle();
  EXPECT_EQ(L"Commander Keen 4;Lemmings;Quest;Zw\u00F6lf;", Column(1));

  // Through the second way, only the folder left out is offered again. The
  // dialog offers the folder it scanned last.
  PostMessageW(main_, WM_COMMAND, IDM_IMPORT_FOLDER, 0);
  dialog = uitest::WaitForDialog(L"Import Games from Folder");
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(games.wstring(), uitest::WindowText(GetDlgItem(dialog, IDC_IMPORT_FOLDER)));
  EXPECT_EQ(L"OnlySetup|OnlySetup\\SETUP.EXE;", ScanInImportDialog(dialog, second));
  // Another front end's library: each game with its source and what stays behind.
  fs::create_directories(root_ / L"DFend" / L"Confs");
  WriteBytes(root_ / L"DFend" / L"Confs" / L"Keen.prof", "[ExtraInfo]\r\nName=Keen\r\n[glide]\r\nglide=true\r\n");
  EnableWindow(GetDlgItem(dialog, IDOK), FALSE);  // so that the wait below sees this scan end, not the last one
  EXPECT_EQ(L"Keen|D-Fend Reloaded. Not carried: setting [glide] glide=true;",
            ScanInImportDialog(dialog, (root_ / L"DFend").wstring()));
  uitest::PressButton(dialog, IDCANCEL);
  Settle();
  Close();
  const std::string saved = SavedLibrary();
  EXPECT_NE(std::string::npos, saved.find("Run=\"" + Utf8FromWide((games / L"Sammlung\\Lemmings\\LEMMINGS.EXE").wstring())));
  EXPECT_NE(std::string::npos, saved.find("quest.cue\" remote=\"D\"")) << "the image is the CD drive";
  EXPECT_EQ(std::string::npos, saved.find("OnlySetup"));

  // -import brings in what was left out, and a second run (the other way round) adds nothing.
  GameDatabase = OpenGameDatabase(DatabasePath).document;
  EXPECT_EQ(0, ImportFolderQuietly(Utf8FromWide(second)));
  EXPECT_EQ(5u, GamesOf(*GameDatabase)->GetChildCount());
  EXPECT_EQ(0, ImportFolderQuietly(Utf8FromWide(games.wstring())));
  EXPECT_EQ(5u, GamesOf(*GameDatabase)->GetChildCount());
  EXPECT_EQ(1, ImportFolderQuietly(Utf8FromWide((games / L"missing").wstring())));
}

TEST_F(MainWindowTest, KeysRunSetUpEditAndAddWhereTheMenuSays) {
  WriteLibrary({{"Keen", "Platform", "C:\\KEEN\\KEEN4.EXE", "C:\\KEEN\\INSTALL.EXE"},
                {"Doom", "Shootemup", "C:\\DOOM\\DOOM.EXE", ""}});
  Open();

  // The window answers at once after each launch: three of them take far
  // less than the three seconds each file lives.
  Select(0);
  const DWORD start = GetTickCount();
  Key(VK_RETURN);  // Run
  Key(VK_RETURN, {VK_CONTROL});  // Setup
  Select(1);
  const POINT doom = uitest::CellCenter(list_, 1, 1);
  PostMessageW(list_, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(doom.x, doom.y));
  PostMessageW(list_, WM_LBUTTONUP, 0, MAKELPARAM(doom.x, doom.y));
  Settle();
  EXPECT_LT(GetTickCount() - start, 2500u);
  const std::string living = TempFiles(program_);
  EXPECT_EQ(3, std::count(living.begin(), living.end(), ';'))
      << "each file lives on while DOSBox may read it";
  for (int i = 0; i < 200 && CallCount(program_) < 3; ++i) Sleep(50);
  ASSERT_EQ(3, CallCount(program_));
  // Each launch starts DOSBox from a thread of its own, so under load the
  // three may reach it in any order: each program once, whichever came first.
  const std::string confs[] = {CallConf(1), CallConf(2), CallConf(3)};
  for (const char* program : {"KEEN4.EXE", "INSTALL.EXE", "DOOM.EXE"})
    EXPECT_EQ(1, std::count_if(std::begin(confs), std::end(confs),
                               [program](const std::string& conf) { return conf.find(program) != std::string::npos; }))
        << program;
  // When DOSBox ends, the game of the list is timed and the library saved.
  for (int i = 0; i < 200 && SavedLibrary().find("LastPlayed") == std::string::npos; ++i) Sleep(50);
  const std::string timed = SavedLibrary();
  EXPECT_NE(std::string::npos, timed.find("PlayTime=\"0\" LastPlayed=\"20")) << timed;

  // Shift+Enter edits; while the editor is open the game cannot be deleted.
  Select(0);
  XmlElement* keen = GamesOf(*GameDatabase)->GetChildren()[0];
  Key(VK_RETURN, {VK_SHIFT});
  HWND editor = FindXmlEditor(keen);
  ASSERT_NE(nullptr, editor);
  Key(VK_DELETE);
  ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"open in an editor", IDOK));
  Settle();
  EXPECT_EQ(2, Count());
  EXPECT_EQ(keen, GamesOf(*GameDatabase)->GetChildren()[0]);
  PostMessageW(editor, WM_CLOSE, 0, 0);
  Settle();

  Key('N', {VK_CONTROL});
  ASSERT_TRUE(uitest::AnswerDialog(L"", L"Specify installer and/or executable now", IDCANCEL));
  Settle();
  EXPECT_EQ(2, Count());
}

TEST_F(MainWindowTest, DeleteAsksWithTheNameOrTheCountAndDeletesAllThatWereAskedAbout) {
  WriteLibrary({{"Keen", "Platform", "", ""}, {"Doom", "Shootemup", "", ""}, {"Heretic", "Shootemup", "", ""},
                {"Quake", "Shootemup", "", ""}});
  Open();
  Select(1);
  for (int answer : {IDNO, IDYES}) {
    Key(VK_DELETE);
    ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"Are you sure?\r\n\r\n\"Doom\" will be deleted.", answer));
    Settle();
  }
  ASSERT_EQ(3, Count());
  std::string saved = SavedLibrary();  // before the program ends
  EXPECT_EQ(std::string::npos, saved.find("Doom"));
  EXPECT_NE(std::string::npos, saved.find("Keen"));

  // Several selected: one question with their count, then all go and the
  // library is saved once; commands for one game say so.
  for (int row : {0, 2}) ListView_SetItemState(list_, row, LVIS_SELECTED, LVIS_SELECTED);
  PostMessageW(main_, WM_COMMAND, IDM_SAVE_CONF, 0);
  ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"works on one game at a time", IDOK));
  Key(VK_DELETE);
  ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"2 games will be deleted:\r\n\"", IDYES));
  Settle();
  ASSERT_EQ(1, Count());
  EXPECT_EQ(L"Heretic", Cell(0, 1));
  saved = SavedLibrary();
  EXPECT_EQ(std::string::npos, saved.find("Keen"));
  EXPECT_EQ(std::string::npos, saved.find("Quake"));

  // Enter on a game with neither program nor installer says why before its
  // editor opens.
  Select(0);
  Key(VK_RETURN);
  ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"\"Heretic\" has no program yet: set Run once it is installed.", IDOK));
  Settle();
  HWND editor = FindXmlEditor(GamesOf(*GameDatabase)->GetChildren()[0]);
  ASSERT_NE(nullptr, editor);
  PostMessageW(editor, WM_CLOSE, 0, 0);
  Settle();
}

// A library kept elsewhere (a synced folder) behind a link named vtl.xml is
// saved into the file the link leads to; the link stays.
TEST_F(MainWindowTest, ALinkedLibraryIsSavedThroughItsLink) {
  WriteLibrary({{"Keen", "Platform", "", ""}, {"Doom", "Shootemup", "", ""}});
  fs::rename(DatabasePath, program_ / "synced.xml");
  // Wine makes no links of its own, and deletes a link's target rather than
  // the link: the host makes the link and takes it away again.
  RunOnHost("ln -s synced.xml vtl.xml", program_, "linked");
  const std::shared_ptr<void> unlink(nullptr, [&](void*) { RunOnHost("rm vtl.xml", program_, "unlinked"); });
  Open();
  ASSERT_EQ(2, Count());
  Select(1);
  Key(VK_DELETE);
  ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"Are you sure?", IDYES));
  Settle();
  const std::string synced = ReadBytes(program_ / "synced.xml");
  EXPECT_EQ(std::string::npos, synced.find("Doom"));
  EXPECT_NE(std::string::npos, synced.find("Keen"));
  for (const auto& entry : fs::directory_iterator(program_))
    EXPECT_NE(".tmp", entry.path().extension().string()) << entry.path();
}

TEST_F(MainWindowTest, EditsReachTheListAndTheLibraryWhenTheEditorCloses) {
  WriteLibrary({{"Keen", "Platform", "", ""}});
  Open();
  Select(0);
  Key(VK_RETURN, {VK_SHIFT});
  HWND editor = FindXmlEditor(GamesOf(*GameDatabase)->GetChildren()[0]);
  ASSERT_NE(nullptr, editor);
  // Main is labelled by its Name.
  HWND tree = GetDlgItem(editor, kEditorTreeId), grid = GetDlgItem(editor, kEditorGridId);
  SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET,
               reinterpret_cast<LPARAM>(uitest::FindTreeItem(tree, L"Keen")));
  const int row = uitest::FindRow(grid, L"Name");
  ASSERT_GE(row, 0);
  uitest::ClickCell(grid, row, 1);
  Settle();
  uitest::ClickCell(grid, row, 1);
  Settle();
  HWND edit = reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));
  ASSERT_NE(nullptr, edit);
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Commander Keen \x00D6"));
  PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
  Settle();
  PostMessageW(editor, WM_CLOSE, 0, 0);
  Settle();
  EXPECT_EQ(L"Commander Keen \x00D6", Cell(0, 1));
  EXPECT_NE(std::string::npos, SavedLibrary().find("Name=\"Commander Keen \xC3\x96\""));  // before the end
}

TEST_F(MainWindowTest, TheDefaultProfileIsEditedWholeAndRestored) {
  WriteLibrary({});
  const fs::path profile = program_ / "defrc.xml";
  Open();
  fs::last_write_time(profile, fs::last_write_time(profile) - std::chrono::hours(1));
  const auto before = fs::last_write_time(profile);
  PostMessageW(main_, WM_COMMAND, IDM_EDIT_DEFAULT_PROFILE, 0);
  HWND editor = nullptr;
  for (int i = 0; i < 100 && !editor; ++i, Sleep(50)) editor = FindWindowW(L"XML_XDB_CLASS", L"root");
  ASSERT_NE(nullptr, editor);
  PostMessageW(editor, WM_CLOSE, 0, 0);
  Settle();
  EXPECT_GT(fs::last_write_time(profile), before) << "saved even though nothing changed";

  PostMessageW(main_, WM_COMMAND, IDM_RESTORE_DEFAULT_PROFILE, 0);
  HWND told = uitest::WaitForDialog(L"Vantle", L"Default profile restored.");
  ASSERT_NE(nullptr, told);
  EXPECT_FALSE(fs::exists(profile));
  uitest::PressButton(told, IDOK);
}

namespace {

// One way through the wizard: what the user picks and answers, and the game
// it must store.
struct WizardCase {
  int mode;          // radio button
  bool pickFiles;    // check box 301
  const wchar_t* fileDialog;  // title of the file dialog expected, or null
  std::string expectedMounts;  // "type local remote;" for each mount
  bool installerStored, executableStored;
};

}  // namespace

TEST_F(MainWindowTest, TheWizardStoresEveryModeWithItsMounts) {
  // More games than the list shows at once: each new one must be scrolled to.
  const int kEarlier = 60;
  WriteLibrary(std::vector<Game>(kEarlier, Game{"Earlier", "Action", "", ""}));
  fs::create_directories(root_ / "games");
  const fs::path program = root_ / "games" / "SETUP.EXE";
  WriteBytes(program, "MZ");
  const std::wstring chosen = WideFromUtf8(program.string());
  const char letter = static_cast<char>(towupper(chosen[0]));
  const std::string drive = std::string(1, letter) + ":\\";
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::string system = std::string(1, static_cast<char>(towupper(windows[0]))) + ":\\";

  const WizardCase cases[] = {
      {IDC_NEW_CD, true, L"Select Installer",
       "hdd " + system + " C;cdrom " + drive + " " + letter + ";", true, false},
      {IDC_NEW_ON_DISK, true, L"Select Executable", "hdd " + drive + " " + letter + ";",
       false, true},
      {IDC_NEW_ON_DISK, false, nullptr, "hdd " + system + " D;", false, false},
      {IDC_NEW_FLOPPY, false, nullptr, "hdd " + system + " C;floppy A:\\ A;", false, false},
      {IDC_NEW_MANUAL, true, nullptr, "  ;  ;  ;  ;  ;  ;", false, false},
  };
  Open();
  int stored = 0;
  for (const WizardCase& c : cases) {
    SCOPED_TRACE(stored);
    PostMessageW(main_, WM_COMMAND, IDM_NEW, 0);
    HWND wizard = uitest::WaitForDialog(L"", L"Specify installer and/or executable now");
    ASSERT_NE(nullptr, wizard);
    SetDlgItemTextW(wizard, IDC_NEW_NAME, L"Zw\x00F6lf \x0416");
    uitest::PressButton(wizard, c.mode);
    if (!c.pickFiles) uitest::PressButton(wizard, IDC_NEW_PICK_FILES);
    uitest::PressButton(wizard, IDOK);
    if (c.fileDialog) {
      if (stored == 0) {  // a cancelled file dialog leaves the wizard as it was
        HWND files = uitest::WaitForDialog(c.fileDialog);
        ASSERT_NE(nullptr, files);
        PostMessageW(files, WM_COMMAND, IDCANCEL, 0);
        Sleep(500);
        ASSERT_TRUE(IsWindowVisible(wizard));
        uitest::PressButton(wizard, IDOK);
      }
      ASSERT_TRUE(uitest::AnswerFileDialog(c.fileDialog, chosen));
    }
    if (c.mode == IDC_NEW_CD) {
      ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"as soon as the game is installed", IDOK));
    }
    if (c.mode == IDC_NEW_MANUAL) {  // No keeps the wizard open; Yes goes on
      for (int answer : {IDNO, IDYES}) {
        ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"manual mounting", answer));
        if (answer == IDNO) {
          Sleep(300);
          ASSERT_TRUE(IsWindowVisible(wizard));
          uitest::PressButton(wizard, IDOK);
        }
      }
    }
    for (int i = 0; i < 100 && IsWindow(wizard); ++i) Sleep(50);
    ASSERT_FALSE(IsWindow(wizard));
    Settle();
    ++stored;
    ASSERT_EQ(kEarlier + stored, Count());
    // The new game is the one selection, and in view.
    const int selected = SelectedGame(list_), top = static_cast<int>(SendMessageW(list_, LVM_GETTOPINDEX, 0, 0));
    EXPECT_EQ(GamesOf(*GameDatabase)->GetChildren()[kEarlier + stored - 1], ListItemEntry(list_, selected));
    EXPECT_EQ(1, SendMessageW(list_, LVM_GETSELECTEDCOUNT, 0, 0));
    EXPECT_TRUE(selected >= top && selected < top + SendMessageW(list_, LVM_GETCOUNTPERPAGE, 0, 0)) << top;

    // What the file on disk now holds, not just the memory.
    XmlDocument saved(DatabasePath.c_str());
    XmlElement* game = GamesOf(saved)->GetChildren()[kEarlier + stored - 1];
    XmlElement* main = Section(game, "Main");
    EXPECT_EQ("Zw\xC3\xB6lf \xD0\x96", AttributeText(main, "Name"));
    EXPECT_EQ("No Category", AttributeText(main, "Category"));
    EXPECT_EQ(c.installerStored ? program.string() : "", AttributeText(main, "Install"));
    EXPECT_EQ(c.executableStored ? program.string() : "", AttributeText(main, "Run"));
    std::string mounts;
    XmlElement* mount = Section(game, "Mount");
    for (unsigned i = 0; i < mount->GetChildCount(); ++i) {
      XmlElement* m = mount->GetChildren()[i];
      mounts += AttributeText(m, "type") + " " + AttributeText(m, "local") + " " +
                AttributeText(m, "remote") + ";";
    }
    EXPECT_EQ(c.expectedMounts, mounts);
  }
}

namespace {

// Points the https handler at program for as long as it lives, and puts back
// what was there before.
class HttpsHandler {
 public:
  explicit HttpsHandler(const std::wstring& commandLine) {
    RegCreateKeyExW(HKEY_CLASSES_ROOT, L"https\\shell\\open\\command", 0, nullptr, 0,
                    KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    wchar_t old[2048] = L"";
    DWORD size = sizeof(old);
    had_ = RegQueryValueExW(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) ==
           ERROR_SUCCESS;
    old_ = old;
    Set(commandLine);
  }
  ~HttpsHandler() {
    if (had_)
      Set(old_);
    else
      RegDeleteValueW(key_, nullptr);
    RegCloseKey(key_);
  }
  void Remove() { RegDeleteValueW(key_, nullptr); }  // no program for web addresses at all

 private:
  void Set(const std::wstring& value) {
    RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  HKEY key_ = nullptr;
  bool had_ = false;
  std::wstring old_;
};

}  // namespace

// The searches go to whatever handles https addresses: here the recorder, so
// that no browser opens.
TEST_F(MainWindowTest, SearchesOpenTheNameExactlyAsTyped) {
  HttpsHandler handler(L"\"" + (program_ / "DOSBOX.EXE").wstring() + L"\" \"%1\"");
  WriteLibrary({{"Doom &amp; Co #2", "Action", "", ""}});
  Open();
  Select(0);
  Key(VK_F6);
  // The recorder writes as it starts: one search at a time keeps their order.
  for (int i = 0; i < 200 && CallCount(program_) < 1; ++i) Sleep(50);
  Key(VK_F7, {VK_SHIFT});  // with or without modifiers
  for (int i = 0; i < 200 && CallCount(program_) < 2; ++i) Sleep(50);
  ASSERT_EQ(2, CallCount(program_));
  EXPECT_NE(std::string::npos,
            CallCommandLine(1).find("https://www.dosbox.com/comp_list.php?&search=Doom+%26+Co+%232"))
      << CallCommandLine(1);
  EXPECT_NE(std::string::npos, CallCommandLine(2).find("https://www.google.com/search?q=Doom %26 Co %232"))
      << CallCommandLine(2);

  // A program for web addresses that fails at once (Wine's, without a
  // browser) is reported, not passed over in silence.
  {
    HttpsHandler failing(L"cmd.exe /c exit 3 \"%1\"");
    Key(VK_F6);
    EXPECT_TRUE(uitest::AnswerDialog(L"Vantle", L"ended with an error", IDOK));
  }
  handler.Remove();
  Key(VK_F7);
  EXPECT_TRUE(uitest::AnswerDialog(L"Vantle", L"No program is registered to open web addresses", IDOK));
}

// Before a program path is edited the editor offers the file dialog; before
// a mount's folder, the folder browser. No leaves the editing to the editor.
TEST_F(MainWindowTest, TheEditorOffersDialogsForPathsAndFolders) {
  WriteLibrary({{"Keen", "Platform", "C:\\OLD\\KEEN.EXE", ""}});
  fs::create_directories(root_ / "keen");
  const fs::path program = root_ / "keen" / "KEEN4.EXE";
  WriteBytes(program, "MZ");
  Open();
  XmlElement* keen = GamesOf(*GameDatabase)->GetChildren()[0];
  Section(keen, "Mount")->AddChildFromText("<m type=\"hdd\" local=\"C:\\\" remote=\"C\" />");
  Select(0);
  Key(VK_RETURN, {VK_SHIFT});
  HWND editor = FindXmlEditor(keen);
  ASSERT_NE(nullptr, editor);
  HWND tree = GetDlgItem(editor, kEditorTreeId), grid = GetDlgItem(editor, kEditorGridId);
  auto editValue = [&](const wchar_t* section, const wchar_t* name) {
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET,
                 reinterpret_cast<LPARAM>(uitest::FindTreeItem(tree, section)));
    const int row = uitest::FindRow(grid, name);
    uitest::ClickCell(grid, row, 1);
    Settle();
    uitest::ClickCell(grid, row, 1);
    return row;
  };

  const int run = editValue(L"Keen", L"Run");
  ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"Do you want to specify a local file ?", IDYES));
  ASSERT_TRUE(uitest::AnswerFileDialog(nullptr, program.wstring()));
  Settle();
  EXPECT_EQ(program.wstring(), uitest::CellText(grid, run, 1));
  EXPECT_EQ(program.string(), AttributeText(Section(keen, "Main"), "Run"));
  EXPECT_EQ(nullptr, reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0)));

  editValue(L"m", L"local");
  ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"Do you want to specify a local folder ?", IDNO));
  Settle();
  Sleep(500);  // the field opens once the activation has settled
  Settle();
  EXPECT_NE(nullptr, reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0)))
      << "No edits the folder in place";

  // F2 asks the same; No gives a field to type the path in, and the editor
  // keeps the keyboard, also when the window system gave the activation to
  // the main window as the question closed (as Wine's does).
  SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(uitest::FindTreeItem(tree, L"Keen")));
  Settle();
  ListView_SetItemState(grid, uitest::FindRow(grid, L"Run"), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  PostMessageW(grid, WM_KEYDOWN, VK_F2, 1);
  ASSERT_TRUE(uitest::AnswerDialog(L"Vantle", L"Do you want to specify a local file ?", IDNO));
  Settle();
  SetForegroundWindow(main_);
  Sleep(500);
  Settle();
  GUITHREADINFO focus{};
  focus.cbSize = sizeof(focus);
  GetGUIThreadInfo(uiThread_, &focus);
  HWND field = reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));
  EXPECT_NE(nullptr, field) << "No after F2 edits the path in place";
  EXPECT_EQ(editor, focus.hwndActive);
  EXPECT_TRUE(field && (focus.hwndFocus == field || IsChild(field, focus.hwndFocus)));
  PostMessageW(editor, WM_CLOSE, 0, 0);
  Settle();
}

// Options → DOSBox Installations: engines are added, refused without a
// program, changed, chosen for new games and removed; OK saves the list
// beside defrc.xml, Cancel keeps it as it was.
TEST_F(MainWindowTest, TheEngineListIsEditedInOptionsAndSavedWithOk) {
  WriteLibrary({{"Keen", "Platform", "", ""}, {"Doom", "Shootemup", "", ""}});
  Open();
  // A game that chose the engine renamed below, under another case.
  SetAttributeText(Section(GamesOf(*GameDatabase)->GetChildren()[0], "Main"), "Engine", "staging");
  auto field = [](HWND dialog, int id, const wchar_t* text) { SetDlgItemTextW(dialog, id, text); };
  PostMessageW(main_, WM_COMMAND, IDM_ENGINES, 0);
  HWND dialog = uitest::WaitForDialog(L"DOSBox Installations");
  ASSERT_NE(nullptr, dialog);
  // A typed path's kind is asked of the program once the field is left: the
  // bridge named for DOSBox-X says so when asked for its version; a program
  // that says nothing leaves the kind as it was.
  fs::copy_file(wintest::HostToWindowsPath(VANTLE_BRIDGE_EXE), program_ / "dosbox-x.exe");
  for (const auto& [program, kind] : {std::pair<fs::path, int>{program_ / "DOSBOX.EXE", 0},
                                      std::pair<fs::path, int>{program_ / "dosbox-x.exe", 2}}) {
    field(dialog, IDC_ENGINE_PROGRAM, program.wstring().c_str());
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_ENGINE_PROGRAM, EN_KILLFOCUS),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_ENGINE_PROGRAM)));
    EXPECT_EQ(kind, SendDlgItemMessageW(dialog, IDC_ENGINE_KIND, CB_GETCURSEL, 0, 0)) << program;
  }
  field(dialog, IDC_ENGINE_NAME, L"Staging");
  field(dialog, IDC_ENGINE_PROGRAM, L"C:\\Staging\\dosbox.exe");
  SendDlgItemMessageW(dialog, IDC_ENGINE_KIND, CB_SETCURSEL, 1, 0);
  SendMessageW(dialog, WM_COMMAND, IDC_ENGINE_ADD, 0);
  field(dialog, IDC_ENGINE_NAME, L"X");
  field(dialog, IDC_ENGINE_PROGRAM, L"");
  PostMessageW(dialog, WM_COMMAND, IDC_ENGINE_ADD, 0);
  EXPECT_TRUE(uitest::AnswerDialog(L"Vantle", L"Give the path of its program.", IDOK));
  field(dialog, IDC_ENGINE_PROGRAM, L"C:\\X\\dosbox-x.exe");
  SendDlgItemMessageW(dialog, IDC_ENGINE_KIND, CB_SETCURSEL, 2, 0);
  SendMessageW(dialog, WM_COMMAND, IDC_ENGINE_ADD, 0);
  // The first becomes the default and is renamed; the default follows it.
  SendDlgItemMessageW(dialog, IDC_ENGINE_LIST, LB_SETCURSEL, 0, 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_ENGINE_LIST, LBN_SELCHANGE), 0);  // as a click tells
  SendMessageW(dialog, WM_COMMAND, IDC_ENGINE_DEFAULT, 0);
  field(dialog, IDC_ENGINE_NAME, L"Staging 0.82");
  SendMessageW(dialog, WM_COMMAND, IDC_ENGINE_CHANGE, 0);
  EXPECT_EQ(2, SendDlgItemMessageW(dialog, IDC_ENGINE_LIST, LB_GETCOUNT, 0, 0));
  SendMessageW(dialog, WM_COMMAND, IDOK, 0);
  Settle();

  EngineList saved = ReadEngineList(EngineListPath());
  ASSERT_EQ(2u, saved.engines.size());
  EXPECT_EQ("Staging 0.82", saved.defaultName);
  EXPECT_EQ("Staging 0.82", saved.engines[0].name);
  EXPECT_EQ(EngineKind::Staging, saved.engines[0].kind);
  EXPECT_EQ("C:\\X\\dosbox-x.exe", saved.engines[1].program);
  EXPECT_EQ(EngineKind::DosBoxX, saved.engines[1].kind);
  // The game follows the rename, in the library as it is saved.
  const std::string library = SavedLibrary();
  EXPECT_NE(std::string::npos, library.find("Engine=\"Staging 0.82\"")) << library;
  EXPECT_EQ(std::string::npos, library.find("Engine=\"staging\"")) << library;

  // Removing the default clears it; Cancel forgets the change.
  PostMessageW(main_, WM_COMMAND, IDM_ENGINES, 0);
  dialog = uitest::WaitForDialog(L"DOSBox Installations");
  ASSERT_NE(nullptr, dialog);
  SendDlgItemMessageW(dialog, IDC_ENGINE_LIST, LB_SETCURSEL, 0, 0);
  SendMessageW(dialog, WM_COMMAND, IDC_ENGINE_REMOVE, 0);
  EXPECT_EQ(1, SendDlgItemMessageW(dialog, IDC_ENGINE_LIST, LB_GETCOUNT, 0, 0));
  SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  Settle();
  EXPECT_EQ(2u, ReadEngineList(EngineListPath()).engines.size());
}

// After DOSBox ends, what it reported about a setting is shown with the
// game's setting; a run that reported nothing shows nothing.
TEST_F(MainWindowTest, WhatDosBoxReportedIsShownWithTheSettingAfterItEnds) {
  WriteBytes(DatabasePath, "<?xml version=\"1.0\"?>\r\n<root><Games>"
                           "<g><Main Name=\"Clean\" Run=\"C:\\GO.EXE\"/><DosBox machine=\"svga_s3\"/>" + kMountC +
                           "</g><g><Main Name=\"Refused\" Run=\"C:\\GO.EXE\"/><DosBox machine=\"vgax\"/>" + kMountC +
                           "</g></Games></root>\r\n");
  Open();
  Select(0);
  Key(VK_RETURN);
  for (int i = 0; i < 200 && SavedLibrary().find("LastPlayed") == std::string::npos; ++i) Sleep(50);
  Settle();
  EXPECT_FALSE(uitest::DialogShown(L"Vantle", L"DOSBox reported")) << "a clean run tells nothing";

  Select(1);
  Key(VK_RETURN);
  HWND told = uitest::WaitForDialog(L"Vantle", L"DOSBox reported", 20000);
  ASSERT_NE(nullptr, told);
  const std::string said = wintest::ChildTexts(told);
  EXPECT_NE(std::string::npos, said.find("DOSBox reported this about the settings of Refused:")) << said;
  EXPECT_NE(std::string::npos,
            said.find("The setting machine under DosBox is \"vgax\", which this DOSBox does not accept; it used "
                      "svga_s3 instead.")) << said;
  SendMessageW(told, WM_COMMAND, IDNO, 0);
}
