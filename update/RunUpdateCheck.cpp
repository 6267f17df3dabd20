#include "update/RunUpdateCheck.h"

#include <windows.h>
#include <objbase.h>

#include "update/VU.h"
#include "update/WinHandles.h"

namespace VULIBRARY {

int RunUpdateCheckAt(const wchar_t* endpoint) {
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
  if (updater.Update(nullptr, LoadIconA(nullptr, IDI_INFORMATION), L"Updating Vantle") >= 0) {
    MessageBoxW(nullptr, L"Vantle is updated.", L"Vantle", MB_OK | MB_ICONINFORMATION);
    ExitProcess(0);
  }
  return checked;
}

}  // namespace VULIBRARY

void RunUpdateCheck(void*) { VULIBRARY::RunUpdateCheckAt(VULIBRARY::UpdateServerUrl); }
