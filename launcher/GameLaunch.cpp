#include "launcher/GameLaunch.h"

#include <commctrl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "launcher/EntryEditor.h"
#include "launcher/GameSchema.h"
#include "launcher/LaunchPlan.h"
#include "launcher/LaunchThreads.h"
#include "launcher/Storage.h"
#include "launcher/TempConfFile.h"
#include "launcher/window/GameList.h"
#include "text/AnsiText.h"
#include "text/TextConvert.h"

HWND GameListWindow = nullptr;

namespace {

// DOSBox is given this long to read its configuration before the file goes.
constexpr DWORD kConfReadMilliseconds = 3000;

// The window a message belongs to: the main window once it shows. Before
// that (the command-line modes) a message of its own, which the taskbar
// shows.
HWND OwnerOf(HWND list) {
  HWND window = list ? GetParent(list) : nullptr;
  return window && IsWindowVisible(window) ? window : nullptr;
}

void Tell(HWND owner, const std::string& text) {
  MessageBoxW(owner, WideFromUtf8(text).c_str(), L"Vantle", MB_OK | MB_ICONERROR);
}

// The system's description of error, without its closing line end.
std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string described = text ? Utf8FromWide(text) : std::string();
  if (text) LocalFree(text);
  while (!described.empty() && (described.back() == '\n' || described.back() == '\r' || described.back() == ' '))
    described.pop_back();
  return described.empty() ? "error " + std::to_string(error) : described;
}

// Starts commandLine (ANSI) with the launcher's environment, in folder (ANSI;
// empty: the launcher's own); false, with the reason, when it did not start.
// running, when given, receives the process's handle (null under Wine for a
// host program), which the caller then closes.
bool StartDosBox(const std::string& commandLine, std::string& reason, const std::string& folder = std::string(),
                 HANDLE* running = nullptr) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    reason = ErrorText(GetLastError());
    return false;
  }
  if (process.hThread) CloseHandle(process.hThread);
  if (running)
    *running = process.hProcess;
  else if (process.hProcess)
    CloseHandle(process.hProcess);
  return true;
}

// The program folder (UTF-8) as the ANSI command line can name it: itself
// in that code page, or its short form where the code page lacks one of its
// characters.
// A path (UTF-8) for DOSBox's command line, which is read in the ANSI code
// page: as it is, or by its short name where the code page lacks a character.
std::string CommandLinePath(const std::string& path) {
  std::string ansi;
  if (SystemConfText(path, ansi)) return ansi;
  const std::string shortForm = SystemShortPath(path);
  return !shortForm.empty() && SystemConfText(shortForm, ansi) ? ansi : path;
}

std::string CommandLineProgramFolder() { return CommandLinePath(ProgramFolder); }

void TellDosBoxDidNotStart(HWND owner, const std::string& reason, const std::string& program = std::string()) {
  Tell(owner, "DOSBox could not be started:\n\n" + (program.empty() ? ProgramFolder + "\\DOSBOX.EXE" : program) +
                  "\n\n" + reason);
}


// Stored text in the ANSI code page of the command line; as stored where the
// code page lacks a character.
std::string AnsiOrSame(const std::string& text) {
  std::string ansi;
  return SystemConfText(text, ansi) ? ansi : text;
}

// The command line of a prepared launch: the DOSBOX.EXE beside the program
// as ever, or the chosen engine with the switches of its kind.
std::string LaunchCommandLine(const PreparedLaunch& launch, XmlElement* entry, const std::string& confPath) {
  const std::string parameters = AnsiOrSame(LaunchParameters(entry));
  if (launch.engine.builtIn) return GameLaunchCommandLine(CommandLineProgramFolder(), parameters, confPath);
  return EngineLaunchCommandLine(CommandLinePath(launch.engine.engine.program),
                                 EngineSwitches(launch.engine.engine.kind), parameters, confPath);
}

// Says what keeps the game from starting; offers its settings where they can
// be changed and kept.
void TellProblem(HWND list, int index, const LaunchProblem& problem, bool offerSettings) {
  HWND owner = OwnerOf(list);
  const std::wstring text = WideFromUtf8(LaunchProblemText(problem, offerSettings));
  if (!offerSettings) {
    MessageBoxW(owner, text.c_str(), L"Vantle", MB_OK | MB_ICONERROR);
    return;
  }
  if (MessageBoxW(owner, text.c_str(), L"Vantle", MB_YESNO | MB_ICONERROR) == IDYES)
    OpenEntryEditor(list, index, nullptr);
}

