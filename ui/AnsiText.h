// Text in the system's ANSI code page (the narrow command line) as UTF-8, the
// encoding the library and the windows use.
#pragma once

#include <string>

std::string AnsiToUtf8(const std::string& text);

// An argument of this process's command line as UTF-8. The narrow argument
// vector holds the ANSI form, in which a character outside the code page is
// lost ("?"); the wide command line still has it. The wide argument whose
// ANSI form is ansiArgument is returned, or AnsiToUtf8(ansiArgument) when
// none is.
std::string CommandLineArgumentUtf8(const std::string& ansiArgument);
