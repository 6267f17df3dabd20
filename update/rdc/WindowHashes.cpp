// The window hash of every position, in two passes that each do little per
// byte.
//
// Rolled without anything leaving, the hash of all bytes from some start s
// up to position p is G(p) = XOR over s <= j < p of Rotl(T[in[j]], p - 1 - j).
// The window's hash is then G(p) ^ Rotl(G(p - kHashWindow), kHashWindow): the
// bytes before the window enter both terms equally rotated and cancel. So
//  1. G takes one table look-up and one XOR per byte (the rolling form needs
//     a second look-up for the byte that leaves; the rotations are folded
//     into tables turned in advance, below), and runs as two independent
//     chains over two halves of the input, so that neither waits for its own
//     previous step; each chain starts kHashWindow bytes before its half,
//     which is all a window needs.
//  2. The window hashes are one XOR and two rotations of two stored values
//     each, with no dependence between positions: vector instructions.
#include "update/rdc/WindowHashes.h"

#include <algorithm>
#include <cstring>

#include "update/Sha1Compress.h"
#include "update/Sha1Rounds.h"
#include "update/rdc/RdcEngine.h"
#include "update/rdc/RollingHash.h"

#include <atomic>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VANTLE_RDC_VECTOR_DISPATCH 1
#include <cpuid.h>
#include <immintrin.h>
// GCC for Windows keeps the stack aligned to 16 bytes only, yet may spill
// 32- and 64-byte values to it with aligned moves, which fault where the slot
// is misaligned. The wide kernels are built only where every such move is
// assembled as an unaligned one (the build says so) or the stack keeps up.
#if !defined(_WIN32) || defined(VANTLE_RDC_UNALIGNED_VECTOR_MOVES)
#define VANTLE_RDC_WIDE_VECTORS 1
#endif
#endif

