// Installing a downloaded or rebuilt file: its hash, its signature, and the
// renames that put it in place of the installed one.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include "update/ReplaceFile.h"
#include "update/VU.h"
#include "update/WinHandles.h"

namespace VULIBRARY {

namespace {

FileOperations WindowsFileOperations() {
  FileOperations files;
  files.remove = [](const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; };
  // MoveFileW renames within a volume and copies across volumes (the
  // temporary folder may lie on another one).
  files.move = [](const std::wstring& from, const std::wstring& to) {
    return MoveFileW(from.c_str(), to.c_str()) != FALSE;
  };
  files.copy = [](const std::wstring& from, const std::wstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), TRUE) != FALSE;
  };
  files.exists = [](const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  return files;
}

}  // namespace

LONG VerifyFileSignature(const wchar_t* path) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  // The verification keeps state until it is closed.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return verdict;
}

std::wstring MakeTempFileName() {
  wchar_t folder[1000] = L"";
  const DWORD length = GetTempPathW(sizeof folder / sizeof folder[0], folder);
  if (length == 0 || length >= sizeof folder / sizeof folder[0]) return std::wstring();
  wchar_t name[MAX_PATH + 1] = L"";
  if (GetTempFileNameW(folder, L"", 0, name) == 0) return std::wstring();
  // Only the unique name is wanted; the empty file it made goes again.
  DeleteFileW(name);
  return name;
}

bool ExtractEntryToFile(MemoryZipArchive& archive, std::uint64_t index, std::uint64_t maxBytes,
                        const std::wstring& path) {
  KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return false;
  }
  return archive.ReadEntry(index, maxBytes, [&file](const char* data, std::size_t size) {
    DWORD written = 0;
    return WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  });
}

HRESULT InstallFile(const UpdateFile& file, const std::wstring& newPath, const std::wstring& runningProgram) {
  if (!SameHash(LocalFileHash(newPath), file.serverHash)) return E_FAIL;
  if (file.verifySignature && VerifyFileSignature(newPath.c_str()) < 0) return E_FAIL;
  if (file.verifySignature && !IsOwnRelease(runningProgram, newPath)) return E_FAIL;
  return PutNewVersionInPlace(WindowsFileOperations(), file.localPath, newPath);
}

HRESULT InstallFile(const UpdateFile& file, const std::wstring& newPath) {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
    if (length == 0) return E_FAIL;
    if (length < self.size()) {
      self.resize(length);
      break;
    }
    self.resize(self.size() * 2);
  }
  return InstallFile(file, newPath, self);
}

}  // namespace VULIBRARY
