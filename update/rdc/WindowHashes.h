// The rolling hash of every position of a piece of input, and the maximum of
// a run of such hashes: the two passes every byte goes through when chunk
// boundaries are placed, kept apart so that they can be made fast (and tested)
// on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace DIFF {

// Whole 64-byte blocks of a SHA-1 message, to be compressed into state (as
// Sha1Context::DeferBlocks hands it out).
struct Sha1Blocks {
  std::uint32_t* state;
  const std::uint8_t* data;
  std::size_t count;
};

class WindowHashes {
 public:
  // out[i] = the rolling hash (RollingHash.h) of the kHashWindow bytes
  // in[i - kHashWindow] .. in[i - 1], for i in 0 .. count - 1: the bytes from
  // in - kHashWindow on must be readable. No state is carried between calls.
  void Compute(const std::uint8_t* in, std::size_t count, std::uint32_t* out);
  // The same, out[0] being the first position of a block of 64, and besides
  // maxima[b] = the largest of out[b * 64] .. out[b * 64 + 63] for each whole
  // block b < count / 64: taken while the hashes are at hand rather than
  // read back afterwards.
  // Besides, the blocks of sign[0 .. signCount - 1] are compressed, in that
  // order, before it returns: where the processor has the SHA extensions,
  // between the hashes' own steps, which use other execution units.
  void ComputeWithMaxima(const std::uint8_t* in, std::size_t count, std::uint32_t* out, std::uint32_t* maxima,
                         const Sha1Blocks* sign = nullptr, std::size_t signCount = 0);
  // The same without vector instructions for the look-ups: what processors
  // without AVX-512 run (Compute on them), kept callable for tests.
  void ComputePortable(const std::uint8_t* in, std::size_t count, std::uint32_t* out);

 private:
  void Chains(const std::uint8_t* in, std::size_t count, std::uint32_t* out, std::uint32_t* maxima,
              const Sha1Blocks* sign, std::size_t signCount);

  std::unique_ptr<std::uint32_t[]> scratch_;
  std::size_t scratchRoom_ = 0;
};

// The instruction sets the window hashes and the maxima may use, narrowest
// first.
enum class VectorLevel { kNone, kSse41, kAvx2, kAvx512 };

// The widest level this processor and this build can run.
VectorLevel SupportedVectorLevel();

// From now on use no wider a level than `level` (and never a wider one than
// supported); returns the level in use. For tests and benchmarks that compare
// the kernels: not to be called while another thread computes hashes.
VectorLevel UseVectorLevel(VectorLevel level);

// The largest of count hashes (0 when count is 0).
std::uint32_t MaxOfHashes(const std::uint32_t* hashes, std::size_t count);

// maxima[b] = the largest of hashes[b * 64] .. hashes[b * 64 + 63], for b in
// 0 .. blocks - 1.
void MaximaOf64(const std::uint32_t* hashes, std::size_t blocks, std::uint32_t* maxima);

}  // namespace DIFF
