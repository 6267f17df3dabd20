#include "xml/FileNames.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "text/TextConvert.h"

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(WideFromUtf8(path).c_str(), wideMode.c_str());
}

std::FILE* CreateNewFileUtf8(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  const int fd = _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (!file) {
    _close(fd);
    DeleteFileW(wide.c_str());
  }
  return file;
}

bool RemoveFileUtf8(const std::string& path) { return _wremove(WideFromUtf8(path).c_str()) == 0; }

bool RenameFileUtf8(const std::string& from, const std::string& to) {
  return MoveFileW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str()) != 0;
}

bool PathExistsUtf8(const std::string& path) {
  return GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
