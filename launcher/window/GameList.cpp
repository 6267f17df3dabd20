#include "launcher/window/GameList.h"

#include <commctrl.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "launcher/GameListRows.h"
#include "launcher/GameSchema.h"
#include "launcher/Storage.h"
#include "text/TextConvert.h"

bool GroupsShown = true;
int SortDirection = +1;

namespace {

constexpr int kListColumns = 3;
const wchar_t* const kHeaders[kListColumns] = {L"#", L"Name", L"Description"};
// The sorted column's text of every item, by the item's parameter, read once
// before the sort: the comparison then never asks the list, whose positions
// move while it sorts.
std::unordered_map<LPARAM, std::string> SortTexts;

// Whether the list draws groups. Not every list view can (Wine's cannot, and
// then keeps no groups at all); column 0 names the category there instead.
bool ListDrawsGroups(HWND list) {
  return SendMessageW(list, LVM_GETGROUPCOUNT, 0, 0) > 0;
}

FirstColumn FirstColumnMode(HWND list) {
  if (!GroupsShown) return FirstColumn::Number;
  return ListDrawsGroups(list) ? FirstColumn::Empty : FirstColumn::Category;
}

void SetItemText(HWND list, int index, int column, std::wstring& text) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text.data();
  SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
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

  void Add(int column, const std::wstring& text) {
    const int estimate = Estimate(text);
    auto& widest = widest_[column];
    if (widest.size() == kCandidates && estimate <= widest.back().first) return;
    widest.emplace_back(estimate, text);
    std::sort(widest.begin(), widest.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    if (widest.size() > kCandidates) widest.pop_back();
  }

  void Apply() {
    for (int column = 0; column < kListColumns; ++column) {
      int width = 0;
      for (const auto& candidate : widest_[column]) {
        SIZE size{};
        GetTextExtentPoint32W(dc_, candidate.second.c_str(), static_cast<int>(candidate.second.size()), &size);
        width = std::max(width, static_cast<int>(size.cx));
      }
      SendMessageW(list_, LVM_SETCOLUMNWIDTH, column, width + kCellPadding);
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
      int& width = charWidths_[c];
      if (width == 0) {
        INT measured = 0;
        width = GetCharWidth32W(dc_, c, c, &measured) && measured > 0 ? measured : 1;
      }
      sum += width;
    }
    return sum;
  }

  HWND list_;
  HDC dc_;
  HGDIOBJ old_;
  std::unordered_map<wchar_t, int> charWidths_;
  std::vector<std::pair<int, std::wstring>> widest_[kListColumns];
};

}  // namespace

void SetUpGameList(HWND list) {
  static const int kWidths[kListColumns] = {30, 200, 70};
  for (int i = 0; i < kListColumns; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(kHeaders[i]);
    column.cx = kWidths[i];
    column.iSubItem = i;
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
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
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
}

void ApplyGroupView(HWND list) { SendMessageW(list, LVM_ENABLEGROUPVIEW, GroupsShown, 0); }

void FillGameList(HWND list) {
  if (!list || !GameDatabase) return;
  // One repaint at the end instead of one per item: large libraries fill in a
  // fraction of the time.
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  const std::vector<GameRow> rows = GameRows(*GameDatabase, FirstColumnMode(list));
  SendMessageW(list, LVM_SETITEMCOUNT, rows.size(), 0);
  ColumnFitter fitter(list);
  for (int column = 0; column < kListColumns; ++column) fitter.Add(column, kHeaders[column]);
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    std::wstring first = WideFromUtf8(rows[i].first);
    std::wstring name = WideFromUtf8(rows[i].name);
    std::wstring description = WideFromUtf8(rows[i].description);
    fitter.Add(0, first);
    fitter.Add(1, name);
    fitter.Add(2, description);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | (GroupsShown ? LVIF_GROUPID : 0);
    item.iItem = i;
    item.pszText = first.data();
    item.lParam = reinterpret_cast<LPARAM>(rows[i].entry);
    item.iGroupId = rows[i].group;
    const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    SetItemText(list, index, 1, name);
    SetItemText(list, index, 2, description);
  }
  // Every column fits its widest text, its header included, so that "#" still
  // reads above short numbers; an empty library keeps the widths.
  if (!rows.empty()) fitter.Apply();
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
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

int CALLBACK CompareListItems(LPARAM item1, LPARAM item2, LPARAM column) {
  return CompareCells(static_cast<int>(column), SortTexts[item1].c_str(), SortTexts[item2].c_str(),
                      SortDirection);
}

void SortGameList(HWND list, int column) {
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  SortTexts.reserve(static_cast<size_t>(count));
  for (int index = 0; index < count; ++index) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    SortTexts[item.lParam] = GameListText(list, index, column);
  }
  SendMessageW(list, LVM_SORTITEMS, column, reinterpret_cast<LPARAM>(CompareListItems));
  SortTexts.clear();
  SortDirection = -SortDirection;
}

int SelectedGame(HWND list) {
  return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SelectGameEntry(HWND list, const XmlElement* entry) {
  LVFINDINFOW find{};
  find.flags = LVFI_PARAM;
  find.lParam = reinterpret_cast<LPARAM>(entry);
  const int index = static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                                  reinterpret_cast<LPARAM>(&find)));
  if (index < 0) return;
  LVITEMW none{};
  none.stateMask = LVIS_SELECTED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
  LVITEMW chosen{};
  chosen.state = chosen.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&chosen));
  SendMessageW(list, LVM_ENSUREVISIBLE, index, FALSE);
}
