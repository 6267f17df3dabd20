// Entry point of vtl64.exe: prepares the common controls and runs the main
// dialog until the user closes it.
#include <windows.h>
#include <commctrl.h>

namespace {

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      break;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), 0x7FF};
  InitCommonControlsEx(&controls);
  DialogBoxParamA(instance, "DIALOG_1", nullptr, MainDialogProc, 0);
  return 0;
}
