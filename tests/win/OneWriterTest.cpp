// One library, one writer: vtl64.exe started again while its window is open
// goes to that window, and a save of the window never drops what anyone
// else wrote to the library meanwhile.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <thread>

#include "LaunchFixture.h"
#include "launcher/LibraryHandOver.h"
#include "WinTestUtil.h"
#include "resource.h"

using namespace launchtest;

namespace {

class OneWriter : public ProgramCopy {
 protected:
  // Answers the "Vantle" question of process with button; its text.
  static std::string Answer(DWORD process, int button) {
    HWND box = wintest::WaitForTopWindow(
        process, 30000, [](HWND w) { return !wintest::HasMenu(w) && wintest::WindowText(w) == "Vantle"; }, true);
    if (!box) return "<none>";
    const std::string text = wintest::ChildTexts(box);
    PostMessageW(box, WM_COMMAND, button, 0);
    for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(50);
    return text;
  }

  static int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
  }
};

const char kTwoGames[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root><Games>"
    "<g><Main Name=\"Alpha\" Run=\"C:\\ALPHA.EXE\"/></g><g><Main Name=\"Beta\" Run=\"C:\\BETA.EXE\"/></g>"
    "</Games></root>\r\n";

}  // namespace

TEST_F(OneWriter, ImportWhileTheWindowIsOpenGoesToTheWindowAndNoSaveLosesAGame) {
  WriteBytes(program_ / "vtl.xml", kTwoGames);
  for (const char* file : {"Gamma\\GAMMA.EXE", "Delta\\DELTA.EXE", "Later\\Zeta\\ZETA.EXE"}) {
    fs::create_directories((root_ / "games" / file).parent_path());
    WriteBytes(root_ / "games" / file, "MZ");
  }
  wintest::Process window(Vantle(""));
  HWND main = wintest::WaitForTopWindow(window.id(), 30000, wintest::HasMenu);
  ASSERT_NE(nullptr, main);
  HWND list = GetDlgItem(main, IDC_GAME_LIST);

  // -import hands its folder (relative to its own) to the window's review.
  wintest::Process importer(Vantle("-import games"), root_.string());
  DWORD exitCode = 12345;
  ASSERT_TRUE(importer.Wait(30000, &exitCode));
  EXPECT_EQ(3u, exitCode) << "handed over";
  HWND dialog = wintest::WaitForTopWindow(
      window.id(), 30000, [](HWND w) { return wintest::WindowText(w) == "Import Games from Folder"; }, true);
  ASSERT_NE(nullptr, dialog) << "no import dialog in the window";
  for (int i = 0; i < 300 && !IsWindowEnabled(GetDlgItem(dialog, IDOK)); ++i) Sleep(50);
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  EXPECT_NE(std::string::npos, Answer(window.id(), IDOK).find("Added 3 games"));
  EXPECT_EQ(5, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));

  // Another program saves a game of its own; then the window deletes Alpha
  // and saves. Both changes are in the file, and the list shows the game.
  std::string outside = ReadBytes(program_ / "vtl.xml");
  ASSERT_NE(std::string::npos, outside.find("</Games>"));
  outside.insert(outside.find("</Games>"), "<g><Main Name=\"Epsilon\" Run=\"C:\\EPS.EXE\"/></g>");
  WriteBytes(program_ / "vtl.xml", outside);
  PostMessageW(list, WM_CHAR, 'A', 0);  // selects Alpha by its first letter
  Sleep(300);
  PostMessageW(main, WM_COMMAND, IDM_DELETE, 0);
  EXPECT_NE(std::string::npos, Answer(window.id(), IDYES).find("Are you sure?"));
  for (int i = 0; i < 100 && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) != 5; ++i) Sleep(50);
  EXPECT_EQ(5, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) << "Epsilon in, Alpha out";

  // A folder handed over just before the window is told to close: the close
  // comes first (its thread held while both wait), and the folder is still
  // reviewed, because its sender already answered "handed over".
  fs::create_directories(root_ / "late" / "Theta");
  WriteBytes(root_ / "late" / "Theta" / "THETA.EXE", "MZ");
  HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(main, nullptr));
  ASSERT_NE(nullptr, thread);
  ASSERT_NE(static_cast<DWORD>(-1), SuspendThread(thread));
  std::string late = (root_ / "late").string();
  std::thread sender([&] {
    COPYDATASTRUCT data{kHandOverImport, static_cast<DWORD>(late.size()), late.data()};
    DWORD_PTR accepted = FALSE;
    SendMessageTimeoutW(main, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, 30000, &accepted);
  });
  Sleep(500);
  SendNotifyMessageW(main, WM_CLOSE, 0, 0);
  Sleep(200);
  ResumeThread(thread);
  CloseHandle(thread);
  sender.join();
  dialog = wintest::WaitForTopWindow(
      window.id(), 30000, [](HWND w) { return wintest::WindowText(w) == "Import Games from Folder"; }, true);
  ASSERT_NE(nullptr, dialog) << "the handed folder was dropped as the window closed";
  for (int i = 0; i < 300 && !IsWindowEnabled(GetDlgItem(dialog, IDOK)); ++i) Sleep(50);
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  EXPECT_NE(std::string::npos, Answer(window.id(), IDOK).find("Added 1 game"));
  ASSERT_TRUE(window.Wait(30000, &exitCode));
  const std::string saved = ReadBytes(program_ / "vtl.xml");
  for (const char* game : {"Beta", "Gamma", "Delta", "Zeta", "Epsilon", "Theta"})
    EXPECT_EQ(1, Count(saved, std::string("Name=\"") + game + "\"")) << game << " in\n" << saved;
  EXPECT_EQ(0, Count(saved, "Name=\"Alpha\"")) << saved;

  // Without a window, -import adds by itself, as ever.
  fs::create_directories(root_ / "more" / "Eta");
  WriteBytes(root_ / "more" / "Eta" / "ETA.EXE", "MZ");
  wintest::Process alone(Vantle("-import \"" + (root_ / "more").string() + "\""));
  ASSERT_TRUE(alone.Wait(30000, &exitCode));
  EXPECT_EQ(0u, exitCode);
  EXPECT_EQ(1, Count(ReadBytes(program_ / "vtl.xml"), "Name=\"Eta\""));
}

TEST_F(OneWriter, ASecondStartInWindowModeBringsTheFirstWindowBack) {
  WriteBytes(program_ / "vtl.xml", kTwoGames);
  wintest::Process first(Vantle(""));
  HWND main = wintest::WaitForTopWindow(first.id(), 30000, wintest::HasMenu);
  ASSERT_NE(nullptr, main);
  ShowWindow(main, SW_MINIMIZE);
  for (int i = 0; i < 100 && !IsIconic(main); ++i) Sleep(50);
  ASSERT_TRUE(IsIconic(main));

  wintest::Process second(Vantle(""));
  DWORD exitCode = 12345;
  ASSERT_TRUE(second.Wait(30000, &exitCode)) << "the second start opened a window of its own";
  EXPECT_EQ(0u, exitCode);
  EXPECT_FALSE(IsIconic(main)) << "the first window was not restored";
  EXPECT_EQ(main, GetForegroundWindow());

  PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(first.Wait(30000, &exitCode));
  EXPECT_EQ(0u, exitCode);
}
