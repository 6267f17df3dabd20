// libFuzzer entry for the delta engine's reading of signature streams: the
// comparator is handed whatever the server (or anything in between) sends,
// and its needs must still describe the new file exactly, or the input must
// be refused. A broken promise aborts so that libFuzzer keeps the input.
//
// Input: a control byte, a 16-bit little-endian seed length L, then L bytes
// of seed signatures and the rest as source signatures.
//   control & 15      -> size of the pieces the source is fed in
//   (control >> 4) & 3 -> needs the output buffer holds per call
// The whole input after the control byte is also signed, once in one pass
// and once in those pieces, and the two streams must agree; the stream's
// second level must cover it.
#include "update/rdc/RdcEngine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace DIFF;

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

const std::size_t kPieces[16] = {1, 2, 3, 5, 7, 11, 12, 13, 17, 18, 19, 36, 100, 1000, 10000, 65536};
const ULONG kRooms[4] = {1, 2, 3, 1024};

std::vector<std::uint8_t> SignInPieces(const std::uint8_t* data, std::size_t size, std::size_t piece,
                                       ULONG room) {
  SignatureGenerator generator;
  std::vector<std::uint8_t> out(room), all;
  std::size_t at = 0;
  BOOL end = FALSE;
  while (!end) {
    const std::size_t n = std::min(piece, size - at);
    RdcBufferPointer in{static_cast<ULONG>(n), 0, const_cast<std::uint8_t*>(data + at)};
    RdcBufferPointer o{room, 0, out.data()};
    if (FAILED(generator.Process(at + n == size, &end, &in, &o))) Broken("generator failed");
    if (in.m_Used == 0 && o.m_Used == 0 && !end) Broken("generator made no progress");
    at += in.m_Used;
    all.insert(all.end(), out.begin(), out.begin() + o.m_Used);
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t piece = kPieces[data[0] & 15];
  const ULONG room = kRooms[(data[0] >> 4) & 3];
  const std::size_t seedLength = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
  const std::uint8_t* seed = data + 3;
  const std::uint8_t* source = seed + seedLength;
  const std::size_t sourceLength = size - 3 - seedLength;

  // Signing: split feeding changes nothing, and the stream reads back.
  const std::vector<std::uint8_t> whole = MakeSignatureStream(data + 1, size - 1);
  if (whole != SignInPieces(data + 1, size - 1, piece, room)) Broken("split feeding changed the signatures");
  std::vector<ChunkSignature> own;
  if (!ParseSignatureStream(whole.data(), whole.size(), &own)) Broken("own stream unreadable");
  std::uint64_t signedBytes = 0;
  for (const auto& c : own) signedBytes += c.length;
  if (signedBytes != size - 1) Broken("chunks do not cover the file");
  // Its second level reads back, covers the stream, and has none of its own.
  const std::vector<std::uint8_t> second = MakeSecondLevelStream(whole.data(), whole.size());
  std::vector<ChunkSignature> runs;
  if (!ParseSignatureStream(second.data(), second.size(), &runs)) Broken("second level unreadable");
  signedBytes = 0;
  for (const auto& c : runs) signedBytes += c.length;
  if (signedBytes != whole.size()) Broken("second-level runs do not cover the stream");
  if (!MakeSecondLevelStream(second.data(), second.size()).empty()) Broken("a second level of a second level");

  // Comparing: refused exactly when a stream is malformed; otherwise the
  // needs rebuild the source's length from valid ranges.
  std::vector<ChunkSignature> seedChunks, sourceChunks;
  // A file's chunks (any window) and a signature list's (window 0) are
  // never compared with each other.
  const bool valid = ParseSignatureStream(seed, seedLength, &seedChunks) &&
                     ParseSignatureStream(source, sourceLength, &sourceChunks) &&
                     (seed[6] == 0 && seed[7] == 0) == (source[6] == 0 && source[7] == 0);
  MemoryRdcFileReader* seedReader = new MemoryRdcFileReader(seed, seedLength);
  SignatureComparator comparator;
  const HRESULT init = comparator.Init(seedReader, static_cast<ULONG>(piece));
  seedReader->Release();
  if (FAILED(init)) {
    if (init != E_FAIL || ParseSignatureStream(seed, seedLength, &seedChunks)) Broken("seed refused wrongly");
    return 0;
  }
  std::uint64_t seedTotal = 0;
  for (const auto& c : seedChunks) seedTotal += c.length;

  std::vector<RdcNeed> needs(room), all;
  std::size_t at = 0;
  BOOL end = FALSE;
  HRESULT hr = S_OK;
  while (!end) {
    const std::size_t n = std::min(piece, sourceLength - at);
    RdcBufferPointer in{static_cast<ULONG>(n), 0, const_cast<std::uint8_t*>(source + at)};
    RdcNeedPointer out{room, 0, needs.data()};
    hr = comparator.Process(at + n == sourceLength, &end, &in, &out);
    if (FAILED(hr)) break;
    if (in.m_Used == 0 && out.m_Used == 0 && !end) Broken("comparator made no progress");
    at += in.m_Used;
    all.insert(all.end(), needs.begin(), needs.begin() + out.m_Used);
  }
  if (FAILED(hr) != !valid) Broken("comparator verdict differs from the stream's validity");
  if (!valid) return 0;

  std::uint64_t sourceAt = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const RdcNeed& need = all[i];
    if (need.m_BlockLength == 0) Broken("empty need");
    if (need.m_BlockType == RDCNEED_SOURCE) {
      if (need.m_FileOffset != sourceAt) Broken("source range out of place");
    } else if (need.m_BlockType == RDCNEED_SEED) {
      if (need.m_FileOffset + need.m_BlockLength > seedTotal) Broken("seed range past the seed");
    } else {
      Broken("unknown need type");
    }
    if (i > 0 && all[i - 1].m_BlockType == need.m_BlockType &&
        all[i - 1].m_FileOffset + all[i - 1].m_BlockLength == need.m_FileOffset)
      Broken("neighbours not merged");
    sourceAt += need.m_BlockLength;
  }
  std::uint64_t sourceTotal = 0;
  for (const auto& c : sourceChunks) sourceTotal += c.length;
  if (sourceAt != sourceTotal) Broken("needs do not cover the new file");
  return 0;
}
