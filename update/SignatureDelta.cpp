#include "update/SignatureDelta.h"

#include <zlib.h>

#include <algorithm>

#include "update/BlockSums.h"
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

std::wstring PrimedRangesUrl(const std::wstring& url) { return url + L"&j=1&d=1"; }

namespace {

constexpr std::size_t kWindowBytes = std::size_t(1) << MAX_WBITS;

// Keeps the last window of the file being rebuilt.
void Slide(std::string& window, const char* data, std::size_t size) {
  if (size >= kWindowBytes) {
    window.assign(data + (size - kWindowBytes), kWindowBytes);
    return;
  }
  window.append(data, size);
  if (window.size() > kWindowBytes) window.erase(0, window.size() - kWindowBytes);
}

// Inflates the streams of a primed entry (stored) range by range, each with
// the window rebuilt before it as dictionary.
bool InflatePrimed(const std::string& stored, const std::vector<Need>& needs, const SeedReader& seed,
                   std::vector<std::string>* entries, std::uint32_t* crc, std::uint64_t* total) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  std::string window;
  std::size_t at = 0;  // in stored
  bool ok = true;
  for (const Need& need : needs) {
    if (!ok) break;
    if (need.type == kNeedSeed) {
      // Only the tail of a seed range can be in the next range's window.
      const std::uint64_t take = std::min<std::uint64_t>(need.length, kWindowBytes);
      std::string tail;
      ok = seed(need.offset + need.length - take, take, &tail) && tail.size() == take;
      if (ok) Slide(window, tail.data(), tail.size());
      continue;
    }
    if (need.type != kNeedSource) continue;
    if (need.length > kMaxUpdateFileBytes - *total) {
      ok = false;
      break;
    }
    std::string range(static_cast<std::size_t>(need.length), '\0');
    std::size_t filled = 0;
    while (ok && filled < range.size()) {
      // One stream: it starts from the window before it and must end
      // within the range, having made something.
      ok = inflateReset(&z) == Z_OK &&
           (window.empty() || inflateSetDictionary(&z, reinterpret_cast<const Bytef*>(window.data()),
                                                   static_cast<uInt>(window.size())) == Z_OK);
      if (!ok) break;
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data() + at));
      z.avail_in = static_cast<uInt>(std::min<std::size_t>(stored.size() - at, 1u << 30));
      z.next_out = reinterpret_cast<Bytef*>(&range[filled]);
      z.avail_out = static_cast<uInt>(range.size() - filled);
      const int result = inflate(&z, Z_FINISH);
      const std::size_t made = range.size() - filled - z.avail_out;
      ok = result == Z_STREAM_END && made > 0;
      at = static_cast<std::size_t>(reinterpret_cast<const char*>(z.next_in) - stored.data());
      if (ok) Slide(window, range.data() + filled, made);
      filled += made;
    }
    if (!ok) break;
    *crc = static_cast<std::uint32_t>(crc32_z(*crc, reinterpret_cast<const Bytef*>(range.data()), range.size()));
    *total += range.size();
    entries->push_back(std::move(range));
  }
  inflateEnd(&z);
  // Bytes left over belong to no range: the entry is not what was asked for.
  return ok && at == stored.size();
}

}  // namespace

bool ReadPrimedRangeEntries(const std::string& reply, const std::string& fileName, const std::vector<Need>& needs,
                            const SeedReader& seed, std::vector<std::string>* entries, bool* primed) {
  if (primed) *primed = false;
  entries->clear();
  std::vector<std::uint64_t> lengths;
  std::uint64_t total = 0;
  for (const Need& need : needs) {
    if (need.type != kNeedSource) continue;
    if (need.length > kMaxUpdateFileBytes - total) return false;
    total += need.length;
    lengths.push_back(need.length);
  }
  MemoryZipArchive archive(reply);
  MemoryZipArchive::RawEntry raw;
  // Deflate never makes data larger than this bound of the inflated length.
  const std::uint64_t storedLimit = total + total / 1000 + 64 * (lengths.size() + 1) + 1024;
  if (!archive.IsOpen() || archive.EntryCount() != 1 || !archive.ReadRawEntry(0, storedLimit, &raw) ||
      raw.name != fileName + kPrimedEntrySuffix)
    return ReadRangeEntries(reply, lengths, entries);
  if (primed) *primed = true;
  std::uint32_t crc = 0;
  std::uint64_t made = 0;
  return raw.size == total && InflatePrimed(raw.stored, needs, seed, entries, &crc, &made) && made == total &&
         crc == raw.crc && entries->size() == lengths.size();
}

std::wstring BlockSumsName(const std::wstring& name) { return name + L".sums"; }

