// Content-defined chunking and chunk signatures.
//
// Positions are absolute byte offsets in the file. The hash at position p
// covers the 48 bytes before p, with zero bytes standing in before the file's
// start, so every position has one. A position p > 0 starts a chunk when its
// hash is strictly greater than the hash of every other position within
// kHorizon before and after it (positions outside the file do not count).
//
// The work is done in two passes over each piece of input, so that the pass
// every byte goes through is short:
//  1. The rolling hash of every new position is stored, and the maximum of
//     each block of kBlock positions is kept.
//  2. Blocks are decided once the hashes kHorizon positions past them are
//     known. The kNear blocks on either side of a block lie wholly within
//     the horizon of each of its positions, so when the largest of their
//     maxima reaches the block's maximum, no position of the block can start
//     a chunk: for random data that settles all but about one block in
//     2 * kNear + 1. A position above all those blocks is compared with the
//     rest of its horizon, hash by hash.
// Chunks are signed as their bytes become certain to belong to them, so only
// the last few thousand bytes and hashes are held. The bytes are hashed and
// signed where the caller's input holds them; only those still needed when
// a call returns (a horizon's and a step's worth) are copied.
//
// The signing lags one step behind the decisions: the whole SHA-1 blocks of
// the bytes settled in one step are compressed during the next step's pass 1,
// interleaved with it (the rounds wait on one another, and the hashes keep
// the processor's other units busy meanwhile). A chunk's partial last block
// and its padding follow that pass.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "update/Sha1.h"
#include "update/Sha1Compress.h"
#include "update/rdc/RdcEngine.h"
#include "update/rdc/WindowHashes.h"

