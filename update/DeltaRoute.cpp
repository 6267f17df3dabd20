// The delta route: the installed file's signatures are compared with the new
// version's, only the missing ranges are fetched, and the new version is
// rebuilt from the installed file and those ranges.
#include <windows.h>

#include <algorithm>

#include "update/FileRdcFileReader.h"
#include "update/SignatureDelta.h"
#include "update/VU.h"
#include "update/WinHandles.h"
#include "update/rdc/RdcEngine.h"
#include "text/TextConvert.h"

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

// The installed file's signatures, and its size as it was read.
HRESULT LocalSignatures(DIFF::RdcEngine& engine, const std::wstring& localPath, std::vector<std::uint8_t>* signatures,
                        std::uint64_t* localSize) {
  OpenFile local(OpenForReading(localPath));
  if (!local.valid()) return E_FAIL;
  DIFF::FileRdcFileReader* reader = new DIFF::FileRdcFileReader(local.handle);
  *localSize = reader->CurrentSize();
  DIFF::MemoryDiffWriter sink;
  const HRESULT generated = engine.GenerateSignatures(reader, &sink);
  reader->Release();
  if (FAILED(generated)) return E_FAIL;
  *signatures = sink.TakeBytes();
  return S_OK;
}

// Every entry of a zip reply, one per requested item (f<n> field), each of
// at most kMaxUpdateFileBytes. E_FAIL when the reply is not such an archive.
HRESULT ReadEntries(const std::string& reply, std::size_t count, std::vector<std::string>* entries) {
  MemoryZipArchive archive(reply);
  if (!archive.IsOpen() || archive.EntryCount() != count) return E_FAIL;
  entries->assign(count, std::string());
  for (std::size_t k = 0; k < count; ++k) {
    if (!archive.ReadEntry(k, kMaxUpdateFileBytes, &(*entries)[k])) return E_FAIL;
  }
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

// length bytes of an open file from offset.
bool ReadRange(HANDLE from, std::uint64_t offset, std::uint64_t length, std::string* out) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (length > kMaxUpdateFileBytes || !SetFilePointerEx(from, at, nullptr, FILE_BEGIN)) return false;
  out->assign(static_cast<std::size_t>(length), '\0');
  for (std::size_t done = 0; done < out->size();) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(out->size() - done, 1u << 20));
    DWORD got = 0;
    if (!ReadFile(from, &(*out)[done], piece, &got, nullptr) || got != piece) return false;
    done += piece;
  }
  return true;
}

// Looks for the blocks of the ranges the installed file still lacks
// anywhere in it, by their sums from the server, and turns those it holds
// into seed ranges of needs. A server without sums refuses the request
// (E_FAIL), and then, as after a reply that cannot be used, needs stay as
// they are; only a cancel or another failure ends the route.
HRESULT MatchBlocks(VU& vu, const std::wstring& url, const UpdateFile& file, int fileIndex, std::uint64_t localSize,
                    std::vector<Need>* needs) {
  std::uint64_t lacking = 0;
  for (const Need& need : *needs) lacking += need.type == kNeedSource ? need.length : 0;
  if (lacking < kMinSumsLiteral || localSize > kMaxUpdateFileBytes) return S_OK;
  const std::size_t block = SumsBlockFor(lacking);
  std::vector<FormField> fields;
  unsigned n = 1;
  AppendRangeFields(fields, BlockSumsName(file.remoteName), *needs, fileIndex, &n);
  std::vector<std::uint64_t> lengths;
  std::uint64_t sumsBytes = 0;
  for (const Need& need : *needs) {
    if (need.type != kNeedSource) continue;
    lengths.push_back(SumsLength(need.length, block));
    sumsBytes += lengths.back();
  }
  std::string reply;
  const HRESULT posted =
      vu.PostForm(BlockSumsUrl(url, block).c_str(), fields, reply, false, ZipReplyLimit(lengths.size(), sumsBytes));
  if (posted == E_FAIL) return S_OK;
  if (FAILED(posted)) return posted;
  std::vector<std::string> sums;
  std::string seed;
  std::vector<Need> matched;
  OpenFile local(OpenForReading(file.localPath));
  if (ReadRangeEntries(reply, lengths, &sums) && local.valid() && ReadRange(local.handle, 0, localSize, &seed) &&
      MatchBlockSums(*needs, sums, block, reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size(), &matched))
    *needs = std::move(matched);
  return S_OK;
}

// Writes the new version to target: seed ranges from the installed file,
// source ranges from the fetched blocks, in the order of the needs.
bool Rebuild(const UpdateFile& file, const std::vector<Need>& needs, HANDLE target) {
  OpenFile seed(OpenForReading(file.localPath));
  if (!seed.valid()) return false;
  for (const Need& need : needs) {
    if (need.type == kNeedSeed) {
      if (!CopyRange(seed.handle, need.offset, need.length, target)) return false;
    } else if (need.type == kNeedSource) {
      const auto block = std::find_if(file.sourceBlocks.begin(), file.sourceBlocks.end(), [&](const SourceBlock& b) {
        return b.offset == need.offset && b.length == need.length;
      });
      if (block == file.sourceBlocks.end() || block->bytes.size() != need.length) return false;
      if (!WriteAll(target, block->bytes.data(), need.length)) return false;
    }
  }
  return true;
}

