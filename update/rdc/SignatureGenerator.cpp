// Content-defined chunking and chunk signatures.
//
// Positions are absolute byte offsets in the file. The hash at position p
// covers the 48 bytes before p, with zero bytes standing in before the file's
// start, so every position has one. A position p > 0 starts a chunk when its
// hash is strictly greater than the hash of every other position within
// kHorizon before and after it (positions outside the file do not count).
//
// Streaming: a position's left side is known when it is reached; its right
// side kHorizon positions later. So at most one position is pending at a
// time (the candidate): any later position whose hash reaches the
// candidate's ends it, and a candidate that survives kHorizon positions is a
// boundary. The maximum of the kHorizon hashes before a position comes from
// blocks of kHorizon positions: the suffix maxima of the previous block and
// the running maximum of the current one, so that each position costs a few
// operations whatever the data.
#include <algorithm>
#include <cstring>
#include <new>

#include "update/Sha1.h"
#include "update/rdc/RdcEngine.h"
#include "update/rdc/RollingHash.h"

namespace DIFF {

namespace {

static_assert((kHorizon & (kHorizon - 1)) == 0, "block arithmetic needs a power of two");
static_assert(kMaxChunk <= 0xFFFF, "chunk lengths are stored in 16 bits");

constexpr std::int64_t kNone = INT64_MAX / 4;  // no candidate: never confirmed, never beaten
// Waiting output past which no more input is taken until the caller has
// collected some.
constexpr std::size_t kPendingLimit = 4096;
// Input taken in one step between checks of the waiting output.
constexpr std::size_t kStep = 65536;

// The hash of a window of zero bytes: what stands before the file's start.
std::uint32_t ZeroWindowHash() {
  std::uint32_t h = 0;
  for (unsigned i = 0; i < kHashWindow; ++i) h = rolling::Rotl(h, 1) ^ rolling::kTable.t[0];
  return h;
}

}  // namespace

void AppendSignatureHeader(std::vector<std::uint8_t>& out, unsigned window, unsigned horizon, unsigned maxChunk) {
  const std::uint8_t header[kSignatureHeaderSize] = {
      'V', 'R', 'D', 'C', kSignatureVersion, kStrongHashSize,
      static_cast<std::uint8_t>(window), static_cast<std::uint8_t>(window >> 8),
      static_cast<std::uint8_t>(horizon), static_cast<std::uint8_t>(horizon >> 8),
      static_cast<std::uint8_t>(maxChunk), static_cast<std::uint8_t>(maxChunk >> 8)};
  out.insert(out.end(), header, header + kSignatureHeaderSize);
}

struct SignatureGenerator::State {
  // Bytes from (the current chunk's start, or kHashWindow before the next
  // position, whichever is earlier) up to the next position. buf[i] holds
  // position base + i; the file is preceded by kHashWindow zero bytes.
  std::vector<std::uint8_t> buf;
  std::int64_t base = -static_cast<std::int64_t>(kHashWindow);
  std::int64_t pos = 0;    // next position to evaluate (= bytes taken)
  std::int64_t start = 0;  // current chunk's first position
  std::uint32_t roll = ZeroWindowHash();

  std::int64_t cand = kNone;
  std::int64_t candVal = INT64_MAX;
  std::int64_t prefix = -1;       // maximum so far in the current block
  std::int64_t cur[kHorizon];     // hashes of the current block
  std::int64_t suf[kHorizon];     // suffix maxima of the previous block (-1: none)

  std::vector<std::uint8_t> out;  // signature bytes not yet handed out
  std::size_t outRead = 0;
  bool finished = false;          // all input taken and the last chunk signed
  bool ended = false;             // end of output reported

  State() : buf(kHashWindow, 0) {
    std::fill(std::begin(suf), std::end(suf), -1);
    std::fill(std::begin(cur), std::end(cur), -1);
    AppendSignatureHeader(out, kHashWindow, kHorizon, kMaxChunk);
  }

  void Emit(std::int64_t end) {
    const std::size_t length = static_cast<std::size_t>(end - start);
    Sha1Context sha;
    sha.Update(buf.data() + (start - base), length);
    sha.Final();
    out.push_back(static_cast<std::uint8_t>(length));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.insert(out.end(), sha.Digest(), sha.Digest() + kStrongHashSize);
    start = end;
  }

