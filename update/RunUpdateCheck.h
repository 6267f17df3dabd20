// The update command: checks the update server for a newer version of this
// program and, when there is one, installs it, tells the user, and has the
// program end through its normal exit so that the game database is saved.
#pragma once

#include <windows.h>

// The product identifier this program is published under.
#define VANTLE_PRODUCT_ID L"5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915"

// Thread-start friendly: the argument is the main window's HWND, or null.
// After an update has been installed and "Vantle is updated." shown, WM_CLOSE
// is posted to that window, whose owner then ends the program the orderly
// way; without a window the call just returns. Failures are silent.
void RunUpdateCheck(void* mainWindow);

namespace VULIBRARY {
// The same against a given endpoint. Returns the update's result when one
// ran (0 or 1 when installed), else the check's. Nothing is done, and
// E_ABORT returned, while a debugger is attached.
int RunUpdateCheckAt(const wchar_t* endpoint, HWND mainWindow);
}  // namespace VULIBRARY
