// The property grid and its two in-place editors. Each is a system control
// with its procedure replaced; the grid keeps a GridState in its extra window
// bytes and hands the same pointer to the editor it opens, so that the editor
// knows its cell and can tell the grid when it is done.
#include "ui/PropertyGrid.h"

#include <windowsx.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A system class we derive from: its procedure receives everything we pass
// on, and our GridState pointer sits right after its own extra bytes.
struct DerivedClass {
  WNDPROC baseProc = nullptr;
  int stateOffset = 0;
};

struct GridState {
  int editing = 0;
  HWND editor = nullptr;
  int editRow = -1;
  int editColumn = -1;
  std::vector<ChoiceList> choiceLists;
  CellImageTable cellImages;
  // Which class the open editor is (the pointer sits at its own offset), and
  // whether its end is under way: the parent's answer to an end-edit
  // notification may move the focus, which must not end the edit twice.
  const DerivedClass* editorClass = nullptr;
  bool ending = false;
};

DerivedClass g_grid;
DerivedClass g_edit;
DerivedClass g_combo;
HINSTANCE g_instance = nullptr;

// Cell texts longer than this are not read whole; nobody types that much.
constexpr std::size_t kMaxCellUnits = 1u << 20;

LRESULT CallBase(const DerivedClass& derived, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcW(derived.baseProc, window, message, wParam, lParam);
}

GridState* StateOf(HWND window, const DerivedClass& derived) {
  return reinterpret_cast<GridState*>(GetWindowLongPtrW(window, derived.stateOffset));
}

void SetState(HWND window, const DerivedClass& derived, GridState* state) {
  SetWindowLongPtrW(window, derived.stateOffset, reinterpret_cast<LONG_PTR>(state));
}

// --- GDI objects that clean up after themselves ---------------------------

class MemoryDc {
 public:
  explicit MemoryDc(HDC like) : dc_(CreateCompatibleDC(like)) {}
  ~MemoryDc() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
  ~Selection() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  bool ok() const { return old_ && old_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// GetIconInfo hands out two bitmaps that the caller must delete.
struct IconBitmaps {
  ICONINFO info{};
  bool ok = false;
  explicit IconBitmaps(HICON icon) : ok(GetIconInfo(icon, &info) != FALSE) {}
  ~IconBitmaps() {
    if (!ok) return;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  }
  IconBitmaps(const IconBitmaps&) = delete;
  IconBitmaps& operator=(const IconBitmaps&) = delete;
};

// --- Cells ------------------------------------------------------------------

int RowCount(HWND grid) { return static_cast<int>(SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0)); }

int ColumnCount(HWND grid) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETHEADER, 0, 0));
  return header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

bool IsCell(HWND grid, int row, int column) {
  return row >= 0 && row < RowCount(grid) && column >= 0 && column < ColumnCount(grid);
}

bool IsRowSelected(HWND grid, int row) {
  return (SendMessageW(grid, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

// The whole text of a cell: the buffer grows until the text fits, so a long
// value reaches the editor whole instead of cut at some unit.
std::wstring ReadCellText(HWND grid, int row, int column) {
  std::vector<wchar_t> buffer(kGridTextUnits);
  for (;;) {
    buffer[0] = L'\0';
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    SendMessageW(grid, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    // The control may answer with a pointer of its own (callback items).
    const wchar_t* text = item.pszText ? item.pszText : buffer.data();
    const std::size_t length = static_cast<std::size_t>(std::find(text, text + buffer.size(), L'\0') - text);
    if (length + 1 < buffer.size() || buffer.size() >= kMaxCellUnits) return std::wstring(text, length);
    buffer.assign(buffer.size() * 2, L'\0');
  }
}

// Column 0's own bounds are the whole row, so its cell is taken to run from
// the grid's left edge to where column 1 starts.
bool CellRect(HWND grid, int row, int column, RECT& cell) {
  RECT bounds{};
  bounds.top = column == 0 ? 1 : column;
  bounds.left = LVIR_BOUNDS;
  if (SendMessageW(grid, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&bounds))) {
    cell = bounds;
    if (column == 0) {
      cell.right = bounds.left;
      cell.left = 0;
    }
    return true;
  }
  if (column != 0) return false;
  // A grid of one column: its only cell is the row.
  bounds = RECT{};
  bounds.left = LVIR_BOUNDS;
  if (!SendMessageW(grid, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds))) return false;
  cell = bounds;
  cell.left = 0;
  return true;
}

std::wstring WindowText(HWND window) {
  std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1);
  const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  return std::wstring(text.data(), static_cast<std::size_t>(std::max(length, 0)));
}

// --- Notifications ----------------------------------------------------------

LRESULT Notify(HWND grid, UINT code, UINT_PTR id, int row, int column, LPARAM param, const wchar_t* text) {
  NMLVDISPINFOW info{};
  info.hdr.hwndFrom = grid;
  info.hdr.idFrom = id;
  info.hdr.code = code;
  info.item.iItem = row;
  info.item.iSubItem = column;
  info.item.lParam = param;
  info.item.pszText = const_cast<wchar_t*>(text);
  return SendMessageW(GetParent(grid), WM_NOTIFY, id, reinterpret_cast<LPARAM>(&info));
}

UINT_PTR ControlId(HWND window) { return static_cast<UINT_PTR>(GetDlgCtrlID(window)); }

// --- Opening an editor ------------------------------------------------------

LRESULT CALLBACK ComboEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR combo);
LRESULT CALLBACK ComboListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR combo);

