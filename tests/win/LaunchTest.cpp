// Launching DOSBox under Wine with a recording DOSBOX.EXE: the exact command
// line, the configuration it was handed, the temporary file gone afterwards,
// the installer fallback, and the -shortcut lookup.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>

#include "LaunchFixture.h"
#include "WinTestUtil.h"
#include "launcher/GameLaunch.h"
#include "launcher/EngineList.h"
#include "launcher/GameSchema.h"
#include "launcher/LaunchPlan.h"
#include "launcher/LaunchThreads.h"
#include "launcher/Storage.h"
#include "launcher/TempConfFile.h"

using namespace launchtest;

namespace {

const std::string kShippedProfile = ReadBytes(wintest::HostToWindowsPath(VANTLE_DEFAULT_PROFILE));

class RunGameTest : public LaunchFolders {
 protected:
  void SetUp() override {
    LaunchFolders::SetUp();
    ProgramFolder = program_.string();
    ProfileFolder = program_.string();
    profile_ = std::make_unique<XmlDocument>();
    profile_->ParseText(kShippedProfile.c_str());
    entry_ = TemplateEntry(*profile_);
    ASSERT_NE(nullptr, entry_);
    // Drive C: is a folder of the test, where Provide puts the programs.
    driveC_ = root_ / "drive c";
    fs::create_directories(driveC_);
    Section(entry_, "Mount")->AddChildFromText(
        ("<m type=\"hdd\" iso=\"no\" local=\"" + driveC_.string() + "\" remote=\"C\"/>").c_str());
  }

  void SetProgram(const char* run, const char* install) {
    SetAttributeText(Section(entry_, "Main"), "Run", run);
    SetAttributeText(Section(entry_, "Main"), "Install", install);
    Provide(run);
    Provide(install);
  }

  // Makes the file DOS path names on drive C:.
  void Provide(const std::string& dosPath) {
    if (dosPath.size() < 3) return;
    const fs::path file = driveC_ / dosPath.substr(3);
    fs::create_directories(file.parent_path());
    WriteBytes(file, "MZ");
  }

  // The configuration the writer makes of the entry, for comparison.
  std::string ExpectedConf(LaunchMode mode) {
    const fs::path path = root_ / "expected.conf";
    EXPECT_TRUE(WriteLaunchConf(entry_, path.string(), mode));
    return ReadBytes(path);
  }

  // Checks the recorded launch line: quoted DOSBox, the parameters, and a
  // quoted temporary file of the profile folder that is gone by now.
  void ExpectLaunchLine(int call, const std::string& parameters) {
    const std::string line = CallCommandLine(call);
    const std::string head = "\"" + program_.string() + "\\DOSBOX.EXE\" " + parameters + " -conf \"";
    ASSERT_EQ(head, line.substr(0, head.size())) << line;
    ASSERT_EQ('"', line.back()) << line;
    const std::string conf = line.substr(head.size(), line.size() - head.size() - 1);
    const fs::path confPath(conf);
    EXPECT_EQ(program_.string(), confPath.parent_path().string());
    EXPECT_EQ(0u, confPath.filename().string().rfind("woa", 0)) << conf;
    EXPECT_EQ(".tmp", confPath.extension().string()) << conf;
    EXPECT_FALSE(fs::exists(confPath)) << "the temporary configuration was left behind";
  }

