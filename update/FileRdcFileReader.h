// The delta engine's reader over an open Windows file.
#pragma once

#include <windows.h>

#include "update/rdc/DiffIo.h"

namespace DIFF {

// Reads the file through its handle, which the maker opened for reading and
// closes when done (the reader never closes it). Made with one reference.
class FileRdcFileReader : public RdcReaderBase {
 public:
  explicit FileRdcFileReader(HANDLE file) : file_(file) {}

  HRESULT STDMETHODCALLTYPE GetFileSize(ULONGLONG* fileSize) override;
  // Reading at or past the end gives 0 bytes and end of file. Otherwise the
  // bytes at offsetFileStart, as many as the file has up to bytesToRead;
  // *eof is TRUE when the request reached past the end. E_FAIL when the file
  // cannot be positioned or read.
  HRESULT STDMETHODCALLTYPE Read(ULONGLONG offsetFileStart, ULONG bytesToRead, ULONG* bytesActuallyRead,
                                 BYTE* buffer, BOOL* eof) override;
  // The file pointer's position, where the last read ended.
  HRESULT STDMETHODCALLTYPE GetFilePosition(ULONGLONG* offsetFromStart) override;

  // The file's size now; 0 when it cannot be asked.
  ULONGLONG CurrentSize();

 private:
  HANDLE file_;
};

}  // namespace DIFF
