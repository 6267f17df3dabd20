#include "update/FileRdcFileReader.h"

namespace DIFF {

ULONGLONG FileRdcFileReader::CurrentSize() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_, &size)) return 0;
  return static_cast<ULONGLONG>(size.QuadPart);
}

HRESULT FileRdcFileReader::GetFileSize(ULONGLONG* fileSize) {
  if (!fileSize) return E_POINTER;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_, &size)) return E_FAIL;
  *fileSize = static_cast<ULONGLONG>(size.QuadPart);
  return S_OK;
}

HRESULT FileRdcFileReader::Read(ULONGLONG offsetFileStart, ULONG bytesToRead, ULONG* bytesActuallyRead,
                                BYTE* buffer, BOOL* eof) {
  const ULONGLONG size = CurrentSize();
  if (offsetFileStart >= size) {
    if (bytesActuallyRead) *bytesActuallyRead = 0;
    if (eof) *eof = TRUE;
    return S_OK;
  }
  if (!buffer && bytesToRead > 0) return E_POINTER;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offsetFileStart);
  if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) return E_FAIL;
  // The count is what the file gave, not what it should have had: a file
  // that shrank under us must not pass for a whole read.
  DWORD got = 0;
  if (!ReadFile(file_, buffer, bytesToRead, &got, nullptr)) return E_FAIL;
  if (bytesActuallyRead) *bytesActuallyRead = got;
  if (eof) *eof = size - offsetFileStart < bytesToRead ? TRUE : FALSE;
  return S_OK;
}

HRESULT FileRdcFileReader::GetFilePosition(ULONGLONG* offsetFromStart) {
  if (!offsetFromStart) return E_POINTER;
  LARGE_INTEGER zero{}, position{};
  if (!SetFilePointerEx(file_, zero, &position, FILE_CURRENT)) return E_FAIL;
  *offsetFromStart = static_cast<ULONGLONG>(position.QuadPart);
  return S_OK;
}

}  // namespace DIFF