  std::unique_ptr<XmlDocument> profile_;
  XmlElement* entry_ = nullptr;
  fs::path driveC_;
};

// A hidden list whose items carry elements (or none), as the main window's.
class GameList {
 public:
  GameList() {
    InitCommonControls();
    list_ = CreateWindowExA(0, WC_LISTVIEWA, "", LVS_REPORT, 0, 0, 300, 200, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  }
  ~GameList() { DestroyWindow(list_); }
  void Add(XmlElement* element) {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = count_++;
    item.lParam = reinterpret_cast<LPARAM>(element);
    SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  HWND handle() const { return list_; }

 private:
  HWND list_;
  int count_ = 0;
};

}  // namespace

TEST_F(RunGameTest, StartsQuotedDosBoxWithTheParametersAndDeletesTheConfiguration) {
  SetProgram("C:\\GAMES\\KEEN\\KEEN.EXE", "C:\\INSTALL.EXE");
  const std::string expected = ExpectedConf(LaunchMode::Run);
  RunGame(nullptr, -1, LaunchMode::Run, entry_);
  FinishLaunches();

  ASSERT_EQ(1, CallCount(program_));
  ExpectLaunchLine(1, "-noconsole ");
  EXPECT_EQ(expected, CallConf(1));
  EXPECT_NE(std::string::npos, CallConf(1).find("\r\nCD C:\\GAMES\\KEEN\r\nKEEN.EXE\r\n"));
  EXPECT_EQ("", TempFiles(program_));
  EXPECT_EQ((driveC_ / "GAMES" / "KEEN").string(), ReadBytes(program_ / "call-1.cwd")) << "the game's own folder";
  ExpectNoDecoyRun();
}

TEST_F(RunGameTest, WithoutParametersTwoBlanksPrecedeConfAndNothingIsAdded) {
  entry_->RemoveChild(static_cast<unsigned>(entry_->FindChildIndex("Command_Line_Parameters")));
  SetProgram("C:\\GO.BAT", "");
  RunGame(nullptr, -1, LaunchMode::Run, entry_);
  FinishLaunches();
  ASSERT_EQ(1, CallCount(program_));
  ExpectLaunchLine(1, "");
  EXPECT_NE(std::string::npos, CallCommandLine(1).find("DOSBOX.EXE\"  -conf \""));
  EXPECT_EQ(nullptr, entry_->FindChild("Command_Line_Parameters"));
}

TEST_F(RunGameTest, AGameWithoutProgramRunsItsInstallerAndSetupDoesToo) {
  SetProgram("", "C:\\SETUP\\INSTALL.EXE");
  const std::string expected = ExpectedConf(LaunchMode::Install);
  RunGame(nullptr, -1, LaunchMode::Run, entry_);
  FinishLaunches();
  RunGame(nullptr, -1, LaunchMode::Install, entry_);
  FinishLaunches();
  ASSERT_EQ(2, CallCount(program_));
  EXPECT_EQ(expected, CallConf(1));
  EXPECT_EQ(expected, CallConf(2));
  EXPECT_NE(std::string::npos, CallConf(1).find("\r\nCD C:\\SETUP\r\nINSTALL.EXE\r\n"));
  EXPECT_EQ("", TempFiles(program_));
}

namespace {
// What the launch said in a message box while it ran.
std::string Told(const std::function<void()>& launch);
}  // namespace

TEST_F(RunGameTest, NothingStartsWhenNeitherProgramIsKnownAndNoFileRemains) {
  SetProgram("", "");
  EXPECT_NE(std::string::npos,
            Told([&] { RunGame(nullptr, -1, LaunchMode::Run, entry_); }).find("has no program yet: set Run"));
  SetProgram("C:\\GAME.EXE", "");
  // Setup does not fall back to the game
  EXPECT_NE(std::string::npos,
            Told([&] { RunGame(nullptr, -1, LaunchMode::Install, entry_); }).find("has no installer: set Install"));
  Sleep(500);
  EXPECT_EQ(0, CallCount(program_));
  EXPECT_EQ("", TempFiles(program_));
  ExpectNoDecoyRun();
}

TEST_F(RunGameTest, TakesTheGameOfTheListItemAndIgnoresItemsWithoutOne) {
  auto second = entry_->Clone();
  SetAttributeText(Section(second.get(), "Main"), "Run", "C:\\SECOND.EXE");
  Provide("C:\\SECOND.EXE");
  GameList list;
  list.Add(entry_);  // Run empty, Install empty
  list.Add(second.get());
  list.Add(nullptr);

  RunGame(list.handle(), -1, LaunchMode::Run, nullptr);
  FinishLaunches();
  RunGame(list.handle(), 2, LaunchMode::Run, nullptr);
  FinishLaunches();
  RunGame(list.handle(), 7, LaunchMode::Run, nullptr);
  FinishLaunches();
  EXPECT_NE(std::string::npos, Told([&] { RunGame(list.handle(), 0, LaunchMode::Run, nullptr); }).find("has no program"));
  EXPECT_EQ(0, CallCount(program_));

  RunGame(list.handle(), 1, LaunchMode::Run, nullptr);
  FinishLaunches();
  ASSERT_EQ(1, CallCount(program_));
  EXPECT_NE(std::string::npos, CallConf(1).find("\r\nSECOND.EXE\r\n"));
  EXPECT_EQ("", TempFiles(program_));
}

namespace {

// Answers the next message box of this process with button; hands back its
// title and text.
std::future<std::string> AnswerMessage(int button) {
  return std::async(std::launch::async, [button] {
    HWND box = wintest::WaitForTopWindow(GetCurrentProcessId(), 20000);
    if (!box) return std::string("<no message>");
    const std::string said = wintest::WindowText(box) + ": " + wintest::ChildTexts(box);
    PostMessageA(box, WM_COMMAND, button, 0);
    return said;
  });
}

std::string Told(const std::function<void()>& launch) {
  auto message = AnswerMessage(IDOK);
  launch();
  FinishLaunches();
  return message.get();
}

}  // namespace

TEST_F(RunGameTest, AMissingDosBoxIsToldAtOnceAndNothingRemains) {
  fs::remove(program_ / "DOSBOX.EXE");
  SetProgram("C:\\GAME.EXE", "");
  auto message = AnswerMessage(IDOK);
  RunGame(nullptr, -1, LaunchMode::Run, entry_);
  FinishLaunches();
  const std::string said = message.get();
  EXPECT_NE(std::string::npos, said.find("DOSBox could not be started")) << said;
  EXPECT_NE(std::string::npos, said.find(program_.string() + "\\DOSBOX.EXE")) << said;
  EXPECT_EQ("", TempFiles(program_));
  ExpectNoDecoyRun();
}

// The DOS side is checked before DOSBox starts: the message names the path,
// the drive and the Mount setting, and nothing starts.
TEST_F(RunGameTest, AProgramOnADriveNoMountGivesIsToldAndNothingStarts) {
  SetProgram("D:\\GAME.EXE", "");
  auto message = AnswerMessage(IDOK);
  RunGame(nullptr, -1, LaunchMode::Run, entry_);
  const std::string said = message.get();
  EXPECT_NE(std::string::npos, said.find("is on drive D:, which none of its mounts gives")) << said;
  EXPECT_NE(std::string::npos, said.find("D:\\GAME.EXE")) << said;
  EXPECT_NE(std::string::npos, said.find("Add a mount for drive D: under Mount")) << said;
  FinishLaunches();
  EXPECT_EQ(0, CallCount(program_));
  EXPECT_EQ("", TempFiles(program_));
}

// A game that chooses a listed engine starts that program, with its kind's
// switches and a file in its kind's names; one whose engine is not listed
// (or gone) is told so and starts nothing.
TEST_F(RunGameTest, AGameRunsOnTheEngineItChoosesOrIsToldWhyNot) {
  const fs::path staging = root_ / "Staging";
  fs::create_directories(staging);
  fs::copy_file(wintest::HostToWindowsPath(VANTLE_FAKE_DOSBOX), staging / "dosbox.exe");
  EngineList engines;
  engines.engines = {{"My Staging", (staging / "dosbox.exe").string(), EngineKind::Staging},
                     {"Gone", (root_ / "gone.exe").string(), EngineKind::DosBoxX}};
  ASSERT_TRUE(SaveEngineList(engines, EngineListPath()));
  SetProgram("C:\\GAMES\\KEEN.EXE", "");

  SetAttributeText(Section(entry_, "Main"), "Engine", "my staging");
  RunGame(nullptr, -1, LaunchMode::Run, entry_);
  FinishLaunches();
  ASSERT_EQ(1, CallCount(staging));
  EXPECT_EQ(0, CallCount(program_));
  const std::string line = ReadBytes(staging / "call-1.cmdline");
  EXPECT_EQ(0u, line.find("\"" + (staging / "dosbox.exe").string() + "\" --noprimaryconf --nolocalconf -noconsole  -conf \""))
      << line;
  const std::string conf = ReadBytes(staging / "call-1.conf");
  EXPECT_NE(std::string::npos, conf.find("\r\nmachine=svga_s3\r\n")) << conf;
  EXPECT_NE(std::string::npos, conf.find("\r\n[mouse]\r\nmouse_capture=onclick\r\n")) << conf;
  EXPECT_EQ("", TempFiles(program_));

  for (const char* engine : {"Gone", "Unlisted"}) {
    SetAttributeText(Section(entry_, "Main"), "Engine", engine);
    auto message = AnswerMessage(IDOK);
    RunGame(nullptr, -1, LaunchMode::Run, entry_);
    const std::string said = message.get();
    EXPECT_NE(std::string::npos, said.find(engine == std::string("Gone") ? "gone.exe" : "\"Unlisted\"")) << said;
    EXPECT_NE(std::string::npos, said.find("DOSBox was not started")) << said;
  }
  FinishLaunches();
  EXPECT_EQ(1, CallCount(staging));
  EXPECT_EQ(0, CallCount(program_));
}

// What a racer does between the creation and the deletion of the file: it
// moves the file away and plants a link to another file at its name (with
// the host's ln: Wine makes no links). The link's target stays. A folder of
// the host's /tmp, so that the test knows the host's names.
TEST_F(RunGameTest, TheTemporaryFileIsDeletedThroughWhatMadeItNeverByName) {
  const std::string host = "/tmp/vantle-link-" + std::to_string(GetCurrentProcessId());
  // Host programs, which Wine starts without a handle to wait on.
  auto onHost = [](std::string line) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
  };
  const fs::path folder = "Z:" + host;
  fs::create_directories(folder);
  WriteBytes(folder / "victim.txt", "keep");
  TempConfFile conf;
  ASSERT_TRUE(conf.Create(folder.wstring(), "woa", "[autoexec]\r\n"));
  const fs::path made(conf.path());
  EXPECT_EQ("[autoexec]\r\n", ReadBytes(made));
  fs::rename(made, folder / "moved.tmp");
  ASSERT_TRUE(onHost("/bin/ln -s " + host + "/victim.txt " + host + "/" + made.filename().string()));
  for (int i = 0; i < 100 && !fs::exists(made); ++i) Sleep(50);
  ASSERT_EQ("keep", ReadBytes(made)) << "the link is in place";
  conf.Delete();
  EXPECT_EQ("keep", ReadBytes(folder / "victim.txt"));
  onHost("/bin/rm -rf " + host);  // Wine would delete the link's target
}

namespace {

// Starts a host program and waits until done() holds (Wine gives no handle
// to wait on for a host process).
bool RunOnHostUntil(std::string line, const std::function<bool()>& done) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  for (int i = 0; i < 400 && !done(); ++i) Sleep(25);
  return done();
}

}  // namespace

