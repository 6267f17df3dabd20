#include "launcher/window/GameList.h"

#include <commctrl.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "launcher/GameFind.h"
#include "launcher/GameListRows.h"
#include "launcher/GameSchema.h"
#include "launcher/Storage.h"
#include "text/TextConvert.h"

bool GroupsShown = true;
int SortDirection = +1;
int SortedColumn = -1;
int SortedDirection = +1;

namespace {

constexpr int kListColumns = kGameListColumns;
const wchar_t* const kHeaders[kListColumns] = {L"#", L"Name", L"Description", L"Year", L"Developer"};
const int kInitialWidths[kListColumns] = {30, 200, 70, 45, 80};
// The sort key of every row of the last fill in SortKeysColumn, made when a
// sort first needs them: typing into the find box sorts what it shows
// without folding a text again.
std::vector<std::string> SortKeys;
int SortKeysColumn = -1;

// The widths the list was last given here, and the last column's own width
// before it was stretched to the window's edge. A width that differs at the
// end was set by the user, and is kept from then on instead of fitted; a
// column whose width was never kept (one that is new since the widths were
// kept) is still fitted.
int WidthsSet[kListColumns] = {};
int LastColumnOwnWidth = 0;
bool KeptWidth[kListColumns] = {};

// The rows of the last fill, and the text each is found by (made when first
// needed): typing into the find box filters these without reading the
// library again. Every change to the library fills the list anew.
std::vector<GameRow> FilledRows;
std::vector<std::string> FilledFindTexts;
// Where each game's row is in FilledRows, by the item's parameter: the list
// holds no texts of its own and asks for them as it draws (LVN_GETDISPINFO),
// so that filling it costs one message per game instead of three.
std::unordered_map<LPARAM, std::size_t> RowOfItem;
std::string TextToFind;
// The rows the list shows now, as positions in FilledRows.
std::vector<int> ShownNow;

const wchar_t kEmptyLibraryHint[] =
    L"No games yet. Press Ctrl+N to add a game, or Ctrl+I to bring in a whole folder of games.";
const wchar_t kNothingFoundHint[] = L"No game holds the text to find. Escape shows every game again.";
const wchar_t kReadingHint[] = L"Reading the game library...";
// Until the first fill the list has no games to show yet, whatever the
// library holds.
bool FilledOnce = false;

// Type-ahead: what was typed into the list since the last pause.
std::wstring TypedPrefix;
DWORD LastTypedTime = 0;

// Whether the list draws groups. Not every list view can (Wine's cannot, and
// then keeps no groups at all); column 0 names the category there instead.
bool ListDrawsGroups(HWND list) {
  return SendMessageW(list, LVM_GETGROUPCOUNT, 0, 0) > 0;
}

// A list that cannot draw groups is made anew with LVS_OWNERDATA: it holds
// no items at all, only their number, and asks for what it shows. Filling it
// or finding in it costs the same for ten games as for tens of thousands.
bool IsOwnerData(HWND list) { return (GetWindowLongPtrW(list, GWL_STYLE) & LVS_OWNERDATA) != 0; }

// Selects item index alone (nothing when index is -1) and brings it into view.
// Only the items that are selected are cleared: clearing every item at once
// costs a pass over all of them in Wine's list, felt at each key typed into
// the find box of a large library.
void SelectOnly(HWND list, int index) {
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  for (int flags : {LVNI_SELECTED, LVNI_FOCUSED}) {
    int item = -1;
    while ((item = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(item), flags))) >= 0)
      SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
  }
  if (index < 0) return;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&state));
  SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
}

void SetColumnWidth(HWND list, int column, int width) {
  SendMessageW(list, LVM_SETCOLUMNWIDTH, column, width);
  WidthsSet[column] = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
  if (column == kListColumns - 1) LastColumnOwnWidth = WidthsSet[column];
}

FirstColumn FirstColumnMode(HWND list) {
  if (!GroupsShown) return FirstColumn::Number;
  return ListDrawsGroups(list) ? FirstColumn::Empty : FirstColumn::Category;
}

