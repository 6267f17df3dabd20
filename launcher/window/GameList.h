// The main window's list of games: columns and groups, filling it from the
// library, sorting by a column, and finding the selected game.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "xml/Xml.h"

// Whether the list shows one group per category (drawn by the list, or named
// in column 0 where the list cannot draw groups).
extern bool GroupsShown;
// +1 or -1: the direction of the next sort. Shared by all columns and flipped
// after every sort.
extern int SortDirection;
// The column the list is sorted by (-1: the library's order) and the
// direction of that sort. Every fill keeps it.
extern int SortedColumn;
extern int SortedDirection;

// Inserts the columns and the groups and sets the list's extended styles.
// A list that cannot draw groups (Wine's) is made anew as one that holds no
// items of its own (LVS_OWNERDATA), where filling and finding cost nothing
// per game; the list to use from then on is returned.
HWND SetUpGameList(HWND list);

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

// Sorts the shown games by column in SortDirection, as the find box compares
// texts, then flips SortDirection. The sort holds for every later fill, and
// the column's header shows its arrow.
void SortGameList(HWND list, int column);

// Sorts by column (-1: the library's order) in direction, as a sort
// remembered from an earlier run; the next header click sorts the other way.
void SortGameListAs(HWND list, int column, int direction);

// The sort's comparison of two rows of the last fill (their positions in
// it) by their texts in column, in SortedDirection.
int CompareListItems(int row1, int row2, int column);

// The last column reaches to the list's right edge, never narrower than its
// own width: call when the list's size changes.
void StretchLastColumn(HWND list);

// The columns' widths when the user has set them (or they came from an
// earlier run), for keeping them; empty while they fit the texts.
std::vector<int> GameListColumnWidths(HWND list);
// Gives the first columns these widths and keeps them from then on, instead
// of fitting them to the texts at each fill; columns past the widths given
// (new since they were kept) go on being fitted.
void SetGameListColumnWidths(HWND list, const std::vector<int>& widths);

// Type-ahead by the game's name, whatever column 0 shows: a character typed
// into the list selects the next game whose name begins with what was typed
// since the last pause. False for what is no character to find by.
bool GameListTypeAhead(HWND list, wchar_t typed);

// The text of a cell, which the list asks for as it draws (LVN_GETDISPINFO):
// the games' texts are kept here, not in the list.
void GameListDispInfo(NMLVDISPINFOW* info);

// The list's custom drawing (NM_CUSTOMDRAW): an empty list says how to add
// games, or that nothing holds the text to find. The list itself is never
// subclassed for this: under Wine every message to a subclassed control
// pays for it, which costs seconds when tens of thousands of games fill in.
LRESULT GameListCustomDraw(const NMLVCUSTOMDRAW* draw);

// The game of item index, or null.
XmlElement* GameListEntry(HWND list, int index);

// The first selected item, or -1.
int SelectedGame(HWND list);

// Makes the item of entry the only selected one, with the focus, and
// scrolls it into view; or, with addToSelection, selects it as well.
void SelectGameEntry(HWND list, const XmlElement* entry, bool addToSelection = false);

// The games of every selected item, in list order.
std::vector<XmlElement*> SelectedGames(HWND list);

// The text of item index in column, as UTF-8.
std::string GameListText(HWND list, int index, int column);
