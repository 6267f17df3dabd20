// Options → "DOSBox Installations...": the list of DOSBox installations,
// where engines are added, changed (renamed, another program or kind),
// removed and one chosen for new games. OK saves the list. Windows only.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/EngineKinds.h"

void OpenEngineOptions(HWND owner);

// The kind a program declares in its version resource (product name, file
// description) or, without one, in what it prints for "-version" (given a few
// seconds, then ended); false when neither says.
bool EngineKindOfProgram(const std::string& program, EngineKind& kind);

// The editor's hook for a game's engine: the Main element of a game shows an
// Engine row once any engine is listed, and editing it offers the listed
// names (and the DOSBOX.EXE beside the program) to pick from. 0 for every
// other event, which the caller then handles.
INT_PTR PickEngineValue(HWND editor, int code, void* node, char* text);
