#include "update/ReplaceFile.h"

namespace VULIBRARY {

const wchar_t* const kReplacedSuffix = L".OLD{7F2B4C1D-3E5A-4B6C-8D9E-0A1B2C3D4E5F}";
const wchar_t* const kStagedSuffix = L".NEW{7F2B4C1D-3E5A-4B6C-8D9E-0A1B2C3D4E5F}";

Result PutNewVersionInPlace(const FileOperations& files, const std::wstring& localPath,
                            const std::wstring& newPath) {
  const std::wstring oldPath = localPath + kReplacedSuffix;
  files.remove(oldPath);  // usually there is none; a failure shows in the next move
  if (!files.move(localPath, oldPath)) return kResultFail;
  if (files.move(newPath, localPath)) return kResultOk;

  // A move that went wrong half-way must not keep the old version out.
  if (files.exists(localPath)) files.remove(localPath);
  if (!files.move(oldPath, localPath)) {
    // Better two copies of the previous version than none under its name.
    files.copy(oldPath, localPath);
  }
  return kResultFail;
}

Result InstallBeside(const FileOperations& files, const std::wstring& localPath, const NewVersion& version) {
  const std::wstring staged = localPath + kStagedSuffix;
  if (files.exists(staged) && !files.remove(staged)) return kResultFail;
  // Whole and on the disk before the renames, so that whatever moment cuts
  // the install off, the name holds one whole version or none between the
  // two renames, which the next start undoes.
  if (!version.write(staged) || !version.accept(staged) || PutNewVersionInPlace(files, localPath, staged) != kResultOk) {
    files.remove(staged);
    return kResultFail;
  }
  return kResultOk;
}

void RecoverCutOffInstall(const FileOperations& files, const std::wstring& localPath) {
  const std::wstring oldPath = localPath + kReplacedSuffix;
  if (!files.exists(oldPath)) return;
  if (files.exists(localPath))
    files.remove(oldPath);
  else
    files.move(oldPath, localPath);
}

Result CompleteStagedVersion(const FileOperations& files, const std::wstring& localPath,
                             const std::function<bool(const std::wstring& path)>& accept) {
  const std::wstring staged = localPath + kStagedSuffix;
  if (!files.exists(staged)) return kResultDifferent;
  if (files.exists(localPath) && accept(staged) && PutNewVersionInPlace(files, localPath, staged) == kResultOk)
    return kResultOk;
  files.remove(staged);
  return kResultFail;
}

}  // namespace VULIBRARY