// RunGame, with offerSettings false where edits would not be kept (a
// command-line mode never writes the library).
void Launch(HWND list, int index, LaunchMode mode, XmlElement* entry, bool offerSettings) {
  if (!entry) entry = ListItemEntry(list, index);
  if (!entry) return;

  const EngineList engines = ReadEngineList(EngineListPath());
  const PreparedLaunch launch = PrepareLaunch(entry, mode, SystemHostPaths(), &engines);
  if (!launch.complete) {
    // The editor alone would leave the user guessing why the game did not
    // start.
    const std::string why =
        "\"" + AttributeText(Section(entry, "Main"), "Name") +
        (mode == LaunchMode::Install ? "\" has no installer: set Install to the program that installs it."
                                     : "\" has no program yet: set Run once it is installed.");
    MessageBoxW(OwnerOf(list), WideFromUtf8(why).c_str(), L"Vantle", MB_OK | MB_ICONINFORMATION);
    OpenEntryEditor(list, index, nullptr);
    return;
  }
  if (launch.problem.kind != LaunchProblem::None) {
    TellProblem(list, index, launch.problem, offerSettings && ListItemEntry(list, index) == entry);
    return;
  }
  HWND owner = OwnerOf(list);
  auto conf = std::make_unique<TempConfFile>();
  std::string confPath;  // for the command line, in the code page the folder came in
  if (!conf->Create(WideFromUtf8(ProfileFolder), "woa", launch.conf) ||
      !Utf8ToAnsi(Utf8FromWide(conf->path()), confPath)) {
    Tell(owner, "The configuration for DOSBox could not be written to the folder\n\n" + ProfileFolder +
                    "\n\n" + ErrorText(conf->error()));
    return;
  }
  std::string reason;
  // A game of the open library is timed: the window hears when DOSBox ends.
  const bool timed = offerSettings && owner && ListItemEntry(list, index) == entry;
  // What DOSBox reports goes to stdout.txt beside it (under Wine, to the
  // bridge's DOSBOX.log); what they gain during the run is read at its end.
  std::vector<std::wstring> reportFiles;
  std::vector<long long> reportFrom;
  if (timed) {
    const std::string folder = launch.engine.builtIn
                                   ? ProgramFolder
                                   : launch.engine.engine.program.substr(
                                         0, launch.engine.engine.program.find_last_of("\\/"));
    for (const char* name : {"\\stdout.txt", "\\DOSBOX.log"}) {
      reportFiles.push_back(WideFromUtf8(folder + name));
      reportFrom.push_back(FileSizeNow(reportFiles.back()));
    }
  }
  LaunchEnd end;
  const std::string folder = launch.folder.empty() ? std::string() : CommandLinePath(launch.folder);
  if (!StartDosBox(LaunchCommandLine(launch, entry, confPath), reason, folder, timed ? &end.process : nullptr)) {
    conf->Delete();
    TellDosBoxDidNotStart(owner, reason, launch.engine.builtIn ? std::string() : launch.engine.engine.program);
    return;
  }
  if (timed) {
    end.reportFiles.swap(reportFiles);
    end.reportFrom.swap(reportFrom);
    end.window = owner;
    end.message = kGamePlayedMessage;
    end.game = entry;
  }
  FinishLaunchLater(std::move(conf), kConfReadMilliseconds, end);
}

}  // namespace

XmlElement* ListItemEntry(HWND list, int index) { return GameListEntry(list, index); }

void RunGame(HWND list, int index, LaunchMode mode, XmlElement* entry) {
  Launch(list, index, mode, entry, true);
}

void RunConfFile(const char* path) {
  std::string reason;
  if (StartDosBox(ConfCommandLine(CommandLineProgramFolder(), CommandLinePath(path ? path : "")), reason))
    Sleep(kConfReadMilliseconds);
  else
    TellDosBoxDidNotStart(nullptr, reason);
  ExitProcess(0);
}

void RunShortcut(const char* argument) {
  if (!argument) return;
  // The argument names the game, or a link file that names it.
  std::string name = argument;
  if (CanOpenForReading(argument) && !ReadGameLinkName(argument, name)) return;

  const int count = static_cast<int>(SendMessageA(GameListWindow, LVM_GETITEMCOUNT, 0, 0));
  for (int index = 0; index < count; ++index) {
    if (GameListText(GameListWindow, index, 1) != name) continue;
    Launch(GameListWindow, index, LaunchMode::Run, nullptr, false);
    FinishLaunches();
    ExitProcess(0);
  }
}
