// The Windows side of FileNames.h, for the other Windows files of this
// folder: a UTF-8 path as the wide text the system's calls take.
#pragma once

#include <string>

std::wstring WidePath(const std::string& path);
