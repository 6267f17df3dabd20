// The main window's list of games: columns and groups, filling it from the
// library, sorting by a column, and finding the selected game.
#pragma once

#include <windows.h>

#include <string>

class XmlElement;

// Whether the list shows one group per category (drawn by the list, or named
// in column 0 where the list cannot draw groups).
extern bool GroupsShown;
// +1 or -1: the direction of the next sort. Shared by all columns and flipped
// after every sort.
extern int SortDirection;

// Inserts the columns and the groups and sets the list's extended styles.
void SetUpGameList(HWND list);

// Switches the list's group view to GroupsShown.
void ApplyGroupView(HWND list);

// Rebuilds every item from GameDatabase, in library order.
void FillGameList(HWND list);

// Sorts the items by column in SortDirection, then flips SortDirection.
void SortGameList(HWND list, int column);

// The sort's comparison: the texts of column of the two items with these
// parameters (their games' elements), in SortDirection. Items are told by
// their parameters, not their positions: the list moves items while it
// sorts, and not every list view reports positions that still hold then.
int CALLBACK CompareListItems(LPARAM item1, LPARAM item2, LPARAM column);

// The first selected item, or -1.
int SelectedGame(HWND list);

// Makes the item of entry the only selected one, with the focus, and
// scrolls it into view.
void SelectGameEntry(HWND list, const XmlElement* entry);

// The text of item index in column, as UTF-8.
std::string GameListText(HWND list, int index, int column);
