// Starts the real vtl64.exe from a fresh program folder under Wine, closes it
// as a user would, and checks the files it leaves. The folder's name is in
// no single ANSI code page: every file is reached by its full name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "WinTestUtil.h"

namespace fs = std::filesystem;

namespace {

using wintest::ReadBytes;
using wintest::WriteBytes;

using wintest::HasMenu;
bool HasNoMenu(HWND window) { return GetMenu(window) == nullptr; }

// A program folder of its own for each test, holding a copy of vtl64.exe.
class ProgramFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("vantle-start-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    folder_ += L"-\x041F\x0440\x043E\x0444\x0438\x043B\x044C-\x6863\x6848";  // Cyrillic, then CJK
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_EXE), folder_ / "vtl64.exe");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Starts the program and waits for its main window (the one with the menu).
  HWND Start(wintest::Process& process) {
    EXPECT_TRUE(process.started());
    return wintest::WaitForTopWindow(process.id(), 30000, HasMenu);
  }

  // Closes the main window with the title bar's close button and expects the
  // program to end with exit code 0.
  void CloseAndExpectCleanExit(wintest::Process& process, HWND main) {
    ASSERT_NE(nullptr, main) << "no main window appeared";
    EXPECT_EQ("Vantle", wintest::WindowText(main));
    PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD exitCode = 12345;
    ASSERT_TRUE(process.Wait(30000, &exitCode));
    EXPECT_EQ(0u, exitCode);
  }

  std::wstring CommandLine() const { return L"\"" + (folder_ / "vtl64.exe").wstring() + L"\""; }

  std::string Listing() const {
    std::string names;
    for (const auto& entry : fs::directory_iterator(folder_)) names += entry.path().filename().string() + ";";
    return names;
  }

  fs::path folder_;
};

const std::string kShippedProfile = ReadBytes(wintest::HostToWindowsPath(VANTLE_DEFAULT_PROFILE));

}  // namespace

TEST_F(ProgramFolder, FirstStartWritesTheProfileAndAnEmptyLibraryAndLeavesNoProbeFile) {
  ASSERT_GT(kShippedProfile.size(), 5000u);
  wintest::Process vantle(CommandLine());
  CloseAndExpectCleanExit(vantle, Start(vantle));

  EXPECT_EQ(kShippedProfile, ReadBytes(folder_ / "defrc.xml"));
  const std::string library = ReadBytes(folder_ / "vtl.xml");
  EXPECT_EQ(0u, library.find("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root"))
      << library;
  EXPECT_FALSE(fs::exists(folder_ / "woa.exe"));
  EXPECT_EQ("defrc.xml;vtl.xml;vtl64.exe;vtlui.xml;", Listing());
}

TEST_F(ProgramFolder, AnEditedProfileIsKeptAndARestoredOneComesBackByteForByte) {
  const std::string mine = "<?xml version=\"1.0\"?>\r\n<root><Games><g/></Games></root>\r\n";
  WriteBytes(folder_ / "defrc.xml", mine);
  {
    wintest::Process vantle(CommandLine());
    HWND main = Start(vantle);
    EXPECT_EQ(mine, ReadBytes(folder_ / "defrc.xml"));
    // Options, Restore Default Profile: a file in use elsewhere cannot go,
    // and the user learns so; then it goes.
    HANDLE inUse = CreateFileW((folder_ / "defrc.xml").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PostMessageW(main, WM_COMMAND, 193, 0);
    const std::string refused = wintest::AnswerMessage(vantle.id(), 30000);
    CloseHandle(inUse);
    EXPECT_NE(std::string::npos, refused.find("could not be restored")) << refused;
    PostMessageW(main, WM_COMMAND, 193, 0);
    EXPECT_NE(std::string::npos, wintest::AnswerMessage(vantle.id(), 30000).find("Default profile restored."));
    EXPECT_FALSE(fs::exists(folder_ / "defrc.xml"));
    CloseAndExpectCleanExit(vantle, main);
  }
  {
    wintest::Process vantle(CommandLine());
    CloseAndExpectCleanExit(vantle, Start(vantle));
  }
  EXPECT_EQ(kShippedProfile, ReadBytes(folder_ / "defrc.xml"));
}

TEST_F(ProgramFolder, ADamagedLibraryIsKeptAsideAfterTellingTheUserOnce) {
  const std::string damaged = "<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Name=\"Doom\"";
  WriteBytes(folder_ / "vtl.xml.damaged", "an older copy");
  WriteBytes(folder_ / "vtl.xml", damaged);

  wintest::Process vantle(CommandLine());
  ASSERT_TRUE(vantle.started());
  HWND message = wintest::WaitForTopWindow(vantle.id(), 30000, HasNoMenu);
  ASSERT_NE(nullptr, message) << "no message appeared";
  EXPECT_EQ("Vantle", wintest::WindowText(message));
  const std::string text = wintest::ChildTexts(message);
  EXPECT_NE(std::string::npos, text.find("could not be read")) << text;
  EXPECT_NE(std::string::npos, text.find("vtl.xml.damaged.1")) << text;
  // Nothing has been written while the user reads it.
  EXPECT_EQ(damaged, ReadBytes(folder_ / "vtl.xml.damaged.1"));
  PostMessageA(message, WM_COMMAND, IDOK, 0);

  CloseAndExpectCleanExit(vantle, Start(vantle));
  EXPECT_EQ(damaged, ReadBytes(folder_ / "vtl.xml.damaged.1"));
  EXPECT_EQ("an older copy", ReadBytes(folder_ / "vtl.xml.damaged"));
  const std::string fresh = ReadBytes(folder_ / "vtl.xml");
  EXPECT_NE(std::string::npos, fresh.find("<root")) << fresh;
  EXPECT_EQ(std::string::npos, fresh.find("Doom")) << fresh;
}
