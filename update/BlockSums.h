// Sums of fixed-size blocks of a byte range, for finding those blocks in
// another file at any offset. The delta's chunks are kilobytes long, so a
// file changed every few kilobytes (addresses moved by a rebuild) leaves
// whole chunks unmatched that still hold mostly bytes the client has: the
// server sends these sums for the ranges the client lacks, the client looks
// for each block anywhere in its own file, and fetches only what it still
// lacks. Shared by the server, which makes the sums, and the client, which
// rolls the weak half over its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace block_sums {

// Each block's record: the weak rolling sum (4 bytes, little-endian), then
// the first 4 bytes of its SHA-1. A match of both by chance is so rare that
// the whole file's SHA-1, which the updater checks anyway, is enough to fall
// back on.
constexpr std::size_t kRecordBytes = 8;
// Block sizes a client may ask for: powers of two in this span.
constexpr std::size_t kMinBlock = 64;
constexpr std::size_t kMaxBlock = 64 * 1024;
bool IsBlockSize(std::uint64_t block);

// The rolling sum over a window of block bytes, moved one byte at a time.
class Rolling {
 public:
  explicit Rolling(std::size_t block);
  // Starts over on the first block bytes of data.
  void Start(const std::uint8_t* data);
  // out leaves the window, in enters it.
  void Roll(std::uint8_t out, std::uint8_t in) { h_ = (h_ - Mix(out) * top_) * kFactor + Mix(in); }
  std::uint32_t Weak() const { return static_cast<std::uint32_t>(h_ >> 32); }

 private:
  static constexpr std::uint64_t kFactor = 0x9E3779B97F4A7C15ull;
  static std::uint64_t Mix(std::uint8_t byte);
  std::size_t block_;
  std::uint64_t top_ = 1;  // kFactor to the power block - 1
  std::uint64_t h_ = 0;
};

std::uint32_t Strong(const std::uint8_t* block, std::size_t size);

// The records of the whole blocks of data, one after another (a tail
// shorter than block has none).
std::string MakeSums(const std::uint8_t* data, std::size_t size, std::size_t block);

}  // namespace block_sums
