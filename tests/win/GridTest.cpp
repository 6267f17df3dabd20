// The property grid driven as a person drives it: clicks posted at cells,
// keys and text typed into the editor, the focus moved away. A parent window
// records every edit notification and answers what each test scripts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "UiDriver.h"
#include "ui/PropertyGrid.h"

namespace {

struct Note {
  UINT code;
  HWND from;
  UINT_PTR id;
  WPARAM wParam;
  int row;
  int column;
  LPARAM param;
  bool hasText;
  std::wstring text;
};

struct Script {
  std::vector<Note> notes;
  LRESULT beginAnswer = 0;
  LRESULT endAnswer = 1;
  std::function<void(const Note&)> sideEffect;  // runs inside the notification
};
Script* g_script = nullptr;

bool IsEditNotification(UINT code) {
  return code == LVN_BEGINLABELEDITW || code == LVN_ENDLABELEDITW ||
         (code <= GRIDN_BEGINSUBITEMEDIT && code >= GRIDN_DROPFILES);
}

LRESULT CALLBACK RecordingParent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY && g_script) {
    const auto* info = reinterpret_cast<const NMLVDISPINFOW*>(lParam);
    if (IsEditNotification(info->hdr.code)) {
      const Note note{info->hdr.code, info->hdr.hwndFrom, info->hdr.idFrom, wParam,
                      info->item.iItem, info->item.iSubItem, info->item.lParam,
                      info->item.pszText != nullptr,
                      info->item.pszText ? info->item.pszText : L""};
      g_script->notes.push_back(note);
      if (g_script->sideEffect) g_script->sideEffect(note);
      switch (note.code) {
        case LVN_BEGINLABELEDITW:
        case GRIDN_BEGINSUBITEMEDIT:
          return g_script->beginAnswer;
        case LVN_ENDLABELEDITW:
        case GRIDN_ENDSUBITEMEDIT:
          return g_script->endAnswer;
        default:
          return 0;
      }
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

constexpr int kGridId = 77;

class GridTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(RegisterGridClasses(GetModuleHandleW(nullptr))); }

  void SetUp() override {
    g_script = &script;
    parent = uitest::CreateTestParent(RecordingParent);
    grid = CreateWindowExW(0, GRID_CLASS, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT, 10, 10, 520,
                           300, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kGridId)),
                           GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, grid);
    SendMessageW(grid, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    const wchar_t* headers[] = {L"Name", L"Value", L"Other"};
    for (int column = 0; column < 3; ++column) {
      LVCOLUMNW lvc{};
      lvc.mask = LVCF_TEXT | LVCF_WIDTH;
      lvc.cx = 150;
      lvc.pszText = const_cast<wchar_t*>(headers[column]);
      SendMessageW(grid, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&lvc));
    }
    for (const auto& row : {std::vector<std::wstring>{L"alpha", L"one", L"x"}, {L"beta", L"two", L"y"},
                            {L"gamma", L"three", L"z"}, {L"delta", L"four", L"w"}}) {
      AddRow(row);
    }
    other = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE, 10, 320, 100, 20, parent, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    uitest::Pump();
  }

  void TearDown() override {
    if (IsWindow(parent)) DestroyWindow(parent);
    uitest::Pump();
    g_script = nullptr;
    // With Wine's heap checking on, freed blocks carry a pattern: a write
    // into a released GridState shows up here.
    EXPECT_TRUE(uitest::ProcessHeapsValid());
  }

  void AddRow(const std::vector<std::wstring>& texts) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(texts[0].c_str());
    SendMessageW(grid, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int column = 1; column < static_cast<int>(texts.size()); ++column) SetText(item.iItem, column, texts[column]);
  }

  void SetText(int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(grid, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  }

  void AddChoices(int row, int column, std::vector<std::wstring> items) {
    ChoiceList list{row, column, std::move(items)};
    ASSERT_EQ(1, SendMessageW(grid, GRIDM_ADDCHOICELIST, 0, reinterpret_cast<LPARAM>(&list)));
  }

  HWND Editor() const { return reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0)); }

  // A click selects the row; a click on the selected row opens the editor.
  HWND OpenEditor(int row, int column) {
    if (!SendMessageW(grid, LVM_GETITEMSTATE, row, LVIS_SELECTED)) uitest::ClickCell(grid, row, column);
    uitest::ClickCell(grid, row, column);
    return Editor();
  }

  std::vector<UINT> Codes() const {
    std::vector<UINT> codes;
    for (const Note& note : script.notes) codes.push_back(note.code);
    return codes;
  }

  RECT SubItemRect(int row, int column) const {
    RECT rect{};
    rect.top = column;
    rect.left = LVIR_BOUNDS;
    SendMessageW(grid, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    return rect;
  }

  Script script;
  HWND parent = nullptr;
  HWND grid = nullptr;
  HWND other = nullptr;
};

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return name;
}

