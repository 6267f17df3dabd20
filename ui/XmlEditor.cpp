#include "ui/XmlEditor.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <stack>
#include <utility>
#include <vector>

#include "ui/EditorModel.h"
#include "ui/FontMetrics.h"
#include "ui/PropertyGrid.h"
#include "text/TextConvert.h"

namespace {

constexpr UINT kCodePageUtf16 = 1200;  // rich edit's name for UTF-16 text

struct XmlEditorState {
  XmlElement* element = nullptr;
  XmlEditorCallback callback = nullptr;
  HWND tree = nullptr;
  HWND grid = nullptr;
  HWND text = nullptr;
  wchar_t pendingHighSurrogate = 0;
  bool changed = false;  // a value or a text was stored: the owner hears so at the end
  int rowAfterDialog = -1;  // the row to edit in place once the keyboard is back; -1 none
};

// After a dialog of the owner's, the window system may still be handing the
// activation to another window (the main window, under Wine); the editor
// takes it back a moment later, when that has settled, and only then opens a
// field to type in, which would otherwise lose its focus at once and close.
constexpr UINT_PTR kKeyboardBackTimer = 1;
constexpr UINT kKeyboardBackMilliseconds = 150;

// The rich edit's own procedure, which the text area's subclass passes on to.
WNDPROC richEditProc = nullptr;
// The state of the window being created, until its WM_CREATE takes it over.
XmlEditorState* stateInCreation = nullptr;

// The open editor windows of this (the user-interface) thread; the bold font
// lives exactly as long as one of them is open.
std::vector<std::pair<HWND, XmlEditorState*>> openEditors;
HFONT boldFont = nullptr;

void AcquireBoldFont(HWND grid) {
  if (boldFont) return;
  HFONT normal = reinterpret_cast<HFONT>(SendMessageW(grid, WM_GETFONT, 0, 0));
  if (!normal) normal = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTW font{};
  GetObjectW(normal, sizeof(font), &font);
  font.lfWeight = FW_BOLD;
  boldFont = CreateFontIndirectW(&font);
}

void ReleaseBoldFont() {
  if (!openEditors.empty() || !boldFont) return;
  DeleteObject(boldFont);
  boldFont = nullptr;
}

XmlEditorState* StateOf(HWND window) {
  return reinterpret_cast<XmlEditorState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

INT_PTR Notify(XmlEditorState* state, HWND window, int code, void* node, char* text) {
  return state->callback ? state->callback(window, code, node, text) : 0;
}

// --- the text area ----------------------------------------------------------

// The rich edit class is an 8-bit one; text goes in and out as UTF-16 through
// the rich edit's own messages, never through the code page.
void SetAreaText(HWND area, const std::string& utf8) {
  const std::wstring wide = WideFromUtf8(utf8);
  SETTEXTEX how{ST_DEFAULT, kCodePageUtf16};
  SendMessageW(area, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(wide.c_str()));
  SendMessageW(area, EM_SETMODIFY, FALSE, 0);
}

std::string AreaText(HWND area) {
  GETTEXTLENGTHEX measure{GTL_USECRLF | GTL_NUMCHARS | GTL_PRECISE, kCodePageUtf16};
  const LRESULT length = SendMessageW(area, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&measure), 0);
  if (length <= 0) return std::string();
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  GETTEXTEX how{};
  how.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  how.flags = GT_USECRLF;
  how.codepage = kCodePageUtf16;
  SendMessageW(area, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(text.data()));
  return Utf8FromWide(text.data());
}

// Typed characters reach an 8-bit control through the code page, which has
// no room for most of Unicode; the rich edit takes them whole as WM_UNICHAR.
LRESULT CALLBACK TextAreaProc(HWND area, UINT message, WPARAM wParam, LPARAM lParam) {
  XmlEditorState* state = StateOf(GetParent(area));
  if (state && message == WM_CHAR && wParam >= 0x80) {
    const auto unit = static_cast<wchar_t>(wParam);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      state->pendingHighSurrogate = unit;
      return 0;
    }
    WPARAM code = wParam;
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      if (!state->pendingHighSurrogate) return 0;
      code = 0x10000 + ((state->pendingHighSurrogate - 0xD800) << 10) + (unit - 0xDC00);
    }
    state->pendingHighSurrogate = 0;
    return CallWindowProcW(richEditProc, area, WM_UNICHAR, code, lParam);
  }
  return CallWindowProcW(richEditProc, area, message, wParam, lParam);
}