namespace DIFF {

namespace {

constexpr std::int64_t kBlock = 64;
static_assert(kHorizon % kBlock == 0, "the horizon is a whole number of blocks");
// Blocks on either side of a block that lie within the horizon of every one
// of its positions.
constexpr std::int64_t kNear = kHorizon / kBlock - 1;
// Blocks whose hashes are needed to decide a block: the far ends of its
// positions' horizons.
constexpr std::int64_t kReach = kHorizon / kBlock + 1;
static_assert(kMaxChunk <= 0xFFFF, "chunk lengths are stored in 16 bits");
static_assert(kMaxChunk > kHorizon + kBlock, "forced cuts lag the decided blocks");

// Waiting output past which no more input is taken until the caller has
// collected some.
constexpr std::size_t kPendingLimit = 4096;
// Input taken in one step between checks of the waiting output: small
// enough that the step's hashes are still in the processor's near caches
// when their blocks' maxima are taken, large enough that the per-step work
// (and the window hashes' lead-ins) stays a small share.
constexpr std::size_t kStep = 8192;
// Hashes no horizon needs any more are dropped once there are this many of
// them: rarely enough that moving the rest down costs little, and often
// enough that the hashes stay in the processor's nearer caches.
constexpr std::int64_t kDropAtLeast = 16384;

// Blocks whose maxima are taken together, so that the near blocks on either
// side of a block are two such spans (which may overlap).
constexpr std::int64_t kSpan = 8;
static_assert(kNear >= kSpan && kNear <= 2 * kSpan, "two spans cover the near blocks on either side");

std::uint32_t MaxOf(const std::uint32_t* hashes, std::int64_t count) {
  return count > 0 ? MaxOfHashes(hashes, static_cast<std::size_t>(count)) : 0;
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
  // Bytes from the first one not yet signed (or kHashWindow before the next
  // position, whichever is earlier) up to the first byte of the current
  // call's input: buf[i] holds position bufBase + i. The file is preceded by
  // kHashWindow zero bytes.
  std::vector<std::uint8_t> buf;
  std::int64_t bufBase = -static_cast<std::int64_t>(kHashWindow);
  // The current call's input: fresh[i] holds position freshBase + i, up to
  // the next position. Outside a call, everything taken is in buf.
  const std::uint8_t* fresh = nullptr;
  std::int64_t freshBase = 0;
  // The windows that reach back from the current call's input into buf,
  // put together.
  std::uint8_t seam[2 * kHashWindow];
  std::int64_t pos = 0;  // next position to hash (= bytes taken)
  WindowHashes windowHashes;

  // Hashes of positions hashBase.. pos - 1, and the maxima of their blocks
  // (blockMax[i] for the block starting at hashBase + i * kBlock; the last
  // one only once complete, or at the end). hashBase is a block's start.
  std::unique_ptr<std::uint32_t[]> hashes;  // hashCount of hashRoom used
  std::size_t hashCount = 0, hashRoom = 0;
  std::vector<std::uint32_t> blockMax;
  // spanMax[i]: the largest of blockMax[i] .. blockMax[i + kSpan - 1], once
  // they are all there.
  std::vector<std::uint32_t> spanMax;
  std::int64_t hashBase = 0;
  std::int64_t decided = 0;  // first block not yet decided

  std::int64_t start = 0;  // current chunk's first position

  // Signing, which follows the decisions: the chunks ending at cuts (in
  // order) and the one after them are decided up to settledTo, and signed
  // from signedTo on. signing[i] is the hash of the i-th of those chunks;
  // signing[0]'s (from signStart) holds the bytes before signedTo, a whole
  // number of blocks, and the others nothing yet.
  std::int64_t signStart = 0;
  std::int64_t signedTo = 0;
  std::int64_t settledTo = 0;
  std::vector<std::int64_t> cuts;
  std::vector<Sha1Context> signing = std::vector<Sha1Context>(1);
  // The whole blocks to compress in the next pass 1, and the one block that
  // lies partly in buf and partly in the caller's input, put together.
  std::vector<Sha1Blocks> blocks;
  std::uint8_t seamBlock[64];

  std::vector<std::uint8_t> out;  // signature bytes not yet handed out
  std::size_t outRead = 0;
  bool finished = false;          // all input taken and the last chunk signed
  bool ended = false;             // end of output reported

  State() : buf(kHashWindow, 0) {
    out.reserve(2 * kPendingLimit);
    AppendSignatureHeader(out, kHashWindow, kHorizon, kMaxChunk);
  }

  std::uint32_t HashAt(std::int64_t p) const { return hashes[static_cast<std::size_t>(p - hashBase)]; }
  // Room for count more hashes (left as they are: pass 1 writes them all).
  std::uint32_t* AddHashes(std::size_t count) {
    if (hashCount + count > hashRoom) {
      const std::size_t room = std::max(hashCount + count, 2 * hashRoom);
      std::unique_ptr<std::uint32_t[]> grown(new std::uint32_t[room]);
      if (hashCount > 0) std::memcpy(grown.get(), hashes.get(), hashCount * sizeof(std::uint32_t));
      hashes = std::move(grown);
      hashRoom = room;
    }
    hashCount += count;
    return hashes.get() + (hashCount - count);
  }
  void DropHashes(std::size_t count) {
    std::memmove(hashes.get(), hashes.get() + count, (hashCount - count) * sizeof(std::uint32_t));
    hashCount -= count;
  }
  std::uint32_t MaxOfBlock(std::int64_t block) const {
    return blockMax[static_cast<std::size_t>(block - hashBase / kBlock)];
  }

  // Feeds the bytes of positions from .. to - 1 to sha, from buf and the
  // current input as they lie.
  void Feed(Sha1Context& sha, std::int64_t from, std::int64_t to) const {
    if (from < std::min(to, freshBase))
      sha.Update(buf.data() + (from - bufBase), static_cast<std::size_t>(std::min(to, freshBase) - from));
    from = std::max(from, freshBase);
    if (from < to) sha.Update(fresh + (from - freshBase), static_cast<std::size_t>(to - from));
  }

  // The chunk ends at end (it is signed later).
  void Emit(std::int64_t end) {
    cuts.push_back(end);
    start = end;
  }

  // Lists in blocks the whole blocks of everything settled and not yet
  // signed, each chunk's counted in its hash, for SignedBlocks to finish
  // once they are compressed.
  void ListBlocks();
  void SignedBlocks();
  // The listed blocks compressed on their own, with nothing beside them.
  void CompressListed() const {
    for (const Sha1Blocks& b : blocks) sha1_detail::BestCompress()(b.state, b.data, b.count);
  }
  void SignSettled() {
    ListBlocks();
    CompressListed();
    SignedBlocks();
  }

  // Cuts at end, and before it wherever the length limit requires.
  void CutAt(std::int64_t end) {
    while (end - start > static_cast<std::int64_t>(kMaxChunk)) Emit(start + kMaxChunk);
    if (end > start) Emit(end);
  }

  // Whether p is above every hash of the file within kHorizon that lies
  // outside its own block and the near blocks on either side (which the
  // caller has compared with it already).
  bool AboveItsFarHorizon(std::int64_t p, std::int64_t block, std::int64_t end) const {
    const std::uint32_t v = HashAt(p);
    const std::int64_t lowFrom = std::max<std::int64_t>(0, p - kHorizon), lowTo = (block - kNear) * kBlock;
    const std::int64_t highFrom = (block + kNear + 1) * kBlock, highTo = std::min(end, p + kHorizon + 1);
    return (lowTo <= lowFrom || MaxOf(&hashes[static_cast<std::size_t>(lowFrom - hashBase)], lowTo - lowFrom) < v) &&
           (highTo <= highFrom || MaxOf(&hashes[static_cast<std::size_t>(highFrom - hashBase)], highTo - highFrom) < v);
  }

  // The chunks starting in block (all of whose horizons are known, end
  // being the number of positions known).
  void Decide(std::int64_t block, std::int64_t end) {
    const std::uint32_t top = MaxOfBlock(block);
    // The near blocks' maximum, taken whole rather than stopping at the first
    // that reaches the block: where that happens is random, and so would be
    // the branch that stops.
    const std::int64_t lastBlock = (end - 1) / kBlock;
    const std::int64_t below = std::max<std::int64_t>(0, block - kNear);
    const std::int64_t above = std::min(lastBlock, block + kNear);
    const bool anyNear = above > below;
    const std::int64_t i = block - hashBase / kBlock;
    std::uint32_t nearMax;
    if (below == block - kNear && above == block + kNear && i >= kNear &&
        i + kNear - kSpan + 1 < static_cast<std::int64_t>(spanMax.size())) {
      // Two spans on either side, four values instead of 2 * kNear.
      const std::uint32_t* span = spanMax.data() + i;
      nearMax = std::max(std::max(span[-kNear], span[-kSpan]), std::max(span[1], span[kNear - kSpan + 1]));
    } else {  // near the file's start or end
      const std::uint32_t* maxima = blockMax.data() + (below - hashBase / kBlock);
      nearMax = std::max(MaxOf(maxima, block - below), MaxOf(maxima + (block - below) + 1, above - block));
    }
    if (anyNear && nearMax >= top) return;  // reaches every position of the block
    // Every position of the block lies within the horizon of every other, so
    // only the block's largest hash can start a chunk, and only if no other
    // position of the block has it too (nor is it the file's first position,
    // which starts no chunk but counts against others).
    const std::int64_t from = block * kBlock, stop = std::min(end, (block + 1) * kBlock);
    std::int64_t p = from;
    while (HashAt(p) != top) ++p;
    if (p == 0 || (p + 1 < stop && MaxOf(&hashes[static_cast<std::size_t>(p + 1 - hashBase)], stop - p - 1) == top)) return;
    if (AboveItsFarHorizon(p, block, end)) CutAt(p);
  }

  void Begin(const std::uint8_t* input) {
    fresh = input;
    freshBase = pos;
  }
  void Take(std::size_t count);
  // Keeps the bytes taken in this call that are still needed.
  void End();
  void DecideUpTo(std::int64_t blockEnd, std::int64_t end);
  void Finish();
};

void SignatureGenerator::State::DecideUpTo(std::int64_t blockEnd, std::int64_t end) {
  // Most blocks are settled by their near blocks alone: that test is made
  // here, and the rest (and blocks near the file's ends) go to Decide.
  const std::int64_t base = hashBase / kBlock;
  const std::int64_t lastBlock = (end - 1) / kBlock;
  const std::int64_t spans = static_cast<std::int64_t>(spanMax.size());
  // The blocks with kNear whole blocks on either side and their spans there
  // (the last span read starts kNear - kSpan + 1 blocks on; at the end of a
  // file that ends inside a block, the spans stop short of that block).
  const std::int64_t fastFrom = std::max(kNear, base + kNear);
  const std::int64_t fastTo = std::min({blockEnd, lastBlock - kNear + 1, base + spans - (kNear - kSpan + 1)});
  std::int64_t b = decided;
  while (b < blockEnd) {
    if (b >= fastFrom && b < fastTo) {
      // Passes over the blocks their near blocks reach in a loop of its own,
      // as that is what nearly every block comes to.
      const std::uint32_t* span = spanMax.data() + (b - base);
      const std::uint32_t* top = blockMax.data() + (b - base);
      const std::int64_t n = fastTo - b;
      std::int64_t k = 0;
      while (k < n && std::max(std::max(span[k - kNear], span[k - kSpan]),
                               std::max(span[k + 1], span[k + kNear - kSpan + 1])) >= top[k])
        ++k;
      b += k;
      if (b == fastTo) continue;
    }
    Decide(b, end);
    ++b;
  }
  decided = std::max(decided, blockEnd);
  // Every position before the first undecided block is settled: a chunk that
  // already reaches the length limit there is cut, and its bytes so far are
  // certainly its own.
  const std::int64_t settled = std::min(end, decided * kBlock);
  while (settled - start > static_cast<std::int64_t>(kMaxChunk)) Emit(start + kMaxChunk);
  settledTo = std::max(settledTo, settled);
}

void SignatureGenerator::State::ListBlocks() {
  blocks.clear();
  if (signing.size() < cuts.size() + 1) signing.resize(cuts.size() + 1);
  std::int64_t from = signedTo;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    // The last chunk is still open: only its whole blocks are signed yet.
    const std::int64_t to = i < cuts.size() ? cuts[i] : settledTo;
    const std::int64_t whole = (to - from) / 64;
    if (whole > 0) {
      std::uint32_t* state = signing[i].DeferBlocks(static_cast<std::size_t>(whole));
      const std::int64_t end = from + 64 * whole;
      std::int64_t at = from;
      if (at < freshBase) {  // blocks held in buf
        const std::int64_t n = (std::min(end, freshBase) - at) / 64;
        if (n > 0) blocks.push_back({state, buf.data() + (at - bufBase), static_cast<std::size_t>(n)});
        at += 64 * n;
      }
      if (at < freshBase && at < end) {  // the block across the seam
        const std::size_t held = static_cast<std::size_t>(freshBase - at);
        std::memcpy(seamBlock, buf.data() + (at - bufBase), held);
        std::memcpy(seamBlock + held, fresh, 64 - held);
        blocks.push_back({state, seamBlock, 1});
        at += 64;
      }
      if (at < end) blocks.push_back({state, fresh + (at - freshBase), static_cast<std::size_t>((end - at) / 64)});
    }
    if (i < cuts.size()) from = cuts[i];
  }
}

void SignatureGenerator::State::SignedBlocks() {
  std::int64_t from = signedTo, chunkStart = signStart;
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    Sha1Context& sha = signing[i];
    Feed(sha, from + (cuts[i] - from) / 64 * 64, cuts[i]);
    sha.Final();
    const std::size_t length = static_cast<std::size_t>(cuts[i] - chunkStart);
    out.push_back(static_cast<std::uint8_t>(length));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.insert(out.end(), sha.Digest(), sha.Digest() + kStrongHashSize);
    sha.Reset();
    from = chunkStart = cuts[i];
  }
  signedTo = from + std::max<std::int64_t>(0, settledTo - from) / 64 * 64;
  signStart = chunkStart;
  std::swap(signing[0], signing[cuts.size()]);
  cuts.clear();
}