RECT RectInParent(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace

TEST_F(GridTest, ClassesAreCopiesWithRoomForTheirState) {
  EXPECT_TRUE(RegisterGridClasses(GetModuleHandleW(nullptr))) << "a second registration still counts";
  const std::pair<const wchar_t*, const wchar_t*> pairs[] = {
      {WC_LISTVIEWW, GRID_CLASS}, {L"Edit", GRID_EDIT_CLASS}, {L"ComboBox", GRID_COMBO_CLASS}};
  for (const auto& [base, derived] : pairs) {
    WNDCLASSEXW baseClass{};
    WNDCLASSEXW ours{};
    baseClass.cbSize = ours.cbSize = sizeof(ours);
    ASSERT_TRUE(GetClassInfoExW(nullptr, base, &baseClass));
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), derived, &ours));
    EXPECT_EQ(baseClass.cbWndExtra + 8, ours.cbWndExtra);
    EXPECT_EQ(baseClass.style, ours.style);
    EXPECT_NE(baseClass.lpfnWndProc, ours.lpfnWndProc);
  }
}

TEST_F(GridTest, TextEditorOpensOnTheSelectedRowAndEndsFourWays) {
  uitest::Click(grid, POINT{200, 280});  // below the last row
  uitest::ClickCell(grid, 1, 1);
  EXPECT_TRUE(script.notes.empty()) << "the first click only selects";
  EXPECT_EQ(LVIS_SELECTED, SendMessageW(grid, LVM_GETITEMSTATE, 1, LVIS_SELECTED));

  uitest::ClickCell(grid, 1, 1);
  HWND editor = Editor();
  ASSERT_NE(nullptr, editor);
  ASSERT_EQ((std::vector<UINT>{GRIDN_BEGINSUBITEMEDIT, GRIDN_EDITORCREATED}), Codes());
  for (const Note& note : script.notes) {
    EXPECT_EQ(grid, note.from);
    EXPECT_EQ(static_cast<UINT_PTR>(kGridId), note.id);
    EXPECT_EQ(note.id, note.wParam);
    EXPECT_EQ(1, note.row);
    EXPECT_EQ(1, note.column);
    EXPECT_FALSE(note.hasText);
  }
  EXPECT_EQ(0, script.notes[0].param) << "a single click";
  EXPECT_EQ(reinterpret_cast<LPARAM>(editor), script.notes[1].param);
  EXPECT_EQ(GRID_EDIT_CLASS, ClassOf(editor));
  EXPECT_EQ(kGridEditorId, GetDlgCtrlID(editor));
  EXPECT_EQ(0x50001080, GetWindowLongW(editor, GWL_STYLE));
  EXPECT_EQ(SendMessageW(grid, WM_GETFONT, 0, 0), SendMessageW(editor, WM_GETFONT, 0, 0));
  EXPECT_EQ(editor, GetFocus());
  const RECT cell = SubItemRect(1, 1);
  const RECT placed = RectInParent(editor);
  EXPECT_EQ((std::vector<LONG>{cell.left + 1, cell.top + 1, cell.right - 1, cell.bottom - 1}),
            (std::vector<LONG>{placed.left, placed.top, placed.right, placed.bottom}));
  DWORD start = 1, end = 0;
  SendMessageW(editor, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(L"two", uitest::WindowText(editor));
  EXPECT_EQ(0u, start);
  EXPECT_EQ(3u, end) << "the whole text is selected, so typing replaces it";
  uitest::ClickCell(grid, 1, 2);  // while editing: the click goes to the list, which takes the focus
  EXPECT_EQ(nullptr, Editor());

  struct Ending {
    const char* name;
    LRESULT endAnswer;
    std::function<void(HWND)> end;
    bool committed;
    bool focusOnGrid;
  } endings[] = {
      {"Enter", 1, [](HWND) { uitest::PressKey(VK_RETURN); }, true, true},
      {"Escape", 1, [](HWND) { uitest::PressKey(VK_ESCAPE); }, false, true},
      {"Enter refused", 0, [](HWND) { uitest::PressKey(VK_RETURN); }, false, true},
      {"focus moved away", 1, [](HWND away) { SetFocus(away); uitest::Pump(); }, false, false},
  };
  for (const Ending& ending : endings) {
    SetText(1, 1, L"two");
    ASSERT_NE(nullptr, OpenEditor(1, 1)) << ending.name;
    script.notes.clear();
    script.endAnswer = ending.endAnswer;
    uitest::TypeText(L"2x");
    ending.end(other);
    EXPECT_EQ(nullptr, Editor()) << ending.name;
    EXPECT_EQ(ending.committed ? L"2x" : L"two", uitest::CellText(grid, 1, 1)) << ending.name;
    const bool enter = ending.endAnswer == 0 || ending.committed;
    ASSERT_FALSE(script.notes.empty()) << ending.name;
    const Note& endNote = script.notes[0];
    EXPECT_EQ(GRIDN_ENDSUBITEMEDIT, endNote.code);
    EXPECT_EQ(grid, endNote.from);
    EXPECT_EQ(static_cast<UINT_PTR>(kGridEditorId), endNote.id);
    EXPECT_EQ(static_cast<WPARAM>(kGridEditorId), endNote.wParam);
    EXPECT_EQ(enter, endNote.hasText) << ending.name;
    EXPECT_EQ(enter ? L"2x" : L"", endNote.text);
    if (ending.committed) {
      ASSERT_EQ((std::vector<UINT>{GRIDN_ENDSUBITEMEDIT, GRIDN_CELLCHANGED}), Codes());
      EXPECT_EQ(L"2x", script.notes[1].text);
      EXPECT_EQ(static_cast<UINT_PTR>(kGridEditorId), script.notes[1].id);
    } else {
      EXPECT_EQ((std::vector<UINT>{GRIDN_ENDSUBITEMEDIT}), Codes()) << ending.name;
    }
    EXPECT_EQ(ending.focusOnGrid ? grid : other, GetFocus()) << ending.name;
  }
}

TEST_F(GridTest, NameColumnEditsFromTheLeftEdgeToTheValueColumn) {
  HWND editor = OpenEditor(2, 0);
  ASSERT_NE(nullptr, editor);
  ASSERT_EQ(LVN_BEGINLABELEDITW, script.notes.at(0).code);
  EXPECT_EQ(0, script.notes[0].column);
  const RECT valueCell = SubItemRect(2, 1);
  const RECT placed = RectInParent(editor);
  EXPECT_EQ((std::vector<LONG>{1, valueCell.top + 1, valueCell.left - 1, valueCell.bottom - 1}),
            (std::vector<LONG>{placed.left, placed.top, placed.right, placed.bottom}));
  EXPECT_EQ(L"gamma", uitest::WindowText(editor));
  script.notes.clear();
  uitest::TypeText(L"g2");
  uitest::PressKey(VK_RETURN);
  EXPECT_EQ((std::vector<UINT>{LVN_ENDLABELEDITW, GRIDN_CELLCHANGED}), Codes());
  EXPECT_EQ(L"g2", uitest::CellText(grid, 2, 0));
}

std::vector<std::wstring> g_handedOver;

// Notes what it was handed; changes the first row only.
int CALLBACK TakeOver(HWND, int row, int column, wchar_t* text) {
  g_handedOver.push_back(std::to_wstring(row) + L"," + std::to_wstring(column) + L":" + text);
  if (row != 0) return 0;
  lstrcpynW(text, g_handedOver.back().c_str(), kGridTextUnits);
  return 1;
}

TEST_F(GridTest, BeginEditAnswersDecideTheEditor) {
  struct Case {
    LRESULT answer;
    bool editor;
  } cases[] = {{1, false}, {2, true}, {-5, true}, {1000, true}};
  for (const Case& c : cases) {
    script.beginAnswer = c.answer;
    EXPECT_EQ(c.editor, OpenEditor(3, 1) != nullptr) << c.answer;
    uitest::PressKey(VK_ESCAPE);
    script.notes.clear();
  }
  // A double click on the selected row asks with lParam 1.
  script.beginAnswer = 0;
  const POINT centre = uitest::CellCenter(grid, 3, 1);
  PostMessageW(grid, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(centre.x, centre.y));
  uitest::Pump();
  EXPECT_NE(nullptr, Editor());
  ASSERT_FALSE(script.notes.empty());
  EXPECT_EQ(1, script.notes[0].param);
  uitest::PressKey(VK_ESCAPE);
  script.notes.clear();

  script.beginAnswer = reinterpret_cast<LRESULT>(&TakeOver);
  for (int row : {0, 1}) {
    OpenEditor(row, 1);
    EXPECT_EQ(nullptr, Editor());
    EXPECT_EQ((std::vector<UINT>{GRIDN_BEGINSUBITEMEDIT}), Codes()) << "no further notification";
    script.notes.clear();
  }
  EXPECT_EQ((std::vector<std::wstring>{L"0,1:one", L"1,1:two"}), g_handedOver);
  EXPECT_EQ(L"0,1:one", uitest::CellText(grid, 0, 1));
  EXPECT_EQ(L"two", uitest::CellText(grid, 1, 1)) << "a zero answer leaves the cell";

  // A callback gets 999 units at most, cut between characters.
  std::wstring longText(998, L'a');
  longText += L"\xD83D\xDE00 and more";
  SetText(0, 1, longText);
  OpenEditor(0, 1);
  EXPECT_EQ(L"0,1:" + std::wstring(998, L'a'), g_handedOver.back());
}

TEST_F(GridTest, DropDownsFollowTheirChoiceLists) {
  AddChoices(0, 1, {L"a", L"???", L"b"});
  AddChoices(1, 1, {L"x", L"y"});
  AddChoices(2, 1, {});
  AddChoices(3, 1, {L"ONE", L"FOUR"});
  AddChoices(3, 1, {L"never", L"shown"});
  struct Case {
    int row;
    DWORD style;
    std::vector<std::wstring> entries;
    int selected;
    std::wstring text;
  } cases[] = {
      {0, 0x50000002, {L"a", L"b"}, -1, L"one"},      // editable: keeps the unknown value
      {1, 0x50000003, {L"x", L"y"}, 0, L"x"},         // list-only: first entry instead
      {2, 0x50000003, {}, -1, L""},                   // empty list
      {3, 0x50000003, {L"ONE", L"FOUR"}, 1, L"FOUR"}, // found ignoring case; first list wins
  };
  for (const Case& c : cases) {
    HWND combo = OpenEditor(c.row, 1);
    ASSERT_NE(nullptr, combo) << c.row;
    EXPECT_EQ(GRID_COMBO_CLASS, ClassOf(combo));
    EXPECT_EQ(kGridEditorId, GetDlgCtrlID(combo));
    EXPECT_EQ(c.style, static_cast<DWORD>(GetWindowLongW(combo, GWL_STYLE))) << c.row;
    std::vector<std::wstring> entries;
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      wchar_t entry[64] = L"";
      SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
      entries.push_back(entry);
    }
    EXPECT_EQ(c.entries, entries) << c.row;
    EXPECT_EQ(c.selected, SendMessageW(combo, CB_GETCURSEL, 0, 0)) << c.row;
    EXPECT_EQ(c.text, uitest::WindowText(combo)) << c.row;
    const std::wstring before = uitest::CellText(grid, c.row, 1);
    uitest::PressKey(c.entries.empty() ? VK_RETURN : VK_ESCAPE);  // nothing to choose: nothing stored
    EXPECT_EQ(nullptr, Editor());
    EXPECT_EQ(before, uitest::CellText(grid, c.row, 1)) << c.row;
  }
}