// Keeps what the user typed into the text area in element's first CDATA
// section. Text the user did not touch is left alone, so merely looking at an
// element never rewrites it.
void StoreTextArea(XmlEditorState* state, XmlElement* element) {
  if (!element || !SendMessageW(state->text, EM_GETMODIFY, 0, 0)) return;
  const std::string typed = AreaText(state->text);
  StoreEditorText(element, StoredLineBreaks(typed, element));
  SendMessageW(state->text, EM_SETMODIFY, FALSE, 0);
  state->changed = true;
}

XmlElement* SelectedElement(XmlEditorState* state) {
  TVITEMW item{};
  item.mask = TVIF_PARAM;
  item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(state->tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!item.hItem || !SendMessageW(state->tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  return reinterpret_cast<XmlElement*>(item.lParam);
}

// --- layout -------------------------------------------------------------------

void Place(HWND control, const PaneBox& box) {
  SetWindowPos(control, nullptr, box.x, box.y, box.width, box.height, SWP_NOZORDER | SWP_SHOWWINDOW);
}

void LayOut(HWND window, XmlEditorState* state) {
  RECT client;
  GetClientRect(window, &client);
  const bool hasText = GetWindowTextLengthW(state->text) > 0;
  const EditorLayout layout = LayOutEditor(client.right, client.bottom, hasText);
  Place(state->tree, layout.tree);
  Place(state->grid, layout.grid);
  Place(state->text, layout.text);
}

int ColumnWidth(HWND grid, int column) {
  return static_cast<int>(SendMessageW(grid, LVM_GETCOLUMNWIDTH, column, 0));
}

void FitValueColumn(HWND grid) {
  RECT client;
  GetClientRect(grid, &client);
  SendMessageW(grid, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(std::max<int>(client.right - ColumnWidth(grid, 0), 0), 0));
}

// The list view sizes the name column for its normal font, but names are
// drawn bold: widen it by what bold adds to the widest name.
void FitNameColumn(HWND grid, const std::vector<std::wstring>& names) {
  SendMessageW(grid, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(LVSCW_AUTOSIZE, 0));
  HDC dc = GetDC(grid);
  const auto widest = [&](HFONT font) {
    HGDIOBJ previous = SelectObject(dc, font);
    int width = 0;
    for (const std::wstring& name : names) {
      SIZE size{};
      GetTextExtentPoint32W(dc, name.c_str(), static_cast<int>(name.size()), &size);
      width = std::max<int>(width, size.cx);
    }
    SelectObject(dc, previous);
    return width;
  };
  const int normalWidest = widest(reinterpret_cast<HFONT>(SendMessageW(grid, WM_GETFONT, 0, 0)));
  const int boldWidest = widest(boldFont);
  ReleaseDC(grid, dc);
  if (boldWidest > normalWidest) {
    SendMessageW(grid, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(ColumnWidth(grid, 0) + boldWidest - normalWidest, 0));
  }
}

// --- the grid -------------------------------------------------------------------

XmlAttribute* RowAttribute(HWND grid, int row) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (row < 0 || !SendMessageW(grid, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  return reinterpret_cast<XmlAttribute*>(item.lParam);
}

void AddRow(XmlEditorState* state, HWND window, int index, const AttributeRow& row) {
  const std::wstring name = WideFromUtf8(row.name);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = index;
  item.pszText = const_cast<wchar_t*>(name.c_str());
  item.lParam = reinterpret_cast<LPARAM>(row.attribute);
  const int inserted = static_cast<int>(SendMessageW(state->grid, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));

  if (row.offersChoices) {
    ChoiceList choices;
    choices.row = inserted;
    choices.column = 1;
    for (const std::string& choice : row.choices) choices.items.push_back(WideFromUtf8(choice));
    SendMessageW(state->grid, GRIDM_ADDCHOICELIST, 0, reinterpret_cast<LPARAM>(&choices));
  }

  // A value longer than the callback's buffer is shown whole rather than cut,
  // so that opening its editor can never store a shortened value.
  std::vector<char> value(std::max<std::size_t>(kEditorTextBytes, row.attribute->GetValue(nullptr) + 1), '\0');
  row.attribute->GetValue(value.data(), value.size());
  Notify(state, window, kEditorShowValue, row.attribute, value.data());
  SetCellText(state->grid, inserted, 1, WideFromUtf8(TextInBuffer(value.data(), value.size())).c_str());
}

void FillGrid(HWND window, XmlEditorState* state, XmlElement* element) {
  // An edit still open belongs to the rows about to go.
  if (HWND open = reinterpret_cast<HWND>(SendMessageW(state->grid, LVM_GETEDITCONTROL, 0, 0))) {
    SendMessageW(open, WM_KEYDOWN, VK_ESCAPE, 0);
  }
  SendMessageW(state->grid, LVM_DELETEALLITEMS, 0, 0);
  SendMessageW(state->grid, GRIDM_CLEARCHOICELISTS, 0, 0);
  if (!element) return;
  Notify(state, window, kEditorGridFilling, element, nullptr);

  const std::vector<AttributeRow> rows = AttributeRows(element);
  std::vector<std::wstring> names;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    AddRow(state, window, static_cast<int>(i), rows[i]);
    names.push_back(WideFromUtf8(rows[i].name));
  }

  SetAreaText(state->text, EditorText(element));
  LayOut(window, state);

  ShowWindow(state->grid, SW_HIDE);
  FitNameColumn(state->grid, names);
  FitValueColumn(state->grid);
  ShowWindow(state->grid, SW_SHOW);
  Notify(state, window, kEditorGridFilled, element, nullptr);
}

LRESULT OnBeginValueEdit(HWND window, XmlEditorState* state, const NMLVDISPINFOW& info) {
  XmlAttribute* attribute = RowAttribute(state->grid, info.item.iItem);
  if (!state->callback || !attribute) return 0;
  char buffer[kEditorTextBytes] = "";
  const INT_PTR answer = state->callback(window, kEditorEditValue, attribute, buffer);
  if (answer == kEditorNoEdit) return 1;
  if (answer == kEditorEditAfterDialog || answer == kEditorValueSetAfterDialog) {
    state->rowAfterDialog = answer == kEditorEditAfterDialog ? info.item.iItem : -1;
    SetTimer(window, kKeyboardBackTimer, kKeyboardBackMilliseconds, nullptr);
    if (answer == kEditorEditAfterDialog) return 1;
  } else if (answer != kEditorValueSet) {
    return 0;
  }
  state->changed = true;
  SetCellText(state->grid, info.item.iItem, info.item.iSubItem,
              WideFromUtf8(TextInBuffer(buffer, sizeof buffer)).c_str());
  FitValueColumn(state->grid);
  return 1;
}

// F2 or Enter on a selected row edits its value from the keyboard, asking
// the owner first exactly as a click does.
void EditSelectedValue(HWND window, XmlEditorState* state) {
  const int row = static_cast<int>(SendMessageW(state->grid, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0 || SendMessageW(state->grid, LVM_GETEDITCONTROL, 0, 0)) return;
  NMLVDISPINFOW request{};
  request.item.iItem = row;
  request.item.iSubItem = 1;
  if (OnBeginValueEdit(window, state, request) == 0) SendMessageW(state->grid, GRIDM_EDITCELL, row, 1);
}

void OnCellChanged(HWND window, XmlEditorState* state, const NMLVDISPINFOW& info) {
  XmlAttribute* attribute = RowAttribute(state->grid, info.item.iItem);
  if (!info.item.pszText || !attribute) return;
  std::string committed = Utf8FromWide(info.item.pszText);
  attribute->SetValue(committed.c_str());
  state->changed = true;
  Notify(state, window, kEditorValueStored, attribute, &committed[0]);
}

LRESULT OnGridCustomDraw(HWND grid, NMLVCUSTOMDRAW& draw) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      HFONT normal = reinterpret_cast<HFONT>(SendMessageW(grid, WM_GETFONT, 0, 0));
      SelectObject(draw.nmcd.hdc, draw.iSubItem == 0 && boldFont ? boldFont : normal);
      // The control only takes a font chosen here when told so.
      return CDRF_NEWFONT;
    }
  }
  return CDRF_DODEFAULT;
}

