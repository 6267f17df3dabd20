#include "launcher/TempConfFile.h"

#include "launcher/LaunchPlan.h"

namespace {

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

enum class Deletion { Done, Retry };

// Deletes what is at path if it is still the file behind ours, and nothing
// otherwise: a link planted at the name, or another file moved there, stays,
// and so does whatever it points to. (Under Wine a handle cannot be reopened
// for deletion without going through the name again, and the name may then
// lead elsewhere; so the name is opened, and the file it leads to is
// compared with ours.) Retry while a reader that does not share deletion
// (DOSBox) still has it open.
Deletion DeleteIfOurs(HANDLE ours, const std::wstring& path) {
  HANDLE named = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (named == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_SHARING_VIOLATION ? Deletion::Retry : Deletion::Done;
  if (SameFile(ours, named)) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(named, FileDispositionInfo, &disposition, sizeof(disposition));
  }
  CloseHandle(named);
  return Deletion::Done;
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
  while (DeleteIfOurs(file_, path_) == Deletion::Retry && GetTickCount() - start < waitMilliseconds) Sleep(50);
  CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  path_.clear();
}