namespace DIFF {

namespace {

// GCC would put some of a chain's stores together into vector registers
// first, which costs more than it saves and lengthens the chain: the chains
// are built without that.
#if defined(__GNUC__) && !defined(__clang__)
#define VANTLE_RDC_SCALAR_STORES __attribute__((optimize("no-tree-slp-vectorize")))
#else
#define VANTLE_RDC_SCALAR_STORES
#endif

constexpr std::size_t kChains = 2;
// Below this many positions per chain, the chains' lead-ins cost more than
// running them side by side saves.
constexpr std::size_t kMinPerChain = 256;
constexpr unsigned kWindowTurn = kHashWindow % 32;
static_assert(kHashWindow % 8 == 0, "a window's ends fall on the same place in a group of eight");
// Positions hashed at a time by Compute without a whole-computation kernel:
// each chain's values (16 KiB) still in the nearest caches when the windows
// read them back.
constexpr std::size_t kPiece = 8192;

// The chains take eight bytes per step and keep their value turned back by
// its place in the step, so that no byte costs a rotation of the chain: with
// A = G(8m) at the start of a step,
//   S(8m + r) = Rotr(G(8m + r), r) = A ^ XOR over i < r of Rotr(T[in[8m + i]], i + 1),
// which takes one look-up in a table turned in advance and one XOR per byte,
// and G(8m + 8) = Rotl(S(8m + 8), 8) once per step. The window hash is then
//   G(p) ^ Rotl(G(p - kHashWindow), kHashWindow)
//     = Rotl(S(p) ^ Rotl(S(p - kHashWindow), kHashWindow), p % 8),
// both ends of the window lying at the same place in their steps.
struct TurnedTables {
  std::uint32_t t[8][256];
  constexpr TurnedTables() : t() {
    for (unsigned i = 0; i < 8; ++i)
      for (int b = 0; b < 256; ++b) t[i][b] = rolling::Rotl(rolling::kTable.t[b], 32 - (i + 1));
  }
};
constexpr TurnedTables kTurned;

inline std::uint32_t Rotl32(std::uint32_t x, unsigned n) { return (x << (n & 31)) | (x >> ((32 - n) & 31)); }

// What a chain stores for position 8m + r: S itself, for windows that turn
// each lane by its own distance, or G = Rotl(S, r) (one rotation more per
// byte, off the chain's own path) for windows that turn all lanes alike.
template <bool kTurnedBack>
inline std::uint32_t Stored(std::uint32_t x, unsigned r) {
  return kTurnedBack ? Rotl32(x, r) : x;
}

// Continues a chain byte by byte from x = S(k) up to s[end]: for the ends
// that do not fill a step.
template <bool kTurnedBack>
VANTLE_RDC_SCALAR_STORES inline void ChainTail(const std::uint8_t* bytes, std::size_t k, std::size_t end,
                                               std::uint32_t x, std::uint32_t* s) {
  for (; k < end; ++k) {
    x ^= kTurned.t[k % 8][bytes[k]];
    if (k % 8 == 7) x = Rotl32(x, 8);
    s[k + 1] = Stored<kTurnedBack>(x, (k + 1) % 8);
  }
}

// One step of eight bytes of one chain: s[1] .. s[8] from x = S(0), the
// bytes read at once (and taken apart in two halves, which shifts less).
template <bool kTurnedBack>
VANTLE_RDC_SCALAR_STORES inline std::uint32_t Step8(std::uint32_t x, const std::uint8_t* bytes, std::uint32_t* s) {
  std::uint64_t w;
  std::memcpy(&w, bytes, 8);
  const std::uint32_t lo = static_cast<std::uint32_t>(w), hi = static_cast<std::uint32_t>(w >> 32);
  s[1] = Stored<kTurnedBack>(x ^= kTurned.t[0][lo & 0xFF], 1);
  s[2] = Stored<kTurnedBack>(x ^= kTurned.t[1][(lo >> 8) & 0xFF], 2);
  s[3] = Stored<kTurnedBack>(x ^= kTurned.t[2][(lo >> 16) & 0xFF], 3);
  s[4] = Stored<kTurnedBack>(x ^= kTurned.t[3][lo >> 24], 4);
  s[5] = Stored<kTurnedBack>(x ^= kTurned.t[4][hi & 0xFF], 5);
  s[6] = Stored<kTurnedBack>(x ^= kTurned.t[5][(hi >> 8) & 0xFF], 6);
  s[7] = Stored<kTurnedBack>(x ^= kTurned.t[6][(hi >> 16) & 0xFF], 7);
  return s[8] = Rotl32(x ^ kTurned.t[7][hi >> 24], 8);
}

// Continues a chain from x = S(k), k a multiple of eight, up to s[end]: a
// step at a time, then byte by byte.
template <bool kTurnedBack>
VANTLE_RDC_SCALAR_STORES inline void ChainOn(const std::uint8_t* bytes, std::size_t k, std::size_t end,
                                             std::uint32_t x, std::uint32_t* s) {
  for (; k + 8 <= end; k += 8) x = Step8<kTurnedBack>(x, bytes + k, s + k);
  ChainTail<kTurnedBack>(bytes, k, end, x, s);
}

// G(0) .. G(steps) (or S) of two chains side by side, chain c over
// bytes[c * part ..], storing at g[c * stride ..]; the second chain takes
// lastSteps bytes.
template <bool kTurnedBack>
VANTLE_RDC_SCALAR_STORES void TwoChains(const std::uint8_t* bytes, std::size_t part, std::size_t steps,
                                        std::size_t lastSteps, std::uint32_t* g, std::size_t stride) {
  std::uint32_t x0 = 0, x1 = 0;
  std::uint32_t *g0 = g, *g1 = g + stride;
  const std::uint8_t *b0 = bytes, *b1 = bytes + part;
  g0[0] = g1[0] = 0;
  const std::size_t whole = steps / 8 * 8;
  for (std::size_t k = 0; k < whole; k += 8) {
    x0 = Step8<kTurnedBack>(x0, b0 + k, g0 + k);
    x1 = Step8<kTurnedBack>(x1, b1 + k, g1 + k);
  }
  ChainTail<kTurnedBack>(b0, whole, steps, x0, g0);
  ChainOn<kTurnedBack>(b1, whole, lastSteps, x1, g1);
}

// Compresses the blocks in order, without anything to overlap them with.
void CompressAll(const Sha1Blocks* sign, std::size_t signCount) {
  for (std::size_t j = 0; j < signCount; ++j)
    if (sign[j].count > 0) sha1_detail::BestCompress()(sign[j].state, sign[j].data, sign[j].count);
}

#ifdef VANTLE_SHA1_HARDWARE
// Two chains under way: their values and where each reads and stores.
struct ChainPair {
  std::uint32_t x0, x1;
  const std::uint8_t *b0, *b1;
  std::uint32_t *g0, *g1;
};

// One step of chain kChain at k, while there are whole steps left; the
// second chain's moves k on.
template <bool kTurnedBack, int kChain>
VANTLE_RDC_SCALAR_STORES inline void StepOne(ChainPair& c, std::size_t& k, std::size_t whole) {
  if (k < whole) {
    if (kChain == 0) {
      c.x0 = Step8<kTurnedBack>(c.x0, c.b0 + k, c.g0 + k);
    } else {
      c.x1 = Step8<kTurnedBack>(c.x1, c.b1 + k, c.g1 + k);
      k += 8;
    }
  }
}

// Steps kFirst .. kLast of a block's rounds, then a step of chain kChain.
template <int kFirst, int kLast, int kChain>
struct Slot {};

// The slots in their order.
template <bool kTurnedBack, int... kFirst, int... kLast, int... kChain>
__attribute__((target("sha,sse4.1,ssse3"))) VANTLE_RDC_SCALAR_STORES inline void RoundsThenChains(
    sha1_detail::ShaRounds& r, ChainPair& c, std::size_t& k, std::size_t whole, Slot<kFirst, kLast, kChain>...) {
  ((sha1_detail::ShaSteps<kFirst, kLast>(r), StepOne<kTurnedBack, kChain>(c, k, whole)), ...);
}

// TwoChains with the blocks of sign compressed on the way: a step of one
// chain after every two or three steps of a block's rounds (which wait on
// one another meanwhile), so 32 bytes of each chain a block. A file has as
// many bytes to sign as to hash, and a block's rounds take about as long as
// the chains take for that many bytes: both run out at about the same time.
// Whatever is left of either then runs alone. The steps are put between the
// rounds rather than after the block because work placed after a block
// cannot retire before the block's last round, and its stores fill the queue
// that holds them until then, which stalls what follows.
template <bool kTurnedBack>
__attribute__((target("sha,sse4.1,ssse3"))) VANTLE_RDC_SCALAR_STORES void TwoChainsSigning(
    const std::uint8_t* bytes, std::size_t part, std::size_t steps, std::size_t lastSteps, std::uint32_t* g,
    std::size_t stride, const Sha1Blocks* sign, std::size_t signCount) {
  ChainPair c{0, 0, bytes, bytes + part, g, g + stride};
  c.g0[0] = c.g1[0] = 0;
  const std::size_t whole = steps / 8 * 8;
  std::size_t k = 0;
  for (const Sha1Blocks* job = sign; job != sign + signCount; ++job) {
    sha1_detail::ShaState state = sha1_detail::LoadShaState(job->state);
    for (std::size_t b = 0; b < job->count; ++b) {
      sha1_detail::ShaRounds r;
      sha1_detail::ShaBegin(r, state, job->data + 64 * b);
      RoundsThenChains<kTurnedBack>(r, c, k, whole, Slot<1, 2, 0>(), Slot<3, 4, 1>(), Slot<5, 7, 0>(),
                                    Slot<8, 9, 1>(), Slot<10, 12, 0>(), Slot<13, 14, 1>(), Slot<15, 17, 0>(),
                                    Slot<18, 19, 1>());
      sha1_detail::ShaEnd(r, state);
    }
    sha1_detail::StoreShaState(state, job->state);
  }
  while (k < whole) {
    StepOne<kTurnedBack, 0>(c, k, whole);
    StepOne<kTurnedBack, 1>(c, k, whole);
  }
  ChainTail<kTurnedBack>(c.b0, whole, steps, c.x0, c.g0);
  ChainOn<kTurnedBack>(c.b1, whole, lastSteps, c.x1, c.g1);
}

bool CanSignAlongside() {
  static const bool can = sha1_detail::HardwareCompress() != nullptr;
  return can;
}
#else
bool CanSignAlongside() { return false; }
#endif

// out[i] = g[i + kHashWindow] ^ Rotl(g[i], kHashWindow), from chains that
// turned their values back: a loop the compiler runs on vectors, as wide as
// the function it is inlined into allows.
inline void WindowsOfG(const std::uint32_t* g, std::size_t count, std::uint32_t* out) {
  const std::uint32_t* late = g + kHashWindow;
  for (std::size_t i = 0; i < count; ++i)
    out[i] = late[i] ^ ((g[i] << kWindowTurn) | (g[i] >> ((32 - kWindowTurn) & 31)));
}

// out[i] = Rotl(s[i + kHashWindow] ^ Rotl(s[i], kHashWindow), i % 8) from
// i on, one position at a time: the ends the vector forms leave.
inline void WindowsFrom(const std::uint32_t* s, std::size_t i, std::size_t count, std::uint32_t* out) {
  for (; i < count; ++i) out[i] = Rotl32(s[i + kHashWindow] ^ Rotl32(s[i], kWindowTurn), i % 8);
}

inline std::uint32_t MaxLoop(const std::uint32_t* hashes, std::size_t count) {
  std::uint32_t m = 0;
  for (std::size_t i = 0; i < count; ++i) m = std::max(m, hashes[i]);
  return m;
}

inline void Maxima64Loop(const std::uint32_t* hashes, std::size_t blocks, std::uint32_t* maxima) {
  for (std::size_t b = 0; b < blocks; ++b) maxima[b] = MaxLoop(hashes + 64 * b, 64);
}

void WindowsPortable(const std::uint32_t* g, std::size_t count, std::uint32_t* out) { WindowsOfG(g, count, out); }
std::uint32_t MaxPortable(const std::uint32_t* hashes, std::size_t count) { return MaxLoop(hashes, count); }
void Maxima64Portable(const std::uint32_t* hashes, std::size_t blocks, std::uint32_t* maxima) {
  Maxima64Loop(hashes, blocks, maxima);
}

struct Kernels {
  void (*windows)(const std::uint32_t*, std::size_t, std::uint32_t*);
  std::uint32_t (*max)(const std::uint32_t*, std::size_t);
  void (*maxima64)(const std::uint32_t*, std::size_t, std::uint32_t*);
  // The whole computation at once, where the processor allows (else null),
  // and the same with blocks to sign on the way (for processors with the SHA
  // extensions).
  void (*whole)(const std::uint8_t*, std::size_t, std::uint32_t*, const Sha1Blocks*, std::size_t);
  void (*wholeSigning)(const std::uint8_t*, std::size_t, std::uint32_t*, const Sha1Blocks*, std::size_t);
  // Whether windows takes S, each lane turned by its place in a step of
  // eight, or G.
  bool turnsLanes;
  // The windows and the maxima of their whole blocks at once, where the
  // level has it (else windows and maxima64 one after the other).
  void (*windowsMaxima)(const std::uint32_t*, std::size_t, std::uint32_t*, std::uint32_t*);
};

#ifdef VANTLE_RDC_VECTOR_DISPATCH
// SSE4.1 compares unsigned 32-bit lanes in one instruction (without it, a
// maximum takes four); AVX2 doubles the width.
__attribute__((target("sse4.1"))) std::uint32_t MaxSse41(const std::uint32_t* hashes, std::size_t count) {
  return MaxLoop(hashes, count);
}
// The windows four or eight positions at a time. The turn by each position's
// place in its step differs between lanes: AVX2 shifts each lane its own
// distance; SSE4.1 cannot, but multiplies by 2^r for the left part and takes
// the right part from the top byte the same way, as no place turns more
// than seven.
static_assert(kWindowTurn == 16, "the window's far end is turned by swapping halves");
__attribute__((target("sse4.1"))) void WindowsSse41(const std::uint32_t* s, std::size_t count, std::uint32_t* out) {
  const __m128i halves = _mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  const __m128i scale[2] = {_mm_setr_epi32(1, 2, 4, 8), _mm_setr_epi32(16, 32, 64, 128)};
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8)
    for (int q = 0; q < 2; ++q) {
      const __m128i early = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 4 * q));
      const __m128i late = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 4 * q + kHashWindow));
      const __m128i x = _mm_xor_si128(late, _mm_shuffle_epi8(early, halves));
      const __m128i left = _mm_mullo_epi32(x, scale[q]);
      const __m128i right = _mm_srli_epi32(_mm_mullo_epi32(_mm_srli_epi32(x, 24), scale[q]), 8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4 * q), _mm_or_si128(left, right));
    }
  WindowsFrom(s, i, count, out);
}
__attribute__((target("sse4.1"))) void Maxima64Sse41(const std::uint32_t* hashes, std::size_t blocks,
                                                     std::uint32_t* maxima) {
  Maxima64Loop(hashes, blocks, maxima);
}
#ifdef VANTLE_RDC_WIDE_VECTORS
// The windows of the eight positions from s on (s at a step's start),
// stored and returned.
__attribute__((target("avx2"))) inline __m256i Windows8Avx2(const std::uint32_t* s, std::uint32_t* out) {
  const __m256i halves = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3, 0, 1, 6, 7,
                                          4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  const __m256i turn = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i back = _mm256_setr_epi32(32, 31, 30, 29, 28, 27, 26, 25);
  const __m256i early = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
  const __m256i late = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + kHashWindow));
  const __m256i x = _mm256_xor_si256(late, _mm256_shuffle_epi8(early, halves));
  const __m256i h = _mm256_or_si256(_mm256_sllv_epi32(x, turn), _mm256_srlv_epi32(x, back));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), h);
  return h;
}
__attribute__((target("avx2"))) void WindowsAvx2(const std::uint32_t* s, std::size_t count, std::uint32_t* out) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) Windows8Avx2(s + i, out + i);
  WindowsFrom(s, i, count, out);
}
// The windows and the maxima of their whole blocks of 64.
__attribute__((target("avx2"))) void WindowsMaximaAvx2(const std::uint32_t* s, std::size_t count, std::uint32_t* out,
                                                       std::uint32_t* maxima) {
  std::size_t i = 0;
  for (; i + 64 <= count; i += 64) {
    __m256i m = Windows8Avx2(s + i, out + i);
    for (std::size_t k = 8; k < 64; k += 8) m = _mm256_max_epu32(m, Windows8Avx2(s + i + k, out + i + k));
    __m128i v = _mm_max_epu32(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
    v = _mm_max_epu32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_max_epu32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    maxima[i / 64] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
  }
  WindowsAvx2(s + i, count - i, out + i);
}
__attribute__((target("avx2"))) std::uint32_t MaxAvx2(const std::uint32_t* hashes, std::size_t count) {
  return MaxLoop(hashes, count);
}
__attribute__((target("avx2"))) void Maxima64Avx2(const std::uint32_t* hashes, std::size_t blocks,
                                                  std::uint32_t* maxima) {
  Maxima64Loop(hashes, blocks, maxima);
}

// With AVX-512 and its byte permutations (VBMI), 64 positions at a time and
// no chains:
//  - the table is looked up a byte plane at a time: each plane of the 256
//    values is four 64-byte registers, and two two-register permutations,
//    chosen between by each index's top bit, look up 64 indices at once;
//  - the planes are interleaved back into 32-bit values, the input having
//    been permuted first so that they come out in position order;
//  - the window sums are built by doubling, with u[p] = T[in[p - 1]]:
//    W1 = u, W2n(p) = Wn(p) ^ Rotl(Wn(p - n), n), and the hash is
//    W48(p) = W16(p) ^ Rotl(W32(p - 16), 16); values of earlier positions
//    come from the previous register of each level.
struct Planes {
  std::uint8_t p[4][256];
  constexpr Planes() : p() {
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 256; ++i) p[j][i] = static_cast<std::uint8_t>(rolling::kTable.t[i] >> (8 * j));
  }
};
constexpr Planes kPlanes;

