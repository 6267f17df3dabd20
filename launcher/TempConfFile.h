// A temporary configuration (a launch's in the profile folder, the Wine
// bridge's in the temporary folder). It is created exclusively (an existing
// file, or a link planted at the name, is never opened or followed) and
// written through the handle that created it. It is deleted only when its
// name still leads to that very file, so that nothing else can be
// overwritten or removed in its stead. Windows only.
#pragma once

#include <windows.h>

#include <string>

class TempConfFile {
 public:
  TempConfFile() = default;
  ~TempConfFile();  // deletes the file
  TempConfFile(const TempConfFile&) = delete;
  TempConfFile& operator=(const TempConfFile&) = delete;

  // Creates "<prefix><hex>.tmp" in folder and writes bytes into it. False,
  // with GetLastError's code kept in error(), when no file could be made or
  // written; whatever was made is gone again.
  bool Create(const std::wstring& folder, const char* prefix, const std::string& bytes);

  const std::wstring& path() const { return path_; }
  DWORD error() const { return error_; }

  // Deletes the file. Readers that do not share deletion (DOSBox) hold it
  // back; the attempt is repeated for up to waitMilliseconds.
  void Delete(DWORD waitMilliseconds = 0);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::wstring path_;
  DWORD error_ = 0;
};
