// One 64-byte block of SHA-1 with the x86 SHA extensions, inline: for the
// compression loop, and for code that interleaves blocks with other work of
// its own so that the processor overlaps the two (the rounds wait on each
// other's results and leave most execution units idle).
//
// Callers must be built for the instructions (target("sha,sse4.1,ssse3")
// or wider) and run only where HardwareCompress() is not null.
#pragma once

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VANTLE_SHA1_HARDWARE 1
#include <immintrin.h>

#include <cstdint>

namespace sha1_detail {

// The five state words as the rounds keep them: A..D in one register, last
// word first, and E in the top lane of another.
struct ShaState {
  __m128i abcd, e;
};

__attribute__((target("sha,sse4.1,ssse3"))) inline ShaState LoadShaState(const std::uint32_t state[5]) {
  return {_mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B),
          _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0)};
}

__attribute__((target("sha,sse4.1,ssse3"))) inline void StoreShaState(const ShaState& s, std::uint32_t state[5]) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(s.abcd, 0x1B));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(s.e, 3));
}

// One block's rounds under way, four rounds per step, so that a caller can
// put work of its own between the steps: the processor then runs it while the
// rounds wait, and retires it in small groups (work put after a whole block
// waits for the block's last round to retire, and its stores fill the queue
// that holds them until then, which stalls everything behind them).
//
// The message words travel in four registers, m[k % 4] holding words
// 4k..4k+3; a register is rebuilt in three stages from the four groups
// before it (msg1 with group k-3, xor with k-2, msg2 with k-1), each stage
// done in the step that has just produced the group it needs. Stages that
// would build groups past the last are left out.
struct ShaRounds {
  __m128i abcd, e0, e1, m[4], abcdSaved, eSaved;
};

// Loads the block and runs step 0, in which e0 holds E alone; later steps
// derive E from the A of four rounds before (sha1nexte).
__attribute__((target("sha,sse4.1,ssse3"))) inline void ShaBegin(ShaRounds& r, const ShaState& s,
                                                                 const std::uint8_t* data) {
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  for (int i = 0; i < 4; ++i)
    r.m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
  r.abcdSaved = s.abcd;
  r.eSaved = s.e;
  r.e0 = _mm_add_epi32(s.e, r.m[0]);
  r.e1 = s.abcd;
  r.abcd = _mm_sha1rnds4_epu32(s.abcd, r.e0, 0);
}

// Steps kFirst .. kLast (of 1 .. 19).
template <int kFirst, int kLast>
__attribute__((target("sha,sse4.1,ssse3"))) inline void ShaSteps(ShaRounds& r) {
  if constexpr (kFirst <= kLast) {
    constexpr int g = kFirst;
    __m128i& eIn = g % 2 != 0 ? r.e1 : r.e0;
    __m128i& eOut = g % 2 != 0 ? r.e0 : r.e1;
    __m128i* m = r.m;
    eIn = _mm_sha1nexte_epu32(eIn, m[g % 4]);
    eOut = r.abcd;
    if constexpr (g >= 3 && g <= 18) m[(g + 1) % 4] = _mm_sha1msg2_epu32(m[(g + 1) % 4], m[g % 4]);
    r.abcd = _mm_sha1rnds4_epu32(r.abcd, eIn, g / 5);
    if constexpr (g >= 1 && g <= 16) m[(g + 3) % 4] = _mm_sha1msg1_epu32(m[(g + 3) % 4], m[g % 4]);
    if constexpr (g >= 2 && g <= 17) m[(g + 2) % 4] = _mm_xor_si128(m[(g + 2) % 4], m[g % 4]);
    ShaSteps<kFirst + 1, kLast>(r);
  }
}

// The block's result added to the state.
__attribute__((target("sha,sse4.1,ssse3"))) inline void ShaEnd(const ShaRounds& r, ShaState& s) {
  s.e = _mm_sha1nexte_epu32(r.e0, r.eSaved);
  s.abcd = _mm_add_epi32(r.abcd, r.abcdSaved);
}

__attribute__((target("sha,sse4.1,ssse3"))) inline void ShaBlock(ShaState& s, const std::uint8_t* data) {
  ShaRounds r;
  ShaBegin(r, s, data);
  ShaSteps<1, 19>(r);
  ShaEnd(r, s);
}

}  // namespace sha1_detail

#endif