TEST_F(GridTest, DropDownsCommitAChosenEntryAndKeysOfTheirTextField) {
  AddChoices(1, 1, {L"x", L"y", L"z"});
  AddChoices(2, 1, {L"a", L"???", L"b"});
  HWND combo = OpenEditor(1, 1);
  ASSERT_NE(nullptr, combo);
  script.notes.clear();
  ASSERT_TRUE(uitest::PickDropDownEntry(combo, 2));
  EXPECT_EQ(nullptr, Editor());
  EXPECT_EQ(L"z", uitest::CellText(grid, 1, 1));
  EXPECT_EQ((std::vector<UINT>{GRIDN_ENDSUBITEMEDIT, GRIDN_CELLCHANGED}), Codes());

  // Hovering over the open list moves its highlight but chooses nothing.
  combo = OpenEditor(1, 1);
  ASSERT_NE(nullptr, combo);
  EXPECT_TRUE(uitest::HoverDropDownEntry(combo, 0));
  COMBOBOXINFO dropped{};
  dropped.cbSize = sizeof(dropped);
  ASSERT_TRUE(GetComboBoxInfo(combo, &dropped));
  EXPECT_EQ(0, SendMessageW(dropped.hwndList, LB_GETCURSEL, 0, 0)) << "the highlight follows the mouse";
  EXPECT_EQ(combo, Editor()) << "still open after hovering";
  EXPECT_EQ(L"z", uitest::CellText(grid, 1, 1));
  uitest::PressKey(VK_ESCAPE);
  EXPECT_EQ(nullptr, Editor());

  // The arrow keys move the choice; Escape drops it, Enter commits it.
  for (UINT last : {VK_ESCAPE, VK_RETURN}) {
    combo = OpenEditor(1, 1);
    uitest::PressKey(VK_UP);
    EXPECT_EQ(combo, Editor()) << "an arrow chooses nothing yet";
    EXPECT_EQ(L"y", uitest::WindowText(combo));
    EXPECT_EQ(L"z", uitest::CellText(grid, 1, 1));
    uitest::PressKey(last);
    EXPECT_EQ(nullptr, Editor());
  }
  EXPECT_EQ(L"y", uitest::CellText(grid, 1, 1));

  // The editable box: its text field has the focus and owns the keys.
  combo = OpenEditor(2, 1);
  ASSERT_NE(nullptr, combo);
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetComboBoxInfo(combo, &info));
  EXPECT_EQ(info.hwndItem, GetFocus());
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);  // focus moves inside the editor only
  uitest::Pump();
  SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  SetFocus(combo);
  uitest::Pump();
  ASSERT_EQ(combo, Editor()) << "moving inside the drop-down is not leaving it";
  SendMessageW(info.hwndItem, EM_SETSEL, 0, -1);
  script.notes.clear();
  uitest::TypeText(L"free");
  uitest::PressKey(VK_RETURN);
  EXPECT_EQ(nullptr, Editor());
  EXPECT_EQ(L"free", uitest::CellText(grid, 2, 1));
  EXPECT_EQ(grid, GetFocus());
  combo = OpenEditor(2, 1);
  uitest::TypeText(L"lost");
  uitest::PressKey(VK_ESCAPE);
  EXPECT_EQ(nullptr, Editor());
  EXPECT_EQ(L"free", uitest::CellText(grid, 2, 1));
  combo = OpenEditor(2, 1);
  SetFocus(other);
  uitest::Pump();
  EXPECT_EQ(nullptr, Editor()) << "focus leaving the drop-down cancels";
  EXPECT_FALSE(script.notes.back().hasText);
}

