// A whole file seen in memory, read only, without copying it: the pages come
// straight from the system's file cache, which is far cheaper for a large
// file than reading it into fresh memory. Only FileView_win.cpp includes
// <windows.h>.
#pragma once

#include <cstddef>
#include <cstdio>

namespace xml_detail {

class FileView {
 public:
  FileView() = default;
  ~FileView();
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  // Shows the whole of an open file, as it is now; false when the file is
  // empty or larger than maxSize, or the system cannot show it (the caller
  // then reads the file instead).
  bool Open(std::FILE* file, std::size_t maxSize);
  const char* Data() const { return static_cast<const char*>(data_); }
  std::size_t Size() const { return size_; }
  // Tells the system that the bytes from from to upTo have been read for
  // good, so that their pages need not stay in this process's memory (they
  // stay in the file cache and come back if read again). The page that holds
  // upTo stays; the one that holds from goes.
  void Release(const char* from, const char* upTo);

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace xml_detail
