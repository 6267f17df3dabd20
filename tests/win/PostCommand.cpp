// Not a test: sends a menu command to a running Vantle window, for
// screenshots of what the command opens.   post_command.exe COMMAND
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HWND main = FindWindowW(L"#32770", L"Vantle");
  if (!main) return 1;
  PostMessageW(main, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[1])), 0);
  return 0;
}
