#include "xml/FileView.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace xml_detail {

FileView::~FileView() {
  if (data_) munmap(data_, size_);
}

bool FileView::Open(std::FILE* file, std::size_t maxSize) {
  struct stat info {};
  const int fd = fileno(file);
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
      static_cast<unsigned long long>(info.st_size) > maxSize)
    return false;
  const std::size_t size = static_cast<std::size_t>(info.st_size);
  int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
  flags |= MAP_POPULATE;  // every page is read: map them all at once
#endif
  void* data = mmap(nullptr, size, PROT_READ, flags, fd, 0);
  if (data == MAP_FAILED) return false;
  data_ = data;
  size_ = size;
  return true;
}

void FileView::Release(const char* from, const char* upTo) {
  const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t data = reinterpret_cast<std::uintptr_t>(data_);
  if (!data_ || page == 0) return;
  const std::uintptr_t begin = std::max(data, reinterpret_cast<std::uintptr_t>(from) & ~(page - 1));
  const std::uintptr_t end = std::min(data + size_, reinterpret_cast<std::uintptr_t>(upTo)) & ~(page - 1);
  if (end <= begin) return;
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

}  // namespace xml_detail
