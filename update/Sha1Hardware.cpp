// SHA-1 compression with the x86 SHA extensions. Built with GCC and Clang on
// x86 only (the instructions are enabled per function, so the rest of the
// program still runs on any x86-64); elsewhere HardwareCompress answers null
// and the portable code does the work.
#include "update/Sha1Compress.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VANTLE_SHA1_HARDWARE 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace sha1_detail {

#ifdef VANTLE_SHA1_HARDWARE
namespace {

bool ProcessorHasShaExtensions() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & (1u << 9)) != 0, sse41 = (c & (1u << 19)) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  const bool sha = (b & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

// Four rounds per step. The message words travel in four registers, m[k % 4]
// holding words 4k..4k+3; a register is rebuilt in three stages from the four
// groups before it (msg1 with group k-3, xor with k-2, msg2 with k-1), each
// stage done in the step that has just produced the group it needs. Stages
// that would build groups past the last are dead code the compiler drops.
__attribute__((target("sha,sse4.1,ssse3"))) void CompressSha(std::uint32_t state[5],
                                                             const std::uint8_t* data,
                                                             std::size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e0;
    __m128i e1;
    __m128i m[4];
    for (int i = 0; i < 4; ++i)
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                              byteSwap);

    // Step 0: e0 holds E alone; later steps derive E from the A of four
    // rounds before (sha1nexte).
    e0 = _mm_add_epi32(e0, m[0]);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);

#define VANTLE_SHA_STEP(g, eIn, eOut)                                                    \
  eIn = _mm_sha1nexte_epu32(eIn, m[(g) % 4]);                                           \
  eOut = abcd;                                                                           \
  if ((g) >= 3) m[((g) + 1) % 4] = _mm_sha1msg2_epu32(m[((g) + 1) % 4], m[(g) % 4]);    \
  abcd = _mm_sha1rnds4_epu32(abcd, eIn, (g) / 5);                                        \
  if ((g) >= 1) m[((g) + 3) % 4] = _mm_sha1msg1_epu32(m[((g) + 3) % 4], m[(g) % 4]);    \
  if ((g) >= 2) m[((g) + 2) % 4] = _mm_xor_si128(m[((g) + 2) % 4], m[(g) % 4]);

    VANTLE_SHA_STEP(1, e1, e0)
    VANTLE_SHA_STEP(2, e0, e1)
    VANTLE_SHA_STEP(3, e1, e0)
    VANTLE_SHA_STEP(4, e0, e1)
    VANTLE_SHA_STEP(5, e1, e0)
    VANTLE_SHA_STEP(6, e0, e1)
    VANTLE_SHA_STEP(7, e1, e0)
    VANTLE_SHA_STEP(8, e0, e1)
    VANTLE_SHA_STEP(9, e1, e0)
    VANTLE_SHA_STEP(10, e0, e1)
    VANTLE_SHA_STEP(11, e1, e0)
    VANTLE_SHA_STEP(12, e0, e1)
    VANTLE_SHA_STEP(13, e1, e0)
    VANTLE_SHA_STEP(14, e0, e1)
    VANTLE_SHA_STEP(15, e1, e0)
    VANTLE_SHA_STEP(16, e0, e1)
    VANTLE_SHA_STEP(17, e1, e0)
    VANTLE_SHA_STEP(18, e0, e1)
    VANTLE_SHA_STEP(19, e1, e0)
#undef VANTLE_SHA_STEP

    e0 = _mm_sha1nexte_epu32(e0, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = std::uint32_t(_mm_extract_epi32(e0, 3));
}

}  // namespace

CompressFunction HardwareCompress() { return ProcessorHasShaExtensions() ? &CompressSha : nullptr; }

#else

CompressFunction HardwareCompress() { return nullptr; }

#endif

}  // namespace sha1_detail
