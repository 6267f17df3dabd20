// The whole chain under Wine: vtl64.exe writes the configuration and starts
// DOSBOX.EXE, which here is the bridge; the bridge starts the host's real
// DOSBox (without a screen or sound card), which runs a DOS program that
// leaves a file behind. The games lie on the host outside the Wine prefix, in
// folders whose names are no DOS names.
#include <windows.h>

#include <chrono>
#include <cstring>
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

namespace {

// Whether a host process lives: Wine shows the host's /proc under Z:.
bool HostProcessLives(long pid) { return fs::exists("Z:\\proc\\" + std::to_string(pid)); }

// The pid the bridge logged for the DOSBox it started last (or for the
// shell that started it); 0 before.
long HostPid(const std::string& log, const char* marker = "DOSBox runs as host process ") {
  const std::size_t at = log.rfind(marker);
  return at == std::string::npos ? 0 : std::atol(log.c_str() + at + std::strlen(marker));
}

// The Main element of the game called name in a saved library.
std::string MainOf(const std::string& library, const std::string& name) {
  const std::size_t at = library.find("Name=\"" + name + "\"");
  if (at == std::string::npos) return "<no " + name + ">";
  const std::size_t start = library.rfind('<', at);
  return library.substr(start, library.find('>', at) - start);
}

long PlayTime(const std::string& main) {
  const std::size_t at = main.find("PlayTime=\"");
  return at == std::string::npos ? -1 : std::atol(main.c_str() + at + 10);
}

}  // namespace

// The window waits for the host's DOSBox through the bridge: a game is timed
// when DOSBox ends, not when it has read its file, and what DOSBox printed
// about a refused setting is shown after that. A game kept open keeps DOSBox
// running until DOSBox is told to end; the bridge sees it end even when the
// shell between them is killed with it.
TEST_F(BridgedRun, TheWindowHearsWhenTheHostsDosBoxEndsAndWhatItReported) {
  const fs::path refused = root_ / "Refused", kept = root_ / "Kept";
  std::string games;
  for (const fs::path& folder : {refused, kept}) {
    fs::create_directories(folder);
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_PLAY_COM), folder / "PLAY.COM");
  }
  games += Replaced(Game("A Refused", Mount("hdd", "no", refused, "C"), "C:\\PLAY.COM"), "machine=\"vga\"",
                    "machine=\"vgax\"");
  games += Replaced(Game("B Kept", Mount("hdd", "no", kept, "C"), "C:\\PLAY.COM"), "Run=\"C:\\PLAY.COM\"",
                    "Run=\"C:\\PLAY.COM\" KeepOpen=\"yes\"");
  WriteBytes(app_ / "vtl.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root>\r\n<Games>\r\n" +
                                   games + "\r\n</Games>\r\n</root>\r\n");
  wintest::Process vantle(L"\"" + (app_ / "vtl64.exe").wstring() + L"\"");
  ASSERT_TRUE(vantle.started());
  HWND main = wintest::WaitForTopWindow(vantle.id(), 30000, wintest::HasMenu);
  ASSERT_NE(nullptr, main);
  HWND list = FindWindowExW(main, nullptr, L"SysListView32", nullptr);
  auto run = [&](UINT key) {
    PostMessageW(list, WM_KEYDOWN, key, 1);
    PostMessageW(list, WM_KEYUP, key, 0xC0000001);
    Sleep(300);
    PostMessageW(main, WM_COMMAND, 102 /* IDM_RUN */, 0);
  };
  const auto library = [&] { return ReadBytes(app_ / "vtl.xml"); };
  const std::string before = TempFiles(temp_, "vde");

  // The refused value is told once DOSBox has ended and the game is timed.
  run(VK_HOME);
  HWND told = wintest::WaitForTopWindow(
      vantle.id(), 60000, [](HWND w) { return !wintest::HasMenu(w) && wintest::WindowText(w) == "Vantle"; }, true);
  ASSERT_NE(nullptr, told) << ReadBytes(app_ / "DOSBOX.log");
  const std::string report = wintest::ChildTexts(told);
  EXPECT_NE(std::string::npos, report.find("machine under DosBox is \"vgax\"")) << report;
  EXPECT_NE(std::string::npos, report.find("it used svga_s3 instead")) << report;
  EXPECT_TRUE(fs::exists(refused / "PLAYED.TXT"));
  EXPECT_NE(std::string::npos, ReadBytes(app_ / "DOSBOX.log").find("DOSBox ended with exit status 0"));
  EXPECT_NE(std::string::npos, MainOf(library(), "A Refused").find("LastPlayed=\"20")) << library();
  PostMessageW(told, WM_COMMAND, IDNO, 0);

  // Kept open: DOSBox runs on after the game, untimed, until it is ended.
  run(VK_END);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(kept / "PLAYED.TXT"); }, 30000)) << ReadBytes(app_ / "DOSBOX.log");
  const long pid = HostPid(ReadBytes(app_ / "DOSBOX.log"));
  const long shell = HostPid(ReadBytes(app_ / "DOSBOX.log"), " under shell ");
  ASSERT_GT(pid, 0) << ReadBytes(app_ / "DOSBOX.log");
  ASSERT_GT(shell, 0) << ReadBytes(app_ / "DOSBOX.log");
  Sleep(3000);
  EXPECT_TRUE(HostProcessLives(pid));
  EXPECT_EQ(std::string::npos, MainOf(library(), "B Kept").find("LastPlayed")) << library();
  ASSERT_TRUE(StartHostProgram("/bin/kill -KILL " + std::to_string(shell) + " " + std::to_string(pid)));
  ASSERT_TRUE(WaitFor([&] { return MainOf(library(), "B Kept").find("LastPlayed") != std::string::npos; }, 30000))
      << library() << ReadBytes(app_ / "DOSBOX.log");
  EXPECT_FALSE(HostProcessLives(pid));
  EXPECT_GE(PlayTime(MainOf(library(), "B Kept")), 3) << library();
  EXPECT_NE(std::string::npos, ReadBytes(app_ / "DOSBOX.log").find("gone without telling"));
  EXPECT_TRUE(WaitFor([&] { return TempFiles(temp_, "vde") == before; }, 5000)) << "the run files are gone";
  PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD exitCode = 1;
  EXPECT_TRUE(vantle.Wait(30000, &exitCode));
}