HWND CreateEditor(const wchar_t* className, DWORD style, const RECT& cell, int height, HWND grid) {
  HWND editor = CreateWindowExW(0, className, L"", style, cell.left + 1, cell.top + 1,
                                cell.right - cell.left - 2, height, grid,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kGridEditorId)), g_instance,
                                nullptr);
  if (editor) SendMessageW(editor, WM_SETFONT, SendMessageW(grid, WM_GETFONT, 0, 0), FALSE);
  return editor;
}

HWND CreateTextEditor(HWND grid, const RECT& cell, const std::wstring& text) {
  HWND edit = CreateEditor(GRID_EDIT_CLASS, WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | ES_WANTRETURN, cell,
                           cell.bottom - cell.top - 2, grid);
  if (!edit) return nullptr;
  SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // as long as the cell's own text, at least
  SetWindowTextW(edit, text.c_str());
  SendMessageW(edit, EM_SETSEL, 0, -1);
  return edit;
}

HWND CreateDropDownEditor(HWND grid, const RECT& cell, const ChoiceList& list, const std::wstring& text) {
  const DropDownSetup setup = MakeDropDownSetup(list);
  const DWORD style = WS_CHILD | WS_VISIBLE | (setup.editable ? CBS_DROPDOWN : CBS_DROPDOWNLIST);
  HWND combo = CreateEditor(GRID_COMBO_CLASS, style, cell, 200, grid);
  if (!combo) return nullptr;
  for (const std::wstring& entry : setup.entries) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
  const LRESULT found = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(text.c_str()));
  if (found != CB_ERR) {
    SendMessageW(combo, CB_SETCURSEL, found, 0);
  } else if (setup.editable) {
    SetWindowTextW(combo, text.c_str());
  } else {
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
  }
  // The editable box's keyboard focus lives in its own edit field: Enter and
  // Escape typed there, and the focus leaving it, must reach the editor.
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  if (!GetComboBoxInfo(combo, &info)) return combo;
  if (setup.editable && info.hwndItem && info.hwndItem != combo) {
    SetWindowSubclass(info.hwndItem, ComboEditProc, 1, reinterpret_cast<DWORD_PTR>(combo));
  }
  // A click in the open list chooses; the arrow keys only move the choice.
  if (info.hwndList) SetWindowSubclass(info.hwndList, ComboListProc, 2, reinterpret_cast<DWORD_PTR>(combo));
  return combo;
}

// The editor is still the grid's open editor, and the grid still exists: the
// grid's destruction clears the editor's pointer before the state goes.
bool StillEditing(HWND editor, const DerivedClass& derived, const GridState* state) {
  return IsWindow(editor) && StateOf(editor, derived) == state && state->editor == editor;
}

void OpenEditor(HWND grid, GridState& state, int row, int column) {
  RECT cell{};
  if (!CellRect(grid, row, column, cell)) return;
  const std::wstring text = ReadCellText(grid, row, column);
  const ChoiceList* list = FindChoiceList(state.choiceLists, row, column);
  const DerivedClass& derived = list ? g_combo : g_edit;
  HWND editor = list ? CreateDropDownEditor(grid, cell, *list, text) : CreateTextEditor(grid, cell, text);
  if (!editor) return;

  state.editRow = row;
  state.editColumn = column;
  state.editor = editor;
  state.editorClass = &derived;
  SetState(editor, derived, &state);
  // Editing before the focus moves: whatever the focus change sets off must
  // not open a second editor.
  state.editing = 1;
  SetFocus(editor);
  if (!StillEditing(editor, derived, &state)) return;
  Notify(grid, GRIDN_EDITORCREATED, ControlId(grid), row, column, reinterpret_cast<LPARAM>(editor), nullptr);
}