// The widest text of each column, the way the list measures it. The list's
// own fitting measures every cell through the system, which takes seconds
// for tens of thousands of games; here each character's width is looked up
// once, the texts are summed, and only the few widest are measured exactly.
class ColumnFitter {
 public:
  explicit ColumnFitter(HWND list) : list_(list), dc_(GetDC(list)) {
    old_ = SelectObject(dc_, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
  }
  ~ColumnFitter() {
    SelectObject(dc_, old_);
    ReleaseDC(list_, dc_);
  }

  // The same for a UTF-8 text: converted in a buffer that is kept, and
  // copied only when it is among the widest.
  void Add(int column, const std::string& text) {
    WideFromUtf8(text.data(), text.size(), wide_);
    Add(column, wide_);
  }

  void Add(int column, const std::wstring& text) {
    const int estimate = Estimate(text);
    auto& widest = widest_[column];
    if (widest.size() == kCandidates && estimate <= widest.back().first) return;
    widest.emplace_back(estimate, text);
    std::sort(widest.begin(), widest.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    if (widest.size() > kCandidates) widest.pop_back();
  }

  // An empty list keeps at least the widths it was set up with, so that
  // its headers read whole above the hint.
  void Apply(bool empty) {
    for (int column = 0; column < kListColumns; ++column) {
      if (KeptWidth[column]) continue;
      int width = empty ? kInitialWidths[column] - kCellPadding : 0;
      for (const auto& candidate : widest_[column]) {
        SIZE size{};
        GetTextExtentPoint32W(dc_, candidate.second.c_str(), static_cast<int>(candidate.second.size()), &size);
        width = std::max(width, static_cast<int>(size.cx));
      }
      SetColumnWidth(list_, column, width + kCellPadding);
    }
  }

 private:
  // Kerning makes a sum differ from the real width by a few pixels at most;
  // measuring this many of the widest exactly finds the real widest.
  static constexpr size_t kCandidates = 16;
  // What the list adds around a cell's text.
  static constexpr int kCellPadding = 12;

  int Estimate(const std::wstring& text) {
    int sum = 0;
    for (const wchar_t c : text) {
      int& width = static_cast<std::size_t>(c) < kPlaneCharacters ? plane_[static_cast<std::size_t>(c)] : charWidths_[c];
      if (width == 0) {
        INT measured = 0;
        width = GetCharWidth32W(dc_, c, c, &measured) && measured > 0 ? measured : 1;
      }
      sum += width;
    }
    return sum;
  }

  // Widths of the characters of the basic plane by their value: a library's
  // names look up several hundred thousand of them.
  static constexpr std::size_t kPlaneCharacters = 0x10000;

  HWND list_;
  HDC dc_;
  HGDIOBJ old_;
  std::vector<int> plane_ = std::vector<int>(kPlaneCharacters);
  std::unordered_map<wchar_t, int> charWidths_;
  std::wstring wide_;
  std::vector<std::pair<int, std::wstring>> widest_[kListColumns];
};

}  // namespace

namespace {

void InsertColumns(HWND list) {
  for (int i = 0; i < kListColumns; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(kHeaders[i]);
    column.cx = kInitialWidths[i];
    column.iSubItem = i;
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
}

// The same list, holding its games' data itself: in the same place, with the
// same identifier, style, font and place in the tab order.
HWND RemakeAsOwnerData(HWND list) {
  HWND parent = GetParent(list);
  RECT area;
  GetWindowRect(list, &area);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE)) | LVS_OWNERDATA;
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_EXSTYLE));
  const int id = GetDlgCtrlID(list);
  HWND made = CreateWindowExW(exStyle, WC_LISTVIEWW, L"", style, area.left, area.top, area.right - area.left,
                              area.bottom - area.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              GetModuleHandleW(nullptr), nullptr);
  if (!made) return list;
  SendMessageW(made, WM_SETFONT, SendMessageW(list, WM_GETFONT, 0, 0), FALSE);
  SetWindowPos(made, list, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  DestroyWindow(list);
  return made;
}

}  // namespace

HWND SetUpGameList(HWND list) {
  // A new window fits its columns until it is told the widths to keep.
  std::fill(std::begin(KeptWidth), std::end(KeptWidth), false);
  LastColumnOwnWidth = 0;
  InsertColumns(list);
  SendMessageW(list, LVM_ENABLEGROUPVIEW, TRUE, 0);
  for (int i = 0; i < kCategoryCount; ++i) {
    std::wstring header = WideFromUtf8(CategoryList[i]);
    LVGROUP group{};
    group.cbSize = sizeof(group);
    group.mask = LVGF_HEADER | LVGF_GROUPID;
    group.pszHeader = header.data();
    group.iGroupId = i;
    SendMessageW(list, LVM_INSERTGROUP, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&group));
  }
  if (ListDrawsGroups(list)) return list;
  list = RemakeAsOwnerData(list);
  if (IsOwnerData(list)) InsertColumns(list);
  return list;
}