TEST_F(GridTest, OwnerMessagesAndRowDeletion) {
  for (UINT message : {GRIDM_ADDCHOICELIST, GRIDM_SETCELLIMAGES, GRIDM_GETCELLIMAGES}) {
    EXPECT_EQ(-1, SendMessageW(grid, message, 0, 0)) << message;
  }
  EXPECT_EQ(1, SendMessageW(grid, GRIDM_CLEARCHOICELISTS, 0, 0));
  SendMessageW(grid, WM_DROPFILES, 0x1234, 0);
  ASSERT_EQ(1u, script.notes.size());
  EXPECT_EQ((std::vector<LONG_PTR>{GRIDN_DROPFILES, 0, 0, 0x1234}),
            (std::vector<LONG_PTR>{script.notes[0].code, static_cast<LONG_PTR>(script.notes[0].id),
                                   static_cast<LONG_PTR>(script.notes[0].wParam), script.notes[0].param}));
  script.notes.clear();

  // Opened by the owner: no begin-edit notification, the row gets selected.
  AddChoices(2, 1, {L"p", L"q"});
  SendMessageW(grid, GRIDM_EDITCELL, 2, 1);
  ASSERT_NE(nullptr, Editor());
  EXPECT_EQ(GRID_COMBO_CLASS, ClassOf(Editor()));
  EXPECT_EQ(LVIS_SELECTED, SendMessageW(grid, LVM_GETITEMSTATE, 2, LVIS_SELECTED));
  EXPECT_EQ((std::vector<UINT>{GRIDN_EDITORCREATED}), Codes());
  uitest::PressKey(VK_ESCAPE);
  SendMessageW(grid, GRIDM_EDITCELL, 9, 1);
  SendMessageW(grid, GRIDM_EDITCELL, 1, 3);
  EXPECT_EQ(nullptr, Editor()) << "no editor outside the cells";

  const CellImageTable images = {{0, 1, nullptr, nullptr}, {1, 0, nullptr, nullptr},
                                 {2, 1, nullptr, nullptr}, {3, 2, nullptr, nullptr},
                                 {7, 0, nullptr, nullptr}};
  EXPECT_EQ(1, SendMessageW(grid, GRIDM_SETCELLIMAGES, 0, reinterpret_cast<LPARAM>(&images)));
  SendMessageW(grid, LVM_DELETEITEM, 2, 0);
  SendMessageW(grid, LVM_DELETEITEM, 5, 0);  // no such row: nothing moves
  CellImageTable after = {{9, 9, nullptr, nullptr}};
  EXPECT_EQ(1, SendMessageW(grid, GRIDM_GETCELLIMAGES, 0, reinterpret_cast<LPARAM>(&after)));
  std::vector<std::pair<int, int>> cells;
  for (const CellImage& image : after) cells.emplace_back(image.row, image.column);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 1}, {1, 0}, {2, 2}, {6, 0}}), cells);
  // Choice lists keep their rows: the list added for row 2 now serves the row below.
  SendMessageW(grid, GRIDM_EDITCELL, 2, 1);
  EXPECT_EQ(GRID_COMBO_CLASS, ClassOf(Editor()));
  EXPECT_EQ(L"p", uitest::WindowText(Editor()));
}

