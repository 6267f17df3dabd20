// A fixed sequence of well-mixed 64-bit values (splitmix64), from which the
// byte tables of the rolling sums are made: a table made of it is the same
// on every compiler and in every program, which the sums it feeds rely on.
#pragma once

#include <cstdint>

// The next value of the sequence whose position is state.
constexpr std::uint64_t SplitMix64(std::uint64_t& state) {
  state += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