// Each game on the host engine of its kind: the DOSBOX.EXE beside Vantle is
// 0.74, and an engine of the list that points at a copy of the bridge named
// for DOSBox-X starts the DOSBox-X of the private root, on the file Vantle
// wrote for that kind.
TEST_F(BridgedRun, GamesRunOnTheHostEngineOfTheKindTheyChose) {
  fs::copy_file(app_ / "DOSBOX.EXE", app_ / "DOSBox-X.exe");
  WriteBytes(app_ / "engines.xml", "<root><Engines><e name=\"X\" program=\"" + (app_ / "DOSBox-X.exe").string() +
                                       "\" kind=\"DOSBox-X\"/></Engines></root>");
  const fs::path classic = root_ / "On 0.74", x = root_ / "On X";
  for (const fs::path& folder : {classic, x}) {
    fs::create_directories(folder);
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_PLAY_COM), folder / "PLAY.COM");
  }
  WriteBytes(app_ / "vtl.xml",
             "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root>\r\n<Games>\r\n" +
                 Game("Classic", Mount("hdd", "no", classic, "C"), "C:\\PLAY.COM") +
                 Replaced(Game("X", Mount("hdd", "no", x, "C"), "C:\\PLAY.COM"), "Run=\"C:\\PLAY.COM\"",
                          "Run=\"C:\\PLAY.COM\" Engine=\"X\"") +
                 "\r\n</Games>\r\n</root>\r\n");
  const std::string before = TempFiles(temp_, "vde");
  for (const fs::path& folder : {classic, x}) {
    const std::string name = folder == x ? "X" : "Classic";
    wintest::Process vantle("\"" + (app_ / "vtl64.exe").string() + "\" -shortcut " + name);
    DWORD exitCode = 1;
    ASSERT_TRUE(vantle.Wait(30000, &exitCode));
    EXPECT_TRUE(WaitFor([&] { return fs::exists(folder / "PLAYED.TXT"); }, 30000))
        << name << "\n" << ReadBytes(app_ / "DOSBOX.log");
    EXPECT_EQ("THE GAME RAN\r\n", ReadBytes(folder / "PLAYED.TXT"));
    ASSERT_TRUE(WaitFor([&] { return TempFiles(temp_, "vde") == before; }, 30000)) << "DOSBox ended";
  }
  const std::string log = ReadBytes(app_ / "DOSBOX.log");
  const std::size_t xStart = log.find("engine kind: DOSBox-X");
  ASSERT_NE(std::string::npos, xStart) << log;
  EXPECT_NE(std::string::npos, log.rfind("engine kind: 0.74", xStart)) << log;
  EXPECT_NE(std::string::npos, log.find("dosbox-x", log.find("starting: ", xStart))) << log;
  EXPECT_NE(std::string::npos, log.find("CONFIG: Loaded config file: ", xStart)) << log;
  EXPECT_EQ(std::string::npos, log.find("did not report loading")) << log;
  EXPECT_EQ(std::string::npos, log.find("not a valid value")) << log;
  EXPECT_NE(std::string::npos, log.find("DOSBox ended with exit status 0", xStart)) << log;
}
