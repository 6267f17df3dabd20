#include "launcher/MainWindow.h"

#include <process.h>
#include <stdlib.h>

#include "launcher/CommandLine.h"
#include "launcher/GameLaunch.h"
#include "launcher/Storage.h"
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

  const CommandLineRequest request = ReadCommandLine(__argc, __argv);
  // An elevated copy started only to carry out one command: it never builds
  // the list, and the database is not written back.
  if (request.kind == CommandLineRequest::Replay) {
    SendMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(request.command), ElevatedCommandMarker);
    ExitProcess(0);
  }

  GameListWindow = GetDlgItem(dialog, IDC_GAME_LIST);
  OnSize(dialog);

  switch (request.kind) {
    case CommandLineRequest::Run:
      // The new game wizard takes it from here once it is part of the program.
      PresetExecutable = request.argument;
      break;
    case CommandLineRequest::Shortcut:
      RunShortcut(request.argument.c_str());  // returns when no game has that name
      break;
    case CommandLineRequest::Conf:
      RunConfFile(request.argument.c_str());
      break;
    default:
      break;
  }
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