struct InputOrder {
  alignas(64) std::uint8_t at[64];
  constexpr InputOrder() : at() {
    // Interleaving puts byte 16L + 4q + d of the planes (128-bit lane L,
    // quarter q) at position 16q + 4L + d.
    for (int i = 0; i < 64; ++i) at[i] = static_cast<std::uint8_t>(16 * ((i % 16) / 4) + 4 * (i / 16) + i % 4);
  }
};
constexpr InputOrder kInputOrder;

// Moves on to the first job from job on that has blocks, if any: its state,
// first block and count.
__attribute__((target("sha,sse4.1,ssse3"))) inline void OpenJob(const Sha1Blocks*& job, const Sha1Blocks* end,
                                                                sha1_detail::ShaState& state,
                                                                const std::uint8_t*& block, std::size_t& left) {
  while (job != end && job->count == 0) ++job;
  if (job == end) return;
  state = sha1_detail::LoadShaState(job->state);
  block = job->data;
  left = job->count;
}

// GCC 12's own intrinsics start from an "undefined" register that its
// warning takes for an uninitialised variable. (Clang has no such warning,
// and would warn of the unknown name.)
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The whole computation, as above. With kSign, the blocks of sign are compressed on the way, a block every 64
// positions, its rounds spread between the four registers' sums (the rounds
// wait on one another and use little of the vector units meanwhile). The
// SHA instructions are only enabled here, never used without kSign.
template <bool kSign>
__attribute__((target("avx512f,avx512bw,avx512vbmi,sha,sse4.1,ssse3"))) void WholeAvx512(
    const std::uint8_t* in, std::size_t count, std::uint32_t* out, const Sha1Blocks* sign, std::size_t signCount) {
  // The block being signed: the left blocks from block on go into state, for
  // job, and the jobs after it follow.
  const Sha1Blocks *job = sign, *const jobEnd = sign + signCount;
  const std::uint8_t* block = nullptr;
  std::size_t left = 0;
  sha1_detail::ShaState state{};
  if constexpr (kSign) OpenJob(job, jobEnd, state, block, left);
  __m512i plane[4][4];
  for (int j = 0; j < 4; ++j)
    for (int q = 0; q < 4; ++q) plane[j][q] = _mm512_loadu_si512(kPlanes.p[j] + 64 * q);
  const __m512i order = _mm512_load_si512(kInputOrder.at);
  __m512i w1p = _mm512_setzero_si512(), w2p = w1p, w4p = w1p, w8p = w1p, w16p = w1p, w32p = w1p;
  const std::int64_t n = static_cast<std::int64_t>(count);
  // From the first position whose value enters a window of position 0; the
  // byte before the window is never read (its lane is masked off).
  for (std::int64_t p = -static_cast<std::int64_t>(kHashWindow); p < n; p += 64) {
    const std::uint8_t* from = in + p - 1;
    __mmask64 readable = ~__mmask64(0);
    if (p < 0 && p - 1 < -static_cast<std::int64_t>(kHashWindow)) readable &= ~__mmask64(1);
    if (n - p < 64) readable &= (__mmask64(1) << (n - p)) - 1;  // bytes up to in[n - 1] only
    const __m512i bytes = _mm512_permutexvar_epi8(order, _mm512_maskz_loadu_epi8(readable, from));
    const __mmask64 upper = _mm512_movepi8_mask(bytes);
    __m512i pl[4];
    for (int j = 0; j < 4; ++j)
      pl[j] = _mm512_mask_blend_epi8(upper, _mm512_permutex2var_epi8(plane[j][0], bytes, plane[j][1]),
                                     _mm512_permutex2var_epi8(plane[j][2], bytes, plane[j][3]));
    const __m512i lo01 = _mm512_unpacklo_epi8(pl[0], pl[1]), hi01 = _mm512_unpackhi_epi8(pl[0], pl[1]);
    const __m512i lo23 = _mm512_unpacklo_epi8(pl[2], pl[3]), hi23 = _mm512_unpackhi_epi8(pl[2], pl[3]);
    const __m512i u[4] = {_mm512_unpacklo_epi16(lo01, lo23), _mm512_unpackhi_epi16(lo01, lo23),
                          _mm512_unpacklo_epi16(hi01, hi23), _mm512_unpackhi_epi16(hi01, hi23)};
    const bool signing = kSign && left > 0;
    sha1_detail::ShaRounds r;
    if (signing) sha1_detail::ShaBegin(r, state, block);
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
      if (signing) {
        if (k == 0) sha1_detail::ShaSteps<1, 4>(r);
        if (k == 1) sha1_detail::ShaSteps<5, 9>(r);
        if (k == 2) sha1_detail::ShaSteps<10, 14>(r);
        if (k == 3) sha1_detail::ShaSteps<15, 19>(r);
      }
      const __m512i w1 = u[k];
      const __m512i w2 = _mm512_xor_si512(w1, _mm512_rol_epi32(_mm512_alignr_epi32(w1, w1p, 15), 1));
      const __m512i w4 = _mm512_xor_si512(w2, _mm512_rol_epi32(_mm512_alignr_epi32(w2, w2p, 14), 2));
      const __m512i w8 = _mm512_xor_si512(w4, _mm512_rol_epi32(_mm512_alignr_epi32(w4, w4p, 12), 4));
      const __m512i w16 = _mm512_xor_si512(w8, _mm512_rol_epi32(_mm512_alignr_epi32(w8, w8p, 8), 8));
      const __m512i w32 = _mm512_xor_si512(w16, _mm512_rol_epi32(w16p, 16));
      const __m512i h = _mm512_xor_si512(w16, _mm512_rol_epi32(w32p, 16));
      const std::int64_t at = p + 16 * k;  // the first of this register's positions
      if (at >= 0 && at < n) {
        const __mmask16 keep = n - at >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - at)) - 1);
        _mm512_mask_storeu_epi32(out + at, keep, h);
      }
      w1p = w1;
      w2p = w2;
      w4p = w4;
      w8p = w8;
      w16p = w16;
      w32p = w32;
    }
    if (signing) {
      sha1_detail::ShaEnd(r, state);
      block += 64;
      if (--left == 0) {
        sha1_detail::StoreShaState(state, job->state);
        OpenJob(++job, jobEnd, state, block, left);
      }
    }
  }
  if constexpr (kSign) {
    if (left > 0) {  // more blocks than positions
      for (; left > 0; --left, block += 64) sha1_detail::ShaBlock(state, block);
      sha1_detail::StoreShaState(state, job->state);
      ++job;
    }
    CompressAll(job, static_cast<std::size_t>(jobEnd - job));
  }
}
#pragma GCC diagnostic pop
#endif

