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

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VANTLE_RDC_VECTOR_DISPATCH 1
#include <cpuid.h>
#endif

namespace DIFF {

namespace {

constexpr std::size_t kChains = 4;
// Below this many positions per chain, the chains' lead-ins cost more than
// running them side by side saves.
constexpr std::size_t kMinPerChain = 256;
constexpr unsigned kWindowTurn = kHashWindow % 32;

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
};

#ifdef VANTLE_RDC_VECTOR_DISPATCH
// SSE4.1 compares unsigned 32-bit lanes in one instruction (without it, a
// maximum takes four); AVX2 doubles the width. AVX2 is left out on Windows,
// where GCC cannot keep the stack aligned for the 32-byte values it may
// spill.
__attribute__((target("sse4.1"))) std::uint32_t MaxSse41(const std::uint32_t* hashes, std::size_t count) {
  return MaxLoop(hashes, count);
}
__attribute__((target("sse4.1"))) void Maxima64Sse41(const std::uint32_t* hashes, std::size_t blocks,
                                                     std::uint32_t* maxima) {
  Maxima64Loop(hashes, blocks, maxima);
}
#ifndef _WIN32
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
#endif

Kernels ChooseKernels() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  const bool sse41 = __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 19)) != 0;
#ifndef _WIN32
  // AVX2 needs the system to save the 256-bit registers (OSXSAVE, and XCR0
  // holding the SSE and AVX state).
  const bool osSaves = (c & (1u << 27)) != 0 && [] {
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 6u) == 6u;
  }();
  const bool avx2 = osSaves && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 5)) != 0;
  if (avx2) return {&WindowsAvx2, &MaxAvx2, &Maxima64Avx2};
#endif
  if (sse41) return {&WindowsPortable, &MaxSse41, &Maxima64Sse41};
  return {&WindowsPortable, &MaxPortable, &Maxima64Portable};
}
#else
Kernels ChooseKernels() { return {&WindowsPortable, &MaxPortable, &Maxima64Portable}; }
#endif

const Kernels& Chosen() {
  static const Kernels kernels = ChooseKernels();
  return kernels;
}

}  // namespace

std::uint32_t MaxOfHashes(const std::uint32_t* hashes, std::size_t count) { return Chosen().max(hashes, count); }

void MaximaOf64(const std::uint32_t* hashes, std::size_t blocks, std::uint32_t* maxima) {
  Chosen().maxima64(hashes, blocks, maxima);
}

void WindowHashes::Compute(const std::uint8_t* in, std::size_t count, std::uint32_t* out) {
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
