// The part of a launch that takes time happens beside the window: DOSBox's
// three seconds to read its configuration, and the deletion of that file
// after them, run on a thread of their own for each launch, so that the
// window answers at once and a second launch can start meanwhile. Windows
// only.
#pragma once

#include <windows.h>

#include <memory>

#include "launcher/TempConfFile.h"

// Keeps conf for lifeMilliseconds from now, then deletes it (waiting up to as
// long again while DOSBox still holds it open), on a thread of its own.
void FinishLaunchLater(std::unique_ptr<TempConfFile> conf, DWORD lifeMilliseconds);

// Waits until every launch handed to FinishLaunchLater is finished: each
// file has had its full life and is gone. Called before the process ends, so
// that closing the window (or a command-line mode ending) never cuts a
// launch short and never leaves a file behind.
void FinishLaunches();
