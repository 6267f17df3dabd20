// Matching a new version's chunks against an old version's.
//
// The seed's chunks are indexed by their strong hash; each source chunk is
// looked up by hash and length. A chunk found in the seed becomes a SEED
// range, any other a SOURCE range. Ranges are merged while they continue
// each other, and among equal seed chunks the one that continues the
// previous range is preferred, so that unchanged stretches come out as one
// record.
#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

#include "update/rdc/RdcEngine.h"

namespace DIFF {

namespace {

// What a header announces: its record size (0 when the stream is not ours)
// and its level (1 for a file's signatures, 2 for those of a signature stream).
struct StreamKind {
  std::size_t recordSize = 0;
  int level = 0;
};

StreamKind KindOf(const std::uint8_t* h) {
  const unsigned window = h[6] | h[7] << 8, horizon = h[8] | h[9] << 8, maxChunk = h[10] | h[11] << 8;
  if (h[0] != 'V' || h[1] != 'R' || h[2] != 'D' || h[3] != 'C') return {};
  const bool current = h[4] == kSignatureVersion && h[5] == kStrongHashSize;
  if (window == kHashWindow && horizon == kHorizon && maxChunk == kMaxChunk) {
    if (current) return {kSignatureRecordSize, 1};
    if (h[4] == 1 && h[5] == kVersion1HashSize) return {2 + kVersion1HashSize, 1};
  }
  if (current && window == 0 && horizon == kSecondLevelHorizon && maxChunk == kSecondLevelMaxChunk)
    return {kSignatureRecordSize, 2};
  return {};
}

std::uint64_t HashKey(const std::uint8_t* hash) {
  std::uint64_t key = 0;
  std::memcpy(&key, hash, sizeof key);
  return key;
}

// Splits a signature stream, fed in pieces, into its header and records.
class StreamParser {
 public:
  // Feeds bytes; calls onChunk(length, hash) per complete record. False once
  // the stream is found invalid (the header, or a zero length).
  template <typename OnChunk>
  bool Feed(const std::uint8_t* data, std::size_t count, std::size_t* taken, OnChunk&& onChunk,
            std::size_t maxRecords = SIZE_MAX) {
    std::size_t at = 0;
    std::size_t records = 0;
    while (at < count) {
      const std::size_t want = (headerDone_ ? recordSize_ : kSignatureHeaderSize) - carried_;
      if (records == maxRecords && headerDone_) break;
      const std::size_t n = std::min(want, count - at);
      std::memcpy(carry_ + carried_, data + at, n);
      carried_ += n;
      at += n;
      if (n < want) break;
      carried_ = 0;
      if (!headerDone_) {
        const StreamKind kind = KindOf(carry_);
        recordSize_ = kind.recordSize;
        level_ = kind.level;
        if (recordSize_ == 0 || (expectedLevel_ != 0 && level_ != expectedLevel_))
          return bad_ = true, *taken = at, false;
        headerDone_ = true;
        continue;
      }
      const std::uint32_t length = carry_[0] | static_cast<std::uint32_t>(carry_[1]) << 8;
      if (length == 0) return bad_ = true, *taken = at, false;
      onChunk(length, carry_ + 2);
      ++records;
    }
    *taken = at;
    return true;
  }
  // A stream may end only after its header and between records.
  bool CompleteAtEnd() const { return headerDone_ && carried_ == 0 && !bad_; }
  // The level the header announced (0 before it); a header of another
  // level than expected, when one is set, makes the stream invalid.
  int Level() const { return level_; }
  void ExpectLevel(int level) { expectedLevel_ = level; }

