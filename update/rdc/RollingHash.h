// The rolling hash that places chunk boundaries (internal to the engine and
// its tests; its table is part of the signature format: changing it changes
// every signature, which needs a new format version).
//
// A cyclic-polynomial hash over kHashWindow bytes: each byte maps to a
// 32-bit table value, rotated by its distance from the window's newest byte,
// and the values are XORed together, so a byte can be taken out again when
// it leaves the window.
#pragma once

#include <cstdint>

#include "update/SplitMix64.h"
#include "update/rdc/RdcEngine.h"

namespace DIFF {
namespace rolling {

struct Table {
  std::uint32_t t[256];
  constexpr Table() : t() {
    std::uint64_t x = 0x5652444348554E4Bull;  // fixed seed
    for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint32_t>(SplitMix64(x) >> 32);
  }
};
inline constexpr Table kTable;

constexpr std::uint32_t Rotl(std::uint32_t x, unsigned n) {
  return (x << (n & 31)) | (x >> ((32 - n) & 31));
}

// What a byte leaving the window takes out of the hash: its value rotated as
// far as the window is long, looked up rather than rotated at every step.
struct LeavingTable {
  std::uint32_t t[256];
  constexpr LeavingTable() : t() {
    for (int i = 0; i < 256; ++i) t[i] = Rotl(kTable.t[i], kHashWindow);
  }
};
inline constexpr LeavingTable kLeaving;

// The window moves one byte on: out leaves it, in enters it.
inline std::uint32_t Roll(std::uint32_t h, std::uint8_t out, std::uint8_t in) {
  return Rotl(h, 1) ^ kLeaving.t[out] ^ kTable.t[in];
}

}  // namespace rolling
}  // namespace DIFF