LRESULT OnGridNotify(HWND window, XmlEditorState* state, NMHDR* header) {
  auto& info = *reinterpret_cast<NMLVDISPINFOW*>(header);
  switch (header->code) {
    case LVN_BEGINLABELEDITW:  // names are not edited
      return 1;
    case GRIDN_BEGINSUBITEMEDIT:
      return OnBeginValueEdit(window, state, info);
    case GRIDN_ENDSUBITEMEDIT:
      return 1;
    case GRIDN_CELLCHANGED:
      OnCellChanged(window, state, info);
      return 0;
    case NM_CUSTOMDRAW:
      return OnGridCustomDraw(state->grid, *reinterpret_cast<NMLVCUSTOMDRAW*>(header));
    case LVN_KEYDOWN:
      if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_F2) EditSelectedValue(window, state);
      return 0;
    case NM_RETURN:
      EditSelectedValue(window, state);
      return 0;
  }
  return DefWindowProcW(window, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

// --- the tree ---------------------------------------------------------------------

HTREEITEM InsertTreeItem(HWND window, XmlEditorState* state, XmlElement* element, HTREEITEM parent) {
  const std::string label = TreeLabel(element);
  std::vector<char> buffer(label.size() + 100, '\0');
  CopyToBuffer(label, buffer.data(), buffer.size());
  Notify(state, window, kEditorTreeLabel, element, buffer.data());
  const std::wstring text = WideFromUtf8(TextInBuffer(buffer.data(), buffer.size()));

  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
  insert.item.pszText = const_cast<wchar_t*>(text.c_str());
  insert.item.lParam = reinterpret_cast<LPARAM>(element);
  insert.item.cChildren = element->GetChildCount() > 0 ? 1 : 0;
  return reinterpret_cast<HTREEITEM>(SendMessageW(state->tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

// Depth first in document order, without recursion: a document may nest
// deeper than the stack would allow.
void BuildTree(HWND window, XmlEditorState* state) {
  std::stack<std::pair<XmlElement*, HTREEITEM>> pending;
  pending.push({state->element, TVI_ROOT});
  while (!pending.empty()) {
    auto [element, parent] = pending.top();
    pending.pop();
    HTREEITEM item = InsertTreeItem(window, state, element, parent);
    XmlElement** children = element->GetChildren();
    for (unsigned i = element->GetChildCount(); i > 0; --i) pending.push({children[i - 1], item});
  }
}

LRESULT OnTreeNotify(HWND window, XmlEditorState* state, NMHDR* header) {
  const auto& change = *reinterpret_cast<NMTREEVIEWW*>(header);
  switch (header->code) {
    case TVN_SELCHANGINGA:
    case TVN_SELCHANGINGW:
      StoreTextArea(state, reinterpret_cast<XmlElement*>(change.itemOld.lParam));
      return FALSE;
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW:
      FillGrid(window, state, reinterpret_cast<XmlElement*>(change.itemNew.lParam));
      return 0;
  }
  return DefWindowProcW(window, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

// --- the window ---------------------------------------------------------------------

HWND CreateChild(HWND window, const wchar_t* className, DWORD style, int id) {
  return CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | style, 0, 0, 100, 100, window,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

// Rows as tall as a drop-down editor, so that an open editor covers only its
// own row. A list view takes its row height from its small images; the list
// releases the image list with itself.
void MakeRowsFitEditors(HWND grid) {
  const int rowHeight = FramedLineHeight(grid) + 6;
  if (HIMAGELIST rows = ImageList_Create(1, rowHeight, ILC_COLOR, 0, 0)) {
    SendMessageW(grid, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(rows));
  }
}

void AddColumn(HWND grid, int index, int width) {
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH | LVCF_TEXT;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(L"");
  SendMessageW(grid, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW& create) {
  auto* state = static_cast<XmlEditorState*>(create.lpCreateParams);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  openEditors.emplace_back(window, state);
  stateInCreation = nullptr;  // released with the window from here on

  state->tree = CreateChild(window, WC_TREEVIEWW,
                            TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_FULLROWSELECT, kEditorTreeId);
  state->grid = CreateChild(window, GRID_CLASS, LVS_REPORT, kEditorGridId);
  // The text area's library is loaded by the first editor, not at start,
  // and kept.
  static const HMODULE richEdit = LoadLibraryW(L"RICHED20.DLL");
  (void)richEdit;
  state->text = CreateChild(window, L"RichEdit20A",
                            WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN,
                            kEditorTextId);
  if (!state->tree || !state->grid || !state->text) return -1;

  const auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(state->text, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TextAreaProc)));
  if (!richEditProc) richEditProc = previous;
  // Help texts read best in the font of the rest of the window.
  SendMessageW(state->text, WM_SETFONT, SendMessageW(state->grid, WM_GETFONT, 0, 0), FALSE);

  AcquireBoldFont(state->grid);
  SendMessageW(state->grid, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  MakeRowsFitEditors(state->grid);
  AddColumn(state->grid, 0, 70);
  AddColumn(state->grid, 1, 100);
  SendMessageW(window, XEM_FILL, 0, 0);
  return 0;
}

void OnFill(HWND window, XmlEditorState* state) {
  BuildTree(window, state);
  SetWindowTextW(window, WideFromUtf8(ShownName(state->element->GetName())).c_str());
  HTREEITEM root = reinterpret_cast<HTREEITEM>(SendMessageW(state->tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  SendMessageW(state->tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
  Notify(state, window, kEditorFilled, nullptr, nullptr);
}

// The text area is kept here rather than only on WM_CLOSE, so that an editor
// destroyed along with its owner loses nothing either. A window that changed
// something tells its owner, who keeps the document, so that the changes can
// reach the file now rather than whenever the program ends.
void OnDestroy(HWND window, XmlEditorState* state) {
  if (state->tree && state->text) StoreTextArea(state, SelectedElement(state));
  if (state->changed) Notify(state, window, kEditorClosing, state->element, nullptr);
  openEditors.erase(std::remove_if(openEditors.begin(), openEditors.end(),
                                   [window](const auto& open) { return open.first == window; }),
                    openEditors.end());
  ReleaseBoldFont();
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  delete state;
}

void OnKeyboardBack(HWND window, XmlEditorState* state) {
  KillTimer(window, kKeyboardBackTimer);
  SetForegroundWindow(window);
  SetActiveWindow(window);
  SetFocus(state->grid);
  const int row = state->rowAfterDialog;
  state->rowAfterDialog = -1;
  if (row >= 0 && row < static_cast<int>(SendMessageW(state->grid, LVM_GETITEMCOUNT, 0, 0)))
    SendMessageW(state->grid, GRIDM_EDITCELL, static_cast<WPARAM>(row), 1);
}

LRESULT CALLBACK EditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) return OnCreate(window, *reinterpret_cast<CREATESTRUCTW*>(lParam));
  XmlEditorState* state = StateOf(window);
  if (!state) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case XEM_FILL:
      OnFill(window, state);
      return 0;
    case WM_SIZE:
      LayOut(window, state);
      FitValueColumn(state->grid);
      return 0;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom == state->grid) return OnGridNotify(window, state, header);
      if (header->hwndFrom == state->tree) return OnTreeNotify(window, state, header);
      break;
    }
    case WM_TIMER:
      if (wParam == kKeyboardBackTimer) OnKeyboardBack(window, state);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      OnDestroy(window, state);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool Contains(const XmlElement* outer, const XmlElement* inner) {
  for (; inner; inner = inner->GetParent()) {
    if (inner == outer) return true;
  }
  return false;
}

}  // namespace

HWND OpenXmlEditor(HWND owner, XmlElement* element, XmlEditorCallback callback) {
  if (!element) return nullptr;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW editorClass{};
  editorClass.cbSize = sizeof(editorClass);
  editorClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  editorClass.lpfnWndProc = EditorProc;
  editorClass.hInstance = instance;
  editorClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  editorClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  editorClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  editorClass.lpszClassName = XML_EDITOR_CLASS;
  RegisterClassExW(&editorClass);  // fails harmlessly when it exists

  auto* state = new XmlEditorState;
  state->element = element;
  state->callback = callback;
  stateInCreation = state;
  HWND window = CreateWindowExW(0, XML_EDITOR_CLASS, L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance, state);
  // Still ours when the window never got as far as WM_CREATE; once it did,
  // the window has released the state, whether or not it was made.
  delete stateInCreation;
  stateInCreation = nullptr;
  return window;
}

HWND FindXmlEditor(const XmlElement* element) {
  for (const auto& [window, state] : openEditors) {
    if (Contains(state->element, element) || Contains(element, state->element)) return window;
  }
  return nullptr;
}

HFONT XmlEditorNameFont() { return boldFont; }