VectorLevel ProcessorLevel() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & (1u << 19)) == 0) return VectorLevel::kNone;
#ifdef VANTLE_RDC_WIDE_VECTORS
  // AVX2 needs the system to save the 256-bit registers (OSXSAVE, and XCR0
  // holding the SSE and AVX state).
  const bool osSaves = (c & (1u << 27)) != 0 && [] {
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 6u) == 6u;
  }();
  const bool leaf7 = osSaves && __get_cpuid_count(7, 0, &a, &b, &c, &d);
  if (!leaf7 || (b & (1u << 5)) == 0) return VectorLevel::kSse41;
  // AVX-512: F, BW and VBMI, with the system saving the mask and 512-bit
  // registers too.
  const bool avx512 = (b & (1u << 16)) != 0 && (b & (1u << 30)) != 0 && (c & (1u << 1)) != 0 && [] {
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 0xE6u) == 0xE6u;
  }();
  return avx512 ? VectorLevel::kAvx512 : VectorLevel::kAvx2;
#else
  return VectorLevel::kSse41;
#endif
}
#else
VectorLevel ProcessorLevel() { return VectorLevel::kNone; }
#endif

// The kernels of each level, indexed by it.
const Kernels kByLevel[] = {
    {&WindowsPortable, &MaxPortable, &Maxima64Portable, nullptr, nullptr, false, nullptr},
#ifdef VANTLE_RDC_VECTOR_DISPATCH
    {&WindowsSse41, &MaxSse41, &Maxima64Sse41, nullptr, nullptr, true, nullptr},
#endif
#ifdef VANTLE_RDC_WIDE_VECTORS
    {&WindowsAvx2, &MaxAvx2, &Maxima64Avx2, nullptr, nullptr, true, &WindowsMaximaAvx2},
    {&WindowsAvx2, &MaxAvx2, &Maxima64Avx2, &WholeAvx512<false>, &WholeAvx512<true>, true, &WindowsMaximaAvx2},
#endif
};

