#include "text/AnsiText.h"

#include <windows.h>
#include <shellapi.h>

#include "text/TextConvert.h"

namespace {

// Wide text in the ANSI code page; false when a character has no exact form.
bool AnsiFromWide(const std::wstring& wide, std::string& ansi) {
  ansi.clear();
  if (wide.empty()) return true;
  BOOL lossy = FALSE;
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return false;
  ansi.assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, &ansi[0], length, nullptr, &lossy);
  if (!lossy) return true;
  ansi.clear();
  return false;
}

}  // namespace

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return text;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return Utf8FromWide(wide);
}

bool Utf8ToAnsi(const std::string& text, std::string& ansi) { return AnsiFromWide(WideFromUtf8(text), ansi); }

bool ProgramNameAlone(const wchar_t* line, std::wstring& name) {
  if (!line || !*line) return false;
  const wchar_t* end = line;
  if (*line == L'"') {
    for (++end; *end && *end != L'"';) ++end;
    name.assign(line + 1, end);
    if (*end) ++end;
  } else {
    while (*end && *end != L' ' && *end != L'\t') ++end;
    name.assign(line, end);
  }
  while (*end == L' ' || *end == L'\t') ++end;
  return *end == L'\0';
}

std::vector<std::string> CommandLineArgumentsUtf8() {
  // A start without arguments, the usual one, is read here: the shell's
  // reader loads shell32, and with it the window libraries, which would hold
  // up the reading of the library at start.
  std::wstring program;
  if (ProgramNameAlone(GetCommandLineW(), program)) return {Utf8FromWide(program)};
  std::vector<std::string> result;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; arguments && i < count; ++i) result.push_back(Utf8FromWide(arguments[i]));
  LocalFree(arguments);
  return result;
}
