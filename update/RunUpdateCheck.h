// The update command: checks the update server for a newer version of this
// program and, when there is one, installs it and ends the process.
#pragma once

// The product identifier this program is published under.
#define VANTLE_PRODUCT_ID L"5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915"

// Thread-start friendly: the argument is ignored. Failures are silent.
void RunUpdateCheck(void* ignored);

namespace VULIBRARY {
// The same against a given endpoint; returns the check's result (it does not
// return at all when an update was installed). Nothing is done, and
// E_ABORT returned, while a debugger is attached.
int RunUpdateCheckAt(const wchar_t* endpoint);
}  // namespace VULIBRARY
