// The SHA-1 compression function in its two forms: portable C++, and the
// x86 SHA extensions where the compiler and the processor have them. Kept
// apart from Sha1.h so that tests can hold each form against the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sha1_detail {

// Transforms `blocks` consecutive 64-byte blocks into the five state words.
using CompressFunction = void (*)(std::uint32_t state[5], const std::uint8_t* data, std::size_t blocks);

void CompressPortable(std::uint32_t state[5], const std::uint8_t* data, std::size_t blocks);

// The hardware form, or null when this build or this processor lacks it.
CompressFunction HardwareCompress();

// The form Sha1Context uses: the hardware one where there is one.
CompressFunction BestCompress();

}  // namespace sha1_detail
