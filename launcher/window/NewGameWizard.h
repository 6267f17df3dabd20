// The new game wizard (DIALOG_NEW): names a new game, picks its category and
// how it reaches DOSBox, and adds it to the library; with a preset executable
// (the -run mode) it completes at once, starts the program and ends the
// process without storing anything.
#pragma once

#include <windows.h>

INT_PTR CALLBACK NewGameWizard(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Opens the wizard modally; owner is null for the -run mode.
void OpenNewGameWizard(HWND owner);

// The drive letter of the Windows folder ('C' when it has none): new games
// mount it as their C: drive where they install from a floppy or a CD.
char SystemDriveLetter();