// Hashes the next count positions of the current input and decides every
// block whose horizon is now known.
void SignatureGenerator::State::Take(std::size_t count) {
  // Drop the hashes no horizon reaches.
  const std::int64_t keepHashes = std::max<std::int64_t>(0, decided - kReach) * kBlock;
  if (keepHashes - hashBase >= kDropAtLeast) {
    DropHashes(static_cast<std::size_t>(keepHashes - hashBase));
    const std::size_t blocks = static_cast<std::size_t>((keepHashes - hashBase) / kBlock);
    blockMax.erase(blockMax.begin(), blockMax.begin() + blocks);
    spanMax.erase(spanMax.begin(), spanMax.begin() + std::min(blocks, spanMax.size()));
    hashBase = keepHashes;
  }
  std::uint32_t* h = AddHashes(count);

  // Pass 1: the hash of each new position (the window before its own byte).
  // The first kHashWindow positions of a call reach back into buf: their
  // windows are put together in seam.
  const std::int64_t seamed = std::min<std::int64_t>(static_cast<std::int64_t>(count),
                                                     freshBase + kHashWindow - pos);
  if (seamed > 0) {
    for (std::int64_t q = pos - kHashWindow; q < pos + seamed - 1; ++q)
      seam[q - (pos - kHashWindow)] = q < freshBase ? buf[static_cast<std::size_t>(q - bufBase)] : fresh[q - freshBase];
    windowHashes.Compute(seam + kHashWindow, static_cast<std::size_t>(seamed), h);
    pos += seamed;
    h += seamed;
    count -= static_cast<std::size_t>(seamed);
  }
  // The rest from the next block's start on, with the maxima of its whole
  // blocks; the block that ends there (if it began before this step) has
  // its maximum taken afterwards.
  static_assert(kBlock == 64, "block maxima are taken 64 hashes at a time");
  const std::int64_t end = pos + static_cast<std::int64_t>(count);
  const std::int64_t aligned = std::min(end, (pos + kBlock - 1) / kBlock * kBlock);
  if (aligned > pos) {
    windowHashes.Compute(fresh + (pos - freshBase), static_cast<std::size_t>(aligned - pos), h);
    h += aligned - pos;
    pos = aligned;
  }
  const std::int64_t firstOpen = hashBase / kBlock + static_cast<std::int64_t>(blockMax.size());
  blockMax.resize(static_cast<std::size_t>(end / kBlock - hashBase / kBlock));
  // The chunks settled in the last step are signed alongside.
  ListBlocks();
  if (end > pos)
    windowHashes.ComputeWithMaxima(fresh + (pos - freshBase), static_cast<std::size_t>(end - pos), h,
                                   blockMax.data() + (pos / kBlock - hashBase / kBlock), blocks.data(),
                                   blocks.size());
  else
    CompressListed();
  SignedBlocks();
  for (std::int64_t b = firstOpen; b < std::min(pos, end) / kBlock; ++b)
    blockMax[static_cast<std::size_t>(b - hashBase / kBlock)] = MaxOf(hashes.get() + (b * kBlock - hashBase), kBlock);
  pos = end;
  if (spanMax.size() + kSpan <= blockMax.size()) {
    const std::size_t from = spanMax.size();
    spanMax.resize(blockMax.size() - kSpan + 1);
    // Without branches: which block is largest is random.
    for (std::size_t i = from; i < spanMax.size(); ++i) {
      const std::uint32_t* m = blockMax.data() + i;
      std::uint32_t top = m[0];
      for (std::int64_t k = 1; k < kSpan; ++k) top = std::max(top, m[k]);
      spanMax[i] = top;
    }
  }

  // Pass 2: a block is decided once the blocks its horizons reach are whole.
  DecideUpTo(pos / kBlock - kReach + 1, pos);
}

