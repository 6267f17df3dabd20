#include "update/Sha1.h"

#include "update/Sha1Compress.h"
#include "text/TextConvert.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

inline std::uint32_t Rol(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         std::uint32_t(p[3]);
}

inline void StoreBigEndian(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v >> 24);
  p[1] = std::uint8_t(v >> 16);
  p[2] = std::uint8_t(v >> 8);
  p[3] = std::uint8_t(v);
}

}  // namespace

namespace sha1_detail {

// Fully unrolled with the message schedule kept in a 16-word ring, so that
// the five working words stay in registers and the only memory traffic is
// the ring.
void CompressPortable(std::uint32_t state[5], const std::uint8_t* data, std::size_t blocks) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  std::uint32_t w[16];

// Word t of the schedule: the message itself for t < 16, then the recurrence
// W[t] = rol1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]) written into the ring.
#define VANTLE_W(t) \
  ((t) < 16 ? w[(t)&15] \
            : (w[(t)&15] = Rol(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1)))
#define VANTLE_CH(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define VANTLE_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define VANTLE_MAJ(b, c, d) (((b) & (c)) + ((d) & ((b) ^ (c))))
#define VANTLE_ROUND(f, k, a, b, c, d, e, t)              \
  e += Rol(a, 5) + f(b, c, d) + VANTLE_W(t) + (k); \
  b = Rol(b, 30);
#define VANTLE_FIVE(f, k, t)                     \
  VANTLE_ROUND(f, k, a, b, c, d, e, (t))         \
  VANTLE_ROUND(f, k, e, a, b, c, d, (t) + 1)     \
  VANTLE_ROUND(f, k, d, e, a, b, c, (t) + 2)     \
  VANTLE_ROUND(f, k, c, d, e, a, b, (t) + 3)     \
  VANTLE_ROUND(f, k, b, c, d, e, a, (t) + 4)
#define VANTLE_TWENTY(f, k, t) \
  VANTLE_FIVE(f, k, (t)) VANTLE_FIVE(f, k, (t) + 5) VANTLE_FIVE(f, k, (t) + 10) VANTLE_FIVE(f, k, (t) + 15)

  for (; blocks != 0; --blocks, data += 64) {
    for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(data + 4 * i);
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;
    VANTLE_TWENTY(VANTLE_CH, 0x5A827999u, 0)
    VANTLE_TWENTY(VANTLE_PARITY, 0x6ED9EBA1u, 20)
    VANTLE_TWENTY(VANTLE_MAJ, 0x8F1BBCDCu, 40)
    VANTLE_TWENTY(VANTLE_PARITY, 0xCA62C1D6u, 60)
    a += a0;
    b += b0;
    c += c0;
    d += d0;
    e += e0;
  }

#undef VANTLE_TWENTY
#undef VANTLE_FIVE
#undef VANTLE_ROUND
#undef VANTLE_MAJ
#undef VANTLE_PARITY
#undef VANTLE_CH
#undef VANTLE_W

  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

}  // namespace sha1_detail

// The processor's SHA instructions when it has them (several times faster),
// else the portable code; chosen once.
sha1_detail::CompressFunction sha1_detail::BestCompress() {
  static const CompressFunction chosen = [] {
    const CompressFunction hardware = HardwareCompress();
    return hardware ? hardware : &CompressPortable;
  }();
  return chosen;
}

namespace {

void Compress(std::uint32_t state[5], const std::uint8_t* data, std::size_t blocks) {
  sha1_detail::BestCompress()(state, data, blocks);
}

struct FileCloser {
  std::FILE* file;
  ~FileCloser() {
    if (file) std::fclose(file);
  }
};

}  // namespace

void Sha1Context::Reset() {
  state_[0] = 0x67452301u;
  state_[1] = 0xEFCDAB89u;
  state_[2] = 0x98BADCFEu;
  state_[3] = 0x10325476u;
  state_[4] = 0xC3D2E1F0u;
  lengthLow_ = 0;
  lengthHigh_ = 0;
  blockUsed_ = 0;
  std::memset(block_, 0, sizeof block_);
  std::memset(digest_, 0, sizeof digest_);
}

