// DOSBOX.EXE for Vantle under Wine: takes the command line Vantle gives
// DOSBox, makes the configuration fit the host's DOSBox (see ConfTranslate.h)
// and starts that DOSBox with the same parameters. The file Vantle wrote is
// read at once, well before Vantle deletes it; the translated copy is removed
// as soon as DOSBox says that it has loaded it. This program ends when DOSBox
// ends, so that Vantle, waiting for it, times the game and reads DOSBox's
// report as on Windows. What was translated, and what DOSBox itself prints,
// goes to DOSBOX.log beside this program.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/ConfTranslate.h"
#include "bridge/HostLaunch.h"
#include "launcher/TempConfFile.h"
#include "text/AnsiText.h"
#include "text/TextConvert.h"

namespace {

constexpr wchar_t kTitle[] = L"DOSBox for Vantle";
constexpr DWORD kReadWaitMilliseconds = 20000;
// How often the end of the host's DOSBox is looked for.
constexpr DWORD kRunPollMilliseconds = 200;
constexpr LONGLONG kLogLimit = 1 << 20;  // a longer log starts afresh

using UnixNameFunction = char*(CDECL*)(LPCWSTR);
using DosNameFunction = WCHAR*(CDECL*)(const char*);

UnixNameFunction wineUnixName = nullptr;
DosNameFunction wineDosName = nullptr;

// Wine's own conversion; the result is UTF-8 as the host's file names are.
std::string UnixPath(const std::wstring& windowsPath) {
  char* unix = wineUnixName(windowsPath.c_str());
  if (!unix) return std::string();
  std::string path = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

// Paths in the configuration are in the system's ANSI code page, as Vantle
// writes them.
std::string HostPathOfAnsi(const std::string& windowsPath) {
  return UnixPath(WideFromUtf8(AnsiToUtf8(windowsPath)));
}

bool HostFileExists(const std::string& hostPath) {
  WCHAR* dos = wineDosName(hostPath.c_str());
  if (!dos) return false;
  const DWORD attributes = GetFileAttributesW(dos);
  HeapFree(GetProcessHeap(), 0, dos);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t value[4096];
  const DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
  return length > 0 && length < ARRAYSIZE(value) ? std::wstring(value, length) : std::wstring();
}

// The host's engine of kind: the one its variable (VANTLE_HOST_DOSBOX for
// 0.74) names when it is set (and only that one), otherwise the first of the
// usual places.
std::string FindHostDosBox(EngineKind kind, std::wstring& looked) {
  const std::wstring variable = WideFromUtf8(HostEngineVariable(kind));
  const std::string chosen = Utf8FromWide(EnvironmentText(variable.c_str()));
  if (!chosen.empty()) {
    looked = WideFromUtf8(chosen) + L" (" + variable + L")";
    return HostFileExists(chosen) ? chosen : std::string();
  }
  for (const std::string& candidate : HostEngineCandidates(kind)) {
    looked += WideFromUtf8(candidate) + L"\n";
    if (HostFileExists(candidate)) return candidate;
  }
  return std::string();
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[16384];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof(buffer), &got, nullptr) != 0) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return ok;
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// The log beside this program, which DOSBox's output is appended to as well.
// Its lines end as DOSBox's own output on the host does, in a line feed.
// Falls back to the temporary folder when this
// program's folder cannot be written.
class Log {
 public:
  Log() {
    wchar_t temp[MAX_PATH];
    const DWORD tempLength = GetTempPathW(MAX_PATH, temp);
    for (const std::wstring& folder : {OwnFolder(), std::wstring(temp, tempLength)}) {
      path_ = folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + L"DOSBOX.log";
      file_ = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_ALWAYS, 0, nullptr);
      if (file_ == INVALID_HANDLE_VALUE) continue;
      LARGE_INTEGER size{};
      if (GetFileSizeEx(file_, &size) && size.QuadPart > kLogLimit) {
        SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(file_);
      }
      SetFilePointer(file_, 0, nullptr, FILE_END);
      return;
    }
    file_ = INVALID_HANDLE_VALUE;
  }
  ~Log() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  HANDLE handle() const { return file_; }
  const std::wstring& path() const { return path_; }

