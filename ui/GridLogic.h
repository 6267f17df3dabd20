// The property grid's decisions that need no window: which editor a cell
// gets, what a begin-edit answer means, where an image goes, and how the
// image table follows a deleted row. Portable, so it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Working buffers for cell texts hold this many UTF-16 units, the zero included.
constexpr int kGridTextUnits = 1000;

// The entries of one cell's drop-down editor.
struct ChoiceList {
  int row = 0;
  int column = 0;
  std::vector<std::wstring> items;
};

// What the parent's answer to a begin-edit notification asks the grid to do.
enum class BeginEditAnswer {
  OpenEditor,  // 0, negative, 2..1000, or anything else not listed below
  NoEditor,    // 1: the parent refuses (or has dealt with the click itself)
  Callback,    // above 1000: the value is a CellEditCallback to call instead
};
BeginEditAnswer ClassifyBeginEditAnswer(std::intptr_t answer);

// The entry of a choice list that turns a drop-down into an editable one;
// it is never shown as an entry itself.
extern const wchar_t kFreeTextChoice[];

// How a cell's choice list becomes a drop-down editor.
struct DropDownSetup {
  bool editable = false;             // free text allowed besides the entries
  std::vector<std::wstring> entries; // in list order, without the free-text marker
};
DropDownSetup MakeDropDownSetup(const ChoiceList& list);

// The first list added for (row, column), or null: later lists for the same
// cell are ignored.
const ChoiceList* FindChoiceList(const std::vector<ChoiceList>& lists, int row, int column);

// Where an image of width x height goes when centred in a cell, and whether
// it may be drawn there at all (it must have a size and fit the cell).
struct ImagePlacement {
  bool fits = false;
  int x = 0;
  int y = 0;
};
ImagePlacement PlaceImageInCell(int cellLeft, int cellTop, int cellWidth, int cellHeight, int width,
                                int height);

// The image table after row `row` was deleted: that row's entries go, the
// entries of later rows move up one row. Entry is any type with an int `row`.
template <typename Entry>
void AdjustTableForDeletedRow(std::vector<Entry>& table, int row) {
  for (std::size_t i = table.size(); i-- > 0;) {
    if (table[i].row == row) table.erase(table.begin() + static_cast<std::ptrdiff_t>(i));
  }
  for (Entry& entry : table) {
    if (entry.row > row) --entry.row;
  }
}

// How many of the first `length` UTF-16 units of text fit into `capacity`
// units with a terminating zero, without splitting a surrogate pair.
std::size_t FitTextUnits(const wchar_t* text, std::size_t length, std::size_t capacity);

// The editor's keys: Enter (13, or the line feed 10) commits, Escape cancels.
enum class EditorKey { Commit, Cancel, Other };
EditorKey ClassifyEditorKey(unsigned virtualKey);
