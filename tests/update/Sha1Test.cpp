#include "update/Sha1.h"

#include "update/Sha1Compress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A deliberately plain SHA-1, written straight from the FIPS 180-4 text with
// an 80-word schedule and the whole padded message built up front, to check
// the streaming, unrolled one against.
std::string ReferenceSha1(const std::vector<std::uint8_t>& message) {
  std::vector<std::uint8_t> m = message;
  const std::uint64_t bits = std::uint64_t(message.size()) * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 7; i >= 0; --i) m.push_back(std::uint8_t(bits >> (8 * i)));

  auto rotl = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  for (std::size_t block = 0; block < m.size(); block += 64) {
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t)
      w[t] = std::uint32_t(m[block + 4 * t]) << 24 | std::uint32_t(m[block + 4 * t + 1]) << 16 |
             std::uint32_t(m[block + 4 * t + 2]) << 8 | std::uint32_t(m[block + 4 * t + 3]);
    for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      std::uint32_t f, k;
      if (t < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (t < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const std::uint32_t temp = rotl(a, 5) + f + e + k + w[t];
      e = d;
      d = c;
      c = rotl(b, 30);
      b = a;
      a = temp;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  char text[41];
  for (int i = 0; i < 5; ++i) std::snprintf(text + 8 * i, 9, "%08X", unsigned(h[i]));
  return text;
}

std::string Report(const Sha1Context& sha) {
  char text[100] = "";
  sha.ReportHash(text);
  return text;
}

std::string HashBytes(const void* data, std::size_t size) {
  Sha1Context sha;
  sha.Reset();
  sha.Update(data, size);
  sha.Final();
  return Report(sha);
}

std::string HashText(const std::string& s) { return HashBytes(s.data(), s.size()); }

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(size);
  for (auto& b : v) b = std::uint8_t(rng());
  return v;
}

const char kEmptyDigest[] = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";

class Sha1FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vantle-sha1-" + std::to_string(std::random_device{}()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    fs::path p = dir_ / name;
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p;
  }
  static std::string HashPath(const fs::path& p, bool* result = nullptr) {
    Sha1Context sha;
    sha.Reset();
    const bool ok = sha.HashFile(p.u8string().c_str());
    if (result) *result = ok;
    sha.Final();
    return Report(sha);
  }
  fs::path dir_;
};

// Runs one compression function over a message padded by hand and renders
// the state, so that each form is checked on its own, whichever one
// Sha1Context picks on this processor.
std::string DigestWith(sha1_detail::CompressFunction compress, std::vector<std::uint8_t> m,
                       bool blockByBlock) {
  const std::uint64_t bits = std::uint64_t(m.size()) * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 7; i >= 0; --i) m.push_back(std::uint8_t(bits >> (8 * i)));
  std::uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  if (blockByBlock) {
    for (std::size_t at = 0; at < m.size(); at += 64) compress(state, m.data() + at, 1);
  } else {
    compress(state, m.data(), m.size() / 64);
  }
  char text[41];
  for (int i = 0; i < 5; ++i) std::snprintf(text + 8 * i, 9, "%08X", unsigned(state[i]));
  return text;
}

void ExpectCompressMatchesReference(sha1_detail::CompressFunction compress) {
  for (std::size_t size : {0u, 3u, 55u, 56u, 64u, 119u, 1000u, 4096u, 65537u}) {
    const auto bytes = RandomBytes(size, unsigned(size) * 31 + 1);
    const std::string expected = ReferenceSha1(bytes);
    EXPECT_EQ(DigestWith(compress, bytes, false), expected) << "size " << size;
    EXPECT_EQ(DigestWith(compress, bytes, true), expected) << "size " << size;
  }
}

}  // namespace

TEST(Sha1Compress, PortableFormMatchesReference) {
  ExpectCompressMatchesReference(&sha1_detail::CompressPortable);
}

TEST(Sha1Compress, HardwareFormMatchesReference) {
  const sha1_detail::CompressFunction hardware = sha1_detail::HardwareCompress();
  if (!hardware) GTEST_SKIP() << "no SHA instructions in this build or on this processor";
  ExpectCompressMatchesReference(hardware);
}