  void Line(const std::string& text) {
    if (file_ == INVALID_HANDLE_VALUE) return;
    const std::string line = text + "\n";
    DWORD written = 0;
    WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

  // A line after DOSBox has started: written at the end as it is then, since
  // this handle's position knows nothing of what DOSBox added.
  void Append(const std::string& text) const {
    HANDLE file = CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string line = text + "\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }

  LONGLONG Position() const {
    LARGE_INTEGER zero{}, position{};
    if (file_ == INVALID_HANDLE_VALUE || !SetFilePointerEx(file_, zero, &position, FILE_CURRENT)) return 0;
    return position.QuadPart;
  }

  // What was written to the log from offset on, by anyone.
  std::string From(LONGLONG offset) const {
    std::string bytes;
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER start{};
    start.QuadPart = offset;
    if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
      char buffer[8192];
      DWORD got = 0;
      while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
  }

 private:
  std::wstring path_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

std::string Now() {
  SYSTEMTIME time;
  GetLocalTime(&time);
  char text[64];
  wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
            time.wSecond);
  return text;
}

// Every refusal and failure is shown and also kept in the log, where the
// output of the DOSBox runs that did start is.
int Fail(Log& log, const std::wstring& message, int exitCode) {
  std::string line = Utf8FromWide(message);
  for (char& c : line) c = c == '\n' ? ' ' : c;
  log.Line("not started: " + line);
  MessageBoxW(nullptr, message.c_str(), kTitle, MB_OK | MB_ICONERROR);
  return exitCode;
}

// A configuration file of our own, holding the translated text. It is made
// and removed as Vantle's own is: created new, deleted through its handle.
struct OwnConf {
  std::unique_ptr<TempConfFile> file = std::make_unique<TempConfFile>();
  std::string hostPath;
};


// Whether a host path (a folder or a file) is there: how a host process is
// seen to live, by its folder under /proc.
bool HostPathExists(const std::string& hostPath) {
  WCHAR* dos = wineDosName(hostPath.c_str());
  if (!dos) return false;
  const DWORD attributes = GetFileAttributesW(dos);
  HeapFree(GetProcessHeap(), 0, dos);
  return attributes != INVALID_FILE_ATTRIBUTES;
}

// Stays until the host's DOSBox has ended, so that whoever waits for this
// program (Vantle, to time the game and read what DOSBox reported) waits for
// DOSBox. The shell tells the end in the run file; a shell that is gone
// without telling (killed) ends the wait too, and so does one that never
// said it started. Returns DOSBox's exit status.
template <typename RunState>
int WaitForHostRun(Log& log, RunState runState, DWORD started) {
  bool toldPid = false;
  for (;;) {
    const HostRun run = runState();
    if (run.ended) {
      log.Append("DOSBox ended with exit status " + std::to_string(run.exitStatus));
      return run.exitStatus;
    }
    if (run.started && !toldPid) {
      log.Append("DOSBox runs as host process " + std::to_string(run.programPid) + " under shell " +
                 std::to_string(run.shellPid));
      toldPid = true;
    }
    if (run.started && !HostPathExists("/proc/" + std::to_string(run.shellPid))) {
      log.Append("the shell that ran DOSBox is gone without telling how DOSBox ended");
      return 1;
    }
    if (!run.started && GetTickCount() - started >= kReadWaitMilliseconds) {
      log.Append("the shell that was to run DOSBox never said that it started it");
      return 1;
    }
    Sleep(kRunPollMilliseconds);
  }
}
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  // Only Wine's kernel32 has these; looking them up is how Wine is told.
  wineUnixName = reinterpret_cast<UnixNameFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
  wineDosName =
      reinterpret_cast<DosNameFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")));
  wchar_t ownPath[MAX_PATH * 4];
  const EngineKind kind =
      BridgeKind(Utf8FromWide(std::wstring(ownPath, GetModuleFileNameW(nullptr, ownPath, ARRAYSIZE(ownPath)))));
  std::vector<std::string> arguments = CommandLineArgumentsUtf8();
  if (!arguments.empty()) arguments.erase(arguments.begin());  // the bridge's own name
  // Asked what it is (as Vantle asks a program added to its list), it says
  // the kind it stands for and starts nothing.
  if (arguments.size() == 1 && (arguments[0] == "-version" || arguments[0] == "--version")) {
    const std::string answer = BridgeVersionText(kind) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr);
    return 0;
  }
  Log log;
  log.Line("--- " + Now());
  log.Line("received: " + Utf8FromWide(GetCommandLineW()));
  if (!wineUnixName || !wineDosName) {
    return Fail(log, L"This DOSBOX.EXE only stands in for DOSBox when Vantle runs under Wine on Linux: "
                L"it hands each game to the Linux system's own DOSBox, and there is none here.\n\n"
                L"On Windows, put the real DOSBox (DOSBox.exe) beside vtl64.exe instead.",
                2);
  }

  std::wstring looked;
  log.Line(std::string("engine kind: ") + EngineKindName(kind));
  const std::string dosbox = FindHostDosBox(kind, looked);
  if (dosbox.empty()) {
    const std::wstring variable = WideFromUtf8(HostEngineVariable(kind));
    const std::wstring install =
        kind == EngineKind::Classic   ? L"Install it (on Debian or Ubuntu: sudo apt-get install dosbox), or set "
        : kind == EngineKind::DosBoxX ? L"Vantle's scripts/setup.sh makes a private one; or set "
                                      : L"Install it, or set ";
    return Fail(log, WideFromUtf8(std::string(kind == EngineKind::Classic ? "DOSBox" : EngineKindName(kind))) +
                         L" is not installed on this Linux system, so the game cannot start.\n\n" + install +
                         variable + L" to the Linux path of its program.\n\nLooked for:\n" + looked,
                3);
  }

