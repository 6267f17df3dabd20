#include "xml/FileNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::FILE* CreateNewFileUtf8(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    close(fd);
    unlink(path.c_str());
  }
  return file;
}

bool RemoveFileUtf8(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool RenameFileUtf8(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool PathExistsUtf8(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}