namespace {

// Says what to do where an empty list would show only white.
void PaintHint(HWND list, HDC dc) {
  RECT area;
  GetClientRect(list, &area);
  RECT header{};
  if (HWND headerWindow = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)))
    GetWindowRect(headerWindow, &header);
  area.top += (header.bottom - header.top) + 16;
  InflateRect(&area, -16, 0);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  const wchar_t* hint = !FilledOnce ? kReadingHint : TextToFind.empty() ? kEmptyLibraryHint : kNothingFoundHint;
  DrawTextW(dc, hint, -1, &area,
            DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
}

// Type-ahead by the game's name, whatever column 0 shows (a category, a
// number): the next game whose name begins with what was typed since the
// last pause is selected.
}  // namespace

bool GameListTypeAhead(HWND list, wchar_t typed) {
  if (typed < L' ' || GetKeyState(VK_CONTROL) < 0) return false;
  const DWORD now = GetTickCount();
  if (now - LastTypedTime > 1000) TypedPrefix.clear();
  LastTypedTime = now;
  TypedPrefix += typed;
  const std::string prefix = FoldForFind(Utf8FromWide(TypedPrefix));
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  const int selected = SelectedGame(list);
  // A first letter moves on from the selected game, so that pressing it
  // again steps through the games that begin with it; more letters refine.
  const int start = selected < 0 ? 0 : (TypedPrefix.size() == 1 ? selected + 1 : selected);
  for (int step = 0; step < count; ++step) {
    const int index = (start + step) % count;
    if (FoldForFind(GameListText(list, index, 1)).rfind(prefix, 0) != 0) continue;
    SelectOnly(list, index);
    break;
  }
  return true;
}

void GameListDispInfo(NMLVDISPINFOW* info) {
  if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax <= 0) return;
  const GameRow* shownRow = nullptr;
  if (IsOwnerData(info->hdr.hwndFrom)) {
    if (info->item.iItem < 0 || info->item.iItem >= static_cast<int>(ShownNow.size())) return;
    shownRow = &FilledRows[static_cast<std::size_t>(ShownNow[static_cast<std::size_t>(info->item.iItem)])];
  }
  LPARAM parameter = info->item.lParam;
  if (!shownRow && !parameter) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = info->item.iItem;
    SendMessageW(info->hdr.hwndFrom, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    parameter = item.lParam;
  }
  info->item.pszText[0] = L'\0';
  if (!shownRow) {
    const auto found = RowOfItem.find(parameter);
    if (found == RowOfItem.end()) return;
    shownRow = &FilledRows[found->second];
  }
  const GameRow& row = *shownRow;
  const std::string& text = CellOf(row, info->item.iSubItem);
  const std::wstring wide = WideFromUtf8(text);
  const std::size_t length = std::min(wide.size(), static_cast<std::size_t>(info->item.cchTextMax - 1));
  wide.copy(info->item.pszText, length);
  info->item.pszText[length] = L'\0';
}

LRESULT GameListCustomDraw(const NMLVCUSTOMDRAW* draw) {
  HWND list = draw->nmcd.hdr.hwndFrom;
  if (SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) != 0) return CDRF_DODEFAULT;
  if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYPOSTPAINT;
  if (draw->nmcd.dwDrawStage == CDDS_POSTPAINT) PaintHint(list, draw->nmcd.hdc);
  return CDRF_DODEFAULT;
}

void ApplyGroupView(HWND list) { SendMessageW(list, LVM_ENABLEGROUPVIEW, GroupsShown, 0); }

