#include "update/RunUpdateCheck.h"

#include <objbase.h>

#include "update/VU.h"
#include "update/WinHandles.h"

namespace VULIBRARY {

int RunUpdateCheckAt(const wchar_t* endpoint, HWND mainWindow) {
  // Someone stepping through the program does not want it replaced under them.
  if (IsDebuggerPresent()) return E_ABORT;
  ComApartment com(COINIT_APARTMENTTHREADED);

  VU updater(VANTLE_PRODUCT_ID, endpoint);
  wchar_t self[1000] = L"";
  const DWORD length = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
  if (length == 0 || length >= sizeof self / sizeof self[0]) return E_FAIL;  // a cut path names another file
  updater.AddFile(UpdateFile(self, L"vtl64.exe", L"vtl64.exe.sig", true));

  const int checked = updater.Check();
  if (checked != S_FALSE) return checked;
  const int updated = updater.Update(nullptr, LoadIconA(nullptr, IDI_INFORMATION), L"Updating Vantle");
  if (updated < 0) return updated;

  // The box belongs to the main window only when that window is ours: an
  // owner on another thread would tie the two threads' input together.
  const bool ownWindow = mainWindow && GetWindowThreadProcessId(mainWindow, nullptr) == GetCurrentThreadId();
  MessageBoxW(ownWindow ? mainWindow : nullptr, L"Vantle is updated.", L"Vantle", MB_OK | MB_ICONINFORMATION);
  // The program keeps running from the moved-aside file; closing the main
  // window ends it the usual way, saving the game database on the way out.
  if (mainWindow) PostMessageW(mainWindow, WM_CLOSE, 0, 0);
  return updated;
}

}  // namespace VULIBRARY

void RunUpdateCheck(void* mainWindow) {
  VULIBRARY::RunUpdateCheckAt(VULIBRARY::UpdateServerUrl, static_cast<HWND>(mainWindow));
}