void EditThroughCallback(HWND grid, int row, int column, CellEditCallback callback) {
  wchar_t buffer[kGridTextUnits] = {};
  const std::wstring text = ReadCellText(grid, row, column);
  std::copy_n(text.c_str(), FitTextUnits(text.c_str(), text.size(), kGridTextUnits), buffer);
  if (callback(grid, row, column, buffer) != 0 && IsWindow(grid)) {
    buffer[kGridTextUnits - 1] = L'\0';
    SetCellText(grid, row, column, buffer);
  }
}

// --- Ending an edit ---------------------------------------------------------

void CloseEditor(HWND grid, HWND editor, const DerivedClass& derived, GridState& state, bool focusToGrid) {
  state.editing = 0;
  state.editor = nullptr;
  state.editorClass = nullptr;
  state.ending = false;
  // From here on the editor's focus loss and destruction change nothing.
  SetState(editor, derived, nullptr);
  HWND focus = GetFocus();
  if (focusToGrid && (focus == editor || IsChild(editor, focus))) SetFocus(grid);
  DestroyWindow(editor);
}

// Enter (commit) and Escape (cancel) end here, and so does the focus leaving.
// The parent's answers may do anything, up to destroying the grid, so after
// every notification the editor and the state are checked again.
bool EndEdit(HWND editor, const DerivedClass& derived, bool commit, bool focusToGrid) {
  GridState* state = StateOf(editor, derived);
  if (!state || state->editor != editor) return false;
  if (state->ending) return true;
  state->ending = true;

  HWND grid = GetParent(editor);
  const int row = state->editRow;
  const int column = state->editColumn;
  const UINT_PTR id = ControlId(editor);
  // A list-only drop-down with nothing chosen (its list is empty) has no
  // value to give: Enter there keeps the cell as Escape does.
  if (commit && &derived == &g_combo && (GetWindowLongPtrW(editor, GWL_STYLE) & 3) == CBS_DROPDOWNLIST &&
      SendMessageW(editor, CB_GETCURSEL, 0, 0) == CB_ERR)
    commit = false;
  const std::wstring text = commit ? WindowText(editor) : std::wstring();
  const UINT code = column == 0 ? LVN_ENDLABELEDITW : GRIDN_ENDSUBITEMEDIT;
  const LRESULT answer = Notify(grid, code, id, row, column, 0, commit ? text.c_str() : nullptr);
  if (!StillEditing(editor, derived, state)) return true;

  if (commit && answer == 1) {
    SetCellText(grid, row, column, text.c_str());
    Notify(grid, GRIDN_CELLCHANGED, id, row, column, 0, text.c_str());
    if (!StillEditing(editor, derived, state)) return true;
  }
  CloseEditor(grid, editor, derived, *state, focusToGrid);
  return true;
}

bool OnEditorKey(HWND editor, const DerivedClass& derived, WPARAM key) {
  switch (ClassifyEditorKey(static_cast<unsigned>(key))) {
    case EditorKey::Commit:
      return EndEdit(editor, derived, true, true);
    case EditorKey::Cancel:
      return EndEdit(editor, derived, false, true);
    case EditorKey::Other:
      break;
  }
  return false;
}

// Focus moving between the drop-down, its edit field and its list stays
// inside the editor; anywhere else ends the edit as Escape does.
bool IsPartOfEditor(HWND editor, HWND window) {
  if (!window) return false;
  if (window == editor || IsChild(editor, window)) return true;
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  return GetComboBoxInfo(editor, &info) && window == info.hwndList;
}

void OnEditorFocusLost(HWND editor, const DerivedClass& derived, HWND newFocus) {
  if (!IsPartOfEditor(editor, newFocus)) EndEdit(editor, derived, false, false);
}

void OnEditorDestroy(HWND editor, const DerivedClass& derived) {
  GridState* state = StateOf(editor, derived);
  if (state && state->editor == editor) {
    // Destroyed by someone else: the grid is idle again.
    state->editing = 0;
    state->editor = nullptr;
    state->editorClass = nullptr;
    state->ending = false;
  }
  SetState(editor, derived, nullptr);
}


