// Finding one byte in a text, as memchr does. Reading a library is mostly
// looking for the next '<', '>' or '"'; memchr is the obvious way, but Wine's
// looks at one byte at a time, and a large library read under Wine spent
// most of its time there. Sixteen bytes at a time keeps it a small part of
// the read wherever the program runs.
#pragma once

#include <cstddef>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VANTLE_BYTE_FIND_SSE2 1
#endif

namespace xml_detail {

// The first c in [from, bound), or null.
inline const char* FindByte(const char* from, const char* bound, char c) {
  if (from >= bound) return nullptr;
#ifdef VANTLE_BYTE_FIND_SSE2
  const __m128i wanted = _mm_set1_epi8(c);
  for (; bound - from >= 16; from += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)));
    if (mask == 0) continue;
    unsigned at = 0;
    while (!(mask & (1u << at))) ++at;
    return from + at;
  }
  for (; from < bound; ++from)
    if (*from == c) return from;
  return nullptr;
#else
  return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(bound - from)));
#endif
}

}  // namespace xml_detail
