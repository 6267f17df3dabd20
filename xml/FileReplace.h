// The few file operations a safe save needs that differ between systems:
// write a new file beside the old one, push it to the disk, then put it in the
// old one's place in one step. Only FileReplace_win.cpp includes <windows.h>.
#pragma once

#include <cstdio>
#include <string>

namespace xml_detail {

// The file a save of fileName really replaces (symbolic links followed).
std::string ResolveSaveTarget(const std::string& fileName);

// Creates a new, empty file in the folder of target for binary writing and
// stores its name in tempPath. Null when target exists but may not be
// written (a read-only file stays as it is) or no file can be created.
std::FILE* OpenTempBeside(const std::string& target, std::string& tempPath);

// Hands the stream's data to the system and has the system write it to disk.
bool FlushToDisk(std::FILE* file);

// Puts temp in the place of target, replacing target if it exists.
bool MoveOver(const std::string& temp, const std::string& target);

}  // namespace xml_detail
