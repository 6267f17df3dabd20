#include "ui/AnsiText.h"

#include <windows.h>

#include "ui/UiText.h"

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return text;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return Utf8FromWide(wide);
}
