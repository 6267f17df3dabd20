// SHA-1 compression with the x86 SHA extensions. Built with GCC and Clang on
// x86 only (the instructions are enabled per function, so the rest of the
// program still runs on any x86-64); elsewhere HardwareCompress answers null
// and the portable code does the work.
#include "update/Sha1Compress.h"
#include "update/Sha1Rounds.h"

#ifdef VANTLE_SHA1_HARDWARE
#include <cpuid.h>
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

__attribute__((target("sha,sse4.1,ssse3"))) void CompressSha(std::uint32_t state[5], const std::uint8_t* data,
                                                             std::size_t blocks) {
  ShaState s = LoadShaState(state);
  for (; blocks != 0; --blocks, data += 64) ShaBlock(s, data);
  StoreShaState(s, state);
}

}  // namespace

CompressFunction HardwareCompress() { return ProcessorHasShaExtensions() ? &CompressSha : nullptr; }

#else

CompressFunction HardwareCompress() { return nullptr; }

#endif

}  // namespace sha1_detail
