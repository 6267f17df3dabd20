// SHA-1 (FIPS 180-4) over byte streams and whole files, with the digest
// rendered as 40 upper-case hexadecimal digits. Portable: no system headers.
//
// Typical use, one context per file:
//
//   Sha1Context sha;
//   sha.Reset();
//   sha.HashFile(path);          // result may be ignored: a missing file hashes as empty input
//   sha.Final();
//   char text[100] = "";
//   sha.ReportHash(text);
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha1Context {
 public:
  static constexpr std::size_t kDigestSize = 20;
  static constexpr std::size_t kHexSize = 40;     // ReportHash's digits, without the terminator
  static constexpr std::size_t kFileChunk = 8000; // HashFile's read size

  Sha1Context() { Reset(); }

  // Initial state, length zero, no digest.
  void Reset();

  // Feeds bytes; every complete 64-byte block is transformed at once.
  void Update(const void* bytes, std::size_t count);

  // For a caller that compresses whole 64-byte blocks of the message itself
  // (with sha1_detail's functions), to overlap them with work of its own:
  // counts `blocks` more blocks as fed and returns the state they must be
  // compressed into, in order, before anything more is fed or Final is
  // called. Null (and nothing counted) unless what has been fed so far is a
  // whole number of blocks.
  std::uint32_t* DeferBlocks(std::size_t blocks);

  // Feeds the whole file, read front to back in 8000-byte chunks. False when
  // the path is null or the file cannot be opened (then nothing is fed), and
  // also when the file turns out shorter than its size said (then what was
  // read has been fed). The narrow form takes UTF-8; the wide form takes
  // UTF-16 on Windows and UTF-32 elsewhere, as wchar_t holds.
  bool HashFile(const char* path);
  bool HashFile(const wchar_t* path);

  // Completes the message and stores the digest; the block buffer and the
  // working state are wiped. Once per Reset: Update or Final after Final
  // needs a Reset first.
  void Final();

  // The 20 digest bytes (valid after Final).
  const std::uint8_t* Digest() const { return digest_; }

  // Appends the digest to the zero-terminated text as 40 upper-case hex
  // digits. The text must have room for 41 more bytes; callers that know the
  // buffer size use the second form, which refuses (false, text unchanged)
  // when the digits and terminator would not fit.
  void ReportHash(char* text) const;
  bool ReportHash(char* text, std::size_t capacity) const;

 private:
  bool HashOpenFile(void* file);  // FILE*, kept out of this header

  std::uint32_t state_[5];
  std::uint32_t lengthLow_;   // message length in bits, low and high halves
  std::uint32_t lengthHigh_;
  std::uint8_t block_[64];
  std::uint32_t blockUsed_;
  std::uint8_t digest_[kDigestSize];
};

// The SHA-1 of size bytes at data as ReportHash writes it (40 upper-case
// hexadecimal digits).
std::string Sha1Text(const void* data, std::size_t size);
inline std::string Sha1Text(const std::string& bytes) { return Sha1Text(bytes.data(), bytes.size()); }

