// The program in the shell: the right-click verb and the link type written to
// the registry (by the menu's functions and by a replayed command line, with
// one elevated copy when the registry refuses), shortcuts read back and
// used, and exported configurations compared with what the writer makes.
// The prefix's registry and desktop are left as they were found.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "MainWindowFixture.h"
#include "launcher/ConfWriter.h"
#include "launcher/GameSchema.h"
#include "launcher/window/ShellIntegration.h"
#include "text/TextConvert.h"

using namespace launchtest;

namespace {

const wchar_t kVerb[] = L"\\shell\\Simulate with Vantle";
const wchar_t* const kTypes[] = {L"exefile", L"comfile", L"batfile", L"conffile"};

std::wstring ClassValue(const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return L"<no key>";
  wchar_t value[2000] = L"";
  DWORD size = sizeof(value) - sizeof(wchar_t);
  const bool read = RegQueryValueExW(key, nullptr, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return read ? value : L"<no value>";
}

void SetClass(const std::wstring& path, const std::wstring& value) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

// Every value the shell integration writes, by key.
std::map<std::wstring, std::wstring> Written() {
  std::map<std::wstring, std::wstring> values;
  for (const wchar_t* type : kTypes)
    values[std::wstring(type) + kVerb + L"\\command"] = ClassValue(std::wstring(type) + kVerb + L"\\command");
  for (const wchar_t* key : {L".vtl", L"VantleFile", L"VantleFile\\DefaultIcon",
                             L"VantleFile\\Shell\\open\\command"})
    values[key] = ClassValue(key);
  return values;
}

// The registered values for program, when the verb is on the program types
// and, when conf is set, on configuration files.
std::map<std::wstring, std::wstring> Expected(const std::wstring& program, bool conf) {
  const std::wstring quoted = L"\"" + program + L"\"";
  std::map<std::wstring, std::wstring> values = {
      {L".vtl", L"VantleFile"},
      {L"VantleFile", L"Vantle File"},
      {L"VantleFile\\DefaultIcon", program + L",0"},
      {L"VantleFile\\Shell\\open\\command", quoted + L" -shortcut \"%1\""}};
  for (const wchar_t* type : kTypes) {
    const bool isConf = std::wstring(type) == L"conffile";
    values[std::wstring(type) + kVerb + L"\\command"] =
        isConf && !conf ? L"<no key>" : quoted + (isConf ? L" -conf \"%1\"" : L" -run \"%1\"");
  }
  return values;
}

::testing::AssertionResult Told(const std::string& text, const char* expected) {
  return text.find(expected) != std::string::npos ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << text;
}

std::wstring SelfPath() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// The keys of the file types (which this prefix may lack) are made for the
// test; whatever did not exist before is removed again afterwards, and the
// default values of what did are put back.
class ShellClasses : public LaunchFolders {
 protected:
  void SetUp() override {
    LaunchFolders::SetUp();
    for (const wchar_t* key : {L".exe", L".com", L".bat", L".conf", L".vtl", L"VantleFile",
                               L"exefile", L"comfile", L"batfile", L"conffile"})
      before_.push_back({key, ClassValue(key)});
    for (const wchar_t* type : kTypes) before_.push_back({std::wstring(type) + kVerb, L"<no key>"});
    SetClass(L".exe", L"exefile");
    SetClass(L".com", L"comfile");
    SetClass(L".bat", L"batfile");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".conf");
  }

  void TearDown() override {
    for (auto it = before_.rbegin(); it != before_.rend(); ++it) {
      RegDeleteTreeW(HKEY_CLASSES_ROOT, it->first.c_str());
      if (it->second == L"<no key>") continue;
      SetClass(it->first, it->second == L"<no value>" ? L"" : it->second);
    }
    LaunchFolders::TearDown();
  }

  // Starts commandLine in a job, so that whatever it starts is counted too.
  void Start(const std::wstring& commandLine) {
    job_ = CreateJobObjectW(nullptr, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring line = commandLine;
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, &process_));
    AssignProcessToJobObject(job_, process_.hProcess);
    ResumeThread(process_.hThread);
  }