std::wstring BlockSumsUrl(const std::wstring& url, std::size_t block) {
  return url + L"&j=1&b=" + std::to_wstring(block);
}

std::size_t SumsBlockFor(std::uint64_t literal) {
  // The power of two nearest a quarter of the square root: the next one up
  // is nearer once literal reaches 32 times the square of this one.
  std::size_t block = 256;
  while (block < 2048 && 32 * std::uint64_t(block) * block <= literal) block *= 2;
  return block;
}

std::uint64_t SumsLength(std::uint64_t length, std::size_t block) {
  return length / block * block_sums::kRecordBytes;
}

namespace {

std::uint32_t Get32(const std::string& s, std::size_t at) {
  return std::uint32_t(static_cast<unsigned char>(s[at])) | std::uint32_t(static_cast<unsigned char>(s[at + 1])) << 8 |
         std::uint32_t(static_cast<unsigned char>(s[at + 2])) << 16 |
         std::uint32_t(static_cast<unsigned char>(s[at + 3])) << 24;
}

// Appends a need, extending the last one when it goes on where that ends.
void AppendJoined(std::vector<Need>& needs, const Need& need) {
  if (!needs.empty() && needs.back().type == need.type && needs.back().offset + needs.back().length == need.offset) {
    needs.back().length += need.length;
    return;
  }
  needs.push_back(need);
}

}  // namespace

bool MatchBlockSums(const std::vector<Need>& needs, const std::vector<std::string>& sums, std::size_t block,
                    const std::uint8_t* seed, std::size_t seedSize, std::vector<Need>* out) {
  if (!block_sums::IsBlockSize(block)) return false;
  // Every block wanted, by weak sum: (weak, strong, block number).
  struct Wanted {
    std::uint32_t weak, strong;
    std::size_t id;
  };
  std::vector<Wanted> wanted;
  std::size_t k = 0;
  for (const Need& need : needs) {
    if (need.type != kNeedSource) continue;
    if (k == sums.size() || sums[k].size() != SumsLength(need.length, block)) return false;
    for (std::size_t at = 0; at < sums[k].size(); at += block_sums::kRecordBytes)
      wanted.push_back(Wanted{Get32(sums[k], at), Get32(sums[k], at + 4), wanted.size()});
    ++k;
  }
  if (k != sums.size()) return false;
  std::sort(wanted.begin(), wanted.end(), [](const Wanted& a, const Wanted& b) { return a.weak < b.weak; });
  // Most positions match nothing: a bit per weak sum's low bits spares the
  // search for them.
  constexpr std::uint32_t kFilterBits = 1u << 20;
  std::vector<bool> filter(kFilterBits, false);
  for (const Wanted& w : wanted) filter[w.weak & (kFilterBits - 1)] = true;

  constexpr std::uint64_t kNotFound = ~std::uint64_t(0);
  std::vector<std::uint64_t> found(wanted.size(), kNotFound);
  if (seedSize >= block && !wanted.empty()) {
    block_sums::Rolling rolling(block);
    rolling.Start(seed);
    for (std::size_t at = 0;; ++at) {
      const std::uint32_t weak = rolling.Weak();
      if (filter[weak & (kFilterBits - 1)]) {
        auto first = std::lower_bound(wanted.begin(), wanted.end(), weak,
                                      [](const Wanted& w, std::uint32_t v) { return w.weak < v; });
        bool haveStrong = false;
        std::uint32_t strong = 0;
        for (auto it = first; it != wanted.end() && it->weak == weak; ++it) {
          if (found[it->id] != kNotFound) continue;
          if (!haveStrong) strong = block_sums::Strong(seed + at, block);
          haveStrong = true;
          if (strong == it->strong) found[it->id] = at;
        }
      }
      if (at + block >= seedSize) break;
      rolling.Roll(seed[at], seed[at + block]);
    }
  }

  out->clear();
  std::size_t id = 0, sources = 0;
  for (const Need& need : needs) {
    if (need.type != kNeedSource) {
      AppendJoined(*out, need);
      continue;
    }
    const std::uint64_t blocks = need.length / block;
    for (std::uint64_t b = 0; b < blocks; ++b, ++id) {
      if (found[id] != kNotFound)
        AppendJoined(*out, Need{kNeedSeed, found[id], block});
      else
        AppendJoined(*out, Need{kNeedSource, need.offset + b * block, block});
    }
    if (need.length % block != 0)
      AppendJoined(*out, Need{kNeedSource, need.offset + blocks * block, need.length % block});
  }
  JoinNearSourceRanges(*out);
  for (const Need& need : *out) sources += need.type == kNeedSource ? 1 : 0;
  return sources <= kMaxSourceBlocks;
}

}  // namespace VULIBRARY
