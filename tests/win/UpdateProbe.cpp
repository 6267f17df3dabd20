// A small program that updates itself the way vtl64.exe does: its window
// starts the update command on a thread of its own, and closing the window
// is its one way out. Built twice, as two releases that differ in the line
// below; the tests publish one and run the other.
//
//   update_probe.exe --label FILE           writes its release label to FILE
//   update_probe.exe ENDPOINT RECORD        runs the update against ENDPOINT;
//                                           RECORD gets "closed" when the
//                                           window was closed by WM_CLOSE
#include <windows.h>
#include <process.h>

#include <cstdio>
#include <string>

#include "update/RunUpdateCheck.h"

namespace {

const char kRelease[] = VANTLE_PROBE_RELEASE;

std::wstring endpoint;
std::wstring record;

void WriteText(const std::wstring& path, const char* text) {
  if (FILE* file = _wfopen(path.c_str(), L"wb")) {
    std::fputs(text, file);
    std::fclose(file);
  }
}

void UpdateThread(void* window) {
  VULIBRARY::RunUpdateCheckAt(endpoint.c_str(), static_cast<HWND>(window));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // Where the real program saves its game database.
      WriteText(record, "closed");
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (count == 3 && std::wstring(args[1]) == L"--label") {
    WriteText(args[2], kRelease);
    return 0;
  }
  if (count != 3) return 2;
  endpoint = args[1];
  record = args[2];

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"VantleUpdateProbe";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(L"VantleUpdateProbe", L"Update probe", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                              nullptr, nullptr, instance, nullptr);
  _beginthread(UpdateThread, 0, window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