void Sha1Context::Update(const void* bytes, std::size_t count) {
  if (count == 0) return;
  const auto* p = static_cast<const std::uint8_t*>(bytes);

  const std::uint64_t bits = std::uint64_t(count) << 3;
  const std::uint32_t before = lengthLow_;
  lengthLow_ += std::uint32_t(bits);
  lengthHigh_ += std::uint32_t(bits >> 32) + (lengthLow_ < before ? 1u : 0u);

  if (blockUsed_ != 0) {
    const std::size_t take = count < 64 - blockUsed_ ? count : 64 - blockUsed_;
    std::memcpy(block_ + blockUsed_, p, take);
    blockUsed_ += std::uint32_t(take);
    p += take;
    count -= take;
    if (blockUsed_ < 64) return;
    Compress(state_, block_, 1);
    blockUsed_ = 0;
  }
  if (count >= 64) {
    Compress(state_, p, count / 64);
    p += count / 64 * 64;
    count %= 64;
  }
  if (count != 0) {
    std::memcpy(block_, p, count);
    blockUsed_ = std::uint32_t(count);
  }
}

std::uint32_t* Sha1Context::DeferBlocks(std::size_t blocks) {
  if (blockUsed_ != 0) return nullptr;
  const std::uint64_t bits = std::uint64_t(blocks) << 9;
  const std::uint32_t before = lengthLow_;
  lengthLow_ += std::uint32_t(bits);
  lengthHigh_ += std::uint32_t(bits >> 32) + (lengthLow_ < before ? 1u : 0u);
  return state_;
}

void Sha1Context::Final() {
  std::uint8_t lengthBytes[8];
  StoreBigEndian(lengthBytes, lengthHigh_);
  StoreBigEndian(lengthBytes + 4, lengthLow_);

  block_[blockUsed_++] = 0x80;
  if (blockUsed_ > 56) {
    std::memset(block_ + blockUsed_, 0, 64 - blockUsed_);
    Compress(state_, block_, 1);
    blockUsed_ = 0;
  }
  std::memset(block_ + blockUsed_, 0, 56 - blockUsed_);
  std::memcpy(block_ + 56, lengthBytes, 8);
  Compress(state_, block_, 1);

  for (int i = 0; i < 5; ++i) StoreBigEndian(digest_ + 4 * i, state_[i]);
  std::memset(block_, 0, sizeof block_);
  std::memset(state_, 0, sizeof state_);
  blockUsed_ = 0;
}

void Sha1Context::ReportHash(char* text) const {
  ReportHash(text, std::strlen(text) + kHexSize + 1);
}

bool Sha1Context::ReportHash(char* text, std::size_t capacity) const {
  static const char kDigits[] = "0123456789ABCDEF";
  const std::size_t used = std::strlen(text);
  if (capacity < used + kHexSize + 1) return false;
  char* out = text + used;
  for (std::size_t i = 0; i < kDigestSize; ++i) {
    *out++ = kDigits[digest_[i] >> 4];
    *out++ = kDigits[digest_[i] & 15];
  }
  *out = '\0';
  return true;
}

bool Sha1Context::HashFile(const char* path) {
  if (!path) return false;
#ifdef _WIN32
  return HashOpenFile(_wfopen(WideFromUtf8(path).c_str(), L"rb"));
#else
  return HashOpenFile(std::fopen(path, "rb"));
#endif
}

bool Sha1Context::HashFile(const wchar_t* path) {
  if (!path) return false;
#ifdef _WIN32
  return HashOpenFile(_wfopen(path, L"rb"));
#else
  return HashOpenFile(std::fopen(Utf8FromWide(path).c_str(), "rb"));
#endif
}

bool Sha1Context::HashOpenFile(void* opened) {
  FileCloser closer{static_cast<std::FILE*>(opened)};
  std::FILE* file = closer.file;
  if (!file) return false;

  // Our own buffer is the only one: unbuffered, each chunk is one read
  // straight into it instead of a second copy through the stream's buffer.
  std::setvbuf(file, nullptr, _IONBF, 0);

  // The size is taken once, with a 64-bit position so that large files hash
  // whole rather than wrapping at 2 GiB.
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  const long long size = _ftelli64(file);
  if (size < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return false;
#else
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  const long long size = ftello(file);
  if (size < 0 || fseeko(file, 0, SEEK_SET) != 0) return false;
#endif

  std::uint8_t chunk[kFileChunk];
  unsigned long long left = static_cast<unsigned long long>(size);
  while (left != 0) {
    const std::size_t want = left < kFileChunk ? std::size_t(left) : kFileChunk;
    const std::size_t got = std::fread(chunk, 1, want, file);
    Update(chunk, got);
    if (got != want) return false;  // shrank or failed under us
    left -= want;
  }
  return true;
}

std::string Sha1Text(const void* data, std::size_t size) {
  Sha1Context sha;
  sha.Reset();
  sha.Update(data, size);
  sha.Final();
  char text[Sha1Context::kHexSize + 1] = "";
  sha.ReportHash(text, sizeof text);
  return text;
}