// Keys and focus of an in-place editor, whether they reach the editor itself
// or the editable drop-down's own text field; passOn hands a message to the
// receiving window's own procedure. False when the message is not the
// editor's business.
template <class PassOn>
bool OnEditorInput(HWND editor, const DerivedClass& derived, UINT message, WPARAM wParam, PassOn passOn,
                   LRESULT& result) {
  switch (message) {
    case WM_GETDLGCODE:
      // Enter and Escape are the editor's, also inside a dialog.
      result = passOn() | DLGC_WANTALLKEYS;
      return true;
    case WM_KEYDOWN:
      result = 0;
      return OnEditorKey(editor, derived, wParam);
    case WM_CHAR:
      // The characters of a handled Enter or Escape would only beep.
      result = 0;
      return ClassifyEditorKey(static_cast<unsigned>(wParam)) != EditorKey::Other;
    case WM_KILLFOCUS:
      result = passOn();
      OnEditorFocusLost(editor, derived, reinterpret_cast<HWND>(wParam));
      return true;
  }
  return false;
}

LRESULT EditorProc(const DerivedClass& derived, HWND editor, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  const auto passOn = [&] { return CallBase(derived, editor, message, wParam, lParam); };
  if (OnEditorInput(editor, derived, message, wParam, passOn, result)) return result;
  if (message == WM_DESTROY) OnEditorDestroy(editor, derived);
  return passOn();
}

LRESULT CALLBACK GridEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return EditorProc(g_edit, window, message, wParam, lParam);
}

LRESULT CALLBACK GridComboProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return EditorProc(g_combo, window, message, wParam, lParam);
}

LRESULT CALLBACK ComboEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR comboData) {
  LRESULT result = 0;
  const auto passOn = [&] { return DefSubclassProc(edit, message, wParam, lParam); };
  if (OnEditorInput(reinterpret_cast<HWND>(comboData), g_combo, message, wParam, passOn, result)) return result;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(edit, ComboEditProc, 1);
  return passOn();
}

// A click on an entry of the drop-down's open list commits it: the box posts
// itself an Enter, which arrives once the box has taken the entry as its
// text. The arrow keys change the choice without this, so that Enter commits
// and Escape drops what they chose.
LRESULT CALLBACK ComboListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR comboData) {
  if (message == WM_NCDESTROY) RemoveWindowSubclass(list, ComboListProc, 2);
  const LRESULT result = DefSubclassProc(list, message, wParam, lParam);
  HWND combo = reinterpret_cast<HWND>(comboData);
  RECT client{};
  const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  if (message == WM_LBUTTONUP && GetClientRect(list, &client) && PtInRect(&client, at) && StateOf(combo, g_combo))
    PostMessageW(combo, WM_KEYDOWN, VK_RETURN, 0);
  return result;
}

// --- The grid's messages ----------------------------------------------------

LRESULT OnGridCreate(HWND grid, WPARAM wParam, LPARAM lParam) {
  SetState(grid, g_grid, new GridState());
  return CallBase(g_grid, grid, WM_CREATE, wParam, lParam);
}

void ReleaseState(HWND grid) {
  GridState* state = StateOf(grid, g_grid);
  if (!state) return;
  // The editor, a child, is destroyed after us: it must find no state then.
  if (state->editor && state->editorClass) SetState(state->editor, *state->editorClass, nullptr);
  SetState(grid, g_grid, nullptr);
  delete state;
}