namespace {

// Every column fits its widest text in the whole library, its header
// included, so that "#" still reads above short numbers and a find that
// shows few games (or none) never narrows them.
void FitColumns(HWND list) {
  ColumnFitter fitter(list);
  for (int column = 0; column < kListColumns; ++column) fitter.Add(column, kHeaders[column]);
  for (const GameRow& row : FilledRows)
    for (int column = 0; column < kListColumns; ++column) fitter.Add(column, CellOf(row, column));
  fitter.Apply(FilledRows.empty());
}

// Holds back the list's drawing while it is built, however many steps
// build it, and draws it once when the outermost step ends: a shown list
// would otherwise draw itself again at every change of its columns.
class DrawingHeld {
 public:
  explicit DrawingHeld(HWND list) : list_(list) {
    if (held_++ == 0) SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
  }
  ~DrawingHeld() {
    if (--held_ > 0) return;
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(list_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
  }
  DrawingHeld(const DrawingHeld&) = delete;
  DrawingHeld& operator=(const DrawingHeld&) = delete;

 private:
  static inline int held_ = 0;
  HWND list_;
};

// Inserts rows[shown[i]] as the list's items, in that order.
void InsertRows(HWND list, const std::vector<int>& shown) {
  ShownNow = shown;
  if (IsOwnerData(list)) {
    SelectOnly(list, -1);
    SendMessageW(list, LVM_SETITEMCOUNT, shown.size(), 0);
    InvalidateRect(list, nullptr, TRUE);
    return;
  }
  // One repaint at the end instead of one per item: large libraries fill in a
  // fraction of the time.
  const DrawingHeld held(list);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  SendMessageW(list, LVM_SETITEMCOUNT, shown.size(), 0);
  for (int i = 0; i < static_cast<int>(shown.size()); ++i) {
    const GameRow& row = FilledRows[static_cast<std::size_t>(shown[static_cast<std::size_t>(i)])];
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | (GroupsShown ? LVIF_GROUPID : 0);
    item.iItem = i;
    item.pszText = LPSTR_TEXTCALLBACKW;
    item.lParam = reinterpret_cast<LPARAM>(row.entry);
    item.iGroupId = row.group;
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

// The arrow in the header of the sorted column, pointing the way it sorts.
void ShowSortArrow(HWND list) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  for (int column = 0; header && column < kListColumns; ++column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (column == SortedColumn) item.fmt |= SortedDirection > 0 ? HDF_SORTUP : HDF_SORTDOWN;
    SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item));
  }
}

// Puts shown in the order of the sorted column, the library's order kept
// among equal texts.
void SortRows(std::vector<int>& shown) {
  if (SortedColumn < 0 || SortedColumn >= kListColumns) return;
  if (SortKeysColumn != SortedColumn || SortKeys.size() != FilledRows.size()) {
    SortKeys.clear();
    SortKeys.reserve(FilledRows.size());
    for (const GameRow& row : FilledRows) SortKeys.push_back(SortKeyOf(CellOf(row, SortedColumn)));
    SortKeysColumn = SortedColumn;
  }
  std::stable_sort(shown.begin(), shown.end(),
                   [](int a, int b) { return CompareListItems(a, b, SortedColumn) < 0; });
}

// The rows of the last fill that hold the text to find, in the sorted order.
std::vector<int> ShownRows() {
  std::vector<int> shown;
  if (TextToFind.empty()) {
    shown.resize(FilledRows.size());
    for (std::size_t i = 0; i < shown.size(); ++i) shown[i] = static_cast<int>(i);
  } else {
    if (FilledFindTexts.size() != FilledRows.size()) {
      FilledFindTexts.clear();
      FilledFindTexts.reserve(FilledRows.size());
      for (const GameRow& row : FilledRows) FilledFindTexts.push_back(FindTextOf(row));
    }
    shown = MatchingRows(FilledFindTexts, TextToFind);
  }
  SortRows(shown);
  return shown;
}

}  // namespace

void FillGameList(HWND list) {
  if (!list) return;
  FilledOnce = true;
  if (!GameDatabase) return;
  const DrawingHeld held(list);
  FilledRows = GameRows(*GameDatabase, FirstColumnMode(list));
  FilledFindTexts.clear();
  SortKeys.clear();
  RowOfItem.clear();
  // A list without items of its own finds each row by its position instead.
  if (!IsOwnerData(list)) {
    RowOfItem.reserve(FilledRows.size());
    for (std::size_t i = 0; i < FilledRows.size(); ++i) RowOfItem[reinterpret_cast<LPARAM>(FilledRows[i].entry)] = i;
  }
  if (std::find(std::begin(KeptWidth), std::end(KeptWidth), false) != std::end(KeptWidth)) FitColumns(list);
  InsertRows(list, ShownRows());
  StretchLastColumn(list);
  ShowSortArrow(list);
}

void FindInGameList(HWND list, const std::string& text) {
  if (!list || text == TextToFind) return;
  TextToFind = text;
  // Most keys of a longer word leave the same games shown: the list stays.
  std::vector<int> shown = ShownRows();
  if (shown == ShownNow) return;
  // Widths stay as the whole library set them, so the columns hold still
  // while the user types.
  InsertRows(list, shown);
  if (SelectedGame(list) < 0 && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0) SelectOnly(list, 0);
}