TEST_F(GridTest, CellImagesAreDrawnCentredOnlyWhenTheyFit) {
  const RECT cell = SubItemRect(1, 1);
  const int height = cell.bottom - cell.top;
  ASSERT_LT(height, 32) << "the icon must be too tall for the row";
  HDC screen = GetDC(nullptr);
  auto solid = [&](COLORREF colour, int size) {
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all{0, 0, size, size};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    SelectObject(memory, old);
    DeleteDC(memory);
    return bitmap;
  };
  const COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255);
  HBITMAP fitting = solid(red, 8);
  HBITMAP underIcon = solid(blue, 8);
  HBITMAP iconColour = solid(RGB(0, 255, 0), 32);
  HBITMAP iconMask = CreateBitmap(32, 32, 1, 1, nullptr);
  ICONINFO iconInfo{TRUE, 0, 0, iconMask, iconColour};
  HICON icon = CreateIconIndirect(&iconInfo);
  ReleaseDC(nullptr, screen);
  ASSERT_NE(nullptr, icon);

  const CellImageTable images = {{1, 1, fitting, nullptr}, {2, 1, underIcon, icon}, {3, 0, fitting, nullptr}};
  SendMessageW(grid, GRIDM_SETCELLIMAGES, 0, reinterpret_cast<LPARAM>(&images));
  InvalidateRect(grid, nullptr, TRUE);
  UpdateWindow(grid);
  HDC dc = GetDC(grid);
  const int x = cell.left + (cell.right - cell.left - 8) / 2;
  const int y = cell.top + (height - 8) / 2;
  EXPECT_EQ(red, GetPixel(dc, x, y));
  EXPECT_EQ(red, GetPixel(dc, x + 7, y + 7));
  EXPECT_NE(red, GetPixel(dc, x - 1, y));
  EXPECT_NE(red, GetPixel(dc, x + 8, y + 7));
  const RECT below = SubItemRect(2, 1);
  const POINT middle{(below.left + below.right) / 2, (below.top + below.bottom) / 2};
  EXPECT_NE(blue, GetPixel(dc, middle.x, middle.y)) << "the entry with a too tall icon is skipped whole";
  EXPECT_NE(RGB(0, 255, 0), GetPixel(dc, middle.x, middle.y));
  // Column 0 is the name cell left of column 1, not the whole row.
  const RECT name = SubItemRect(3, 1);
  EXPECT_EQ(red, GetPixel(dc, (name.left - 8) / 2, name.top + (name.bottom - name.top - 8) / 2));
  EXPECT_NE(red, GetPixel(dc, (name.left + name.right) / 2, (name.top + name.bottom) / 2));
  ReleaseDC(grid, dc);

  DestroyWindow(parent);  // the handles stay the owner's
  BITMAP still{};
  EXPECT_NE(0, GetObjectW(fitting, sizeof(still), &still));
  DestroyIcon(icon);
  for (HBITMAP bitmap : {fitting, underIcon, iconColour, iconMask}) DeleteObject(bitmap);
}

