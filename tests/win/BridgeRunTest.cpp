// The whole chain under Wine: vtl64.exe writes the configuration and starts
// DOSBOX.EXE, which here is the bridge; the bridge starts the host's real
// DOSBox (without a screen or sound card), which runs a DOS program that
// leaves a file behind. The games lie on the host outside the Wine prefix, in
// folders whose names are no DOS names.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "WinTestUtil.h"
#include "gtest/gtest.h"
#include "text/TextConvert.h"

namespace fs = std::filesystem;
using wintest::ReadBytes;
using wintest::WriteBytes;

namespace {

// Windows path of a host path, and back (Wine maps the host's root to Z:).
std::string HostPath(const fs::path& windowsPath) {
  std::string host = windowsPath.string().substr(2);
  for (char& c : host) c = c == '\\' ? '/' : c;
  return host;
}

bool WaitFor(const std::function<bool()>& done, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 100) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return done();
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The names of the files in folder whose names start with prefix and end in
// ".tmp".
std::string TempFiles(const fs::path& folder, const std::string& prefix) {
  std::string names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && entry.path().extension() == ".tmp") names += name + ";";
  }
  return names;
}

// Wine starts a host program without a process handle to wait on.
bool StartHostProgram(std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return true;
}

class BridgedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path("Z:\\tmp") / ("vantle bridge " + std::to_string(GetCurrentProcessId()) + " " +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    game_ = root_ / "Commander Keen";
    app_ = root_ / "app";
    fs::create_directories(game_);
    fs::create_directories(app_);
    fs::create_directories(root_ / "home");
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_PLAY_COM), game_ / "PLAY.COM");
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_EXE), app_ / "vtl64.exe");
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_BRIDGE_EXE), app_ / "DOSBOX.EXE");
    // The template's own post-commands, but ending DOSBox.
    profile_ = Replaced(ReadBytes(wintest::HostToWindowsPath(VANTLE_DEFAULT_PROFILE)), "@REM exit", "exit");
    WriteBytes(app_ / "defrc.xml", profile_);
    // DOSBox keeps its own settings in HOME; the test's go to its folder.
    SetEnvironmentVariableA("HOME", HostPath(root_ / "home").c_str());
    SetEnvironmentVariableA("SDL_VIDEODRIVER", "dummy");
    SetEnvironmentVariableA("SDL_AUDIODRIVER", "dummy");
    char temp[MAX_PATH];
    temp_ = fs::path(std::string(temp, GetTempPathA(MAX_PATH, temp)));
  }
  void TearDown() override {
    SetEnvironmentVariableA("VANTLE_HOST_DOSBOX", nullptr);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // A game of the template with these mounts and program, for vtl.xml.
  std::string Game(const std::string& name, const std::string& mounts, const std::string& run) const {
    const std::size_t start = profile_.find("<g>");
    const std::size_t end = profile_.find("</g>") + 4;
    std::string game = profile_.substr(start, end - start);
    game = Replaced(game, "Name=\"New Game\"", "Name=\"" + name + "\"");
    game = Replaced(game, "Run=\"\"", "Run=\"" + run + "\"");
    return Replaced(game, "<Mount>", "<Mount>" + mounts);
  }

  static std::string Mount(const std::string& type, const std::string& iso, const fs::path& local,
                           const std::string& remote) {
    return "<m type=\"" + type + "\" iso=\"" + iso + "\" local=\"" + local.string() + "\" remote=\"" + remote +
           "\"/>";
  }

  // Runs vtl64.exe with arguments; it must end by itself, and DOSBox must
  // leave result behind with the program's text. The host's root is never
  // mounted on the way.
  void ExpectGameRuns(const std::string& arguments, const fs::path& result, const std::string& text) {
    ExpectGameRuns(WideFromUtf8(arguments), result, text);
  }
  void ExpectGameRuns(const std::wstring& wideArguments, const fs::path& result, const std::string& text) {
    const std::string arguments = Utf8FromWide(wideArguments);
    const std::size_t logBefore = fs::exists(app_ / "DOSBOX.log") ? ReadBytes(app_ / "DOSBOX.log").size() : 0;
    wintest::Process vantle(L"\"" + (app_ / "vtl64.exe").wstring() + L"\" " + wideArguments);
    ASSERT_TRUE(vantle.started());
    DWORD exitCode = 12345;
    ASSERT_TRUE(vantle.Wait(30000, &exitCode)) << arguments << ": still running";
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(WaitFor([&] { return fs::exists(result); }, 30000))
        << arguments << ": the DOS program left nothing\n" << ReadBytes(app_ / "DOSBOX.log");
    EXPECT_EQ(text, ReadBytes(result));
    // Vantle's file and the bridge's own copy are both gone.
    EXPECT_EQ("", TempFiles(app_, "woa"));
    EXPECT_TRUE(WaitFor([&] { return TempFiles(temp_, "vdb").empty(); }, 25000)) << TempFiles(temp_, "vdb");
    const std::string log = ReadBytes(app_ / "DOSBOX.log").substr(logBefore);
    EXPECT_NE(std::string::npos, log.find("CONFIG:Loading primary settings")) << log;
    EXPECT_EQ(std::string::npos, log.find("not a valid value")) << log;
    EXPECT_EQ(std::string::npos, log.find("Mounting / is")) << log;
    EXPECT_EQ(std::string::npos, log.find(" \"/\"")) << log;
  }

  fs::path root_, game_, app_, temp_;
  std::string profile_;
};

}  // namespace

