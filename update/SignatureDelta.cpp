#include "update/SignatureDelta.h"

#include "update/MemoryZip.h"
#include "update/rdc/RdcEngine.h"

namespace VULIBRARY {

namespace {

// Chunks start only where their hash is the strict maximum of kHorizon
// positions on either side, or where a chunk would pass kMaxChunk; so the
// list of the largest file that may be published has at most this many
// records. Its second level starts a run only at a strict maximum of
// kSecondLevelHorizon records on either side, or after
// kSecondLevelMaxRecords, so it is at most kMaxSecondLevelBytes long. The
// first level is bounded by the largest file it may describe; a second level
// longer than the second level of the largest list is no list's, and is not
// worth the work of comparing it record by record.
constexpr std::uint64_t kMaxListRecords =
    kMaxUpdateFileBytes / (DIFF::kHorizon + 1) + kMaxUpdateFileBytes / DIFF::kMaxChunk + 3;
constexpr std::uint64_t kMaxSecondLevelRecords =
    kMaxListRecords / (DIFF::kSecondLevelHorizon + 1) + kMaxListRecords / DIFF::kSecondLevelMaxRecords + 3;
constexpr std::uint64_t kMaxSecondLevelBytes =
    DIFF::kSignatureHeaderSize + kMaxSecondLevelRecords * DIFF::kSignatureRecordSize;

}  // namespace

bool WantsSecondLevel(const UpdateFile& file, std::size_t localSignatureBytes) {
  return !file.signatureName.empty() && localSignatureBytes >= kSecondLevelMinBytes;
}

std::wstring SecondLevelName(const std::wstring& signatureName) { return signatureName + L".sig"; }

bool CompareSignatureStreams(const std::uint8_t* seed, std::size_t seedLength, const std::uint8_t* source,
                             std::size_t sourceLength, std::uint64_t seedSize, std::vector<Need>* needs) {
  DIFF::MemoryRdcFileReader* seedReader = new DIFF::MemoryRdcFileReader(seed, seedLength);
  DIFF::MemoryRdcFileReader* sourceReader = new DIFF::MemoryRdcFileReader(source, sourceLength);
  // A hostile stream can describe millions of tiny chunks: the list stops
  // growing where no request could fetch it.
  DIFF::MemoryDiffWriter sink(kMaxNeeds * kNeedRecordBytes);
  const HRESULT compared = DIFF::RdcEngine().CompareSignatures(seedReader, sourceReader, &sink);
  seedReader->Release();
  sourceReader->Release();
  return SUCCEEDED(compared) && ReadNeeds(sink.TakeBytes(), seedSize, needs);
}

bool SecondLevelNeeds(const std::vector<std::uint8_t>& localSignatures, const std::string& remoteSecondLevel,
                      std::vector<Need>* needs) {
  if (remoteSecondLevel.size() > kMaxSecondLevelBytes) return false;
  const std::vector<std::uint8_t> local = DIFF::MakeSecondLevelStream(localSignatures.data(), localSignatures.size());
  if (local.empty()) return false;
  // Only a second-level stream is compared with one: anything else in the
  // reply is refused here.
  if (!CompareSignatureStreams(local.data(), local.size(), reinterpret_cast<const std::uint8_t*>(remoteSecondLevel.data()),
                               remoteSecondLevel.size(), localSignatures.size(), needs))
    return false;
  JoinNearSourceRanges(*needs);
  return true;
}

std::wstring JoinedRangesUrl(const std::wstring& url) { return url + L"&j=1"; }

bool ReadRangeEntries(const std::string& reply, const std::vector<std::uint64_t>& lengths,
                      std::vector<std::string>* entries) {
  MemoryZipArchive archive(reply);
  if (!archive.IsOpen()) return false;
  entries->assign(lengths.size(), std::string());
  if (archive.EntryCount() == lengths.size()) {
    for (std::size_t k = 0; k < lengths.size(); ++k) {
      // An entry of another length than asked for cannot rebuild the file.
      if (!archive.ReadEntry(k, lengths[k], &(*entries)[k]) || (*entries)[k].size() != lengths[k]) return false;
    }
    return true;
  }
  std::uint64_t total = 0;
  for (std::uint64_t length : lengths) {
    if (length > kMaxUpdateFileBytes - total) return false;
    total += length;
  }
  std::string all;
  if (archive.EntryCount() != 1 || !archive.ReadEntry(0, total, &all) || all.size() != total) return false;
  std::size_t at = 0;
  for (std::size_t k = 0; k < lengths.size(); ++k) {
    (*entries)[k] = all.substr(at, static_cast<std::size_t>(lengths[k]));
    at += static_cast<std::size_t>(lengths[k]);
  }
  return true;
}

}  // namespace VULIBRARY