void StretchLastColumn(HWND list) {
  RECT client{};
  if (!list || !GetClientRect(list, &client)) return;
  int others = 0;
  for (int column = 0; column < kListColumns - 1; ++column)
    others += static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
  // The vertical scroll bar may come and go with a find: leave its room.
  const int room = client.right - others - (GetWindowLongPtrW(list, GWL_STYLE) & WS_VSCROLL ? 0 : GetSystemMetrics(SM_CXVSCROLL));
  const int own = LastColumnOwnWidth;
  SetColumnWidth(list, kListColumns - 1, std::max(own, room));
  LastColumnOwnWidth = own;
}

std::vector<int> GameListColumnWidths(HWND list) {
  std::vector<int> widths;
  bool changed = std::find(std::begin(KeptWidth), std::end(KeptWidth), true) != std::end(KeptWidth);
  for (int column = 0; column < kListColumns; ++column) {
    const int width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
    changed = changed || width != WidthsSet[column];
    // The last column keeps its own width, not the stretch to the window's
    // edge, unless the user set it.
    widths.push_back(column == kListColumns - 1 && width == WidthsSet[column] ? LastColumnOwnWidth : width);
  }
  if (!changed) widths.clear();
  return widths;
}

void SetGameListColumnWidths(HWND list, const std::vector<int>& widths) {
  // Widths kept before the list had its later columns name the first ones;
  // those after them go on fitting their texts.
  if (widths.empty() || widths.size() > static_cast<std::size_t>(kListColumns)) return;
  for (std::size_t column = 0; column < widths.size(); ++column) {
    KeptWidth[column] = true;
    SetColumnWidth(list, static_cast<int>(column), widths[column]);
  }
  StretchLastColumn(list);
}

std::string GameListText(HWND list, int index, int column) {
  wchar_t text[kPathBufferSize] = L"";
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = static_cast<int>(kPathBufferSize);
  SendMessageW(list, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
  return Utf8FromWide(text);
}

XmlElement* GameListEntry(HWND list, int index) {
  if (!list || index < 0) return nullptr;
  if (IsOwnerData(list)) {
    if (index >= static_cast<int>(ShownNow.size())) return nullptr;
    return FilledRows[static_cast<std::size_t>(ShownNow[static_cast<std::size_t>(index)])].entry;
  }
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  return reinterpret_cast<XmlElement*>(item.lParam);
}

int CompareListItems(int row1, int row2, int column) {
  return CompareCells(column, SortKeys[static_cast<std::size_t>(row1)].c_str(),
                      SortKeys[static_cast<std::size_t>(row2)].c_str(), SortedDirection);
}

void SortGameList(HWND list, int column) {
  if (column < 0 || column >= kListColumns) return;
  const std::vector<XmlElement*> selected = SelectedGames(list);
  SortedColumn = column;
  SortedDirection = SortDirection;
  SortDirection = -SortDirection;
  std::vector<int> shown = ShownNow;
  SortRows(shown);
  InsertRows(list, shown);
  for (XmlElement* entry : selected) SelectGameEntry(list, entry, selected.front() != entry);
  ShowSortArrow(list);
}

void SortGameListAs(HWND list, int column, int direction) {
  if (column < -1 || column >= kListColumns) return;
  SortedColumn = column;
  SortedDirection = direction < 0 ? -1 : +1;
  SortDirection = -SortedDirection;
  FillGameList(list);
}

std::vector<XmlElement*> SelectedGames(HWND list) {
  std::vector<XmlElement*> games;
  int index = -1;
  while ((index = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(index), LVNI_SELECTED))) >= 0)
    if (XmlElement* entry = GameListEntry(list, index)) games.push_back(entry);
  return games;
}

int SelectedGame(HWND list) {
  return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SelectGameEntry(HWND list, const XmlElement* entry, bool addToSelection) {
  // From the end: a game just added is the last of its library.
  int index = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) - 1;
  while (index >= 0 && GameListEntry(list, index) != entry) --index;
  if (index < 0) return;
  if (!addToSelection) {
    SelectOnly(list, index);
    return;
  }
  LVITEMW state{};
  state.stateMask = state.state = LVIS_SELECTED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&state));
}