  // Waits until at most active processes of the job run; how many ran.
  DWORD WaitForJob(DWORD active = 0) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION counts{};
    for (int i = 0; i < 300; ++i) {
      QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &counts, sizeof(counts),
                                nullptr);
      if (counts.ActiveProcesses <= active) break;
      Sleep(100);
    }
    return counts.ActiveProcesses <= active ? counts.TotalProcesses : 0;
  }

  // Runs commandLine to its end, answering the message it shows; how many
  // processes ran.
  DWORD RunAll(const std::wstring& commandLine, const char* expected) {
    Start(commandLine);
    EXPECT_TRUE(Told(wintest::AnswerMessage(0, 30000), expected));
    const DWORD total = WaitForJob();
    EndJob();
    return total;
  }

  void EndJob() {
    TerminateJobObject(job_, 1);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    CloseHandle(job_);
  }

  HANDLE job_ = nullptr;
  PROCESS_INFORMATION process_{};
  std::vector<std::pair<std::wstring, std::wstring>> before_;
};

}  // namespace

TEST_F(ShellClasses, TheVerbAndTheLinkTypeReadBackExactlyAndRepeatOrVanishCleanly) {
  EXPECT_TRUE(UnregisterShellVerbs()) << "nothing registered is no failure";
  EXPECT_EQ(L"<no key>", ClassValue(L"VantleFile"));

  // No type for ".conf" on this system: the verb goes on the programs only.
  ASSERT_TRUE(RegisterShellVerbs());
  const auto first = Written();
  EXPECT_EQ(Expected(SelfPath(), false), first);
  ASSERT_TRUE(RegisterShellVerbs());
  EXPECT_EQ(first, Written()) << "registering again changes nothing";

  SetClass(L".conf", L"");  // a key that names no type
  EXPECT_FALSE(RegisterShellVerb(".conf", true));
  EXPECT_EQ(L"<no key>", ClassValue(std::wstring(kVerb).substr(1))) << "nothing at the root";
  SetClass(L".conf", L"conffile");
  EXPECT_TRUE(RegisterShellVerb(".conf", true));
  EXPECT_EQ(Expected(SelfPath(), true), Written());

  ASSERT_TRUE(UnregisterShellVerbs());
  auto removed = Expected(SelfPath(), true);
  for (const wchar_t* type : kTypes) removed[std::wstring(type) + kVerb + L"\\command"] = L"<no key>";
  EXPECT_EQ(removed, Written()) << "the verbs go, the link type stays";
  for (const wchar_t* type : kTypes)
    EXPECT_EQ(L"<no key>", ClassValue(std::wstring(type) + kVerb)) << type;

  // Without a type for ".bat" (a new Wine prefix) the others still get the
  // verb, and ".bat" is named as left out; with none of the three, nothing.
  ASSERT_TRUE(UnregisterShellVerbs());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L".bat");
  std::wstring skipped;
  EXPECT_TRUE(RegisterShellVerbs(nullptr, &skipped));
  EXPECT_EQ(L".bat", skipped);
  EXPECT_NE(L"<no key>", ClassValue(L"comfile" + std::wstring(kVerb) + L"\\command"));
  ASSERT_TRUE(UnregisterShellVerbs());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L".com");
  SetClass(L".exe", L"");
  EXPECT_FALSE(RegisterShellVerbs());
  EXPECT_EQ(L"<no key>", ClassValue(L"conffile" + std::wstring(kVerb))) << "stopped before .conf";
  EXPECT_TRUE(UnregisterShellVerbs());
}

