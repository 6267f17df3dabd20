#include "xml/FileView.h"

#include <io.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>

namespace xml_detail {

namespace {

// A read that fails through a view is an exception, not an error code, and
// this build has no way to catch it: only files on a fixed local disk are
// seen in place. A share whose server goes away, or a stick pulled out while
// the library loads, must give a read error, which the caller handles.
bool OnFixedLocalDisk(HANDLE file) {
  constexpr ULONG kRemovableMedia = 0x1, kRemoteDevice = 0x10;
  IO_STATUS_BLOCK status{};
  FILE_FS_DEVICE_INFORMATION device{};
  if (NtQueryVolumeInformationFile(file, &status, &device, sizeof(device), FileFsDeviceInformation) < 0) return false;
  return (device.Characteristics & (kRemovableMedia | kRemoteDevice)) == 0;
}

}  // namespace

FileView::~FileView() {
  if (data_) UnmapViewOfFile(data_);
}

bool FileView::Open(std::FILE* file, std::size_t maxSize) {
  const int fd = _fileno(file);
  if (fd < 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  LARGE_INTEGER size;
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size) ||
      size.QuadPart <= 0 || static_cast<unsigned long long>(size.QuadPart) > maxSize || !OnFixedLocalDisk(handle))
    return false;
  // The view keeps the mapping alive; the mapping's own handle is not needed.
  HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return false;
  void* data = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  if (!data) return false;
  data_ = data;
  size_ = static_cast<std::size_t>(size.QuadPart);
  return true;
}

void FileView::Release(const char* from, const char* upTo) {
  const char* data = static_cast<const char*>(data_);
  if (!data_) return;
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  // Whole pages only: the one the reader is in stays.
  const SIZE_T page = system.dwPageSize;
  const SIZE_T first = from <= data ? 0 : static_cast<SIZE_T>(from - data) / page * page;
  const SIZE_T last = upTo <= data ? 0 : std::min<SIZE_T>(static_cast<SIZE_T>(upTo - data), size_) / page * page;
  if (last <= first) return;
  void* begin = const_cast<char*>(data) + first;
  // Unlocking pages that were never locked takes them out of the working set.
  VirtualUnlock(begin, last - first);
  // Wine keeps them there through that: its unlock only unlocks. A reset does
  // drop them there, and they come back from the file when read again. Windows
  // refuses a reset of a file's view, so this costs it one failed call.
  VirtualAlloc(begin, last - first, MEM_RESET, PAGE_READONLY);
}

}  // namespace xml_detail
