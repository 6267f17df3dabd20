#pragma once
// Helpers for tests that drive real Windows programs under Wine.
#include <windows.h>

#include <string>

namespace wintest {

// Wine maps the Linux root to drive Z:, so a Linux build path can be handed to
// Windows calls that insist on a drive letter.
std::string HostToWindowsPath(const std::string& path);

// A started process; the destructor kills it if a test left it running.
class Process {
 public:
  explicit Process(const std::string& commandLine);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return info_.hProcess != nullptr; }
  DWORD id() const { return info_.dwProcessId; }
  // Waits for the process to end; returns false on timeout.
  bool Wait(DWORD milliseconds, DWORD* exitCode);

 private:
  PROCESS_INFORMATION info_{};
};

// Polls until a visible top-level window of the process appears.
HWND WaitForTopWindow(DWORD processId, DWORD timeoutMs);

std::string WindowText(HWND window);

}  // namespace wintest
