// The part of a launch that takes time happens beside the window: DOSBox's
// three seconds to read its configuration, and the deletion of that file
// after them, run on a thread of their own for each launch, so that the
// window answers at once and a second launch can start meanwhile. Windows
// only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "launcher/TempConfFile.h"

// Who hears when DOSBox ends: message is posted to window with a GamePlayed
// (the receiver deletes it) once process has ended. The thread owns process.
// reportFiles are the files DOSBox writes what it reports to; what they gained
// after reportFrom (their sizes at the start) comes back as output.
struct LaunchEnd {
  HANDLE process = nullptr;
  HWND window = nullptr;
  UINT message = 0;
  const void* game = nullptr;
  std::vector<std::wstring> reportFiles;
  std::vector<long long> reportFrom;
};
struct GamePlayed {
  const void* game;
  unsigned long long seconds;
  SYSTEMTIME ended;  // UTC
  std::string output;
};

// The size of file now (0 when there is none), for reportFrom.
long long FileSizeNow(const std::wstring& file);

// Keeps conf for lifeMilliseconds from now, then deletes it (waiting up to as
// long again while DOSBox still holds it open), on a thread of its own; then,
// when end names a process and a window, waits for the process to end and
// tells the window how long it ran.
void FinishLaunchLater(std::unique_ptr<TempConfFile> conf, DWORD lifeMilliseconds, LaunchEnd end = LaunchEnd());

// Waits until every launch handed to FinishLaunchLater is finished: each
// file has had its full life and is gone. Called before the process ends, so
// that closing the window (or a command-line mode ending) never cuts a
// launch short and never leaves a file behind. Waits for DOSBox to end are
// given up: the games still running are not timed.
void FinishLaunches();