void SignatureGenerator::State::End() {
  const std::int64_t keep = std::min(signedTo, pos - static_cast<std::int64_t>(kHashWindow));
  const std::int64_t held = bufBase + static_cast<std::int64_t>(buf.size());  // = freshBase
  if (keep >= held) {
    buf.assign(fresh + (keep - freshBase), fresh + (pos - freshBase));
  } else {
    buf.erase(buf.begin(), buf.begin() + (keep - bufBase));
    buf.insert(buf.end(), fresh, fresh + (pos - freshBase));
  }
  bufBase = keep;
  fresh = nullptr;
  freshBase = pos;
}

// Every position has been seen: the last blocks are decided with what is
// there, and the rest of the file is cut as the length limit requires.
void SignatureGenerator::State::Finish() {
  if (pos % kBlock != 0) {
    const std::int64_t from = pos / kBlock * kBlock;
    blockMax.push_back(MaxOf(hashes.get() + (from - hashBase), pos - from));
  }
  DecideUpTo((pos + kBlock - 1) / kBlock, pos);
  CutAt(pos);
  SignSettled();
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
    s.Begin(input->m_Data + input->m_Used);
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
        // Steps of equal size: each step's signing runs beside the next
        // one's hashes, and overlaps as much of them as the two are alike.
        const std::size_t steps = (left + kStep - 1) / kStep;
        const std::size_t step = (left + steps - 1) / steps;
        s.Take(step);
        input->m_Used += static_cast<ULONG>(step);
        continue;
      }
      if (endOfInput && !s.finished) {
        s.Finish();
        continue;
      }
      break;
    }
    s.End();
  } catch (const std::bad_alloc&) {
    // Part of the work may have been done and part not: no further call
    // could give a sound stream.
    s.ended = true;
    return E_OUTOFMEMORY;
  }
  if (s.finished && s.outRead == s.out.size()) {
    s.ended = true;
    *endOfOutput = TRUE;
  }
  return S_OK;
}

}  // namespace DIFF
