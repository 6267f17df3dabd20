// Shows the XML editor window on a file's first game, for looking at it:
//   editor_preview.exe FILE [ELEMENT-LABEL [ROW-NAME]]
// selects the tree item with that label and, with a row name, opens that
// row's value editor (and its drop-down list). Ends when the window closes.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "launcher/GameSchema.h"
#include "ui/PropertyGrid.h"
#include "ui/UiText.h"
#include "ui/XmlEditor.h"

namespace {

HTREEITEM FindItem(HWND tree, const std::wstring& label, HTREEITEM from) {
  for (HTREEITEM item = from ? TreeView_GetChild(tree, from) : TreeView_GetRoot(tree); item;
       item = TreeView_GetNextSibling(tree, item)) {
    wchar_t text[1000] = L"";
    TVITEMW info{};
    info.mask = TVIF_TEXT;
    info.hItem = item;
    info.pszText = text;
    info.cchTextMax = 1000;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&info));
    if (label == text) return item;
    if (HTREEITEM below = FindItem(tree, label, item)) return below;
  }
  return nullptr;
}

int FindRow(HWND grid, const std::wstring& name) {
  for (int row = 0; row < ListView_GetItemCount(grid); ++row) {
    wchar_t text[1000] = L"";
    LVITEMW cell{};
    cell.pszText = text;
    cell.cchTextMax = 1000;
    SendMessageW(grid, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
    if (name == text) return row;
  }
  return -1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), 0x7FF};
  InitCommonControlsEx(&controls);
  LoadLibraryA("RICHED20.DLL");
  RegisterGridClasses(instance);
  if (__argc < 2) return 2;
  XmlDocument document(__argv[1]);
  XmlElement* game = TemplateEntry(document);
  if (!game) return 1;

  HWND editor = OpenXmlEditor(nullptr, game, nullptr);
  MoveWindow(editor, 30, 30, 960, 640, TRUE);
  HWND tree = GetDlgItem(editor, kEditorTreeId);
  HWND grid = GetDlgItem(editor, kEditorGridId);
  if (__argc > 2) {
    if (HTREEITEM item = FindItem(tree, WideFromUtf8(__argv[2]), nullptr)) TreeView_SelectItem(tree, item);
  }
  if (__argc > 3) {
    const int row = FindRow(grid, WideFromUtf8(__argv[3]));
    if (row >= 0) SendMessageW(grid, GRIDM_EDITCELL, row, 1);
    HWND box = reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));
    if (box) SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  }
  MSG message;
  while (IsWindow(editor) && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