// The new versions' signature streams, one per signature field (streams[k]
// for field k), given the installed files' own (local[k]). Large files get
// theirs as a delta of their own: the second level first, then the changed
// ranges. A server without second-level signatures refuses their names
// rather than sending an archive: it is then asked for the streams
// themselves. A second level that cannot be used (damaged) has that file's
// stream fetched whole with the ranges of the others.
HRESULT FetchSignatures(VU& vu, const std::wstring& url, const std::vector<FormField>& signatureFields,
                        const std::vector<std::vector<std::uint8_t>>& local,
                        std::vector<std::vector<std::uint8_t>>* streams) {
  const std::size_t count = signatureFields.size();
  std::vector<FormField> fields = signatureFields;
  std::vector<bool> secondLevel(count, false);
  for (std::size_t k = 0; k < count; ++k) {
    const UpdateFile& file = vu.files[static_cast<std::size_t>(signatureFields[k].fileIndex)];
    secondLevel[k] = WantsSecondLevel(file, local[k].size());
    if (secondLevel[k]) fields[k].value = SecondLevelName(file.signatureName);
  }
  std::string reply;
  std::vector<std::string> entries;
  const std::uint64_t limit = ZipReplyLimit(count, count * kMaxUpdateFileBytes);
  HRESULT posted = vu.PostForm(url.c_str(), fields, reply, false, limit);
  if (SUCCEEDED(posted)) posted = ReadEntries(reply, count, &entries);
  if (posted == E_FAIL && std::find(secondLevel.begin(), secondLevel.end(), true) != secondLevel.end()) {
    secondLevel.assign(count, false);
    reply.clear();
    posted = vu.PostForm(url.c_str(), signatureFields, reply, false, limit);
    if (SUCCEEDED(posted)) posted = ReadEntries(reply, count, &entries);
  }
  if (FAILED(posted)) return posted;

  std::vector<FormField> rangeFields;
  std::vector<std::vector<Need>> needs(count);
  std::vector<std::size_t> pieces(count, 0);  // reply entries of each file
  std::vector<bool> whole(count, false);      // its stream fetched whole
  std::vector<std::uint64_t> lengths;         // of the ranges, when no stream is fetched whole
  std::uint64_t rangeBytes = 0;
  unsigned n = 1;
  for (std::size_t k = 0; k < count; ++k) {
    if (!secondLevel[k]) continue;
    const UpdateFile& file = vu.files[static_cast<std::size_t>(signatureFields[k].fileIndex)];
    whole[k] = !SecondLevelNeeds(local[k], entries[k], &needs[k]);
    if (whole[k]) {
      rangeFields.push_back(FormField{FieldName(L"f", n++), file.signatureName, signatureFields[k].fileIndex});
      pieces[k] = 1;
      rangeBytes += kMaxUpdateFileBytes;
      continue;
    }
    AppendRangeFields(rangeFields, file.signatureName, needs[k], signatureFields[k].fileIndex, &n);
    for (const Need& need : needs[k]) {
      if (need.type != kNeedSource) continue;
      ++pieces[k];
      rangeBytes += need.length;
      lengths.push_back(need.length);
    }
  }
  std::vector<std::string> ranges;
  if (n > 1) {
    reply.clear();
    const bool allRanges = lengths.size() == n - 1;
    posted = vu.PostForm((allRanges ? JoinedRangesUrl(url) : url).c_str(), rangeFields, reply, false,
                         ZipReplyLimit(n - 1, rangeBytes));
    if (FAILED(posted)) return posted;
    if (allRanges ? !ReadRangeEntries(reply, lengths, &ranges) : FAILED(ReadEntries(reply, n - 1, &ranges)))
      return E_FAIL;
  }

  streams->assign(count, {});
  std::size_t next = 0;  // the first range entry of file k
  for (std::size_t k = 0; k < count; ++k) {
    std::vector<std::uint8_t>& stream = (*streams)[k];
    if (!secondLevel[k]) {
      stream.assign(entries[k].begin(), entries[k].end());
    } else if (whole[k]) {
      stream.assign(ranges[next].begin(), ranges[next].end());
    } else {
      const auto first = ranges.begin() + static_cast<std::ptrdiff_t>(next);
      const std::vector<std::string> pieceBytes(first, first + static_cast<std::ptrdiff_t>(pieces[k]));
      if (!RebuildFromNeeds(needs[k], local[k], pieceBytes, &stream)) return E_FAIL;
    }
    next += pieces[k];
  }
  return S_OK;
}

}  // namespace

