#include "launcher/LaunchThreads.h"

#include <mutex>
#include <vector>

namespace {

struct PendingLaunch {
  std::unique_ptr<TempConfFile> conf;
  DWORD lifeMilliseconds;
};

// The threads of launches not yet waited for. A finished one is closed when
// the next launch starts, so the list holds only what may still run.
std::mutex ThreadsLock;
std::vector<HANDLE> Threads;

DWORD WINAPI FinishLaunch(void* parameter) {
  std::unique_ptr<PendingLaunch> launch(static_cast<PendingLaunch*>(parameter));
  Sleep(launch->lifeMilliseconds);
  launch->conf->Delete(launch->lifeMilliseconds);
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

void FinishLaunchLater(std::unique_ptr<TempConfFile> conf, DWORD lifeMilliseconds) {
  auto launch = std::make_unique<PendingLaunch>(PendingLaunch{std::move(conf), lifeMilliseconds});
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
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}