// Someone who can guess the name plants a file, or a link to a file of
// theirs, at it before the configuration is made: neither is opened,
// followed or overwritten. The first number tried comes from the clock and
// the process id, so every name the next seconds can start from is taken
// before the creation runs, once by files and once by links (made on the
// host, since Wine makes none).
TEST_F(RunGameTest, TheTemporaryFileIsMadeUnderAFreeNameNeverOverWhatWasPlanted) {
  const std::string host = "/tmp/vantle-plant-" + std::to_string(GetCurrentProcessId());
  const fs::path folder = "Z:" + host;
  for (const char* plant : {"open(my $f, '>', $_) or die; print $f 'keep'", "symlink('victim.txt', $_) or die"}) {
    const std::string round = plant[0] == 'o' ? "files" : "links";
    ASSERT_TRUE(RunOnHostUntil("/bin/sh -c \"rm -rf " + host + "; mkdir " + host + "; touch " + host + "/" + round + "\"",
                               [&] { return fs::exists(folder / round); }));
    WriteBytes(folder / "victim.txt", "keep");
    constexpr DWORD kWindowMs = 8000;
    const DWORD from = GetTickCount();
    std::set<std::string> planted;
    std::string names;
    for (DWORD tick = from; tick != from + kWindowMs; ++tick) {
      const unsigned number = (tick ^ (GetCurrentProcessId() << 4)) & 0xFFFFu;
      const std::string name = TempFileName("woa", number);
      if (number != 0 && planted.insert(name).second) names += name + "\n";
    }
    WriteBytes(folder / "names", names);
    WriteBytes(folder / "plant.pl", std::string("while (<>) { chomp; ") + plant + "; }\n");
    ASSERT_TRUE(RunOnHostUntil("/bin/sh -c \"cd " + host + " && perl plant.pl names && touch planted\"",
                               [&] { return fs::exists(folder / "planted"); }));
    ASSERT_LT(GetTickCount() - from, kWindowMs - 1000) << "planted too late to cover the creation";

    TempConfFile conf;
    ASSERT_TRUE(conf.Create(folder.wstring(), "woa", "[autoexec]\r\n")) << plant;
    EXPECT_EQ(0u, planted.count(fs::path(conf.path()).filename().string())) << plant;
    EXPECT_EQ("[autoexec]\r\n", ReadBytes(conf.path()));
    EXPECT_EQ("keep", ReadBytes(folder / "victim.txt")) << plant;
    int changed = 0;
    for (const std::string& name : planted) changed += ReadBytes(folder / name) != "keep";
    EXPECT_EQ(0, changed) << plant;
  }
  // Wine would delete the links' target.
  EXPECT_TRUE(RunOnHostUntil("/bin/rm -rf " + host, [&] { return !fs::exists(folder); }));
}

