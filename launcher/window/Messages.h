// The launcher's message boxes, all titled "Vantle", and the system's own
// words for an error code to put in them.
#pragma once

#include <windows.h>

#include <string>

void Tell(HWND owner, const std::wstring& text, UINT icon);

// The system's text for an HRESULT (a Win32 error too, as HRESULT_FROM_WIN32
// makes it), without its line break; "Error 0x...." when it has none.
std::wstring SystemMessage(HRESULT result);
