#include "xml/FileReplace.h"

#include <cerrno>
#include <io.h>
#include <windows.h>

#include "text/TextConvert.h"
#include "xml/FileNames.h"

namespace xml_detail {

namespace {

// The path the system reports for an open file, as UTF-8 and without the
// "\\?\" form's prefix; empty when there is none.
std::string FinalPathOf(HANDLE file) {
  wchar_t path[MAX_PATH + 8] = L"";
  const DWORD length = GetFinalPathNameByHandleW(file, path, MAX_PATH + 8, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= MAX_PATH + 8) return std::string();
  std::wstring result(path, length);
  if (result.rfind(L"\\\\?\\UNC\\", 0) == 0)
    result = L"\\\\" + result.substr(8);
  else if (result.rfind(L"\\\\?\\", 0) == 0)
    result = result.substr(4);
  return Utf8FromWide(result);
}

}  // namespace

std::string ResolveSaveTarget(const std::string& fileName) {
  // Renaming over a symbolic link would replace the link, not the file it
  // leads to. The system names the file a path finally reaches; where that
  // is another file than the path itself, the save goes there. (Wine shows a
  // host link as a plain file, so the name is compared rather than the
  // file's attributes asked.)
  const std::wstring wide = WideFromUtf8(fileName);
  HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fileName;
  const std::string final = FinalPathOf(file);
  CloseHandle(file);
  wchar_t full[MAX_PATH + 8] = L"";
  const DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH + 8, full, nullptr);
  if (final.empty() || length == 0 || length >= MAX_PATH + 8 || lstrcmpiW(full, WideFromUtf8(final).c_str()) == 0)
    return fileName;
  return final;
}

std::FILE* OpenTempBeside(const std::string& target, std::string& tempPath) {
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = target + ".~" + std::to_string(attempt) + ".tmp";
    std::FILE* file = CreateNewFileUtf8(name);
    if (!file) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    tempPath = name;
    return file;
  }
  return nullptr;
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

bool MoveOver(const std::string& temp, const std::string& target) {
  // rename() refuses an existing target here; this replaces it in one step.
  return MoveFileExW(WideFromUtf8(temp).c_str(), WideFromUtf8(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace xml_detail
