// The file and folder choosers of the wizard, the editor and the
// configuration export.
#pragma once

#include <windows.h>

#include <string>

// Asks for a DOS program ("*.EXE;*.COM;*.BAT") with the system's open dialog,
// starting at initial (UTF-8, may be empty). False when cancelled.
bool PickProgramFile(HWND owner, const wchar_t* title, const std::string& initial,
                     std::string& chosen);

// Asks where to save a configuration file ("*.conf"), proposing the name
// proposed in startFolder and asking before a file is overwritten. False
// when cancelled.
bool PickConfSaveFile(HWND owner, const std::string& proposed, const std::string& startFolder,
                      std::string& chosen);

// Asks for a folder with the system's folder browser. False when cancelled or
// when the choice has no path in the file system.
bool PickFolder(HWND owner, std::string& chosen);
