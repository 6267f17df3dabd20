#include "launcher/ShellNames.h"

#include <algorithm>
#include <cctype>
#include <cstring>

std::string FolderOfRunPath(const std::string& run) {
  const std::size_t slash = run.rfind('\\');
  return slash == std::string::npos ? run : run.substr(0, slash);
}

namespace {

bool IsDeviceName(const std::string& stem) {
  // The device names are reserved with any extension, so "CON.lnk" is the
  // console and "nul.conf" a file that swallows what is written to it.
  std::string base = stem.substr(0, stem.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (base == device) return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

std::string FileNameStem(const std::string& name) {
  std::string stem;
  stem.reserve(name.size());
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool forbidden = byte < 0x20 || byte == 0x7F || std::strchr("\\/:*?\"<>|", c);
    stem += forbidden ? '_' : c;
  }
  while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.pop_back();
  if (stem.empty()) return "Game";
  if (IsDeviceName(stem)) stem.insert(std::min(stem.find('.'), stem.size()), 1, '_');
  return stem;
}

std::string QuoteArgument(const std::string& argument) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there they are doubled, and
    // one more escapes the quote itself.
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + '"';
}

std::string ShellVerbCommand(const std::string& programPath, bool confForm) {
  return "\"" + programPath + "\"" + (confForm ? " -conf \"%1\"" : " -run \"%1\"");
}

std::string LinkOpenCommand(const std::string& programPath) {
  return "\"" + programPath + "\" -shortcut \"%1\"";
}
