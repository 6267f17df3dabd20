// Text in the system's ANSI code page (the narrow command line) as UTF-8, the
// encoding the library and the windows use.
#pragma once

#include <string>

std::string AnsiToUtf8(const std::string& text);