TEST(Sha1, PublishedVectors) {
  EXPECT_EQ(HashText(""), kEmptyDigest);
  EXPECT_EQ(HashText("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(HashText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
  EXPECT_EQ(HashText("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                     "klmnopqrlmnopqrsmnopqrstnopqrstu"),
            "A49B2446A02C645BF419F995B67091253A04A259");
  EXPECT_EQ(HashText(std::string(1000000, 'a')), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

// Every length around the padding edges (55/56 bytes leave room for the
// length or not; 64 and 119/120 likewise one block later) against the
// reference.
TEST(Sha1, EveryLengthUpTo200MatchesReference) {
  const auto data = RandomBytes(200, 1);
  for (std::size_t n = 0; n <= 200; ++n) {
    std::vector<std::uint8_t> part(data.begin(), data.begin() + std::ptrdiff_t(n));
    ASSERT_EQ(HashBytes(part.data(), n), ReferenceSha1(part)) << "length " << n;
  }
}

TEST(Sha1, UpdateSplitAtEveryOffsetGivesOneDigest) {
  const auto data = RandomBytes(300, 2);
  const std::string whole = ReferenceSha1(data);
  for (std::size_t cut = 0; cut <= data.size(); ++cut) {
    Sha1Context sha;
    sha.Reset();
    sha.Update(data.data(), cut);
    sha.Update(data.data() + cut, data.size() - cut);
    sha.Final();
    ASSERT_EQ(Report(sha), whole) << "cut at " << cut;
  }
  // Many small uneven pieces, including empty ones.
  std::mt19937 rng(3);
  for (int round = 0; round < 50; ++round) {
    Sha1Context sha;
    sha.Reset();
    std::size_t at = 0;
    while (at < data.size()) {
      const std::size_t n = std::min<std::size_t>(rng() % 70, data.size() - at);
      sha.Update(data.data() + at, n);
      at += n;
    }
    sha.Final();
    ASSERT_EQ(Report(sha), whole);
  }
}

// Blocks compressed by the caller between pieces fed as usual: one digest,
// the length counted; refused in the middle of a block.
TEST(Sha1, BlocksDeferredToTheCallerGiveOneDigest) {
  const auto data = RandomBytes(700, 4);
  const struct {
    std::size_t head, blocks;
  } cases[] = {{0, 0}, {0, 1}, {64, 3}, {128, 8}, {640, 0}, {0, 10}, {30, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.head) + " + " + std::to_string(c.blocks) + " blocks");
    const std::size_t tail = c.head + 64 * c.blocks;
    Sha1Context sha;
    sha.Update(data.data(), c.head);
    std::uint32_t* state = sha.DeferBlocks(c.blocks);
    if (c.head % 64 != 0) {
      EXPECT_EQ(nullptr, state);
      continue;
    }
    ASSERT_NE(nullptr, state);
    sha1_detail::BestCompress()(state, data.data() + c.head, c.blocks);
    sha.Update(data.data() + tail, data.size() - tail);
    sha.Final();
    EXPECT_EQ(Report(sha), ReferenceSha1(data));
  }
}

TEST(Sha1, ResetAfterFinalStartsAfresh) {
  Sha1Context sha;
  sha.Reset();
  sha.Update("something else", 14);
  sha.Final();
  sha.Reset();
  sha.Update("abc", 3);
  sha.Final();
  EXPECT_EQ(Report(sha), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(Sha1, ReportHashAppendsFortyUpperCaseDigits) {
  Sha1Context sha;
  sha.Reset();
  sha.Update("\xff\xfe", 2);
  sha.Final();
  char text[100] = "hash:";
  sha.ReportHash(text);
  const std::string s = text;
  ASSERT_EQ(s.size(), 45u);
  EXPECT_EQ(s.substr(0, 5), "hash:");
  EXPECT_EQ(s.find_first_not_of("0123456789ABCDEF", 5), std::string::npos);
  std::vector<std::uint8_t> bytes = {0xff, 0xfe};
  EXPECT_EQ(s.substr(5), ReferenceSha1(bytes));
  // The digest bytes are the text, byte by byte.
  char fromDigest[3];
  std::snprintf(fromDigest, sizeof fromDigest, "%02X", sha.Digest()[19]);
  EXPECT_EQ(s.substr(43), fromDigest);
}

TEST(Sha1, ReportHashRefusesABufferTooSmall) {
  Sha1Context sha;
  sha.Reset();
  sha.Final();
  char exact[41] = "";
  EXPECT_TRUE(sha.ReportHash(exact, sizeof exact));
  EXPECT_STREQ(exact, kEmptyDigest);
  char small[45] = "abcde";  // 5 used + 40 + NUL needs 46
  EXPECT_FALSE(sha.ReportHash(small, sizeof small));
  EXPECT_STREQ(small, "abcde");
}

// Sizes around the 8000-byte read chunk: one short chunk, one whole chunk,
// a whole chunk plus one byte, and several chunks.
TEST_F(Sha1FileTest, FilesAroundTheChunkSizeMatchReference) {
  for (std::size_t size : {0u, 1u, 63u, 64u, 7999u, 8000u, 8001u, 16000u, 16001u, 100000u}) {
    const auto bytes = RandomBytes(size, unsigned(size) + 7);
    const fs::path p = Write("f" + std::to_string(size), bytes);
    bool ok = false;
    EXPECT_EQ(HashPath(p, &ok), ReferenceSha1(bytes)) << "size " << size;
    EXPECT_TRUE(ok) << "size " << size;
  }
}

TEST_F(Sha1FileTest, MissingEmptyAndNullAllGiveTheEmptyDigest) {
  bool ok = true;
  EXPECT_EQ(HashPath(dir_ / "no such file", &ok), kEmptyDigest);
  EXPECT_FALSE(ok);

  EXPECT_EQ(HashPath(Write("empty", {}), &ok), kEmptyDigest);
  EXPECT_TRUE(ok);

  Sha1Context sha;
  sha.Reset();
  EXPECT_FALSE(sha.HashFile(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(sha.HashFile(static_cast<const wchar_t*>(nullptr)));
  sha.Final();
  EXPECT_EQ(Report(sha), kEmptyDigest);
}

TEST_F(Sha1FileTest, AFolderIsNotAFile) {
  Sha1Context sha;
  sha.Reset();
  EXPECT_FALSE(sha.HashFile(dir_.u8string().c_str()));
}

// Non-ASCII names reach the file whether given as UTF-8 or as wide text.
TEST_F(Sha1FileTest, NonAsciiNamesInBothForms) {
  const auto bytes = RandomBytes(9000, 11);
  const fs::path p = dir_ / fs::u8path(u8"Spiel-\u00e4\u00df-\u65e5\u672c.exe");
  {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  ASSERT_TRUE(fs::exists(p));
  const std::string expected = ReferenceSha1(bytes);

  bool ok = false;
  EXPECT_EQ(HashPath(p, &ok), expected);
  EXPECT_TRUE(ok);

  Sha1Context sha;
  sha.Reset();
  // Built by hand: the folder is ASCII, and the standard library would
  // convert the name through the C locale, which knows no UTF-8.
  const std::wstring wide = dir_.wstring() + L"/Spiel-\u00e4\u00df-\u65e5\u672c.exe";
  EXPECT_TRUE(sha.HashFile(wide.c_str()));
  sha.Final();
  EXPECT_EQ(Report(sha), expected);
}

// The file is read once; hashing it and hashing its bytes give one digest,
// also for a larger file that spans many chunks.
TEST_F(Sha1FileTest, LargeFileMatchesStreamedBytes) {
  const auto bytes = RandomBytes(3 * 1000 * 1000 + 17, 5);
  const fs::path p = Write("large", bytes);
  EXPECT_EQ(HashPath(p), HashBytes(bytes.data(), bytes.size()));
  EXPECT_EQ(HashPath(p), ReferenceSha1(bytes));
}