namespace {

// Runs the shortcut driver on a database of games named and started as given.
class ShortcutTest : public LaunchFolders {
 protected:
  void SetUp() override {
    LaunchFolders::SetUp();
    WriteBytes(root_ / "vtl.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root><Games>"
               "<g><Main Name=\"Keen\" Run=\"C:\\KEEN1.EXE\"/>" + kMountC + "</g>"
               "<g><Main Name=\"Doom &amp; Co\" Run=\"C:\\DOOM.EXE\"/>" + kMountC + "</g>"
               "<g><Main Name=\"Keen\" Run=\"C:\\KEEN2.EXE\"/>" + kMountC + "</g>"
               "<g><Main Name=\"\" Run=\"C:\\NONAME.EXE\"/>" + kMountC + "</g>"
               "</Games></root>\r\n");
  }

  DWORD Shortcut(const std::string& argument) {
    wintest::Process driver("\"" + wintest::HostToWindowsPath(VANTLE_SHORTCUT_DRIVER) + "\" \"" +
                            program_.string() + "\" \"" + program_.string() + "\" \"" +
                            (root_ / "vtl.xml").string() + "\" \"" + argument + "\"");
    DWORD exitCode = 12345;
    EXPECT_TRUE(driver.Wait(30000, &exitCode));
    return exitCode;
  }
};

}  // namespace

