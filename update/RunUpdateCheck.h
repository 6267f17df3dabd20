// The update command: checks the update server for a newer version of this
// program and, when there is one, installs it, tells the user, and has the
// program end through its normal exit so that the game database is saved.
#pragma once

#include <windows.h>

#include "update/CheckOutcome.h"

// The product identifier this program is published under.
#define VANTLE_PRODUCT_ID L"5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915"

namespace VULIBRARY {

// The check against endpoint, on the calling thread. When a newer version
// was installed, "Vantle is updated." has been shown and WM_CLOSE posted to
// mainWindow (if any), whose owner then ends the program the orderly way.
// Every other outcome is only returned, for the caller to tell or not.
// Nothing is done (E_ABORT) while a debugger is attached.
CheckOutcome RunUpdateCheckAt(const wchar_t* endpoint, HWND mainWindow);

}  // namespace VULIBRARY