TEST_F(BridgedRun, RunStartsAProgramInLongNamedFoldersOutsideThePrefix) {
  ExpectGameRuns("-run \"" + (game_ / "PLAY.COM").string() + "\"", game_ / "PLAYED.TXT", "THE GAME RAN\r\n");
  const std::string log = ReadBytes(app_ / "DOSBOX.log");
  EXPECT_NE(std::string::npos, log.find("mount C \"" + HostPath(game_) + "\" (Z: is DOSBox's own drive)")) << log;
  EXPECT_NE(std::string::npos, log.find("machine=vga -> machine=svga_s3")) << log;
}

TEST_F(BridgedRun, ShortcutsStartStoredGamesFromTheDiskAndFromACdImage) {
  // The image is made by the host's genisoimage, through Wine, as a user
  // would make one of a game's CD.
  const fs::path disc = root_ / "disc";
  fs::create_directories(disc);
  fs::copy_file(wintest::HostToWindowsPath(VANTLE_CDGAME_COM), disc / "CDGAME.COM");
  const fs::path image = root_ / "keen disc.iso";
  const std::string script = std::string(VANTLE_GENISOIMAGE) +
                             " -quiet -o \\\"$1.part\\\" \\\"$2\\\" && mv \\\"$1.part\\\" \\\"$1\\\"";
  {
    const std::string line =
        "/bin/sh -c \"" + script + "\" sh \"" + HostPath(image) + "\" \"" + HostPath(disc) + "\"";
    ASSERT_TRUE(StartHostProgram(line)) << line;
    ASSERT_TRUE(WaitFor([&] { return fs::exists(image); }, 30000)) << line;
  }

  const std::string library =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root>\r\n<Games>\r\n" +
      Game("Keen on Disk", Mount("hdd", "no", "Z:\\", "Z"), (game_ / "PLAY.COM").string()) +
      Game("Keen on CD", Mount("hdd", "no", game_, "C") + Mount("cdrom", "yes", image, "D"), "D:\\CDGAME.COM") +
      "\r\n</Games>\r\n</root>\r\n";
  WriteBytes(app_ / "vtl.xml", library);

  ExpectGameRuns("-shortcut \"Keen on Disk\"", game_ / "PLAYED.TXT", "THE GAME RAN\r\n");
  ExpectGameRuns("-shortcut \"Keen on CD\"", game_ / "CDRAN.TXT", "THE CD GAME RAN\r\n");
  const std::string log = ReadBytes(app_ / "DOSBOX.log");
  EXPECT_NE(std::string::npos, log.find("imgmount D \"" + HostPath(image) + "\" -t cdrom")) << log;
  EXPECT_EQ(library, ReadBytes(app_ / "vtl.xml")) << "a mode never writes the library";
}