  void Take(const std::uint8_t* data, std::size_t count);
  void Finish();
};

// Appends the bytes and evaluates their positions.
void SignatureGenerator::State::Take(const std::uint8_t* data, std::size_t count) {
  // Drop what no chunk and no window needs any more.
  const std::int64_t keep = std::min(start, pos - static_cast<std::int64_t>(kHashWindow));
  if (keep > base) {
    buf.erase(buf.begin(), buf.begin() + (keep - base));
    base = keep;
  }
  const std::size_t first = buf.size();
  buf.insert(buf.end(), data, data + count);

  constexpr std::int64_t H = kHorizon;
  constexpr unsigned kMask = kHorizon - 1;
  const std::uint8_t* b = buf.data();
  std::uint32_t roll = this->roll;
  std::int64_t p = pos, cand = this->cand, candVal = this->candVal, prefix = this->prefix;
  for (std::size_t i = first, n = buf.size(); i < n; ++i, ++p) {
    if (p > cand + H) {  // survived its right side
      Emit(cand);
      cand = kNone;
      candVal = INT64_MAX;
    }
    const std::int64_t v = roll;
    if (v >= candVal) {
      cand = kNone;
      candVal = INT64_MAX;
    }
    const unsigned j = static_cast<unsigned>(p) & kMask;
    if (v > std::max(suf[j], prefix) && p > 0) {
      cand = p;
      candVal = v;
    }
    prefix = std::max(prefix, v);
    cur[j] = v;
    if (j == kMask) {
      std::int64_t m = -1;
      for (int k = kMask; k >= 0; --k) suf[k] = m = std::max(m, cur[k]);
      prefix = -1;
    }
    if (p - start > static_cast<std::int64_t>(kMaxChunk) && cand > start + kMaxChunk)
      Emit(start + kMaxChunk);
    roll = rolling::Roll(roll, b[i - kHashWindow], b[i]);
  }
  this->roll = roll;
  pos = p;
  this->cand = cand;
  this->candVal = candVal;
  this->prefix = prefix;
}

// Every position has been seen: the candidate has nothing left to its
// right, and the rest of the file is cut as the length limit requires.
void SignatureGenerator::State::Finish() {
  if (cand != kNone) Emit(cand);
  cand = kNone;
  while (pos - start > static_cast<std::int64_t>(kMaxChunk)) Emit(start + kMaxChunk);
  if (pos > start) Emit(pos);
  finished = true;
}

SignatureGenerator::SignatureGenerator() : state_(new (std::nothrow) State) {}
SignatureGenerator::~SignatureGenerator() = default;

HRESULT SignatureGenerator::Process(BOOL endOfInput, BOOL* endOfOutput, RdcBufferPointer* input,
                                    RdcBufferPointer* output) {
  if (!state_) return E_OUTOFMEMORY;
  if (endOfOutput == nullptr || input == nullptr || output == nullptr) return E_INVALIDARG;
  if (input->m_Used > input->m_Size || output->m_Used > output->m_Size) return E_INVALIDARG;
  if ((input->m_Data == nullptr && input->m_Used < input->m_Size) ||
      (output->m_Data == nullptr && output->m_Used < output->m_Size))
    return E_INVALIDARG;
  State& s = *state_;
  *endOfOutput = FALSE;
  if (s.ended) return E_FAIL;
  if (s.finished && input->m_Used < input->m_Size) return E_FAIL;  // more input after its end

  try {
    for (;;) {
      // Hand out what is waiting.
      const std::size_t waiting = s.out.size() - s.outRead;
      const std::size_t room = output->m_Size - output->m_Used;
      const std::size_t give = std::min(waiting, room);
      if (give > 0) {
        std::memcpy(output->m_Data + output->m_Used, s.out.data() + s.outRead, give);
        output->m_Used += static_cast<ULONG>(give);
        s.outRead += give;
      }
      if (s.outRead == s.out.size()) {
        s.out.clear();
        s.outRead = 0;
      } else if (s.outRead > kPendingLimit) {
        s.out.erase(s.out.begin(), s.out.begin() + static_cast<std::ptrdiff_t>(s.outRead));
        s.outRead = 0;
      }
      if (s.out.size() - s.outRead >= kPendingLimit) break;  // the caller must collect first

      const std::size_t left = input->m_Size - input->m_Used;
      if (left > 0) {
        const std::size_t step = std::min(left, kStep);
        s.Take(input->m_Data + input->m_Used, step);
        input->m_Used += static_cast<ULONG>(step);
        continue;
      }
      if (endOfInput && !s.finished) {
        s.Finish();
        continue;
      }
      break;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (s.finished && s.outRead == s.out.size()) {
    s.ended = true;
    *endOfOutput = TRUE;
  }
  return S_OK;
}

}  // namespace DIFF
