#include "xml/FileReplace.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace xml_detail {

namespace {

// The path the system reports for an open file, without the "\\?\" form's
// prefix; empty when there is none that the 8-bit functions can use.
std::string FinalPathOf(HANDLE file) {
  char path[MAX_PATH + 8] = "";
  const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string result(path, length);
  if (result.rfind("\\\\?\\UNC\\", 0) == 0)
    result = "\\\\" + result.substr(8);
  else if (result.rfind("\\\\?\\", 0) == 0)
    result = result.substr(4);
  // A character outside the code page comes back as "?", which no file
  // name holds: such a path cannot be used.
  if (result.find('?') != std::string::npos) return std::string();
  return result;
}

}  // namespace

std::string ResolveSaveTarget(const std::string& fileName) {
  // Renaming over a symbolic link would replace the link, not the file it
  // leads to. The system names the file a path finally reaches; where that
  // is another file than the path itself, the save goes there. (Wine shows a
  // host link as a plain file, so the name is compared rather than the
  // file's attributes asked.)
  HANDLE file = CreateFileA(fileName.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fileName;
  const std::string final = FinalPathOf(file);
  CloseHandle(file);
  char full[MAX_PATH + 8] = "";
  const DWORD length = GetFullPathNameA(fileName.c_str(), sizeof full, full, nullptr);
  if (final.empty() || length == 0 || length >= sizeof full || lstrcmpiA(full, final.c_str()) == 0) return fileName;
  return final;
}

std::FILE* OpenTempBeside(const std::string& target, std::string& tempPath) {
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = target + ".~" + std::to_string(attempt) + ".tmp";
    int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) {
      _close(fd);
      DeleteFileA(name.c_str());
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
  return MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace xml_detail
