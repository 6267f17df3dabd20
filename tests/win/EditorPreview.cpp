// Shows the XML editor window on a file's first game, for looking at it:
//   editor_preview.exe FILE [ELEMENT-LABEL [ROW-NAME]]
// selects the tree item with that label and, with a row name, opens that
// row's value editor (and its drop-down list). Ends when the window closes.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "UiDriver.h"
#include "launcher/GameSchema.h"
#include "ui/PropertyGrid.h"
#include "text/TextConvert.h"
#include "ui/XmlEditor.h"

namespace {

HWND editor = nullptr;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), 0x7FF};
  InitCommonControlsEx(&controls);
  RegisterGridClasses(instance);
  if (__argc < 2) return 2;
  XmlDocument document(__argv[1]);
  XmlElement* game = TemplateEntry(document);
  if (!game) return 1;

  editor = OpenXmlEditor(nullptr, game, nullptr);
  MoveWindow(editor, 30, 30, 960, 640, TRUE);
  // Selecting and opening wait until the window is on the screen, as they
  // would for a person.
  SetTimer(nullptr, 0, 700, [](HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND tree = GetDlgItem(editor, kEditorTreeId);
    HWND grid = GetDlgItem(editor, kEditorGridId);
    if (__argc > 2) {
      if (HTREEITEM item = uitest::FindTreeItem(tree, WideFromUtf8(__argv[2]))) TreeView_SelectItem(tree, item);
    }
    if (__argc > 3) {
      const int row = uitest::FindRow(grid, WideFromUtf8(__argv[3]));
      if (row >= 0) SendMessageW(grid, GRIDM_EDITCELL, row, 1);
      HWND box = reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));
      if (box) PostMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
    }
  });
  MSG message;
  while (IsWindow(editor) && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
