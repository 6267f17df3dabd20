#include "launcher/LaunchThreads.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct PendingLaunch {
  std::unique_ptr<TempConfFile> conf;
  DWORD lifeMilliseconds;
  LaunchEnd end;
  ULONGLONG started;
};

// Set while FinishLaunches gives up the waits for DOSBox to end.
HANDLE GivingUp() {
  static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

// What file gained after from; all of it when it is shorter now (written
// afresh, as stdout.txt is by each start of DOSBox).
std::string NewOutput(const std::wstring& file, long long from) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::string();
  LARGE_INTEGER size{};
  GetFileSizeEx(handle, &size);
  LARGE_INTEGER start{};
  start.QuadPart = size.QuadPart < from ? 0 : from;
  std::string bytes;
  // What one run reports is short; a runaway log is read no further.
  constexpr DWORD kMostRead = 1 << 20;
  if (SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) && size.QuadPart > start.QuadPart) {
    bytes.resize(static_cast<std::size_t>(std::min<long long>(size.QuadPart - start.QuadPart, kMostRead)));
    DWORD got = 0;
    if (!ReadFile(handle, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
    bytes.resize(got);
  }
  CloseHandle(handle);
  return bytes;
}

void TellWhenEnded(const PendingLaunch& launch) {
  if (!launch.end.process) return;
  const HANDLE waits[] = {launch.end.process, GivingUp()};
  const bool ended = WaitForMultipleObjects(GivingUp() ? 2 : 1, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
  if (!ended || !launch.end.window) {
    CloseHandle(launch.end.process);
    return;
  }
  auto played = std::make_unique<GamePlayed>();
  played->game = launch.end.game;
  // The process's own times, which do not count the file's seconds of life
  // this thread waited before it looked.
  FILETIME created{}, exited{}, kernel{}, user{};
  if (GetProcessTimes(launch.end.process, &created, &exited, &kernel, &user)) {
    const auto ticks = [](const FILETIME& t) { return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    played->seconds = ticks(exited) > ticks(created) ? (ticks(exited) - ticks(created)) / 10000000 : 0;
    FileTimeToSystemTime(&exited, &played->ended);
  } else {
    played->seconds = (GetTickCount64() - launch.started) / 1000;
    GetSystemTime(&played->ended);
  }
  CloseHandle(launch.end.process);
  for (std::size_t i = 0; i < launch.end.reportFiles.size(); ++i)
    played->output += NewOutput(launch.end.reportFiles[i], launch.end.reportFrom[i]);
  if (PostMessageW(launch.end.window, launch.end.message, 0, reinterpret_cast<LPARAM>(played.get())))
    played.release();
}

// The threads of launches not yet waited for. A finished one is closed when
// the next launch starts, so the list holds only what may still run.
std::mutex ThreadsLock;
std::vector<HANDLE> Threads;

DWORD WINAPI FinishLaunch(void* parameter) {
  std::unique_ptr<PendingLaunch> launch(static_cast<PendingLaunch*>(parameter));
  Sleep(launch->lifeMilliseconds);
  launch->conf->Delete(launch->lifeMilliseconds);
  TellWhenEnded(*launch);
  return 0;
}

void CloseFinishedThreads() {
  std::vector<HANDLE> running;
  for (HANDLE thread : Threads) {
    if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0)
      CloseHandle(thread);
    else
      running.push_back(thread);
  }
  Threads.swap(running);
}

}  // namespace

long long FileSizeNow(const std::wstring& file) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void FinishLaunchLater(std::unique_ptr<TempConfFile> conf, DWORD lifeMilliseconds, LaunchEnd end) {
  auto launch =
      std::make_unique<PendingLaunch>(PendingLaunch{std::move(conf), lifeMilliseconds, end, GetTickCount64()});
  {
    std::lock_guard<std::mutex> hold(ThreadsLock);
    CloseFinishedThreads();
    HANDLE thread = CreateThread(nullptr, 0, FinishLaunch, launch.get(), 0, nullptr);
    if (thread) {
      launch.release();  // the thread owns it now
      Threads.push_back(thread);
      return;
    }
  }
  // No thread to be had: the file still gets its life, on this one.
  FinishLaunch(launch.release());
}

void FinishLaunches() {
  std::vector<HANDLE> threads;
  {
    std::lock_guard<std::mutex> hold(ThreadsLock);
    threads.swap(Threads);
  }
  SetEvent(GivingUp());
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  ResetEvent(GivingUp());
}
