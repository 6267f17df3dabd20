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
  // A rename on one volume only (no copy that a cut could leave half-made
  // under the installed name), and on the disk before it returns.
  files.move = [](const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  };
  files.copy = [](const std::wstring& from, const std::wstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), TRUE) != FALSE;
  };
  files.exists = [](const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  return files;
}

std::wstring RunningProgram() {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
    if (length == 0) return std::wstring();
    if (length < self.size()) {
      self.resize(length);
      return self;
    }
    self.resize(self.size() * 2);
  }
}

bool Accepts(const UpdateFile& file, const std::wstring& newPath, const std::wstring& runningProgram) {
  if (!SameHash(LocalFileHash(newPath), file.serverHash)) return false;
  if (file.verifySignature && VerifyFileSignature(newPath.c_str()) < 0) return false;
  return !file.verifySignature || IsOwnRelease(runningProgram, newPath);
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

bool ExtractEntryTo(MemoryZipArchive& archive, std::uint64_t index, std::uint64_t maxBytes, HANDLE out) {
  return archive.ReadEntry(index, maxBytes, [out](const char* data, std::size_t size) {
    DWORD written = 0;
    return WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  });
}

HRESULT InstallFile(const UpdateFile& file, const std::wstring& newPath, const std::wstring& runningProgram) {
  if (!Accepts(file, newPath, runningProgram)) return E_FAIL;
  return PutNewVersionInPlace(WindowsFileOperations(), file.localPath, newPath);
}

HRESULT InstallFile(const UpdateFile& file, const std::wstring& newPath) {
  const std::wstring self = RunningProgram();
  return self.empty() ? E_FAIL : InstallFile(file, newPath, self);
}

HRESULT InstallNewVersion(const UpdateFile& file, const std::function<bool(HANDLE)>& fill) {
  const std::wstring self = RunningProgram();
  if (self.empty()) return E_FAIL;
  NewVersion version;
  version.write = [&fill](const std::wstring& path) {
    // Exclusively: whatever lies at the name stays out of it.
    KernelHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.get() == INVALID_HANDLE_VALUE) {
      out.release();
      return false;
    }
    return fill(out.get()) && FlushFileBuffers(out.get());
  };
  version.accept = [&](const std::wstring& path) { return Accepts(file, path, self); };
  return InstallBeside(WindowsFileOperations(), file.localPath, version);
}

HRESULT CompleteStagedVersion(const UpdateFile& file) {
  const FileOperations files = WindowsFileOperations();
  // A file that is current needs no new version, whatever lies beside it.
  if (IsUpToDate(file)) {
    files.remove(file.localPath + kStagedSuffix);
    return S_FALSE;
  }
  const std::wstring self = RunningProgram();
  if (self.empty()) return E_FAIL;
  return CompleteStagedVersion(files, file.localPath,
                               [&](const std::wstring& path) { return Accepts(file, path, self); });
}

void RecoverCutOffInstall(const std::wstring& localPath) {
  RecoverCutOffInstall(WindowsFileOperations(), localPath);
}

}  // namespace VULIBRARY
