// Not a test: sends a menu command to a running Vantle window, for
// screenshots of what the command opens.   post_command.exe COMMAND [first]
// With "first", the first game of the list is selected before.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HWND main = FindWindowW(L"#32770", L"Vantle");
  if (!main) return 1;
  if (argc > 2 && std::strcmp(argv[2], "first") == 0) {
    HWND list = FindWindowExW(main, nullptr, L"SysListView32", nullptr);
    PostMessageW(list, WM_KEYDOWN, VK_HOME, 1);
    PostMessageW(list, WM_KEYUP, VK_HOME, 0xC0000001);
    Sleep(300);
  }
  PostMessageW(main, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[1])), 0);
  return 0;
}
