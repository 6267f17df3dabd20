// The window hash of every position, in two passes that each do little per
// byte.
//
// Rolled without anything leaving, the hash of all bytes from some start s
// up to position p is G(p) = XOR over s <= j < p of Rotl(T[in[j]], p - 1 - j).
// The window's hash is then G(p) ^ Rotl(G(p - kHashWindow), kHashWindow): the
// bytes before the window enter both terms equally rotated and cancel. So
//  1. G takes one table look-up, one rotation and one XOR per byte (the
//     rolling form needs a second look-up for the byte that leaves), and
//     runs as four independent chains over four parts of the input, so that
//     no chain waits for its own previous step; each chain starts
//     kHashWindow bytes before its part, which is all a window needs.
//  2. The window hashes are one XOR and one rotation of two stored values
//     each, with no dependence between positions: a loop the compiler turns
//     into vector instructions.
#include "update/rdc/WindowHashes.h"

#include <algorithm>

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

constexpr std::size_t kChains = 4;
// Below this many positions per chain, the chains' lead-ins cost more than
// running them side by side saves.
constexpr std::size_t kMinPerChain = 256;
constexpr unsigned kWindowTurn = kHashWindow % 32;
// Positions hashed at a time by Compute without a whole-computation kernel.
constexpr std::size_t kPiece = 4096;

inline std::uint32_t Enter(std::uint32_t g, std::uint8_t byte) {
  return ((g << 1) | (g >> 31)) ^ rolling::kTable.t[byte];
}

// g[0] = 0 and g[k + 1] = Enter(g[k], bytes[k]) for k < steps.
void Chain(const std::uint8_t* bytes, std::size_t steps, std::uint32_t* g) {
  std::uint32_t x = 0;
  g[0] = 0;
  for (std::size_t k = 0; k < steps; ++k) g[k + 1] = x = Enter(x, bytes[k]);
}

// out[i] = g[i + kHashWindow] ^ Rotl(g[i], kHashWindow): a loop the compiler
// runs on vectors, as wide as the function it is inlined into allows.
inline void WindowsLoop(const std::uint32_t* g, std::size_t count, std::uint32_t* out) {
  const std::uint32_t* late = g + kHashWindow;
  for (std::size_t i = 0; i < count; ++i)
    out[i] = late[i] ^ ((g[i] << kWindowTurn) | (g[i] >> ((32 - kWindowTurn) & 31)));
}

inline std::uint32_t MaxLoop(const std::uint32_t* hashes, std::size_t count) {
  std::uint32_t m = 0;
  for (std::size_t i = 0; i < count; ++i) m = std::max(m, hashes[i]);
  return m;
}

inline void Maxima64Loop(const std::uint32_t* hashes, std::size_t blocks, std::uint32_t* maxima) {
  for (std::size_t b = 0; b < blocks; ++b) maxima[b] = MaxLoop(hashes + 64 * b, 64);
}

void WindowsPortable(const std::uint32_t* g, std::size_t count, std::uint32_t* out) { WindowsLoop(g, count, out); }
std::uint32_t MaxPortable(const std::uint32_t* hashes, std::size_t count) { return MaxLoop(hashes, count); }
void Maxima64Portable(const std::uint32_t* hashes, std::size_t blocks, std::uint32_t* maxima) {
  Maxima64Loop(hashes, blocks, maxima);
}

struct Kernels {
  void (*windows)(const std::uint32_t*, std::size_t, std::uint32_t*);
  std::uint32_t (*max)(const std::uint32_t*, std::size_t);
  void (*maxima64)(const std::uint32_t*, std::size_t, std::uint32_t*);
  // The whole computation at once, where the processor allows (else null).
  void (*whole)(const std::uint8_t*, std::size_t, std::uint32_t*);
};

#ifdef VANTLE_RDC_VECTOR_DISPATCH
// SSE4.1 compares unsigned 32-bit lanes in one instruction (without it, a
// maximum takes four); AVX2 doubles the width.
__attribute__((target("sse4.1"))) std::uint32_t MaxSse41(const std::uint32_t* hashes, std::size_t count) {
  return MaxLoop(hashes, count);
}
__attribute__((target("sse4.1"))) void Maxima64Sse41(const std::uint32_t* hashes, std::size_t blocks,
                                                     std::uint32_t* maxima) {
  Maxima64Loop(hashes, blocks, maxima);
}
#ifdef VANTLE_RDC_WIDE_VECTORS
__attribute__((target("avx2"))) void WindowsAvx2(const std::uint32_t* g, std::size_t count, std::uint32_t* out) {
  WindowsLoop(g, count, out);
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

// GCC 12's own intrinsics start from an "undefined" register that its
// warning takes for an uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void WholeAvx512(const std::uint8_t* in, std::size_t count,
                                                                          std::uint32_t* out) {
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
    for (int k = 0; k < 4; ++k) {
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
    {&WindowsPortable, &MaxPortable, &Maxima64Portable, nullptr},
#ifdef VANTLE_RDC_VECTOR_DISPATCH
    {&WindowsPortable, &MaxSse41, &Maxima64Sse41, nullptr},
#endif
#ifdef VANTLE_RDC_WIDE_VECTORS
    {&WindowsAvx2, &MaxAvx2, &Maxima64Avx2, nullptr},
    {&WindowsAvx2, &MaxAvx2, &Maxima64Avx2, &WholeAvx512},
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
  if (count == 0) return;
  if (Chosen().whole != nullptr) return Chosen().whole(in, count, out);
  // A piece at a time, so that the chains' values are read back while they
  // are still in the nearest cache, and leave the caller's data in it.
  for (std::size_t at = 0; at < count; at += kPiece) ComputePortable(in + at, std::min(kPiece, count - at), out + at);
}

void WindowHashes::ComputePortable(const std::uint8_t* in, std::size_t count, std::uint32_t* out) {
  if (count == 0) return;
  const std::size_t chains = count >= kChains * kMinPerChain ? kChains : 1;
  const std::size_t part = count / chains;
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
  if (chains == kChains) {
    std::uint32_t x0 = 0, x1 = 0, x2 = 0, x3 = 0;
    std::uint32_t *g0 = g, *g1 = g + stride, *g2 = g + 2 * stride, *g3 = g + 3 * stride;
    const std::uint8_t *b0 = from, *b1 = from + part, *b2 = from + 2 * part, *b3 = from + 3 * part;
    g0[0] = g1[0] = g2[0] = g3[0] = 0;
    const std::size_t steps = part + kHashWindow - 1;
    for (std::size_t k = 0; k < steps; ++k) {
      g0[k + 1] = x0 = Enter(x0, b0[k]);
      g1[k + 1] = x1 = Enter(x1, b1[k]);
      g2[k + 1] = x2 = Enter(x2, b2[k]);
      g3[k + 1] = x3 = Enter(x3, b3[k]);
    }
    for (std::size_t k = steps; k < last + kHashWindow - 1; ++k) g3[k + 1] = x3 = Enter(x3, b3[k]);
  } else {
    Chain(from, count + kHashWindow - 1, g);
  }
  const Kernels& kernels = Chosen();
  for (std::size_t c = 0; c < chains; ++c)
    kernels.windows(g + c * stride, c + 1 == chains ? last : part, out + c * part);
}

}  // namespace DIFF
