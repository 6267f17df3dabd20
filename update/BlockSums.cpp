#include "update/BlockSums.h"

#include "update/Sha1.h"
#include "update/SplitMix64.h"

namespace block_sums {

namespace {

// Bytes map to 64-bit values first so that the sum does not stay linear in
// the byte values, which would make small structured changes collide.
struct Table {
  std::uint64_t t[256];
  constexpr Table() : t() {
    std::uint64_t x = 0x424C4F434B53554Dull;  // fixed seed
    for (int i = 0; i < 256; ++i) t[i] = SplitMix64(x);
  }
};
constexpr Table kTable;

}  // namespace

bool IsBlockSize(std::uint64_t block) {
  return block >= kMinBlock && block <= kMaxBlock && (block & (block - 1)) == 0;
}

std::uint64_t Rolling::Mix(std::uint8_t byte) { return kTable.t[byte]; }

Rolling::Rolling(std::size_t block) : block_(block) {
  for (std::size_t i = 1; i < block; ++i) top_ *= kFactor;
}

void Rolling::Start(const std::uint8_t* data) {
  h_ = 0;
  for (std::size_t i = 0; i < block_; ++i) h_ = h_ * kFactor + Mix(data[i]);
}

std::uint32_t Strong(const std::uint8_t* block, std::size_t size) {
  Sha1Context sha;
  sha.Update(block, size);
  sha.Final();
  const std::uint8_t* d = sha.Digest();
  return std::uint32_t(d[0]) | std::uint32_t(d[1]) << 8 | std::uint32_t(d[2]) << 16 | std::uint32_t(d[3]) << 24;
}

std::string MakeSums(const std::uint8_t* data, std::size_t size, std::size_t block) {
  std::string sums;
  sums.reserve(size / block * kRecordBytes);
  Rolling rolling(block);
  const auto put = [&sums](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) sums += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  for (std::size_t at = 0; at + block <= size; at += block) {
    rolling.Start(data + at);
    put(rolling.Weak());
    put(Strong(data + at, block));
  }
  return sums;
}

}  // namespace block_sums
