// "Import Games from Folder...": a dialog that finds the games in a folder
// tree, shows them for the user to untick or rename, and adds them to the
// library at once; and the -import mode that does the same without asking.
#pragma once

#include <windows.h>

#include <string>

// Opens the import dialog over owner; the game list is filled anew when games
// were added. With a folder, the dialog looks in it at once.
void OpenImportDialog(HWND owner, const std::string& folder = std::string());

// Adds every game found under folder (UTF-8) to the library and saves it.
// Returns the exit code of the -import mode: 0 when the library was saved
// (with or without new games), 1 when the folder cannot be read, 2 when the
// library could not be saved.
int ImportFolderQuietly(const std::string& folder);