TEST_F(ShellClasses, TheMenuAndACommandLineReplayWriteTheSameAndElevateOnlyOnRefusal) {
  fs::copy_file(wintest::HostToWindowsPath(VANTLE_EXE), program_ / "vtl64.exe");
  const std::wstring vantle = (program_ / "vtl64.exe").wstring();
  const std::wstring quoted = L"\"" + vantle + L"\"";

  // The menu of the program's own window.
  Start(quoted);
  HWND main = wintest::WaitForTopWindow(process_.dwProcessId, 30000, wintest::HasMenu);
  ASSERT_NE(nullptr, main);
  // Whichever copy carries the command out tells what came of it.
  const auto menu = [&](WORD command, const char* expected) {
    PostMessageW(main, WM_COMMAND, command, 0);
    EXPECT_TRUE(Told(wintest::AnswerMessage(0, 30000), expected)) << command;
    return WaitForJob(1);
  };
  EXPECT_EQ(1u, menu(IDM_REGISTER_SHELL, "is now on the right-click menu")) << "no elevated copy";
  const auto fromMenu = Written();
  EXPECT_EQ(Expected(vantle, false), fromMenu);
  EXPECT_EQ(1u, menu(IDM_UNREGISTER_SHELL, "was removed from the right-click menu"));
  EXPECT_EQ(L"<no key>", ClassValue(std::wstring(L"exefile") + kVerb));
  EXPECT_EQ(L"VantleFile", ClassValue(L".vtl")) << "the link type stays";

  // The registry refuses: one elevated copy replays the command, fails as
  // well, says why, and does not start another.
  for (const wchar_t* extension : {L".exe", L".com", L".bat"}) RegDeleteTreeW(HKEY_CLASSES_ROOT, extension);
  EXPECT_EQ(2u, menu(IDM_REGISTER_SHELL, "could not be added to the right-click menu:"));
  EXPECT_EQ(2u, menu(IDM_UNREGISTER_SHELL, "was removed")) << "nothing to remove needs no rights";
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(2u, WaitForJob());
  EndJob();
  EXPECT_EQ(1u, RunAll(quoted + L" 192", "This system has no file type for .exe, .com or .bat files."))
      << "a replayed command never elevates again";

  // The same commands replayed from the command line.
  SetClass(L".exe", L"exefile");
  SetClass(L".com", L"comfile");
  SetClass(L".bat", L"batfile");
  EXPECT_EQ(1u, RunAll(quoted + L" 192", "is now on the right-click menu"));
  EXPECT_EQ(fromMenu, Written());
  EXPECT_EQ(1u, RunAll(quoted + L" 195", "was removed"));
  EXPECT_EQ(L"<no key>", ClassValue(std::wstring(L"batfile") + kVerb));
}

namespace {

// A shortcut's properties (UTF-8), read back through the wide interface, which
// shows what the shell hands the program.
struct ShortcutFields {
  std::string path, arguments, folder, description, icon;
  int iconIndex = -1;
};

bool ReadShortcut(const std::wstring& file, ShortcutFields& fields) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return false;
  IPersistFile* persist = nullptr;
  link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
  const bool loaded = persist && SUCCEEDED(persist->Load(file.c_str(), STGM_READ));
  wchar_t text[5][MAX_PATH * 2] = {};
  if (loaded) {
    link->GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetArguments(text[1], MAX_PATH);
    link->GetWorkingDirectory(text[2], MAX_PATH);
    link->GetDescription(text[3], MAX_PATH);
    link->GetIconLocation(text[4], MAX_PATH, &fields.iconIndex);
    fields = {Utf8FromWide(text[0]), Utf8FromWide(text[1]), Utf8FromWide(text[2]),
              Utf8FromWide(text[3]), Utf8FromWide(text[4]), fields.iconIndex};
  }
  if (persist) persist->Release();
  link->Release();
  return loaded;
}

std::wstring DesktopFolder() {
  wchar_t desktop[MAX_PATH] = L"";
  SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
  return desktop;
}

class ShellWindow : public MainWindowTest {
 protected:
  void SetUp() override {
    // First, so that a failing set-up never leaves it empty: the desktop
    // may be the host's home folder.
    desktopBefore_ = DesktopFiles();
    desktopRead_ = true;
    MainWindowTest::SetUp();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    games_ = root_ / "DOS Games" / "Commander Keen";
    fs::create_directories(games_);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    // Whatever shortcut a test put on the desktop goes, even under a name it
    // did not expect.
    std::error_code ignored;
    if (desktopRead_)
      for (const fs::path& file : DesktopFiles())
        if (!desktopBefore_.count(file)) fs::remove(file, ignored);
    CoUninitialize();
  }

