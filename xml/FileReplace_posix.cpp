#include "xml/FileReplace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xml_detail {
namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ResolveSaveTarget(const std::string& fileName) {
  // Renaming over a symbolic link would replace the link, not the file.
  struct stat st;
  if (lstat(fileName.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return fileName;
  char resolved[PATH_MAX];
  if (!realpath(fileName.c_str(), resolved)) return fileName;
  return resolved;
}

std::FILE* OpenTempBeside(const std::string& target, std::string& tempPath) {
  struct stat st;
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists && access(target.c_str(), W_OK) != 0) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = target + ".~" + std::to_string(attempt) + ".tmp";
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    // The replacement keeps the permissions of the file it replaces.
    if (exists) (void)fchmod(fd, st.st_mode & 07777);
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
      close(fd);
      unlink(name.c_str());
      return nullptr;
    }
    tempPath = name;
    return file;
  }
  return nullptr;
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool MoveOver(const std::string& temp, const std::string& target) {
  if (std::rename(temp.c_str(), target.c_str()) != 0) return false;
  // Make the rename itself last; the new file is in place either way.
  int folder = open(FolderOf(target).c_str(), O_RDONLY | O_CLOEXEC);
  if (folder >= 0) {
    (void)fsync(folder);
    close(folder);
  }
  return true;
}

}  // namespace xml_detail
