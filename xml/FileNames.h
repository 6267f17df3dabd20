// Files named by UTF-8 paths, the one encoding names have inside the program.
// On Windows each call becomes the wide one, so that a name outside the ANSI
// code page (a Cyrillic user folder, say) is reached; elsewhere names are
// bytes already. Only FileNames_win.cpp includes <windows.h>.
#pragma once

#include <cstdio>
#include <string>

// As std::fopen (errno set on failure).
std::FILE* OpenFileUtf8(const std::string& path, const char* mode);

// Creates path for binary writing only if nothing of that name exists; null
// otherwise, with errno EEXIST when something does.
std::FILE* CreateNewFileUtf8(const std::string& path);

// Deletes the file; false when it could not (errno set).
bool RemoveFileUtf8(const std::string& path);

// Gives the file the name to; false when it could not, or (on Windows)
// when something of that name exists.
bool RenameFileUtf8(const std::string& from, const std::string& to);

// Whether a file or folder of that name exists.
bool PathExistsUtf8(const std::string& path);