  static std::set<fs::path> DesktopFiles() {
    std::set<fs::path> files;
    std::error_code ignored;
    for (const auto& item : fs::directory_iterator(DesktopFolder(), ignored))
      if (item.path().extension() == ".lnk" && item.is_regular_file(ignored)) files.insert(item.path());
    return files;
  }

  // Carries out menu command on list row and answers the message it shows
  // with OK; the message's text.
  std::string CommandWithMessage(int row, WORD command) {
    Select(row);
    PostMessageW(main_, WM_COMMAND, command, 0);
    HWND box = uitest::WaitForDialog(L"Vantle", L"shortcut");
    if (!box) return "<no message>";
    const std::string text = wintest::ChildTexts(box);
    uitest::PressButton(box, IDOK);
    Settle();
    return text;
  }

  fs::path games_;
  std::set<fs::path> desktopBefore_;
  bool desktopRead_ = false;
};

// A name with characters no file name may hold, as the library holds it.
const char kQuoted[] = "AC/DC: &quot;Live&quot; in K\xC3\xB6ln \xD0\x96";

}  // namespace

TEST_F(ShellWindow, ShortcutsReadBackStartTheirGameAndFallBackToTheDesktop) {
  const std::string run = (games_ / "KEEN4.EXE").string();
  WriteLibrary({{"Commander Keen", "Action", run.c_str(), ""},
                {kQuoted, "Action", "C:\\NOWHERE\\LIVE.EXE", ""},
                {std::string(300, 'x').c_str(), "Action", run.c_str(), ""}});
  Open();

  const std::wstring keenLink = (games_ / "Commander Keen.lnk").wstring();
  EXPECT_NE(std::string::npos, CommandWithMessage(0, IDM_CREATE_SHORTCUT).find("written to"));
  const std::wstring liveLink = DesktopFolder() + L"\\AC_DC_ _Live_ in K\x00F6ln \x0416.lnk";
  const std::string told = CommandWithMessage(1, IDM_CREATE_SHORTCUT);
  EXPECT_NE(std::string::npos, told.find("desktop")) << told;
  EXPECT_NE(std::string::npos, told.find("C:\\NOWHERE")) << told;
  const std::string tooLong = CommandWithMessage(2, IDM_CREATE_SHORTCUT);
  EXPECT_NE(std::string::npos, tooLong.find("could not be written")) << tooLong;
  Close();

  const std::string self = Utf8FromWide(SelfPath());
  struct Case {
    std::wstring file;
    std::string arguments;
  };
  for (const Case& c : {Case{keenLink, "-shortcut \"Commander Keen\""},
                        Case{liveLink, "-shortcut \"AC/DC: \\\"Live\\\" in K\xC3\xB6ln \xD0\x96\""}}) {
    ShortcutFields fields;
    ASSERT_TRUE(ReadShortcut(c.file, fields)) << Utf8FromWide(c.file);
    EXPECT_EQ(self, fields.path);
    EXPECT_EQ(c.arguments, fields.arguments);
    EXPECT_EQ(program_.string(), fields.folder);
    EXPECT_EQ("VTL Shortcut", fields.description);
    EXPECT_EQ(self, fields.icon);
    EXPECT_EQ(0, fields.iconIndex);
  }

  // Used as the shell uses it, on the program itself: each starts its game.
  fs::copy_file(wintest::HostToWindowsPath(VANTLE_EXE), program_ / "vtl64.exe");
  int calls = 0;
  for (const std::wstring& link : {keenLink, liveLink}) {
    ShortcutFields fields;
    ReadShortcut(link, fields);
    std::wstring line = L"\"" + (program_ / "vtl64.exe").wstring() + L"\" " + WideFromUtf8(fields.arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION vantle{};
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &vantle));
    const DWORD waited = WaitForSingleObject(vantle.hProcess, 30000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(vantle.hProcess, 1);  // its window opened
    EXPECT_EQ(WAIT_OBJECT_0, waited) << fields.arguments;
    CloseHandle(vantle.hThread);
    CloseHandle(vantle.hProcess);
    ASSERT_EQ(++calls, CallCount(program_)) << fields.arguments;
  }
  EXPECT_NE(std::string::npos, CallConf(1).find("KEEN4.EXE"));
  EXPECT_NE(std::string::npos, CallConf(2).find("LIVE.EXE"));
}

