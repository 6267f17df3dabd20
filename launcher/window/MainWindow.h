// The main window: the dialog DIALOG_1 with the game list and the menu that
// carries every command.
#pragma once

#include <windows.h>

#include <vector>

#include "xml/Xml.h"

// The program icon, loaded at start; the main window puts it on its class.
extern HICON ProgramIcon;

// What the windows need before the first one opens, on the thread that will
// run them: the icon, OLE, the grid's classes, the rich edit control and the
// common controls.
void PrepareWindows(HINSTANCE instance);

// Called by the main window once its controls are made, before it fills
// its list: the program hands over here the library it read meanwhile.
// Null when GameDatabase holds the library already.
extern void (*TakeLibraryBeforeFill)();

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Removes the game of list item index from the library, saves the library at
// once and refills the list.
void DeleteGameEntry(HWND list, int index);

// Removes these games from the library, saves it once and refills the list.
void DeleteGameEntries(HWND list, const std::vector<XmlElement*>& entries);

// The message parameter of a command replayed by an elevated copy of the
// program; commands that need elevation then do not ask for it again.
constexpr LPARAM ElevatedCommandMarker = static_cast<LPARAM>(0xFEFEFEFE);
