// Second-level signatures: the chunk records of a signature stream, cut into
// runs whose edges depend only on the records around them, so that a record
// changed in a new version disturbs only the run or two around it.
//
// The records' hashes are already uniformly random, so they serve as the
// boundary values themselves: no rolling hash is needed, and a run starts at
// a record that is the strict maximum of its neighbourhood.
#include <algorithm>
#include <cstring>

#include "update/Sha1.h"
#include "update/rdc/RdcEngine.h"

namespace DIFF {

std::vector<std::uint8_t> MakeSecondLevelStream(const std::uint8_t* signatures, std::size_t length) {
  std::vector<std::uint8_t> header;
  AppendSignatureHeader(header, kHashWindow, kHorizon, kMaxChunk);
  if (signatures == nullptr || length < kSignatureHeaderSize ||
      std::memcmp(signatures, header.data(), kSignatureHeaderSize) != 0 ||
      (length - kSignatureHeaderSize) % kSignatureRecordSize != 0)
    return {};
  const std::size_t count = (length - kSignatureHeaderSize) / kSignatureRecordSize;
  std::vector<std::uint64_t> key(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* record = signatures + kSignatureHeaderSize + i * kSignatureRecordSize;
    if ((record[0] | record[1]) == 0) return {};  // a chunk of no bytes: not a stream we made
    std::uint64_t k = 0;
    for (unsigned b = 0; b < 8; ++b) k |= std::uint64_t(record[2 + b]) << (8 * b);
    key[i] = k;
  }

  std::vector<std::uint8_t> out;
  AppendSignatureHeader(out, 0, kSecondLevelHorizon, kSecondLevelMaxChunk);
  auto emit = [&](std::size_t from, std::size_t to) {  // byte offsets in the stream
    const std::size_t n = to - from;
    Sha1Context sha;
    sha.Update(signatures + from, n);
    sha.Final();
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.insert(out.end(), sha.Digest(), sha.Digest() + kStrongHashSize);
  };
  const std::size_t h = kSecondLevelHorizon;
  std::size_t startRecord = 0, startByte = 0;
  for (std::size_t i = 1; i < count; ++i) {
    bool top = true;
    for (std::size_t j = i > h ? i - h : 0; top && j <= std::min(count - 1, i + h); ++j) top = j == i || key[j] < key[i];
    if (!top && i - startRecord < kSecondLevelMaxRecords) continue;
    const std::size_t at = kSignatureHeaderSize + i * kSignatureRecordSize;
    emit(startByte, at);
    startRecord = i;
    startByte = at;
  }
  emit(startByte, length);
  return out;
}

}  // namespace DIFF
