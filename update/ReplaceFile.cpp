#include "update/ReplaceFile.h"

namespace VULIBRARY {

const wchar_t* const kReplacedSuffix = L".OLD{7F2B4C1D-3E5A-4B6C-8D9E-0A1B2C3D4E5F}";

Result PutNewVersionInPlace(const FileOperations& files, const std::wstring& localPath,
                            const std::wstring& newPath) {
  const std::wstring oldPath = localPath + kReplacedSuffix;
  files.remove(oldPath);  // usually there is none; a failure shows in the next move
  if (!files.move(localPath, oldPath)) return kResultFail;
  if (files.move(newPath, localPath)) return kResultOk;

  // A move to another volume copies; a copy cut short leaves a piece of the
  // new file under the installed name, which would keep the old one out.
  if (files.exists(localPath)) files.remove(localPath);
  if (!files.move(oldPath, localPath)) {
    // Better two copies of the previous version than none under its name.
    files.copy(oldPath, localPath);
  }
  return kResultFail;
}

}  // namespace VULIBRARY
