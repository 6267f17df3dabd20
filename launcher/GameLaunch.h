// Starting DOSBox: a game from the list (or an entry held only in memory), a
// configuration file given on the command line, or a game named by a
// shortcut. Windows only.
#pragma once

#include <windows.h>

#include "launcher/ConfWriter.h"
#include "xml/Xml.h"

// The main window's game list: the list that RunShortcut walks and whose
// items carry their game's element.
extern HWND GameListWindow;

// The element that list item index carries; null for -1 or an item without
// one.
XmlElement* ListItemEntry(HWND list, int index);

// Posted to the main window when DOSBox ends after a game of the list ran;
// its lParam is a GamePlayed (LaunchThreads.h) that the window deletes.
constexpr UINT kGamePlayedMessage = WM_APP + 2;

// Writes a temporary configuration for entry (or, when entry is null, for the
// list item's game) into the profile folder and starts DOSBox on it; DOSBox
// gets three seconds to read it before it is deleted, on a thread beside the
// window (see LaunchThreads.h), so this returns as soon as DOSBox started. When neither the program nor the
// installer of the game is known, the game's editor opens instead. A path
// that DOSBox would not find or could not be handed (see LaunchCheck.h), and
// a DOSBox that does not start, are told in a message; a game of the list is
// offered its settings.
void RunGame(HWND list, int index, LaunchMode mode, XmlElement* entry);

// Starts DOSBox on the configuration file path (UTF-8, from the command
// line; telling when it does not start) and ends the process.
void RunConfFile(const char* path);

// Starts the first game of the list whose name is argument (UTF-8), or the
// name held by the ".vtl" link file argument, and ends the process. Returns when no
// game matches, or when argument is a file that is not an XML document.
void RunShortcut(const char* argument);