TEST_F(ShortcutTest, AGameNameStartsTheFirstGameOfThatNameAndEndsTheProcess) {
  EXPECT_EQ(0u, Shortcut("Keen"));
  ASSERT_EQ(1, CallCount(program_));
  EXPECT_NE(std::string::npos, CallConf(1).find("\r\nKEEN1.EXE\r\n"));
  EXPECT_EQ(0, CallCount(program_ / "..")) << "and nothing else";
  EXPECT_EQ("", TempFiles(program_)) << "the process finished its launch before it ended";
}

TEST_F(ShortcutTest, ALinkFileNamesItsGame) {
  WriteBytes(root_ / "doom.vtl", "<?xml version=\"1.0\"?>\r\n<root n=\"Doom &amp; Co\"/>\r\n");
  EXPECT_EQ(0u, Shortcut((root_ / "doom.vtl").string()));
  ASSERT_EQ(1, CallCount(program_));
  EXPECT_NE(std::string::npos, CallConf(1).find("\r\nDOOM.EXE\r\n"));
}

TEST_F(ShortcutTest, UnknownNamesAndLinksThatAreNoXmlReturn) {
  WriteBytes(root_ / "bad.vtl", "Keen");
  EXPECT_EQ(3u, Shortcut("keen")) << "names are compared case-sensitively";
  EXPECT_EQ(3u, Shortcut("Keen "));
  EXPECT_EQ(3u, Shortcut("Quake"));
  EXPECT_EQ(3u, Shortcut((root_ / "bad.vtl").string()));
  EXPECT_EQ(0, CallCount(program_));
  ExpectNoDecoyRun();
}
