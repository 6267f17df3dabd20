// The narrow world: the system's ANSI code page, in which DOSBox reads its
// configuration and older programs take their arguments. Windows only.
#pragma once

#include <string>
#include <vector>

// Text in the ANSI code page as UTF-8.
std::string AnsiToUtf8(const std::string& text);

// UTF-8 text in the ANSI code page. False (and ansi left empty) when the code
// page cannot hold every character: no best-fit stand-ins, which would name
// another file.
bool Utf8ToAnsi(const std::string& text, std::string& ansi);

// This process's arguments (the program's name first), read from the wide
// command line, as UTF-8: nothing outside the code page is lost.
std::vector<std::string> CommandLineArgumentsUtf8();

// The program's name when nothing but blanks follows it in line, read as the
// shell reads a first argument: up to the closing quote when it begins with
// one, else up to the first blank. False when arguments follow.
bool ProgramNameAlone(const wchar_t* line, std::wstring& name);
