#include "xml/FileNames.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "xml/FileNamesWin.h"

std::wstring WidePath(const std::string& path) {
  if (path.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0)
    MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0], length);
  return wide;
}

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(WidePath(path).c_str(), wideMode.c_str());
}

std::FILE* CreateNewFileUtf8(const std::string& path) {
  const std::wstring wide = WidePath(path);
  const int fd = _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (!file) {
    _close(fd);
    DeleteFileW(wide.c_str());
  }
  return file;
}

bool RemoveFileUtf8(const std::string& path) { return _wremove(WidePath(path).c_str()) == 0; }

bool RenameFileUtf8(const std::string& from, const std::string& to) {
  return MoveFileW(WidePath(from).c_str(), WidePath(to).c_str()) != 0;
}

bool PathExistsUtf8(const std::string& path) {
  return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
