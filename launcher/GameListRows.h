// What the game list shows for each game, and how its columns sort: the
// window-free half of the main window's list.
#pragma once

#include <string>
#include <vector>

#include "xml/Xml.h"

struct GameRow {
  XmlElement* entry = nullptr;  // the game's element under "Games"
  std::string first;            // column 0 (UTF-8)
  std::string name;             // column 1: Main/Name
  std::string description;      // column 2: Main/Description
  std::string year;             // column 3: Main/Year
  std::string developer;        // column 4: Main/Developer
  int group = 0;                // position of the game's category in CategoryList
};

// The list's columns, in the order they stand. Year and developer come
// after the columns that were there before them, so that widths and sorts
// kept from earlier runs still name the same columns.
enum GameListColumn { kNumberColumn, kNameColumn, kDescriptionColumn, kYearColumn, kDeveloperColumn, kGameListColumns };

// The text row shows in column.
const std::string& CellOf(const GameRow& row, int column);

// How column 0 is used.
enum class FirstColumn {
  Number,    // groups are off: the game's 1-based position in the library
  Empty,     // groups are on and the list draws them
  Category,  // groups are on but the list cannot draw them: the category's name
};

// One row per child of "Games" in library order (by category first where
// column 0 names the category). Reading completes each
// entry (Main, Category, Name and Description are created when missing), as
// every other reader of an entry does.
std::vector<GameRow> GameRows(const XmlDocument& library, FirstColumn first);

// The form a cell is sorted by: as the find box folds it (case and accents
// set aside), so that "DOOM" sorts beside "Day" and "Ärger" beside "Arger".
std::string SortKeyOf(const std::string& text);

// The order of two cells of column, given as their sort keys: column 0
// compares decimal numbers (anything else counts as 0), unless neither cell
// is a number; the year column compares the numbers the cells begin with
// (a cell that begins with none sorts after every year ascending, before
// them descending), and an empty year sorts last in either direction; texts compare byte by byte as unsigned characters,
// except that runs of digits compare as numbers ("Game 2" before "Game
// 10"). The sign is multiplied by direction (+1 or -1), an empty year's
// place aside.
int CompareCells(int column, const char* a, const char* b, int direction);
