// The main window's list of games: columns and groups, filling it from the
// library, sorting by a column, and finding the selected game.
#pragma once

#include <windows.h>

#include <string>

// Whether the list shows one group per category (drawn by the list, or named
// in column 0 where the list cannot draw groups).
extern bool GroupsShown;
// +1 or -1: the direction of the next sort. Shared by all columns and flipped
// after every sort.
extern int SortDirection;

// Inserts the columns and the groups, sets the list's extended styles, and
// teaches it to find games by their name as the user types and to say what
// to do while it is empty.
void SetUpGameList(HWND list);

// Switches the list's group view to GroupsShown.
void ApplyGroupView(HWND list);

// Rebuilds the items from GameDatabase, in library order: every game, or
// those that hold the text to find while there is one.
void FillGameList(HWND list);

// Shows only the games whose name, description or category holds text
// (UTF-8), whatever the case and the accents; an empty text shows all. The
// text holds for every later fill until it is changed. The first game shown
// is selected when no shown game is.
void FindInGameList(HWND list, const std::string& text);

// Sorts the items by column in SortDirection, then flips SortDirection.
void SortGameList(HWND list, int column);

// The sort's comparison: the texts of column of the two items with these
// parameters (their games' elements), in SortDirection. Items are told by
// their parameters, not their positions: the list moves items while it
// sorts, and not every list view reports positions that still hold then.
int CALLBACK CompareListItems(LPARAM item1, LPARAM item2, LPARAM column);

// The first selected item, or -1.
int SelectedGame(HWND list);

// The text of item index in column, as UTF-8.
std::string GameListText(HWND list, int index, int column);