int VU::DownloadDelta() {
  if (!IsProgressDialogAvailable()) return E_NOTIMPL;
  BeginStep();
  if (files.empty()) return E_INVALIDARG;
  const std::wstring url = MakeRequestUrl(endpoint, L"zip", productId);

  for (UpdateFile& file : files) file.sourceBlocks.clear();
  const std::vector<FormField> signatureFields = MakeSignatureRequestFields(files);
  if (signatureFields.empty()) return S_FALSE;
  const std::size_t count = signatureFields.size();

  // The installed files' own signatures, then the new versions'.
  DIFF::RdcEngine engine;
  std::vector<std::vector<std::uint8_t>> local(count), signatures;
  std::vector<std::uint64_t> localSize(count);
  for (std::size_t k = 0; k < count; ++k) {
    const UpdateFile& file = files[static_cast<std::size_t>(signatureFields[k].fileIndex)];
    if (FAILED(LocalSignatures(engine, file.localPath, &local[k], &localSize[k]))) return E_FAIL;
  }
  HRESULT posted = FetchSignatures(*this, url, signatureFields, local, &signatures);
  if (FAILED(posted)) return posted;

  // What each installed file lacks.
  std::vector<int> fetched;
  std::vector<std::vector<Need>> needs;
  std::size_t sourceBlocks = 0;  // of all files: they share one block request
  for (std::size_t k = 0; k < count; ++k) {
    UpdateFile& file = files[static_cast<std::size_t>(signatureFields[k].fileIndex)];
    std::vector<Need> parsed;
    if (!CompareSignatureStreams(local[k].data(), local[k].size(), signatures[k].data(), signatures[k].size(),
                                 localSize[k], &parsed))
      return E_FAIL;
    JoinNearSourceRanges(parsed);
    file.needs.clear();
    for (const Need& need : parsed) {
      AppendNeed(file.needs, need);
      sourceBlocks += need.type == kNeedSource ? 1 : 0;
    }
    if (sourceBlocks > kMaxSourceBlocks) return E_FAIL;
    fetched.push_back(signatureFields[k].fileIndex);
    needs.push_back(std::move(parsed));
  }
  // One file (the usual update): its lacking ranges are looked for in finer
  // blocks too, and then come primed with what is rebuilt before them.
  const bool single = fetched.size() == 1;
  if (single) {
    UpdateFile& file = files[static_cast<std::size_t>(fetched[0])];
    posted = MatchBlocks(*this, url, file, fetched[0], localSize[0], &needs[0]);
    if (FAILED(posted)) return posted;
    file.needs.clear();
    for (const Need& need : needs[0]) AppendNeed(file.needs, need);
  }
  signatures.clear();
  std::string reply;

  // The ranges of the new versions that no installed file has.
  const std::vector<FormField> blockFields = MakeBlockRequestFields(files, fetched, needs);
  if (!blockFields.empty()) {
    std::uint64_t blockBytes = 0;
    for (int index : fetched) {
      for (const SourceBlock& block : files[static_cast<std::size_t>(index)].sourceBlocks) blockBytes += block.length;
    }
    const std::size_t blockCount = blockFields.size() / 3;
    posted = PostForm((single ? PrimedRangesUrl(url) : JoinedRangesUrl(url)).c_str(), blockFields, reply, true,
                      ZipReplyLimit(blockCount, blockBytes));
    if (FAILED(posted)) return posted;
    std::vector<std::uint64_t> lengths;
    for (int index : fetched) {
      for (const SourceBlock& block : files[static_cast<std::size_t>(index)].sourceBlocks) lengths.push_back(block.length);
    }
    std::vector<std::string> blocks;
    if (single) {
      // A primed reply is inflated with the new file's bytes before each
      // range, which the installed file's ranges and the fetched ones make.
      const UpdateFile& file = files[static_cast<std::size_t>(fetched[0])];
      OpenFile seed(OpenForReading(file.localPath));
      const SeedReader read = [&seed](std::uint64_t offset, std::uint64_t length, std::string* out) {
        return seed.valid() && ReadRange(seed.handle, offset, length, out);
      };
      if (!ReadPrimedRangeEntries(reply, Utf8FromWide(file.remoteName), needs[0], read, &blocks)) return E_FAIL;
    } else if (!ReadRangeEntries(reply, lengths, &blocks)) {
      return E_FAIL;
    }
    reply.clear();
    std::size_t entry = 0;
    for (int index : fetched) {
      for (SourceBlock& block : files[static_cast<std::size_t>(index)].sourceBlocks) {
        block.bytes.assign(blocks[entry].begin(), blocks[entry].end());
        std::string().swap(blocks[entry++]);
      }
    }
  }

  // Rebuild and install, file by file.
  for (std::size_t k = 0; k < fetched.size(); ++k) {
    const UpdateFile& file = files[static_cast<std::size_t>(fetched[k])];
    const auto rebuild = [&](HANDLE target) { return Rebuild(file, needs[k], target); };
    if (FAILED(InstallNewVersion(file, rebuild))) return E_FAIL;
  }
  return S_OK;
}

}  // namespace VULIBRARY
