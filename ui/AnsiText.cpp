#include "ui/AnsiText.h"

#include <windows.h>
#include <shellapi.h>

#include "ui/UiText.h"

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return text;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return Utf8FromWide(wide);
}

std::string CommandLineArgumentUtf8(const std::string& ansiArgument) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::string found;
  bool matched = false;
  for (int i = 1; arguments && i < count && !matched; ++i) {
    const int length = WideCharToMultiByte(CP_ACP, 0, arguments[i], -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) continue;
    std::string ansi(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, arguments[i], -1, ansi.data(), length, nullptr, nullptr);
    ansi.pop_back();
    if (ansi != ansiArgument) continue;
    found = Utf8FromWide(arguments[i]);
    matched = true;
  }
  LocalFree(arguments);
  return matched ? found : AnsiToUtf8(ansiArgument);
}
