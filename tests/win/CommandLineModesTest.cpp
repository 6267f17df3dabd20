// vtl64.exe started with arguments: -conf hands the file to DOSBox and ends,
// a command number ends at once, and whatever is not a complete mode opens
// the main window as usual. The database is never written by a mode.
#include <windows.h>

#include <string>

#include "LaunchFixture.h"
#include "WinTestUtil.h"

using namespace launchtest;

namespace {

class CommandLineModes : public ProgramCopy {
 protected:
  // Starts the program and expects it to end by itself with exit code 0.
  void ExpectEndsByItself(const std::string& arguments) {
    wintest::Process vantle(Vantle(arguments));
    ASSERT_TRUE(vantle.started());
    DWORD exitCode = 12345;
    ASSERT_TRUE(vantle.Wait(30000, &exitCode)) << arguments << ": still running";
    EXPECT_EQ(0u, exitCode) << arguments;
  }

  // Starts the program, expects the main window, closes it.
  void ExpectMainWindow(const std::string& arguments) {
    wintest::Process vantle(Vantle(arguments));
    ASSERT_TRUE(vantle.started());
    HWND main = wintest::WaitForTopWindow(vantle.id(), 30000, wintest::HasMenu);
    ASSERT_NE(nullptr, main) << arguments << ": no main window";
    PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD exitCode = 12345;
    ASSERT_TRUE(vantle.Wait(30000, &exitCode)) << arguments;
    EXPECT_EQ(0u, exitCode) << arguments;
  }
};

}  // namespace

TEST_F(CommandLineModes, ConfHandsTheFileToDosBoxAndEndsWithoutWritingTheLibrary) {
  fs::create_directories(root_ / "my games");
  const fs::path conf = root_ / "my games" / "doom game.conf";
  const std::string text = "[cpu]\r\ncycles=max\r\n[autoexec]\r\nDOOM.EXE\r\n";
  WriteBytes(conf, text);

  ExpectEndsByItself("-conf \"" + conf.string() + "\"");
  ASSERT_EQ(1, CallCount(program_));
  EXPECT_EQ("\"" + program_.string() + "\\DOSBOX.EXE\" -conf \"" + conf.string() + "\"", CallCommandLine(1));
  EXPECT_EQ(text, CallConf(1));
  EXPECT_EQ(text, ReadBytes(conf)) << "the user's file stays";
  EXPECT_FALSE(fs::exists(program_ / "vtl.xml"));
  ExpectNoDecoyRun();
}

TEST_F(CommandLineModes, ACommandNumberEndsAtOnceAndLeavesTheLibraryAlone) {
  const std::string library =
      "<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Name=\"Keen\"/></g></Games></root>\r\n";
  WriteBytes(program_ / "vtl.xml", library);
  ExpectEndsByItself("3dgame.exe");  // read as command 3, which does nothing
  ExpectEndsByItself("199");         // Exit: the window closes, but nothing is saved
  EXPECT_EQ(library, ReadBytes(program_ / "vtl.xml"));
  EXPECT_EQ(0, CallCount(program_));
}

TEST_F(CommandLineModes, AnythingButACompleteModeOpensTheMainWindow) {
  WriteBytes(root_ / "notes.vtl", "not a link file");
  for (const std::string& arguments :
       {std::string("-run"), std::string("-RUN C:\\KEEN.EXE"), std::string("-shortcut \"Nobody\""),
        "-shortcut \"" + (root_ / "notes.vtl").string() + "\"", std::string("0"),
        std::string("C:\\GAMES\\KEEN.EXE")}) {
    ExpectMainWindow(arguments);
  }
  EXPECT_EQ(0, CallCount(program_));
}

TEST_F(CommandLineModes, RunStartsTheProgramOnItsOwnDriveAndNeverStoresIt) {
  const std::string library =
      "<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Name=\"Keen\"/></g></Games></root>\r\n";
  WriteBytes(program_ / "vtl.xml", library);
  fs::create_directories(root_ / "dos games");
  const fs::path game = root_ / "dos games" / "PLAY.EXE";
  WriteBytes(game, "MZ");

  ExpectEndsByItself("-run \"" + game.string() + "\"");
  ASSERT_EQ(1, CallCount(program_));
  const std::string conf = CallConf(1);
  const std::string drive = game.string().substr(0, 1);
  EXPECT_NE(std::string::npos, conf.find("mount " + drive + " " + drive + ":\\\r\n")) << conf;
  EXPECT_NE(std::string::npos, conf.find("PLAY.EXE")) << conf;
  EXPECT_EQ(library, ReadBytes(program_ / "vtl.xml"));
  ExpectNoDecoyRun();
}

TEST_F(CommandLineModes, ShortcutStartsTheNamedGameFromTheFilledList) {
  WriteBytes(program_ / "vtl.xml",
             "<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Name=\"Doom\" Run=\"C:\\DOOM\\DOOM.EXE\"/>"
             "</g><g><Main Name=\"Commander Keen\" Run=\"C:\\KEEN\\KEEN4.EXE\"/>" + kMountC +
             "</g></Games></root>\r\n");
  ExpectEndsByItself("-shortcut \"Commander Keen\"");
  ASSERT_EQ(1, CallCount(program_));
  EXPECT_NE(std::string::npos, CallConf(1).find("KEEN4.EXE"));
  ExpectMainWindow("-shortcut \"Commander\"");
  EXPECT_EQ(1, CallCount(program_));
}