// Asked for on first use, not at start-up, so that other files' start-up
// code may sign data too.
VectorLevel Supported() {
  static const VectorLevel level = ProcessorLevel();
  return level;
}

std::atomic<const Kernels*>& ChosenSlot() {
  static std::atomic<const Kernels*> slot{&kByLevel[static_cast<int>(Supported())]};
  return slot;
}

const Kernels& Chosen() { return *ChosenSlot().load(std::memory_order_relaxed); }

}  // namespace

VectorLevel SupportedVectorLevel() { return Supported(); }

VectorLevel UseVectorLevel(VectorLevel level) {
  const VectorLevel used = std::min(level, Supported());
  ChosenSlot().store(&kByLevel[static_cast<int>(used)], std::memory_order_relaxed);
  return used;
}

std::uint32_t MaxOfHashes(const std::uint32_t* hashes, std::size_t count) { return Chosen().max(hashes, count); }

void MaximaOf64(const std::uint32_t* hashes, std::size_t blocks, std::uint32_t* maxima) {
  Chosen().maxima64(hashes, blocks, maxima);
}

void WindowHashes::Compute(const std::uint8_t* in, std::size_t count, std::uint32_t* out) {
  ComputeWithMaxima(in, count, out, nullptr);
}

void WindowHashes::ComputeWithMaxima(const std::uint8_t* in, std::size_t count, std::uint32_t* out,
                                     std::uint32_t* maxima, const Sha1Blocks* sign, std::size_t signCount) {
  const Kernels& kernels = Chosen();
  if (count == 0) {
    CompressAll(sign, signCount);
    return;
  }
  if (kernels.whole != nullptr) {
    if (signCount > 0 && CanSignAlongside()) kernels.wholeSigning(in, count, out, sign, signCount);
    else {
      CompressAll(sign, signCount);
      kernels.whole(in, count, out, nullptr, 0);
    }
    if (maxima != nullptr) kernels.maxima64(out, count / 64, maxima);
    return;
  }
  // A piece at a time, so that the chains' values are read back while they
  // are still in the nearest cache, and leave the caller's data in it. The
  // blocks to sign go with the first piece.
  static_assert(kPiece % 64 == 0, "pieces of whole blocks");
  for (std::size_t at = 0; at < count; at += kPiece) {
    Chains(in + at, std::min(kPiece, count - at), out + at, maxima != nullptr ? maxima + at / 64 : nullptr, sign,
           signCount);
    signCount = 0;
  }
}

