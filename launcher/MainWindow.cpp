#include "launcher/MainWindow.h"

#include <process.h>

#include "resource.h"
#include "update/RunUpdateCheck.h"

HICON ProgramIcon = nullptr;

namespace {

void OnSize(HWND dialog) {
  RECT client;
  GetClientRect(dialog, &client);
  SetWindowPos(GetDlgItem(dialog, IDC_GAME_LIST), nullptr, 0, 0, client.right, client.bottom,
               SWP_NOZORDER);
}

BOOL OnInitDialog(HWND dialog) {
  // The start-up check runs beside the window and is never waited for; it
  // ends with the process.
  _beginthread(RunUpdateCheck, 0, dialog);
  SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(ProgramIcon));
  SetClassLongPtrA(dialog, GCLP_HICONSM, reinterpret_cast<LONG_PTR>(ProgramIcon));
  OnSize(dialog);
  return TRUE;
}

void OnCommand(HWND dialog, WORD command) {
  switch (command) {
    case IDM_UPDATE_CHECK:
      RunUpdateCheck(dialog);
      break;
    case IDM_EXIT:
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      break;
  }
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