LRESULT OnGridClick(HWND grid, UINT message, WPARAM wParam, LPARAM lParam) {
  const bool doubleClick = message == WM_LBUTTONDBLCLK;
  GridState* state = StateOf(grid, g_grid);
  LVHITTESTINFO hit{};
  hit.pt = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  SendMessageW(grid, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  const int row = hit.iItem;
  const int column = hit.iSubItem;
  if (!state || row < 0 || column < 0 || state->editing || !IsRowSelected(grid, row)) {
    return CallBase(g_grid, grid, message, wParam, lParam);
  }
  if (!doubleClick) {
    CallBase(g_grid, grid, message, wParam, lParam);
    SendMessageW(grid, LVM_EDITLABELW, static_cast<WPARAM>(-1), 0);
    // The click's own notifications may have changed everything.
    if (!IsWindow(grid) || StateOf(grid, g_grid) != state || state->editing) return 0;
  }
  const UINT code = column == 0 ? LVN_BEGINLABELEDITW : GRIDN_BEGINSUBITEMEDIT;
  const LRESULT answer = Notify(grid, code, ControlId(grid), row, column, doubleClick ? 1 : 0, nullptr);
  if (!IsWindow(grid) || StateOf(grid, g_grid) != state || state->editing) return 0;

  switch (ClassifyBeginEditAnswer(answer)) {
    case BeginEditAnswer::NoEditor:
      return doubleClick ? CallBase(g_grid, grid, message, wParam, lParam) : 0;
    case BeginEditAnswer::Callback:
      EditThroughCallback(grid, row, column, reinterpret_cast<CellEditCallback>(answer));
      return 0;
    case BeginEditAnswer::OpenEditor:
      break;
  }
  if (IsCell(grid, row, column)) OpenEditor(grid, *state, row, column);
  return 0;
}

LRESULT OnEditCell(HWND grid, WPARAM wParam, LPARAM lParam) {
  const int row = static_cast<int>(wParam);
  const int column = static_cast<int>(lParam);
  SetFocus(grid);
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  SendMessageW(grid, LVM_SETITEMSTATE, wParam, reinterpret_cast<LPARAM>(&item));
  GridState* state = StateOf(grid, g_grid);
  if (state && !state->editing && IsCell(grid, row, column)) OpenEditor(grid, *state, row, column);
  return IsWindow(grid) ? CallBase(g_grid, grid, GRIDM_EDITCELL, wParam, lParam) : 0;
}

// --- Cell images --------------------------------------------------------------

int HeaderBottom(HWND grid) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETHEADER, 0, 0));
  if (!header || !IsWindowVisible(header)) return 0;
  RECT bounds{};
  GetWindowRect(header, &bounds);
  MapWindowPoints(nullptr, grid, reinterpret_cast<POINT*>(&bounds), 2);
  return bounds.bottom;
}

// False when the icon cannot be measured or does not fit: then the entry's
// bitmap is left out as well.
bool DrawIconCentred(HDC dc, HICON icon, const RECT& cell) {
  IconBitmaps bitmaps(icon);
  if (!bitmaps.ok) return false;
  BITMAP measure{};
  int width = 0;
  int height = 0;
  if (bitmaps.info.hbmColor && GetObjectW(bitmaps.info.hbmColor, sizeof(measure), &measure)) {
    width = measure.bmWidth;
    height = measure.bmHeight;
  }
  const ImagePlacement at =
      PlaceImageInCell(cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, width, height);
  if (!at.fits) return false;
  DrawIconEx(dc, at.x, at.y, icon, width, height, 0, nullptr, DI_NORMAL);
  return true;
}

void DrawBitmapCentred(HDC dc, HBITMAP bitmap, const RECT& cell) {
  BITMAP measure{};
  if (!GetObjectW(bitmap, sizeof(measure), &measure)) return;
  const ImagePlacement at = PlaceImageInCell(cell.left, cell.top, cell.right - cell.left,
                                             cell.bottom - cell.top, measure.bmWidth, measure.bmHeight);
  if (!at.fits) return;
  MemoryDc memory(dc);
  if (!memory.get()) return;
  Selection selected(memory.get(), bitmap);
  if (!selected.ok()) return;
  BitBlt(dc, at.x, at.y, measure.bmWidth, measure.bmHeight, memory.get(), 0, 0, SRCCOPY);
}

void DrawCellImages(HWND grid, HDC dc, const CellImageTable& images) {
  const int headerBottom = HeaderBottom(grid);
  for (const CellImage& image : images) {
    RECT cell{};
    if (!CellRect(grid, image.row, image.column, cell)) continue;
    if (!SendMessageW(grid, LVM_ISITEMVISIBLE, image.row, 0) || cell.top < headerBottom) continue;
    if (image.icon && !DrawIconCentred(dc, image.icon, cell)) continue;
    // Drawn after the icon, so the bitmap lies over it.
    if (image.bitmap) DrawBitmapCentred(dc, image.bitmap, cell);
  }
}

LRESULT OnGridPaint(HWND grid, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = CallBase(g_grid, grid, WM_PAINT, wParam, lParam);
  const GridState* state = StateOf(grid, g_grid);
  if (!state || state->cellImages.empty()) return result;
  if (wParam) {
    // Painting into a device context of the caller's (printing, buffering).
    DrawCellImages(grid, reinterpret_cast<HDC>(wParam), state->cellImages);
    return result;
  }
  InvalidateRect(grid, nullptr, FALSE);
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(grid, &paint);
  if (dc) DrawCellImages(grid, dc, state->cellImages);
  EndPaint(grid, &paint);
  ValidateRect(grid, nullptr);
  return result;
}

