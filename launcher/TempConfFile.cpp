#include "launcher/TempConfFile.h"

#include "launcher/LaunchPlan.h"

namespace {

// Marks the file behind handle for deletion when its last handle closes. The
// handle is opened again for deletion from the handle itself, never by name.
bool DeleteThroughHandle(HANDLE file) {
  HANDLE deleter =
      ReOpenFile(file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (deleter == INVALID_HANDLE_VALUE) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  const bool marked =
      SetFileInformationByHandle(deleter, FileDispositionInfo, &disposition, sizeof(disposition)) != 0;
  CloseHandle(deleter);
  return marked;
}

}  // namespace

TempConfFile::~TempConfFile() { Delete(); }

bool TempConfFile::Create(const std::wstring& folder, const char* prefix, const std::string& bytes) {
  Delete();
  // Numbers are tried from a point that differs from run to run, as the
  // system's own temporary names are.
  const unsigned start = (GetTickCount() ^ (GetCurrentProcessId() << 4)) & 0xFFFFu;
  for (unsigned step = 0; step < 0x10000u; ++step) {
    const unsigned number = (start + step) & 0xFFFFu;
    if (number == 0) continue;
    const std::string name = TempFileName(prefix, number);
    const std::wstring path = folder + (!folder.empty() && folder.back() == L'\\' ? L"" : L"\\") +
                              std::wstring(name.begin(), name.end());
    // Readers may read and delete; nobody else may write.
    file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ != INVALID_HANDLE_VALUE) {
      path_ = path;
      break;
    }
    error_ = GetLastError();
    if (error_ != ERROR_FILE_EXISTS && error_ != ERROR_ALREADY_EXISTS) return false;
  }
  if (file_ == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  if (!WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    error_ = GetLastError();
    Delete();
    return false;
  }
  return true;
}

void TempConfFile::Delete(DWORD waitMilliseconds) {
  if (file_ == INVALID_HANDLE_VALUE) return;
  const DWORD start = GetTickCount();
  while (!DeleteThroughHandle(file_) && GetTickCount() - start < waitMilliseconds) Sleep(50);
  CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  path_.clear();
}
