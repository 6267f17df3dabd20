// The delta route: the installed file's signatures are compared with the new
// version's, only the missing ranges are fetched, and the new version is
// rebuilt from the installed file and those ranges.
#include <windows.h>

#include <algorithm>

#include "update/FileRdcFileReader.h"
#include "update/VU.h"
#include "update/WinHandles.h"
#include "update/rdc/RdcEngine.h"

namespace VULIBRARY {

static_assert(kNeedSource == RDCNEED_SOURCE && kNeedTarget == RDCNEED_TARGET && kNeedSeed == RDCNEED_SEED &&
                  kNeedRecordBytes == DIFF::kNeedRecordSize,
              "needs lists are the engine's");

namespace {

// An open file that closes itself; invalid when the open failed.
struct OpenFile {
  explicit OpenFile(HANDLE handle) : handle(handle) {}
  ~OpenFile() {
    if (valid()) CloseHandle(handle);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  bool valid() const { return handle != INVALID_HANDLE_VALUE; }
  HANDLE handle;
};

HANDLE OpenForReading(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// Deletes a temporary file on every way out.
struct TempFile {
  explicit TempFile(std::wstring path) : path(std::move(path)) {}
  ~TempFile() {
    if (!path.empty()) DeleteFileW(path.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  std::wstring path;
};

// Releases a reader made with one reference.
struct ReaderRelease {
  void operator()(IRdcFileReader* reader) const { reader->Release(); }
};
using Reader = std::unique_ptr<IRdcFileReader, ReaderRelease>;

// The needs list of one file: its signatures against the new version's,
// whose signature file lies at signaturePath.
HRESULT CompareWithNewVersion(DIFF::RdcEngine& engine, const std::wstring& localPath,
                              const std::wstring& signaturePath, std::vector<std::uint8_t>* needs,
                              std::uint64_t* localSize) {
  DIFF::MemoryDiffWriter localSignatures;
  {
    OpenFile local(OpenForReading(localPath));
    if (!local.valid()) return E_FAIL;
    Reader reader(new DIFF::FileRdcFileReader(local.handle));
    *localSize = static_cast<DIFF::FileRdcFileReader*>(reader.get())->CurrentSize();
    if (FAILED(engine.GenerateSignatures(reader.get(), &localSignatures))) return E_FAIL;
  }
  OpenFile signatures(OpenForReading(signaturePath));
  if (!signatures.valid()) return E_FAIL;
  Reader seed(localSignatures.CreateReader());
  Reader source(new DIFF::FileRdcFileReader(signatures.handle));
  // A hostile signature stream can describe millions of tiny chunks: the
  // list stops growing where no request could fetch it.
  DIFF::MemoryDiffWriter needsSink(kMaxNeeds * kNeedRecordBytes);
  if (!seed || FAILED(engine.CompareSignatures(seed.get(), source.get(), &needsSink))) return E_FAIL;
  *needs = needsSink.TakeBytes();
  return S_OK;
}

bool WriteAll(HANDLE file, const std::uint8_t* data, std::uint64_t size) {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::uint64_t>(size, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, data, piece, &written, nullptr) || written != piece) return false;
    data += piece;
    size -= piece;
  }
  return true;
}

bool CopyRange(HANDLE from, std::uint64_t offset, std::uint64_t length, HANDLE to) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(from, at, nullptr, FILE_BEGIN)) return false;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 20)));
  while (length > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::uint64_t>(length, buffer.size()));
    DWORD got = 0;
    if (!ReadFile(from, buffer.data(), piece, &got, nullptr) || got != piece) return false;
    if (!WriteAll(to, buffer.data(), piece)) return false;
    length -= piece;
  }
  return true;
}

// Writes the new version to newPath: seed ranges from the installed file,
// source ranges from the fetched blocks, in the order of the needs.
bool Rebuild(const UpdateFile& file, const std::vector<Need>& needs, const std::wstring& newPath) {
  OpenFile target(CreateFileW(newPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!target.valid()) return false;
  OpenFile seed(OpenForReading(file.localPath));
  if (!seed.valid()) return false;
  for (const Need& need : needs) {
    if (need.type == kNeedSeed) {
      if (!CopyRange(seed.handle, need.offset, need.length, target.handle)) return false;
    } else if (need.type == kNeedSource) {
      const auto block = std::find_if(file.sourceBlocks.begin(), file.sourceBlocks.end(), [&](const SourceBlock& b) {
        return b.offset == need.offset && b.length == need.length;
      });
      if (block == file.sourceBlocks.end() || block->bytes.size() != need.length) return false;
      if (!WriteAll(target.handle, block->bytes.data(), need.length)) return false;
    }
  }
  return true;
}

}  // namespace

