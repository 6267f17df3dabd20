// The main window's part in editing a game: offering the file dialog for a
// game's program paths and the folder browser for a mount's host folder.
#pragma once

#include <windows.h>

// An XmlEditorCallback. Before "Install" or "Run" is edited it offers a file
// dialog, before "local" a folder browser; a choice becomes the attribute's
// value and is copied into text (kEditorTextBytes bytes). Answers 2 when the
// value was set, 0 to let the editor edit in place.
INT_PTR CALLBACK BrowseAttributeValue(HWND editor, int code, void* node, char* text);