TEST_F(BridgedRun, WithoutAHostDosBoxTheBridgeSaysWhatIsMissingAndLeavesNothing) {
  const std::string conf = "[autoexec]\r\nmount Z Z:\\\r\n";
  WriteBytes(app_ / "game.conf", conf);
  SetEnvironmentVariableA("VANTLE_HOST_DOSBOX", "/nowhere/dosbox");
  const std::string before = TempFiles(temp_, "vdb");

  wintest::Process bridge("\"" + (app_ / "DOSBOX.EXE").string() + "\" -conf \"" + (app_ / "game.conf").string() + "\"");
  ASSERT_TRUE(bridge.started());
  HWND message = wintest::WaitForTopWindow(bridge.id(), 30000);
  ASSERT_NE(nullptr, message) << "no message appeared";
  EXPECT_EQ("DOSBox for Vantle", wintest::WindowText(message));
  const std::string text = wintest::ChildTexts(message);
  EXPECT_NE(std::string::npos, text.find("DOSBox is not installed")) << text;
  EXPECT_NE(std::string::npos, text.find("/nowhere/dosbox")) << text;
  PostMessageA(message, WM_COMMAND, IDOK, 0);
  DWORD exitCode = 0;
  ASSERT_TRUE(bridge.Wait(30000, &exitCode));
  EXPECT_NE(0u, exitCode);

  EXPECT_EQ(before, TempFiles(temp_, "vdb"));
  const std::string log = ReadBytes(app_ / "DOSBOX.log");
  EXPECT_NE(std::string::npos, log.find("not started: DOSBox is not installed")) << log;
  EXPECT_EQ(std::string::npos, log.find('\r')) << "one line ending";
  EXPECT_EQ(conf, ReadBytes(app_ / "game.conf"));
}

// Folders named as people name them, each game started the way a user
// would: -run on the program, or -shortcut on the game stored in the
// library. The program of eight letters keeps its name in DOSBox.
TEST_F(BridgedRun, GamesStartFromFoldersOfAnyName) {
  struct Folder {
    std::wstring name;
    const wchar_t* program;
    bool run;
  } const folders[] = {
      {L"Zw\u00f6lf Boxk\u00e4mpfer", L"PLAY.COM", true},
      {L"\u0418\u0433\u0440\u044b", L"PLAY.COM", false},
      {L"\u0421\u0442\u0430\u0440\u044b\u0435 \u0438\u0433\u0440\u044b", L"KEEN4EGA.COM", true},
      {L"50%off", L"KEEN4EGA.COM", false},
      {L"Tom & Jerry's", L"PLAY.COM", true},
      {L".dot games", L"PLAY.COM", false},
  };
  std::string games;
  for (std::size_t i = 0; i < std::size(folders); ++i) {
    const fs::path folder = root_ / folders[i].name;
    fs::create_directories(folder);
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_PLAY_COM), folder / folders[i].program);
    const std::string run = Replaced(Utf8FromWide((folder / folders[i].program).wstring()), "&", "&amp;");
    games += Game("Game " + std::to_string(i), Mount("hdd", "no", "Z:\\", "Z"), run);
  }
  WriteBytes(app_ / "vtl.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root>\r\n<Games>\r\n" +
                                   games + "\r\n</Games>\r\n</root>\r\n");
  for (std::size_t i = 0; i < std::size(folders); ++i) {
    const fs::path folder = root_ / folders[i].name;
    const std::wstring arguments = folders[i].run ? L"-run \"" + (folder / folders[i].program).wstring() + L"\""
                                                  : L"-shortcut \"Game " + std::to_wstring(i) + L"\"";
    ExpectGameRuns(arguments, folder / "PLAYED.TXT", "THE GAME RAN\r\n");
  }
}