TEST_F(ShellWindow, ExportedConfigurationsAreWhatTheWriterWrites) {
  const std::string run = (games_ / "KEEN4.EXE").string();
  wintest::WriteBytes(games_ / "KEEN4.EXE", "MZ");
  WriteLibrary({{"Commander Keen", "Action", run.c_str(), ""}, {kQuoted, "Action", "", ""}});
  Open();

  struct Export {
    int row;
    WORD command;
    const wchar_t* proposed;
    const wchar_t* file;
  };
  // One name outside every ANSI code page: written by its full name, whole.
  const wchar_t kLiveFile[] = L"live \x0416\x6863.conf";
  const Export kExports[] = {{0, IDM_SAVE_CONF, L"Commander Keen.conf", L"keen.conf"},
                             {1, IDM_SAVE_CONF, L"AC_DC_ _Live_ in K\x00F6ln \x0416.conf", kLiveFile},
                             {0, IDM_CONF_FOR_EXECUTABLE, L"KEEN4.conf", L"KEEN4.conf"}};
  for (const Export& e : kExports) {
    Select(e.row);
    PostMessageW(main_, WM_COMMAND, e.command, 0);
    if (e.command == IDM_CONF_FOR_EXECUTABLE) {
      ASSERT_TRUE(uitest::AnswerFileDialog(nullptr, (games_ / "KEEN4.EXE").wstring()));
    }
    HWND save = uitest::WaitForDialog(L"Save As");
    ASSERT_NE(nullptr, save);
    Sleep(300);
    EXPECT_TRUE(uitest::DialogShown(L"Save As", e.proposed)) << wintest::ChildTexts(save);
    ASSERT_TRUE(uitest::AnswerFileDialog(L"Save As", (root_ / e.file).wstring()));
    Settle();
  }

  // A file that is in use cannot be replaced: the user is told, and it stays
  // as it was. (Wine titles the save dialog's question "Error".)
  const fs::path locked = root_ / "locked.conf";
  wintest::WriteBytes(locked, "mine");
  HANDLE inUse = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, inUse);
  Select(0);
  PostMessageW(main_, WM_COMMAND, IDM_CONF_FOR_EXECUTABLE, 0);
  const bool told = uitest::AnswerFileDialog(nullptr, (games_ / "KEEN4.EXE").wstring()) &&
                    uitest::AnswerFileDialog(L"Save As", locked.wstring()) &&
                    uitest::AnswerDialog(L"Error", L"already exists", IDYES) &&
                    uitest::AnswerDialog(L"Vantle", L"The configuration could not be written to", IDOK);
  Settle();
  CloseHandle(inUse);
  EXPECT_TRUE(told);
  EXPECT_EQ("mine", ReadBytes(locked));
  Close();

  XmlElement* games = GamesOf(*GameDatabase);
  const auto expected = [&](XmlElement* entry) {
    const std::string path = (root_ / "expected.conf").string();
    WriteDosBoxConf(entry, path, LaunchMode::Run);
    return ReadBytes(path);
  };
  const std::string keen = expected(games->GetChildren()[0]);
  EXPECT_NE(std::string::npos, keen.find("KEEN4.EXE")) << keen;
  EXPECT_EQ(keen, ReadBytes(root_ / "keen.conf"));
  EXPECT_EQ(expected(games->GetChildren()[1]), ReadBytes(root_ / kLiveFile));
  EXPECT_EQ(expected(nullptr), ReadBytes(root_ / "KEEN4.conf"));
  EXPECT_NE(std::string::npos, ReadBytes(root_ / "KEEN4.conf").find("[autoexec]"));
}