TEST_F(GridTest, ParentsMayDestroyOrMoveFocusWhileAnEditEnds) {
  // A dialog shown in answer to the end of an edit takes the focus.
  ASSERT_NE(nullptr, OpenEditor(1, 1));
  script.notes.clear();
  script.sideEffect = [&](const Note& note) {
    if (note.code == GRIDN_ENDSUBITEMEDIT) SetFocus(other);
  };
  uitest::TypeText(L"kept");
  uitest::PressKey(VK_RETURN);
  EXPECT_EQ((std::vector<UINT>{GRIDN_ENDSUBITEMEDIT, GRIDN_CELLCHANGED}), Codes()) << "one end, not two";
  EXPECT_EQ(L"kept", uitest::CellText(grid, 1, 1));
  EXPECT_EQ(nullptr, Editor());

  // The whole of a long value reaches the editor and comes back.
  const std::wstring longText(1500, L'v');
  SetText(2, 1, longText);
  script.sideEffect = nullptr;
  HWND editor = OpenEditor(2, 1);
  EXPECT_EQ(longText, uitest::WindowText(editor));
  uitest::PressKey(VK_END);
  uitest::TypeText(L"!");
  uitest::PressKey(VK_RETURN);
  EXPECT_EQ(longText + L"!", uitest::CellText(grid, 2, 1));

  // The grid destroyed in answer to the end of an edit, and with an editor open.
  ASSERT_NE(nullptr, OpenEditor(1, 1));
  script.sideEffect = [&](const Note& note) {
    if (note.code == GRIDN_ENDSUBITEMEDIT) DestroyWindow(grid);
  };
  script.notes.clear();
  uitest::PressKey(VK_RETURN);
  EXPECT_FALSE(IsWindow(grid));
  EXPECT_EQ((std::vector<UINT>{GRIDN_ENDSUBITEMEDIT}), Codes());

  script.sideEffect = nullptr;
  grid = CreateWindowExW(0, GRID_CLASS, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 300, 200, parent,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 100;
  SendMessageW(grid, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  SendMessageW(grid, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
  AddRow({L"n", L"v"});
  SendMessageW(grid, GRIDM_EDITCELL, 0, 1);
  HWND open = Editor();
  ASSERT_NE(nullptr, open);
  script.notes.clear();
  DestroyWindow(grid);
  uitest::Pump();
  EXPECT_FALSE(IsWindow(open));
  EXPECT_TRUE(script.notes.empty()) << "a grid that is gone reports no edit";
}
