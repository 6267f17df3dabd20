#include "launcher/FileStamp.h"

#include <windows.h>

#include "text/TextConvert.h"

FileStamp ReadFileStamp(const std::string& path) {
  FileStamp stamp;
  // No access asked for, and every sharing mode granted: the stamp never
  // stands in the way of another program reading or replacing the file.
  HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A file that is there but cannot be opened (locked, no rights) counts
    // as there, with a stamp no real file has: whoever compares it then
    // reads the file to know.
    const DWORD error = GetLastError();
    stamp.exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    return stamp;
  }
  BY_HANDLE_FILE_INFORMATION information;
  stamp.exists = true;
  if (GetFileInformationByHandle(file, &information)) {
    stamp.volume = information.dwVolumeSerialNumber;
    stamp.index = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    stamp.size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    stamp.written = (static_cast<std::uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32) |
                    information.ftLastWriteTime.dwLowDateTime;
  }
  CloseHandle(file);
  return stamp;
}
