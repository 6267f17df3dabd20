#include "launcher/FileStamp.h"

#include <sys/stat.h>

#include <cerrno>

FileStamp ReadFileStamp(const std::string& path) {
  FileStamp stamp;
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    // A file that is there but cannot be asked counts as there, with a stamp
    // no real file has: whoever compares it then reads the file to know.
    stamp.exists = errno != ENOENT && errno != ENOTDIR;
    return stamp;
  }
  stamp.exists = true;
  stamp.volume = static_cast<std::uint64_t>(status.st_dev);
  stamp.index = static_cast<std::uint64_t>(status.st_ino);
  stamp.size = static_cast<std::uint64_t>(status.st_size);
  stamp.written = static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1000000000ull +
                  static_cast<std::uint64_t>(status.st_mtim.tv_nsec);
  return stamp;
}
