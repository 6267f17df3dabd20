#include "WinTestUtil.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace wintest {

std::string HostToWindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

Process::Process(const std::string& commandLine, const std::string& folder) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info_)) {
    info_ = PROCESS_INFORMATION{};
  }
}

Process::Process(const std::wstring& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
    info_ = PROCESS_INFORMATION{};
  }
}

Process::~Process() {
  if (info_.hProcess) {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 1);
      WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
}

bool Process::Wait(DWORD milliseconds, DWORD* exitCode) {
  if (!info_.hProcess || WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0) {
    return false;
  }
  return GetExitCodeProcess(info_.hProcess, exitCode) != 0;
}

namespace {
struct WindowSearch {
  DWORD processId;
  HWND found;
  bool (*accept)(HWND);
  bool ownedToo;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if ((!search->processId || owner == search->processId) && IsWindowVisible(window) && (search->ownedToo || !GetWindow(window, GW_OWNER)) &&
      (!search->accept || search->accept(window))) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND WaitForTopWindow(DWORD processId, DWORD timeoutMs) {
  return WaitForTopWindow(processId, timeoutMs, nullptr);
}

HWND WaitForTopWindow(DWORD processId, DWORD timeoutMs, bool (*accept)(HWND), bool ownedToo, DWORD pollMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < end) {
    WindowSearch search{processId, nullptr, accept, ownedToo};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(pollMs);
  }
  return nullptr;
}

bool HasMenu(HWND window) { return GetMenu(window) != nullptr; }

std::string AnswerMessage(DWORD processId, DWORD timeoutMs) {
  HWND box = WaitForTopWindow(
      processId, timeoutMs, [](HWND window) { return !HasMenu(window) && WindowText(window) == "Vantle"; }, true);
  if (!box) return "<none>";
  const std::string text = ChildTexts(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(50);
  return text;
}

std::string WindowText(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

namespace {
BOOL CALLBACK AppendChildText(HWND child, LPARAM param) {
  char text[4096] = "";
  GetWindowTextA(child, text, sizeof text);
  *reinterpret_cast<std::string*>(param) += std::string(text) + "\n";
  return TRUE;
}
}  // namespace

std::string ChildTexts(HWND window) {
  std::string texts;
  EnumChildWindows(window, AppendChildText, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

}  // namespace wintest