  for (const std::string& note : DropHostSwitches(arguments)) log.Line("  " + note);

  // Vantle deletes its file three seconds after the start: read it first.
  std::vector<OwnConf> own;
  auto removeOwn = [&own]() {
    for (OwnConf& conf : own) conf.file->Delete();
  };
  wchar_t tempFolder[MAX_PATH];
  GetTempPathW(MAX_PATH, tempFolder);
  for (std::size_t index : ConfArgumentIndices(arguments)) {
    const std::wstring given = WideFromUtf8(arguments[index]);
    std::string text;
    if (!ReadWholeFile(given, text)) {
      removeOwn();
      return Fail(log, L"DOSBox was to start on the configuration file\n" + given + L"\nbut it cannot be read.", 4);
    }
    const TranslatedConf translated = TranslateConf(text, HostPathOfAnsi);
    for (const std::string& note : translated.notes) log.Line("  " + note);
    if (!translated.failures.empty()) {
      removeOwn();
      std::wstring paths;
      for (const std::string& failure : translated.failures) paths += L"\n" + WideFromUtf8(failure);
      return Fail(log, L"The game cannot be handed to DOSBox, which would not find what it needs:\n" + paths, 7);
    }

    own.emplace_back();
    OwnConf& conf = own.back();
    if (!conf.file->Create(tempFolder, "vdb", translated.text) ||
        (conf.hostPath = UnixPath(conf.file->path())).empty()) {
      removeOwn();
      return Fail(log, L"The configuration for DOSBox could not be written to the temporary folder\n" +
                      std::wstring(tempFolder),
                  6);
    }
    arguments[index] = conf.hostPath;
  }

  // A program without a console, as this one is, cannot hand a host program
  // its standard handles under Wine, and Wine gives no handle to wait on a
  // host program either: a shell sends DOSBox's output to the log and tells
  // in a run file of ours when DOSBox has ended. Redirected output is held
  // back by DOSBox until it ends; stdbuf lets each line through at once, so
  // that the moment DOSBox has read its file shows.
  const std::string shell = "/bin/sh", stdbuf = "/usr/bin/stdbuf";
  const std::string logHost = log.handle() != INVALID_HANDLE_VALUE ? UnixPath(log.path()) : std::string();
  TempConfFile runFile;
  std::string runHost;
  if (HostFileExists(shell) && runFile.Create(tempFolder, "vde", std::string()))
    runHost = UnixPath(runFile.path());
  const bool watched = !runHost.empty();
  const bool lineByLine = watched && !logHost.empty() && HostFileExists(stdbuf);
  std::string commandLine;
  if (watched) {
    commandLine = CommandLineArgument(shell) + " -c " + CommandLineArgument(HostRunScript()) + " sh " +
                  CommandLineArgument(logHost.empty() ? "/dev/null" : logHost) + " " + CommandLineArgument(runHost) +
                  " ";
  }
  if (lineByLine) commandLine += CommandLineArgument(stdbuf) + " -oL -eL ";
  commandLine += CommandLineArgument(dosbox);
  for (const std::string& argument : arguments) commandLine += " " + CommandLineArgument(argument);
  log.Line("starting: " + commandLine);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  const LONGLONG outputStart = log.Position();
  std::wstring wideLine = WideFromUtf8(commandLine);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &wideLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();
    removeOwn();
    return Fail(log, L"The Linux system's DOSBox could not be started (error " + std::to_wstring(error) + L"):\n" +
                         WideFromUtf8(dosbox),
                5);
  }
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);

  auto runState = [&]() {
    std::string text;
    return watched && ReadWholeFile(runFile.path(), text) ? ReadHostRun(text) : HostRun();
  };
  const DWORD started = GetTickCount();
  bool reported = true;
  for (OwnConf& conf : own) {
    while (!(lineByLine && DosBoxHasReadConf(log.From(outputStart), conf.hostPath))) {
      if (GetTickCount() - started >= kReadWaitMilliseconds || runState().ended) {
        reported = false;
        break;
      }
      Sleep(50);
    }
  }
  removeOwn();
  if (!reported && lineByLine) {
    log.Append("DOSBox did not report loading its configuration within " +
               std::to_string(kReadWaitMilliseconds / 1000) + " seconds, or ended before; the file is removed all the "
               "same");
  }
  if (!watched) return 0;
  return WaitForHostRun(log, runState, started);
}