// The window waits for the host's engine through the bridge. A game on 0.74
// is timed when DOSBox ends, then what DOSBox printed about a refused setting
// is shown; a game kept open keeps DOSBox running until it is ended (here
// with the shell between them, which the bridge sees gone); a game on the
// listed engine, a copy of the bridge named for DOSBox-X, runs on the private
// root's DOSBox-X from the file written for that kind.
TEST_F(BridgedRun, TheWindowWaitsForEachGamesHostEngineAndHearsWhatItReported) {
  fs::copy_file(app_ / "DOSBOX.EXE", app_ / "DOSBox-X.exe");
  WriteBytes(app_ / "engines.xml", "<root><Engines><e name=\"X\" program=\"" + (app_ / "DOSBox-X.exe").string() +
                                       "\" kind=\"DOSBox-X\"/></Engines></root>");
  const std::string names[] = {"A", "B", "C"};
  const std::pair<std::string, std::string> changes[] = {
      {"machine=\"vga\"", "machine=\"vgax\""}, {"Run=\"C:\\PLAY.COM\"", "Run=\"C:\\PLAY.COM\" KeepOpen=\"yes\""},
      {"Run=\"C:\\PLAY.COM\"", "Run=\"C:\\PLAY.COM\" Engine=\"X\""}};
  std::string games;
  for (int i = 0; i < 3; ++i) {
    fs::create_directories(root_ / names[i]);
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_PLAY_COM), root_ / names[i] / "PLAY.COM");
    games += Replaced(Game(names[i], Mount("hdd", "no", root_ / names[i], "C"), "C:\\PLAY.COM"), changes[i].first,
                      changes[i].second);
  }
  WriteBytes(app_ / "vtl.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root>\r\n<Games>\r\n" +
                                   games + "\r\n</Games>\r\n</root>\r\n");
  const std::string runFiles = TempFiles(temp_, "vde");
  wintest::Process vantle(L"\"" + (app_ / "vtl64.exe").wstring() + L"\"");
  HWND main = wintest::WaitForTopWindow(vantle.id(), 30000, wintest::HasMenu);
  ASSERT_NE(nullptr, main);
  HWND list = FindWindowExW(main, nullptr, L"SysListView32", nullptr);
  const auto log = [&] { return ReadBytes(app_ / "DOSBOX.log"); };
  const auto NumberAfter = [](const std::string& text, const std::string& marker) {  // its last mention
    const std::size_t at = text.rfind(marker);
    return at == std::string::npos ? 0 : std::atol(text.c_str() + at + marker.size());
  };
  const auto played = [&](const std::string& name) {  // the game's PlayTime once timed, else -1
    const std::string library = ReadBytes(app_ / "vtl.xml");
    const std::string main = library.substr(library.find("Name=\"" + name + "\""));
    return main.find("LastPlayed") < main.find('>') ? NumberAfter(main.substr(0, main.find('>')), "PlayTime=\"") : -1;
  };
  const auto run = [&](int i) {
    for (int key = 0; key <= i; ++key) {
      PostMessageW(list, WM_KEYDOWN, key ? VK_DOWN : VK_HOME, 1);
      PostMessageW(list, WM_KEYUP, key ? VK_DOWN : VK_HOME, 0xC0000001);
    }
    Sleep(300);
    PostMessageW(main, WM_COMMAND, 102 /* IDM_RUN */, 0);
    return WaitFor([&] { return fs::exists(root_ / names[i] / "PLAYED.TXT"); }, 30000);
  };
  // A, on 0.74: told once DOSBox has ended and the game is timed.
  ASSERT_TRUE(run(0)) << log();
  HWND told = wintest::WaitForTopWindow(
      vantle.id(), 30000, [](HWND w) { return !wintest::HasMenu(w) && wintest::WindowText(w) == "Vantle"; }, true);
  ASSERT_NE(nullptr, told) << log();
  const std::string report = wintest::ChildTexts(told);
  EXPECT_NE(std::string::npos, report.find("machine under DosBox is \"vgax\", which this DOSBox does not accept; it "
                                           "used svga_s3 instead")) << report;
  EXPECT_GE(played("A"), 0);
  PostMessageW(told, WM_COMMAND, IDNO, 0);
  Sleep(300);
  ASSERT_TRUE(run(1)) << log();
  ASSERT_TRUE(run(2)) << log();
  // C, on DOSBox-X, ended by itself.
  EXPECT_TRUE(WaitFor([&] { return played("C") >= 0; }, 30000)) << log();
  const std::string x = log().substr(log().find("engine kind: DOSBox-X"));
  EXPECT_NE(std::string::npos, x.find("CONFIG: Loaded config file: ", x.find("dosbox-x"))) << x;
  EXPECT_EQ(std::string::npos, log().find("did not report loading")) << log();
  // B, kept open, still runs untimed until its DOSBox and shell are killed.
  const long pid = NumberAfter(log().substr(0, log().find("engine kind: DOSBox-X")), "DOSBox runs as host process ");
  const long shell = NumberAfter(log().substr(0, log().find("engine kind: DOSBox-X")), " under shell ");
  ASSERT_GT(pid, 0) << log();
  Sleep(2000);
  EXPECT_TRUE(fs::exists("Z:\\proc\\" + std::to_string(pid))) << "Wine shows the host's /proc under Z:";
  EXPECT_EQ(-1, played("B"));
  ASSERT_TRUE(StartHostProgram("/bin/kill -KILL " + std::to_string(shell) + " " + std::to_string(pid)));
  ASSERT_TRUE(WaitFor([&] { return played("B") >= 3; }, 30000)) << log();
  EXPECT_NE(std::string::npos, log().find("gone without telling"));
  EXPECT_TRUE(WaitFor([&] { return TempFiles(temp_, "vde") == runFiles; }, 5000)) << "the run files are gone";
  PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD exitCode = 1;
  EXPECT_TRUE(vantle.Wait(30000, &exitCode));
}
