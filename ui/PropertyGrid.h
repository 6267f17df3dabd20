// The property grid: a report-mode list view whose cells are edited in place,
// in a one-line text field or in a drop-down list the owner sets per cell.
// The grid knows nothing of what the cells mean; it tells its parent about
// every edit (WM_NOTIFY with an NMLVDISPINFOW) and lets it accept, refuse or
// take over each one. All text the grid handles itself is UTF-16.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "ui/GridLogic.h"

// Window classes: the list view, the edit control and the combo box, each with
// its own procedure and a GridState pointer in 8 extra window bytes.
#define GRID_CLASS L"grid"
#define GRID_EDIT_CLASS L"gridedit"
#define GRID_COMBO_CLASS L"gridcb"

// Messages the grid answers besides the list view's own.
constexpr UINT GRIDM_EDITCELL = 0x8001;          // wParam row, lParam column
constexpr UINT GRIDM_ADDCHOICELIST = 0x8002;     // lParam const ChoiceList*
constexpr UINT GRIDM_CLEARCHOICELISTS = 0x8003;
constexpr UINT GRIDM_SETCELLIMAGES = 0x8004;     // lParam const CellImageTable*
constexpr UINT GRIDM_GETCELLIMAGES = 0x8005;     // lParam CellImageTable*

// The grid's own notifications, below the list view's range.
constexpr UINT GRIDN_BEGINSUBITEMEDIT = LVN_FIRST - 100;  // -200
constexpr UINT GRIDN_EDITORCREATED = LVN_FIRST - 101;     // -201
constexpr UINT GRIDN_ENDSUBITEMEDIT = LVN_FIRST - 102;    // -202
constexpr UINT GRIDN_CELLCHANGED = LVN_FIRST - 103;       // -203
constexpr UINT GRIDN_DROPFILES = LVN_FIRST - 104;         // -204

// Control ID of the in-place editors, and idFrom of their notifications.
constexpr int kGridEditorId = 1000;

// A bitmap and/or an icon drawn centred in a cell. The grid never deletes the
// handles: whoever put them in the table owns them.
struct CellImage {
  int row = 0;
  int column = 0;
  HBITMAP bitmap = nullptr;
  HICON icon = nullptr;
};
using CellImageTable = std::vector<CellImage>;

// What a parent may answer to a begin-edit notification (any value above
// 1000): the grid calls it with the cell's text in a zero-filled buffer of
// kGridTextUnits units; a non-zero result means the buffer holds the new text.
typedef int(CALLBACK* CellEditCallback)(HWND grid, int row, int column, wchar_t* text);

// Sets a cell's text through the wide message.
void SetCellText(HWND grid, int row, int column, const wchar_t* text);

// Registers "grid", "gridedit" and "gridcb" (in that order); true only when
// all three are available. Call once, after the common controls are loaded
// and before the first grid is made.
bool RegisterGridClasses(HINSTANCE instance);
