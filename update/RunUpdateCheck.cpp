#include "update/RunUpdateCheck.h"

#include <objbase.h>

#include "update/VU.h"
#include "update/WinHandles.h"

namespace VULIBRARY {

CheckOutcome RunUpdateCheckAt(const wchar_t* endpoint, HWND mainWindow) {
  CheckOutcome outcome;
  // Someone stepping through the program does not want it replaced under them.
  if (IsDebuggerPresent()) {
    outcome.result = E_ABORT;
    outcome.reason = L"updates are not checked while a debugger is attached";
    return outcome;
  }
  ComApartment com(COINIT_APARTMENTTHREADED);

  VU updater(VANTLE_PRODUCT_ID, endpoint);
  wchar_t self[1000] = L"";
  const DWORD length = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
  if (length == 0 || length >= sizeof self / sizeof self[0]) {  // a cut path names another file
    outcome.result = E_FAIL;
    outcome.reason = L"the path of this program is too long to be checked";
    return outcome;
  }
  updater.AddFile(UpdateFile(self, L"vtl64.exe", L"vtl64.exe.sig", true));
  for (const UpdateFile& file : updater.files) RecoverCutOffInstall(file.localPath);

  outcome.result = updater.Check();
  outcome.reason = updater.failure;
  if (outcome.result != S_FALSE) return outcome;

  outcome.updateFound = true;
  outcome.result = updater.Update(nullptr, LoadIconA(nullptr, IDI_INFORMATION), L"Updating Vantle");
  outcome.reason = updater.failure;
  if (!outcome.Installed()) return outcome;

  // The box belongs to the main window only when that window is ours: an
  // owner on another thread would tie the two threads' input together.
  const bool ownWindow = mainWindow && GetWindowThreadProcessId(mainWindow, nullptr) == GetCurrentThreadId();
  MessageBoxW(ownWindow ? mainWindow : nullptr, CheckOutcomeMessage(outcome).c_str(), L"Vantle",
              MB_OK | MB_ICONINFORMATION);
  // The program keeps running from the moved-aside file; closing the main
  // window ends it the usual way, saving the game database on the way out.
  if (mainWindow) PostMessageW(mainWindow, WM_CLOSE, 0, 0);
  return outcome;
}

}  // namespace VULIBRARY
