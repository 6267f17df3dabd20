#include "launcher/MainWindow.h"

#include "resource.h"

HICON ProgramIcon = nullptr;

namespace {

void OnSize(HWND dialog) {
  RECT client;
  GetClientRect(dialog, &client);
  SetWindowPos(GetDlgItem(dialog, IDC_GAME_LIST), nullptr, 0, 0, client.right, client.bottom,
               SWP_NOZORDER);
}

BOOL OnInitDialog(HWND dialog) {
  SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(ProgramIcon));
  SetClassLongPtrA(dialog, GCLP_HICONSM, reinterpret_cast<LONG_PTR>(ProgramIcon));
  OnSize(dialog);
  return TRUE;
}

void OnCommand(HWND dialog, WORD command) {
  if (command == IDM_EXIT) PostMessageA(dialog, WM_CLOSE, 0, 0);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_SIZE:
      OnSize(dialog);
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}
