// What the windows remember between runs: where the main window was and how
// large, its columns and its sort, and the folder last imported from. Kept
// in "vtlui.xml" beside the default profile, apart from the library, so that
// moving a window never rewrites the games.
#pragma once

#include <string>
#include <vector>

struct WindowSettings {
  // The main window's place on the screen, when it was ever closed.
  bool placed = false;
  int left = 0, top = 0, width = 0, height = 0;
  bool maximized = false;
  // Widths of the list's columns in pixels; empty when they fit the texts.
  std::vector<int> columnWidths;
  // The column the list is sorted by (-1: the library's order) and its
  // direction (+1 ascending, -1 descending).
  int sortColumn = -1;
  int sortDirection = +1;
  // The folder the import dialog opened last (UTF-8).
  std::string importFolder;
};

// The settings read from path: anything missing, unreadable or out of range
// is left at its default, so that a damaged file costs only what it held.
WindowSettings ReadWindowSettings(const std::string& path);

// Writes settings to path through a file that replaces the old one. False
// when it could not be written.
bool WriteWindowSettings(const std::string& path, const WindowSettings& settings);

// "vtlui.xml" in the profile folder.
std::string WindowSettingsPath();
