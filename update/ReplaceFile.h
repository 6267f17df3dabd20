// Putting a new version of an installed file in its place by renames alone,
// so that a running executable can be replaced and the installed file is
// never overwritten in place. Portable: the file operations are handed in.
#pragma once

#include <functional>
#include <string>

#include "update/UpdateProtocol.h"

namespace VULIBRARY {

// The previous version of a replaced file stays at its path plus this suffix
// until the next update removes it.
extern const wchar_t* const kReplacedSuffix;

struct FileOperations {
  std::function<bool(const std::wstring& path)> remove;
  // A move that may cross volumes (and so may copy, and fail half-way).
  std::function<bool(const std::wstring& from, const std::wstring& to)> move;
  // A copy that refuses to overwrite an existing target.
  std::function<bool(const std::wstring& from, const std::wstring& to)> copy;
  std::function<bool(const std::wstring& path)> exists;
};

// Removes the version left by an earlier update, moves localPath aside to
// localPath + kReplacedSuffix and moves newPath in. kResultOk when installed;
// kResultFail otherwise, and then the installed version is at localPath
// again: when moving the new file in fails, whatever that move left at
// localPath is removed and the previous version goes back (moved, or copied
// when it cannot be moved).
Result PutNewVersionInPlace(const FileOperations& files, const std::wstring& localPath,
                            const std::wstring& newPath);

}  // namespace VULIBRARY