void WindowHashes::ComputePortable(const std::uint8_t* in, std::size_t count, std::uint32_t* out) {
  Chains(in, count, out, nullptr, nullptr, 0);
}

// With maxima, the first chain's part is whole blocks.
VANTLE_RDC_SCALAR_STORES void WindowHashes::Chains(const std::uint8_t* in, std::size_t count, std::uint32_t* out,
                                                   std::uint32_t* maxima, const Sha1Blocks* sign,
                                                   std::size_t signCount) {
  const std::size_t chains = count >= kChains * kMinPerChain ? kChains : 1;
  const bool signBeside = chains == kChains && signCount > 0 && CanSignAlongside();
  if (!signBeside) CompressAll(sign, signCount);
  if (count == 0) return;
  const std::size_t part = maxima != nullptr ? count / chains / 64 * 64 : count / chains;
  const std::size_t last = count - part * (chains - 1);  // the last part takes the remainder
  // Chain c covers the positions from c * part on, starting kHashWindow bytes
  // earlier: its values lie at scratch_[c * stride ..].
  const std::size_t stride = part + kHashWindow;
  const std::size_t need = stride * (chains - 1) + last + kHashWindow;
  if (need > scratchRoom_) {
    scratch_.reset(new std::uint32_t[need]);
    scratchRoom_ = need;
  }
  std::uint32_t* g = scratch_.get();
  const std::uint8_t* from = in - kHashWindow;
  const std::size_t steps = part + kHashWindow - 1;  // bytes each chain but the last takes
  const Kernels& kernels = Chosen();
  static_assert(kChains == 2, "two chains side by side");
  if (chains == kChains) {
    const std::size_t lastSteps = last + kHashWindow - 1;
#ifdef VANTLE_SHA1_HARDWARE
    if (signBeside) {
      if (kernels.turnsLanes) TwoChainsSigning<false>(from, part, steps, lastSteps, g, stride, sign, signCount);
      else TwoChainsSigning<true>(from, part, steps, lastSteps, g, stride, sign, signCount);
    } else
#endif
    if (kernels.turnsLanes) TwoChains<false>(from, part, steps, lastSteps, g, stride);
    else TwoChains<true>(from, part, steps, lastSteps, g, stride);
  } else {
    g[0] = 0;
    if (kernels.turnsLanes) ChainOn<false>(from, 0, count + kHashWindow - 1, 0, g);
    else ChainOn<true>(from, 0, count + kHashWindow - 1, 0, g);
  }
  for (std::size_t c = 0; c < chains; ++c) {
    const std::size_t n = c + 1 == chains ? last : part;
    if (maxima == nullptr) {
      kernels.windows(g + c * stride, n, out + c * part);
    } else if (kernels.windowsMaxima != nullptr) {
      kernels.windowsMaxima(g + c * stride, n, out + c * part, maxima + c * part / 64);
    } else {
      kernels.windows(g + c * stride, n, out + c * part);
      kernels.maxima64(out + c * part, n / 64, maxima + c * part / 64);
    }
  }
}

}  // namespace DIFF
