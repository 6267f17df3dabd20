#include "xml/FileReplace.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace xml_detail {

std::string ResolveSaveTarget(const std::string& fileName) { return fileName; }

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