 private:
  std::uint8_t carry_[2 + kVersion1HashSize] = {};
  std::size_t carried_ = 0;
  std::size_t recordSize_ = 0;
  bool headerDone_ = false;
  bool bad_ = false;
  int level_ = 0;
  int expectedLevel_ = 0;
};

static_assert(2 + kVersion1HashSize >= kSignatureHeaderSize && kVersion1HashSize >= kStrongHashSize,
              "the carry holds a header or a record of either version");

struct SeedChunk {
  std::uint8_t hash[kStrongHashSize];
  std::uint32_t length;
  std::uint64_t offset;
  std::uint32_t next;  // next seed chunk with the same key, or kEnd
};
constexpr std::uint32_t kEnd = UINT32_MAX;

}  // namespace

bool ParseSignatureStream(const std::uint8_t* bytes, std::size_t length,
                          std::vector<ChunkSignature>* chunks) {
  if (chunks == nullptr || (bytes == nullptr && length > 0)) return false;
  StreamParser parser;
  std::vector<ChunkSignature> list;
  std::size_t taken = 0;
  const bool ok = parser.Feed(bytes, length, &taken, [&](std::uint32_t len, const std::uint8_t* hash) {
    ChunkSignature c;
    c.length = len;
    std::memcpy(c.hash, hash, kStrongHashSize);
    list.push_back(c);
  });
  if (!ok || !parser.CompleteAtEnd()) return false;
  *chunks = std::move(list);
  return true;
}

struct SignatureComparator::State {
  struct Chain {
    std::uint32_t first, last;
  };
  std::vector<SeedChunk> seed;                        // in seed order, so sorted by offset
  std::unordered_map<std::uint64_t, Chain> index;     // key -> seed chunks with that key

  StreamParser source;
  std::uint64_t sourceOffset = 0;
  bool failed = false;
  bool ended = false;

  // The range being extended, and a finished one waiting for output room.
  bool havePending = false;
  RdcNeed pending{};
  bool haveReady = false;
  RdcNeed ready{};

  void AddSeed(std::uint32_t length, const std::uint8_t* hash, std::uint64_t offset) {
    SeedChunk c;
    std::memcpy(c.hash, hash, kStrongHashSize);
    c.length = length;
    c.offset = offset;
    c.next = kEnd;
    const std::uint32_t at = static_cast<std::uint32_t>(seed.size());
    seed.push_back(c);
    auto slot = index.emplace(HashKey(hash), Chain{at, at});
    if (!slot.second) {
      seed[slot.first->second.last].next = at;
      slot.first->second.last = at;
    }
  }

  static bool Same(const SeedChunk& c, std::uint32_t length, const std::uint8_t* hash) {
    return c.length == length && std::memcmp(c.hash, hash, kStrongHashSize) == 0;
  }

  // Where a source chunk's bytes can be found in the seed, if anywhere:
  // right after the seed range being extended when the seed has them there,
  // else their first place in the seed.
  bool FindSeed(std::uint32_t length, const std::uint8_t* hash, std::uint64_t* offset) const {
    if (havePending && pending.m_BlockType == RDCNEED_SEED) {
      const std::uint64_t wanted = pending.m_FileOffset + pending.m_BlockLength;
      auto next = std::lower_bound(seed.begin(), seed.end(), wanted,
                                   [](const SeedChunk& c, std::uint64_t at) { return c.offset < at; });
      if (next != seed.end() && next->offset == wanted && Same(*next, length, hash)) {
        *offset = wanted;
        return true;
      }
    }
    auto it = index.find(HashKey(hash));
    if (it == index.end()) return false;
    for (std::uint32_t k = it->second.first; k != kEnd; k = seed[k].next) {
      if (Same(seed[k], length, hash)) {
        *offset = seed[k].offset;
        return true;
      }
    }
    return false;
  }

