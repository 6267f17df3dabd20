// One window per library. The process that shows a library holds a named
// object made from the library's identity and publishes its main window
// there; a later start that would open the same library in a window brings
// that window to the front instead, and "-import" hands its folder to it.
#pragma once

#include <windows.h>

#include <string>

// Called before the library is read. For a start in window mode: takes the
// library, or brings the window that holds it to the front and returns 0.
// For "-import FOLDER": hands the folder to the window that holds the
// library and returns kImportHandedOver. -1 when this process goes on.
int DeferToLibraryWindow(const std::string& databasePath);

// The main window is up: publishes it to later starts. False when another
// window holds the library; it has been brought to the front, and this
// process should end.
bool HoldLibrary(HWND window, const std::string& databasePath);

// The folder a WM_COPYDATA message hands over to import; false when the
// message is no such hand-over.
bool TakeHandedFolder(const COPYDATASTRUCT* data, std::string& folder);
