#include "launcher/window/Messages.h"

void Tell(HWND owner, const std::wstring& text, UINT icon) {
  MessageBoxW(owner, text.c_str(), L"Vantle", MB_OK | icon);
}

std::wstring SystemMessage(HRESULT result) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&text), 0,
                 nullptr);
  std::wstring message = text ? text : L"";
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
    message.pop_back();
  if (message.empty()) {
    wchar_t code[32];
    wsprintfW(code, L"Error 0x%08lX.", static_cast<unsigned long>(result));
    message = code;
  }
  return message;
}
