#include "xml/FileReplace.h"

#include <cerrno>
#include <io.h>
#include <windows.h>

#include "text/TextConvert.h"
#include "xml/FileNames.h"

namespace xml_detail {

std::string ResolveSaveTarget(const std::string& fileName) { return fileName; }

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