int VU::DownloadDelta() {
  if (!IsProgressDialogAvailable()) return E_NOTIMPL;
  BeginStep();
  if (files.empty()) return E_INVALIDARG;
  const std::wstring url = MakeRequestUrl(endpoint, L"zip", productId);

  // Signatures of the new versions, and what each installed file lacks.
  for (UpdateFile& file : files) file.sourceBlocks.clear();
  const std::vector<FormField> signatureFields = MakeSignatureRequestFields(files);
  if (signatureFields.empty()) return S_FALSE;
  std::string reply;
  HRESULT posted = PostForm(url.c_str(), signatureFields, reply, false,
                            ZipReplyLimit(signatureFields.size(), signatureFields.size() * kMaxUpdateFileBytes));
  if (FAILED(posted)) return posted;

  DIFF::RdcEngine engine;
  std::vector<int> fetched;
  std::vector<std::vector<Need>> needs;
  std::size_t sourceBlocks = 0;  // of all files: they share one block request
  {
    MemoryZipArchive archive(reply);
    if (!archive.IsOpen() || archive.EntryCount() != signatureFields.size()) return E_FAIL;
    for (std::size_t k = 0; k < signatureFields.size(); ++k) {
      UpdateFile& file = files[static_cast<std::size_t>(signatureFields[k].fileIndex)];
      TempFile signatures(MakeTempFileName());
      if (signatures.path.empty() || !ExtractEntryToFile(archive, k, kMaxUpdateFileBytes, signatures.path)) {
        return E_FAIL;
      }
      std::uint64_t localSize = 0;
      if (FAILED(CompareWithNewVersion(engine, file.localPath, signatures.path, &file.needs, &localSize))) {
        return E_FAIL;
      }
      std::vector<Need> parsed;
      if (!ReadNeeds(file.needs, localSize, &parsed)) return E_FAIL;
      for (const Need& need : parsed) sourceBlocks += need.type == kNeedSource ? 1 : 0;
      if (sourceBlocks > kMaxSourceBlocks) return E_FAIL;
      fetched.push_back(signatureFields[k].fileIndex);
      needs.push_back(std::move(parsed));
    }
  }
  reply.clear();
  reply.shrink_to_fit();

  // The ranges of the new versions that no installed file has.
  const std::vector<FormField> blockFields = MakeBlockRequestFields(files, fetched, needs);
  if (!blockFields.empty()) {
    std::uint64_t blockBytes = 0;
    for (int index : fetched) {
      for (const SourceBlock& block : files[static_cast<std::size_t>(index)].sourceBlocks) blockBytes += block.length;
    }
    const std::size_t blockCount = blockFields.size() / 3;
    posted = PostForm(url.c_str(), blockFields, reply, true, ZipReplyLimit(blockCount, blockBytes));
    if (FAILED(posted)) return posted;
    MemoryZipArchive archive(reply);
    if (!archive.IsOpen() || archive.EntryCount() != blockCount) return E_FAIL;
    std::uint64_t entry = 0;
    for (int index : fetched) {
      for (SourceBlock& block : files[static_cast<std::size_t>(index)].sourceBlocks) {
        std::string bytes;
        // A block of another length than asked for cannot rebuild the file.
        if (!archive.ReadEntry(entry++, block.length, &bytes) || bytes.size() != block.length) return E_FAIL;
        block.bytes.assign(bytes.begin(), bytes.end());
      }
    }
  }

  // Rebuild and install, file by file.
  for (std::size_t k = 0; k < fetched.size(); ++k) {
    const UpdateFile& file = files[static_cast<std::size_t>(fetched[k])];
    TempFile rebuilt(MakeTempFileName());
    if (rebuilt.path.empty() || !Rebuild(file, needs[k], rebuilt.path)) return E_FAIL;
    if (FAILED(InstallFile(file, rebuilt.path))) return E_FAIL;
  }
  return S_OK;
}

}  // namespace VULIBRARY
