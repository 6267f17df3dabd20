#include "UiDriver.h"

#include <commctrl.h>

namespace uitest {

void Pump(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(5);
  } while (GetTickCount64() < end);
}

POINT CellCenter(HWND list, int row, int column) {
  RECT cell{};
  cell.top = column;
  // Column 0's bounds are the whole row; its label part is the cell itself.
  cell.left = column == 0 ? LVIR_LABEL : LVIR_BOUNDS;
  SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
  return POINT{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
}

void Click(HWND window, POINT point) {
  const LPARAM where = MAKELPARAM(point.x, point.y);
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
  PostMessageW(window, WM_LBUTTONUP, 0, where);
  Pump();
}

void ClickCell(HWND list, int row, int column) { Click(list, CellCenter(list, row, column)); }

void PressKey(UINT virtualKey) {
  HWND focus = GetFocus();
  PostMessageW(focus, WM_KEYDOWN, virtualKey, 1);
  PostMessageW(focus, WM_KEYUP, virtualKey, 0xC0000001);
  Pump();
}

void TypeText(const std::wstring& text) {
  HWND focus = GetFocus();
  for (wchar_t c : text) PostMessageW(focus, WM_CHAR, c, 1);
  Pump();
}

namespace {

// Drops the combo box's list down and finds the centre of its entry index.
bool DropDownEntry(HWND combo, int index, HWND& list, POINT& centre) {
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
  Pump();
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  if (!GetComboBoxInfo(combo, &info) || !info.hwndList) return false;
  RECT entry{};
  if (SendMessageW(info.hwndList, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&entry)) == LB_ERR) {
    return false;
  }
  list = info.hwndList;
  centre = POINT{(entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2};
  return true;
}

}  // namespace

bool PickDropDownEntry(HWND combo, int index) {
  HWND list = nullptr;
  POINT centre{};
  if (!DropDownEntry(combo, index, list, centre)) return false;
  Click(list, centre);
  return true;
}

bool HoverDropDownEntry(HWND combo, int index) {
  HWND list = nullptr;
  POINT centre{};
  if (!DropDownEntry(combo, index, list, centre)) return false;
  PostMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(centre.x, centre.y));
  Pump();
  return true;
}

std::wstring CellText(HWND list, int row, int column) {
  wchar_t text[4096] = L"";
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 4096;
  SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
  return text;
}

int FindRow(HWND list, const std::wstring& text) {
  const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    if (CellText(list, row, 0) == text) return row;
  }
  return -1;
}

std::wstring TreeItemText(HWND tree, HTREEITEM item) {
  wchar_t text[1024] = L"";
  TVITEMW info{};
  info.mask = TVIF_TEXT;
  info.hItem = item;
  info.pszText = text;
  info.cchTextMax = 1024;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&info));
  return text;
}

HTREEITEM FindTreeItem(HWND tree, const std::wstring& label, HTREEITEM below) {
  for (HTREEITEM item = below ? TreeView_GetChild(tree, below) : TreeView_GetRoot(tree); item;
       item = TreeView_GetNextSibling(tree, item)) {
    if (TreeItemText(tree, item) == label) return item;
    if (HTREEITEM found = FindTreeItem(tree, label, item)) return found;
  }
  return nullptr;
}

bool ProcessHeapsValid() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!HeapValidate(heaps[i], 0, nullptr)) return false;
  }
  return true;
}

HWND CreateTestParent(WNDPROC proc, int width, int height) {
  WNDCLASSW parentClass{};
  parentClass.lpfnWndProc = proc ? proc : DefWindowProcW;
  parentClass.hInstance = GetModuleHandleW(nullptr);
  parentClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  parentClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  parentClass.lpszClassName = L"UiTestParent";
  UnregisterClassW(L"UiTestParent", parentClass.hInstance);
  RegisterClassW(&parentClass);
  HWND parent = CreateWindowExW(0, L"UiTestParent", L"Test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                                width, height, nullptr, nullptr, parentClass.hInstance, nullptr);
  Pump();
  return parent;
}

}  // namespace uitest

namespace uitest {

namespace {

struct DialogSearch {
  const wchar_t* title;
  const wchar_t* showing;
  HWND found = nullptr;
};

BOOL CALLBACK ChildShows(HWND child, LPARAM lParam) {
  auto* search = reinterpret_cast<DialogSearch*>(lParam);
  if (WindowText(child).find(search->showing) == std::wstring::npos) return TRUE;
  search->found = GetAncestor(child, GA_ROOT);
  return FALSE;
}

BOOL CALLBACK MatchDialog(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<DialogSearch*>(lParam);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t className[16] = L"";
  GetClassNameW(window, className, 16);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window) ||
      std::wstring(className) != L"#32770" || WindowText(window) != search->title)
    return TRUE;
  if (!search->showing) {
    search->found = window;
    return FALSE;
  }
  EnumChildWindows(window, ChildShows, lParam);
  return search->found == nullptr;
}

HWND FindDialog(const wchar_t* title, const wchar_t* showing) {
  DialogSearch search{title, showing};
  EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

HWND WaitForDialog(const wchar_t* title, const wchar_t* showing, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (HWND dialog = FindDialog(title, showing)) return dialog;
    Sleep(50);
  }
  return nullptr;
}

bool DialogShown(const wchar_t* title, const wchar_t* showing) {
  return FindDialog(title, showing) != nullptr;
}

void PressButton(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

bool AnswerDialog(const wchar_t* title, const wchar_t* showing, int id) {
  HWND dialog = WaitForDialog(title, showing);
  if (dialog) PressButton(dialog, id);
  return dialog != nullptr;
}

bool AnswerFileDialog(const wchar_t* title, const std::wstring& path) {
  HWND dialog = WaitForDialog(title ? title : L"Open");
  if (!dialog) return false;
  Sleep(300);  // the dialog fills its controls after it shows
  SendMessageW(GetDlgItem(dialog, 0x47C), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  return true;
}

}  // namespace uitest