  void AddRange(RdcNeedType type, std::uint64_t offset, std::uint64_t length) {
    if (havePending && pending.m_BlockType == type &&
        pending.m_FileOffset + pending.m_BlockLength == offset) {
      pending.m_BlockLength += length;
      return;
    }
    if (havePending) {
      ready = pending;
      haveReady = true;
    }
    pending.m_BlockType = type;
    pending.m_FileOffset = offset;
    pending.m_BlockLength = length;
    havePending = true;
  }
};

// A seed index entry per chunk; the seed itself is read in pieces.
SignatureComparator::SignatureComparator() = default;
SignatureComparator::~SignatureComparator() = default;

HRESULT SignatureComparator::Init(IRdcFileReader* seedSignatures, ULONG bufferSize) {
  if (seedSignatures == nullptr || bufferSize == 0) return E_INVALIDARG;
  state_.reset();
  try {
    std::unique_ptr<State> s(new State);
    ULONGLONG size = 0;
    if (FAILED(seedSignatures->GetFileSize(&size))) return E_FAIL;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<ULONGLONG>(size, bufferSize)));
    StreamParser parser;
    std::uint64_t offset = 0;
    ULONGLONG at = 0;
    while (at < size) {
      const ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(size - at, piece.size()));
      ULONG got = 0;
      BOOL eof = FALSE;
      if (FAILED(seedSignatures->Read(at, want, &got, piece.data(), &eof)) || got == 0 || got > want)
        return E_FAIL;
      std::size_t taken = 0;
      if (!parser.Feed(piece.data(), got, &taken, [&](std::uint32_t length, const std::uint8_t* hash) {
            s->AddSeed(length, hash, offset);
            offset += length;
          }))
        return E_FAIL;
      at += got;
    }
    if (!parser.CompleteAtEnd()) return E_FAIL;
    if (s->seed.size() >= kEnd) return E_FAIL;
    // Chunks of a file and chunks of a signature stream never match.
    s->source.ExpectLevel(parser.Level());
    state_ = std::move(s);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT SignatureComparator::Process(BOOL endOfInput, BOOL* endOfOutput, RdcBufferPointer* input,
                                     RdcNeedPointer* output) {
  if (endOfOutput == nullptr || input == nullptr || output == nullptr) return E_INVALIDARG;
  if (input->m_Used > input->m_Size || output->m_Used > output->m_Size) return E_INVALIDARG;
  if ((input->m_Data == nullptr && input->m_Used < input->m_Size) ||
      (output->m_Data == nullptr && output->m_Used < output->m_Size))
    return E_INVALIDARG;
  *endOfOutput = FALSE;
  if (!state_) return E_UNEXPECTED;
  State& s = *state_;
  if (s.failed || s.ended) return E_FAIL;

  try {
    for (;;) {
      if (s.haveReady) {
        if (output->m_Used == output->m_Size) break;  // full: the rest waits
        output->m_Data[output->m_Used++] = s.ready;
        s.haveReady = false;
      }
      const std::size_t left = input->m_Size - input->m_Used;
      if (left == 0) {
        if (!endOfInput) break;
        if (!s.source.CompleteAtEnd()) {
          s.failed = true;
          return E_FAIL;
        }
        if (s.havePending) {
          s.ready = s.pending;
          s.haveReady = true;
          s.havePending = false;
          continue;
        }
        s.ended = true;
        *endOfOutput = TRUE;
        break;
      }
      // One record at a time, so that a full output stops the intake at a
      // record's end.
      std::size_t taken = 0;
      const bool ok = s.source.Feed(
          input->m_Data + input->m_Used, left, &taken,
          [&](std::uint32_t length, const std::uint8_t* hash) {
            std::uint64_t seedOffset = 0;
            if (s.FindSeed(length, hash, &seedOffset))
              s.AddRange(RDCNEED_SEED, seedOffset, length);
            else
              s.AddRange(RDCNEED_SOURCE, s.sourceOffset, length);
            s.sourceOffset += length;
          },
          1);
      input->m_Used += static_cast<ULONG>(taken);
      if (!ok) {
        s.failed = true;
        return E_FAIL;
      }
    }
  } catch (const std::bad_alloc&) {
    s.failed = true;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace DIFF