// A mode that cannot start its game says why, and no DOSBox starts: -run on
// a program that is gone, -shortcut on a game whose folder name holds a line
// break (which would end the DOS command and start the rest as another).
TEST_F(CommandLineModes, AMissingProgramOrALineBreakIsToldAndNoDosBoxStarts) {
  WriteBytes(program_ / "vtl.xml",
             "<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Name=\"Broken\" Run=\"C:\\GAMES&#10;DEL *.*\\GO.EXE\"/>"
             "<Mount><m type=\"hdd\" iso=\"no\" local=\"C:\\\" remote=\"C\"/></Mount></g></Games></root>\r\n");
  const std::string gone = (root_ / "gone" / "PLAY.EXE").string();
  struct Case {
    std::string arguments, said;
  } const cases[] = {
      {"-run \"" + gone + "\"", "The program of this game cannot be found:\n\n" + gone},
      {"-shortcut Broken", "C:\\GAMES[line break]DEL *.*\\GO.EXE"},
  };
  for (const Case& c : cases) {
    wintest::Process vantle(Vantle(c.arguments));
    ASSERT_TRUE(vantle.started());
    // The wizard of -run may be up as well: the message is the window that says it.
    HWND message = wintest::WaitForTopWindow(vantle.id(), 30000, [](HWND window) {
      return wintest::ChildTexts(window).find("DOSBox was not started") != std::string::npos;
    });
    ASSERT_NE(nullptr, message) << c.arguments << ": no message";
    const std::string said = wintest::ChildTexts(message);
    EXPECT_NE(std::string::npos, said.find(c.said)) << said;
    EXPECT_EQ(std::string::npos, said.find("settings")) << "a mode never writes the library: " << said;
    PostMessageA(message, WM_COMMAND, IDOK, 0);
    DWORD exitCode = 12345;
    ASSERT_TRUE(vantle.Wait(30000, &exitCode)) << c.arguments;
    EXPECT_EQ(0u, exitCode) << c.arguments;
  }
  EXPECT_EQ(0, CallCount(program_));
  EXPECT_EQ("", TempFiles(program_));
}

// Another front end's library through -import: each kind recognised, a file
// that is no profile skipped without ending the import, a second import
// adding nothing, and the games starting with their mounts, parameters and
// settings.
TEST_F(CommandLineModes, ImportBringsOtherFrontEndsLibrariesWhoseGamesStart) {
  WriteBytes(program_ / "vtl.xml", "<?xml version=\"1.0\"?>\r\n<root><Games></Games></root>\r\n");
  const fs::path dfend = root_ / "DFend", launchBox = root_ / "LaunchBox";
  for (const fs::path& folder : {dfend / "Confs", dfend / "VirtualHD" / "Keen", launchBox / "Data" / "Platforms",
                                 launchBox / "Games" / "Doom"})
    fs::create_directories(folder);
  WriteBytes(dfend / "Confs" / "Keen.prof",
             "[Extra]\r\nExe=.\\virtualhd\\KEEN\\keen4.exe\r\nGameParameters=/nojoy\r\nNrOfMounts=1\r\n"
             "0=.\\VirtualHD\\;Drive;C;false;\r\n[ExtraInfo]\r\nName=Keen\r\nDeveloper=id Software\r\n"
             "[sblaster]\r\nsbmixer=false\r\n");
  WriteBytes(dfend / "Confs" / "Bad.prof", "junk");
  WriteBytes(dfend / "VirtualHD" / "Keen" / "KEEN4.EXE", "MZ");
  WriteBytes(launchBox / "Data" / "Platforms" / "MS-DOS.xml",
             "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<LaunchBox><Game><Title>Doom</Title>"
             "<Platform>MS-DOS</Platform><ApplicationPath>Games\\Doom\\DOOM.EXE</ApplicationPath>"
             "<CommandLine>-warp 1</CommandLine><PlayCount>4</PlayCount></Game></LaunchBox>\r\n");
  WriteBytes(launchBox / "Games" / "Doom" / "DOOM.EXE", "MZ");

  for (const fs::path& library : {dfend, launchBox, dfend}) ExpectEndsByItself("-import \"" + library.string() + "\"");
  const std::string stored = ReadBytes(program_ / "vtl.xml");
  std::size_t games = 0;
  for (std::size_t at = stored.find("<g>"); at != std::string::npos; at = stored.find("<g>", at + 1)) ++games;
  EXPECT_EQ(2u, games) << stored;
  for (const char* field : {"Developer=\"id Software\"", "Source=\"LaunchBox\"", "PlayCount=\"4\""})
    EXPECT_NE(std::string::npos, stored.find(field)) << field;

  ExpectEndsByItself("-shortcut Keen");
  ExpectEndsByItself("-shortcut Doom");
  ASSERT_EQ(2, CallCount(program_));
  for (const auto& expected : {std::make_pair(1, "KEEN4.EXE /nojoy\r\n"), std::make_pair(1, "mixer=false\r\n"),
                               std::make_pair(1, "CD C:\\Keen\r\n"), std::make_pair(2, "DOOM.EXE -warp 1\r\n")})
    EXPECT_NE(std::string::npos, CallConf(expected.first).find(expected.second)) << CallConf(expected.first);
}
