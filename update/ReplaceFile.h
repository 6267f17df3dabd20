// Putting a new version of an installed file in its place by renames alone,
// so that a running executable can be replaced and the installed file is
// never overwritten in place, and so that an install cut off at any moment
// (a power cut, a kill) never leaves a piece of a program under its name.
// Portable: the file operations are handed in.
#pragma once

#include <functional>
#include <string>

#include "update/UpdateProtocol.h"

namespace VULIBRARY {

// The previous version of a replaced file stays at its path plus this suffix
// until the program next starts from the new one.
extern const wchar_t* const kReplacedSuffix;
// A new version is written at its installed path plus this suffix, beside
// the installed file on its volume, and renamed over only once it is whole
// on the disk and has passed its tests.
extern const wchar_t* const kStagedSuffix;

struct FileOperations {
  std::function<bool(const std::wstring& path)> remove;
  // A rename within one volume, on the disk when it returns; never a copy.
  std::function<bool(const std::wstring& from, const std::wstring& to)> move;
  // A copy that refuses to overwrite an existing target.
  std::function<bool(const std::wstring& from, const std::wstring& to)> copy;
  std::function<bool(const std::wstring& path)> exists;
};

// What a new version is made of and what it must pass.
struct NewVersion {
  // Creates path (where nothing is) with the new version's bytes and has them
  // on the disk before it returns; false when any of that failed.
  std::function<bool(const std::wstring& path)> write;
  // The tests a new version must pass to be installed (hash, signature).
  std::function<bool(const std::wstring& path)> accept;
};

// Removes the version left by an earlier update, moves localPath aside to
// localPath + kReplacedSuffix and moves newPath in. kResultOk when installed;
// kResultFail otherwise, and then the installed version is at localPath
// again: when moving the new file in fails, whatever that move left at
// localPath is removed and the previous version goes back (moved, or copied
// when it cannot be moved).
Result PutNewVersionInPlace(const FileOperations& files, const std::wstring& localPath,
                            const std::wstring& newPath);

// The whole install of one file: a leftover at localPath + kStagedSuffix is
// removed, the new version written there and tested, then put in place.
// kResultOk when installed; kResultFail otherwise, with the installed version
// at localPath and nothing left beside it.
Result InstallBeside(const FileOperations& files, const std::wstring& localPath, const NewVersion& version);

// At start, before anything else touches the file: an install cut off
// between its two renames left no file at localPath but the previous version
// beside it, which goes back; a previous version beside a file that is there
// has done its service and is removed (it fails harmlessly while a closing
// program still runs from it). A new version left beside is kept for
// CompleteStagedVersion, which knows the hash it must have.
void RecoverCutOffInstall(const FileOperations& files, const std::wstring& localPath);

// At an update, before anything is fetched: a new version left beside the
// installed file by a cut-off install is put in place when it passes accept
// (kResultOk), and removed otherwise (kResultFail, the installed version
// untouched); kResultDifferent when there is none.
Result CompleteStagedVersion(const FileOperations& files, const std::wstring& localPath,
                             const std::function<bool(const std::wstring& path)>& accept);

}  // namespace VULIBRARY
