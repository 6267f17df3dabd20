#pragma once
// Helpers for tests that drive real Windows programs under Wine.
#include <windows.h>

#include <filesystem>
#include <algorithm>
#include <string>
#include <vector>

namespace wintest {

// Wine maps the Linux root to drive Z:, so a Linux build path can be handed to
// Windows calls that insist on a drive letter.
std::string HostToWindowsPath(const std::string& path);

// A file's bytes, or "<missing>" when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);
// Creates or replaces a file with exactly these bytes.
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// A started process; the destructor kills it if a test left it running.
class Process {
 public:
  // With a folder, the process starts in it.
  explicit Process(const std::string& commandLine, const std::string& folder = std::string());
  // A wide command line: names outside the ANSI code page arrive intact.
  explicit Process(const std::wstring& commandLine);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return info_.hProcess != nullptr; }
  DWORD id() const { return info_.dwProcessId; }
  HANDLE Handle() const { return info_.hProcess; }
  // Waits for the process to end; returns false on timeout.
  bool Wait(DWORD milliseconds, DWORD* exitCode);

 private:
  PROCESS_INFORMATION info_{};
};

// Polls until a visible top-level window of the process appears.
HWND WaitForTopWindow(DWORD processId, DWORD timeoutMs);
// The same, for the first such window that accept takes (a message box, a
// window with a menu, ...); with ownedToo also windows that have an owner
// (a message box of the main window).
HWND WaitForTopWindow(DWORD processId, DWORD timeoutMs, bool (*accept)(HWND), bool ownedToo = false,
                     DWORD pollMs = 50);

// The text of the "Vantle" message box of the process (0: any) within
// timeoutMs, once answered with OK; "<none>" when none came.
std::string AnswerMessage(DWORD processId, DWORD timeoutMs);

// Whether window has a menu bar: how the main window is told from message
// boxes and other windows of the program.
bool HasMenu(HWND window);

// The texts of all of a window's children, one per line: what a message box
// or dialog says.
std::string ChildTexts(HWND window);

std::string WindowText(HWND window);

// The least, middle and greatest of a benchmark's samples.
struct Spread {
  double min = 0, median = 0, max = 0;
};

inline Spread SpreadOf(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  if (samples.empty()) return {};
  return {samples.front(), samples[samples.size() / 2], samples.back()};
}

}  // namespace wintest