// --- Owner's messages ---------------------------------------------------------

LRESULT OnAddChoiceList(GridState* state, LPARAM lParam) {
  const ChoiceList* list = reinterpret_cast<const ChoiceList*>(lParam);
  if (!state || !list) return -1;
  state->choiceLists.push_back(*list);
  return 1;
}

LRESULT OnSetCellImages(HWND grid, GridState* state, LPARAM lParam) {
  const CellImageTable* images = reinterpret_cast<const CellImageTable*>(lParam);
  if (!state || !images) return -1;
  state->cellImages = *images;
  InvalidateRect(grid, nullptr, TRUE);
  UpdateWindow(grid);
  return 1;
}

LRESULT OnGetCellImages(const GridState* state, LPARAM lParam) {
  CellImageTable* images = reinterpret_cast<CellImageTable*>(lParam);
  if (!state || !images) return -1;
  *images = state->cellImages;
  return 1;
}

LRESULT OnDeleteRow(HWND grid, WPARAM wParam, LPARAM lParam) {
  GridState* state = StateOf(grid, g_grid);
  const int row = static_cast<int>(wParam);
  // A row that is not there deletes nothing, so the table stays as it is.
  if (state && row >= 0 && row < RowCount(grid)) AdjustTableForDeletedRow(state->cellImages, row);
  return CallBase(g_grid, grid, LVM_DELETEITEM, wParam, lParam);
}

LRESULT CALLBACK GridProc(HWND grid, UINT message, WPARAM wParam, LPARAM lParam) {
  GridState* state = StateOf(grid, g_grid);
  switch (message) {
    case WM_CREATE:
      return OnGridCreate(grid, wParam, lParam);
    case WM_DESTROY:
      ReleaseState(grid);
      break;
    case WM_PAINT:
      return OnGridPaint(grid, wParam, lParam);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      return OnGridClick(grid, message, wParam, lParam);
    case WM_DROPFILES:
      Notify(grid, GRIDN_DROPFILES, 0, 0, 0, static_cast<LPARAM>(wParam), nullptr);
      break;
    case LVM_DELETEITEM:
      return OnDeleteRow(grid, wParam, lParam);
    case LVM_GETEDITCONTROL:
      if (state) return reinterpret_cast<LRESULT>(state->editor);
      break;
    case GRIDM_EDITCELL:
      return OnEditCell(grid, wParam, lParam);
    case GRIDM_ADDCHOICELIST:
      return OnAddChoiceList(state, lParam);
    case GRIDM_CLEARCHOICELISTS:
      if (!state) return -1;
      state->choiceLists.clear();
      return 1;
    case GRIDM_SETCELLIMAGES:
      return OnSetCellImages(grid, state, lParam);
    case GRIDM_GETCELLIMAGES:
      return OnGetCellImages(state, lParam);
    default:
      break;
  }
  return CallBase(g_grid, grid, message, wParam, lParam);
}

bool DeriveClass(const wchar_t* baseName, const wchar_t* name, WNDPROC proc, HINSTANCE instance,
                 DerivedClass& derived) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  if (!GetClassInfoExW(nullptr, baseName, &windowClass)) return false;
  derived.baseProc = windowClass.lpfnWndProc;
  derived.stateOffset = windowClass.cbWndExtra;
  windowClass.lpfnWndProc = proc;
  windowClass.cbWndExtra += static_cast<int>(sizeof(GridState*));
  windowClass.hInstance = instance;
  windowClass.lpszClassName = name;
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

void SetCellText(HWND grid, int row, int column, const wchar_t* text) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text);
  SendMessageW(grid, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

bool RegisterGridClasses(HINSTANCE instance) {
  // The list view must be registered before its registration can be copied.
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  g_instance = instance;
  bool all = DeriveClass(WC_LISTVIEWW, GRID_CLASS, GridProc, instance, g_grid);
  all = DeriveClass(L"Edit", GRID_EDIT_CLASS, GridEditProc, instance, g_edit) && all;
  all = DeriveClass(L"ComboBox", GRID_COMBO_CLASS, GridComboProc, instance, g_combo) && all;
  return all;
}
