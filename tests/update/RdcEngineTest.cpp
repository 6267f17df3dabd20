#include "update/rdc/RdcEngine.h"

#include "update/rdc/DiffIo.h"
#include "update/rdc/RollingHash.h"
#include "update/rdc/WindowHashes.h"
#include "update/Sha1.h"
#include "update/Sha1Compress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace DIFF;

Bytes Random(std::uint32_t seed, std::size_t n) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Each position's hash computed from its whole window (zeros before the start).
std::vector<std::uint32_t> ReferenceHashes(const Bytes& data) {
  std::vector<std::uint32_t> hash(data.size());
  for (std::int64_t p = 0; p < static_cast<std::int64_t>(data.size()); ++p) {
    std::uint32_t h = 0;
    for (std::int64_t i = 0; i < kHashWindow; ++i) {
      const std::int64_t at = p - kHashWindow + i;
      h ^= rolling::Rotl(rolling::kTable.t[at < 0 ? 0 : data[at]], kHashWindow - 1 - i);
    }
    hash[p] = h;
  }
  return hash;
}

// Chunk lengths straight from the boundary rule: each candidate compared
// with its whole horizon on both sides.
std::vector<std::uint32_t> ReferenceChunks(const Bytes& data) {
  const std::int64_t n = static_cast<std::int64_t>(data.size());
  const std::vector<std::uint32_t> hash = ReferenceHashes(data);
  std::vector<std::uint32_t> lengths;
  std::int64_t start = 0;
  auto cut = [&](std::int64_t at) {
    while (at - start > kMaxChunk) {
      lengths.push_back(kMaxChunk);
      start += kMaxChunk;
    }
    if (at > start) lengths.push_back(static_cast<std::uint32_t>(at - start));
    start = at;
  };
  for (std::int64_t p = 1; p < n; ++p) {
    bool top = true;
    for (std::int64_t q = std::max<std::int64_t>(0, p - kHorizon);
         top && q <= std::min<std::int64_t>(n - 1, p + kHorizon); ++q)
      top = q == p || hash[q] < hash[p];
    if (top) cut(p);
  }
  cut(n);
  return lengths;
}

// Zero bytes with a marker byte at each given position: the hashes are flat
// except in the 48 positions after each marker, which repeat the same shape.
// The marker is one whose shape rises above the flat hash.
Bytes Markers(std::size_t length, std::initializer_list<std::size_t> at) {
  Bytes data(length, 0);
  std::uint8_t marker = 1;
  for (;; ++marker) {
    Bytes probe(200, 0);
    probe[100] = marker;
    const auto h = ReferenceHashes(probe);
    if (*std::max_element(h.begin(), h.end()) > h[0]) break;
  }
  for (std::size_t p : at) data[p] = marker;
  return data;
}

// Where the top of a marker's shape lies, counted from the marker.
std::size_t MarkerTop() {
  const Bytes probe = Markers(200, {100});
  const auto h = ReferenceHashes(probe);
  return static_cast<std::size_t>(std::max_element(h.begin(), h.end()) - h.begin()) - 100;
}

Bytes Signatures(const Bytes& data) {
  MemoryRdcFileReader* reader = new MemoryRdcFileReader(data.data(), data.size());
  MemoryDiffWriter sink;
  EXPECT_EQ(S_OK, RdcEngine().GenerateSignatures(reader, &sink));
  EXPECT_EQ(0u, reader->Release());
  return sink.TakeBytes();
}

// The stream of a generator fed one byte a call: each position is decided
// as soon as the generator may, with nothing past what it must have seen.
Bytes SignaturesByteByByte(const Bytes& data) {
  SignatureGenerator generator;
  Bytes got, out(kGeneratorOutputSize);
  BOOL end = FALSE;
  for (std::size_t at = 0; !end;) {
    RdcBufferPointer in{at < data.size() ? 1u : 0u, 0, const_cast<std::uint8_t*>(data.data() + at)};
    RdcBufferPointer o{kGeneratorOutputSize, 0, out.data()};
    if (generator.Process(at + in.m_Size >= data.size(), &end, &in, &o) != S_OK) return {};
    at += in.m_Used;
    got.insert(got.end(), out.begin(), out.begin() + o.m_Used);
  }
  return got;
}

std::vector<RdcNeed> Needs(const Bytes& seedSigs, const Bytes& sourceSigs) {
  MemoryDiffWriter seedWriter, sourceWriter, needs;
  seedWriter.Write(seedSigs.data(), static_cast<ULONG>(seedSigs.size()));
  sourceWriter.Write(sourceSigs.data(), static_cast<ULONG>(sourceSigs.size()));
  IRdcFileReader* seed = seedWriter.CreateReader();
  IRdcFileReader* source = sourceWriter.CreateReader();
  EXPECT_EQ(S_OK, RdcEngine().CompareSignatures(seed, source, &needs));
  seed->Release();
  source->Release();
  std::vector<RdcNeed> list;
  EXPECT_TRUE(DecodeNeeds(needs.Bytes().data(), needs.Bytes().size(), &list));
  return list;
}

struct Transfer {
  Bytes rebuilt;
  std::uint64_t sourceBytes = 0;
  std::vector<RdcNeed> needs;
};

// What the updater does: needs from the two signature streams, then the new
// file rebuilt from the old one and the fetched ranges of the new one. The
// files may be signature streams themselves, compared by their second level.
Transfer Rebuild(const Bytes& oldFile, const Bytes& newFile, bool secondLevel = false) {
  Transfer t;
  t.needs = secondLevel ? Needs(MakeSecondLevelStream(oldFile.data(), oldFile.size()),
                                MakeSecondLevelStream(newFile.data(), newFile.size()))
                        : Needs(Signatures(oldFile), Signatures(newFile));
  for (const RdcNeed& need : t.needs) {
    const Bytes& from = need.m_BlockType == RDCNEED_SEED ? oldFile : newFile;
    EXPECT_LE(need.m_FileOffset + need.m_BlockLength, from.size());
    if (need.m_FileOffset + need.m_BlockLength > from.size()) break;
    t.rebuilt.insert(t.rebuilt.end(), from.begin() + need.m_FileOffset,
                     from.begin() + need.m_FileOffset + need.m_BlockLength);
    if (need.m_BlockType == RDCNEED_SOURCE) t.sourceBytes += need.m_BlockLength;
  }
  return t;
}

std::vector<std::uint32_t> Lengths(const Bytes& signatures) {
  std::vector<ChunkSignature> chunks;
  EXPECT_TRUE(ParseSignatureStream(signatures.data(), signatures.size(), &chunks));
  std::vector<std::uint32_t> lengths;
  for (const auto& c : chunks) lengths.push_back(c.length);
  return lengths;
}

// Every way of computing the window hashes, at every vector level this
// processor has, over pieces that start and end anywhere (the vector forms
// take many positions at a time and mask the rest), against each position's
// window summed in full.
TEST(RdcGenerator, WindowHashesMatchTheWindowSummedInFull) {
  const Bytes data = Cat({Random(30, 9000), Bytes(300, 0), Random(31, 3000), Bytes(200, 255), Random(32, 777)});
  const std::vector<std::uint32_t> expected = ReferenceHashes(data);
  Bytes padded(kHashWindow, 0);  // the zeros that stand before the file
  padded.insert(padded.end(), data.begin(), data.end());
  const std::uint8_t* at0 = padded.data() + kHashWindow;
  const struct {
    std::size_t from, count;
  } pieces[] = {{0, 1}, {0, 47}, {0, 63}, {0, 64}, {0, 65}, {0, 1023}, {0, 1024}, {0, 4096},
                {0, data.size()}, {1, 130}, {47, 49}, {48, 5000}, {63, 4097}, {4000, 64}, {9100, 1100},
                {data.size() - 65, 65}, {data.size() - 1, 1}, {3, 512}, {5, 529}, {2000, 2047},
                {128, 513}, {64, 8192 + 64 + 5}};
  using Way = void (WindowHashes::*)(const std::uint8_t*, std::size_t, std::uint32_t*);
  const int widest = static_cast<int>(SupportedVectorLevel());
  std::printf("window hash kernels tested up to level %d (0 none, 1 SSE4.1, 2 AVX2, 3 AVX-512)\n", widest);
  for (int level = 0; level <= widest; ++level) {
    ASSERT_EQ(level, static_cast<int>(UseVectorLevel(static_cast<VectorLevel>(level))));
    for (Way way : {&WindowHashes::Compute, &WindowHashes::ComputePortable}) {
      WindowHashes hashes;
      for (const auto& piece : pieces) {
        SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(piece.from) + "+" +
                     std::to_string(piece.count) + (way == &WindowHashes::Compute ? " (chosen)" : " (portable)"));
        std::vector<std::uint32_t> got(piece.count + 1, 0x5A5A5A5Au);
        (hashes.*way)(at0 + piece.from, piece.count, got.data());
        EXPECT_TRUE(std::equal(got.begin(), got.end() - 1, expected.begin() + piece.from));
        EXPECT_EQ(0x5A5A5A5Au, got.back()) << "written past the piece";
      }
    }
    // With the maxima of the whole blocks, from a block's start, and blocks
    // of two SHA-1 messages compressed alongside (fewer and more than the
    // hashes have room for).
    WindowHashes hashes;
    for (const auto& piece : pieces) {
      if (piece.from % 64 != 0) continue;
      SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(piece.from) + "+" +
                   std::to_string(piece.count) + " with maxima");
      std::vector<std::uint32_t> got(piece.count), maxima(piece.count / 64 + 1, 0x5A5A5A5Au);
      std::uint32_t states[2][5] = {{1, 2, 3, 4, 5}, {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u}};
      std::uint32_t expectedStates[2][5];
      std::memcpy(expectedStates, states, sizeof states);
      const Sha1Blocks sign[] = {{states[0], data.data() + 5, 2}, {states[1], data.data() + 100, std::min(piece.count / 40, (data.size() - 100) / 64)}};
      for (int j = 0; j < 2; ++j) sha1_detail::CompressPortable(expectedStates[j], sign[j].data, sign[j].count);
      hashes.ComputeWithMaxima(at0 + piece.from, piece.count, got.data(), maxima.data(), sign, 2);
      EXPECT_EQ(0, std::memcmp(expectedStates, states, sizeof states)) << "signed alongside";
      EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + piece.from));
      for (std::size_t b = 0; b < piece.count / 64; ++b)
        EXPECT_EQ(*std::max_element(got.begin() + 64 * b, got.begin() + 64 * (b + 1)), maxima[b]) << b;
      EXPECT_EQ(0x5A5A5A5Au, maxima.back()) << "a maximum past the whole blocks";
    }
    std::vector<std::uint32_t> maxima(data.size() / 64);
    MaximaOf64(expected.data(), maxima.size(), maxima.data());
    for (std::size_t b = 0; b < maxima.size(); ++b)
      ASSERT_EQ(*std::max_element(expected.begin() + 64 * b, expected.begin() + 64 * (b + 1)), maxima[b]) << b;
    EXPECT_EQ(*std::max_element(expected.begin() + 5, expected.begin() + 100), MaxOfHashes(expected.data() + 5, 95));
  }
  EXPECT_EQ(SupportedVectorLevel(), UseVectorLevel(VectorLevel::kAvx512));
}

TEST(RdcGenerator, ChunksFollowTheBoundaryRuleAndSignTheirBytes) {
  const Bytes text = [] {
    std::string s;
    for (int i = 0; i < 4000; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the file\n";
    return Bytes(s.begin(), s.end());
  }();
  const struct {
    const char* name;
    Bytes data;
  } cases[] = {
      {"empty", {}},
      {"one byte", {42}},
      {"shorter than the window", Random(1, 30)},
      {"random", Random(2, 300000)},
      {"zeros, cut by length only", Bytes(200000, 0)},
      {"random around a long run", Cat({Random(3, 5000), Bytes(140000, 7), Random(4, 9000)})},
      {"text", text},
      {"a repeating pattern (equal hashes within the horizon)",
       Cat({Random(20, 3000), [] {
              Bytes r;
              const Bytes unit = Random(21, 300);
              for (int i = 0; i < 40; ++i) r.insert(r.end(), unit.begin(), unit.end());
              return r;
            }(),
            Random(22, 3000)})},
      {"equal tops exactly a horizon apart", Markers(9000, {3000, 3000 + kHorizon})},
      {"equal tops just beyond a horizon apart", Markers(9000, {3000, 3001 + kHorizon})},
      {"a top exactly at the length limit", Markers(140000, {kMaxChunk - MarkerTop()})},
      // Tops on the first and the last position of a block, with an equal
      // one exactly a horizon (or one more) away.
      {"equal tops a horizon apart from a block's first position",
       Markers(9000, {3200 - MarkerTop(), 3200 - MarkerTop() + kHorizon})},
      {"equal tops beyond a horizon apart from a block's last position",
       Markers(9000, {3263 - MarkerTop(), 3264 - MarkerTop() + kHorizon})},
      // Only a block's largest hash can start a chunk, and not when another
      // position of the block has it too.
      {"equal tops within one block", Markers(9000, {3201 - MarkerTop(), 3262 - MarkerTop()})},
      {"random, ending inside a block", Random(9, 70001)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes sigs = Signatures(c.data);
    ASSERT_GE(sigs.size(), kSignatureHeaderSize);
    EXPECT_EQ(0, std::memcmp(sigs.data(), "VRDC\x02\x08\x30\x00\x00\x04\xff\xff", 12));
    EXPECT_EQ(ReferenceChunks(c.data), Lengths(sigs));
    std::vector<ChunkSignature> chunks;
    ASSERT_TRUE(ParseSignatureStream(sigs.data(), sigs.size(), &chunks));
    std::size_t at = 0;
    for (const auto& chunk : chunks) {
      Sha1Context sha;
      sha.Update(c.data.data() + at, chunk.length);
      sha.Final();
      EXPECT_EQ(0, std::memcmp(sha.Digest(), chunk.hash, kStrongHashSize));
      at += chunk.length;
    }
    EXPECT_EQ(c.data.size(), at);
    EXPECT_EQ(sigs, MakeSignatureStream(c.data.data(), c.data.size()));
    EXPECT_EQ(sigs, SignaturesByteByByte(c.data));
  }
}

// Whatever the pieces and the vector level (the caller's buffer is refilled
// between calls, so bytes kept from an earlier call must have been copied).
TEST(RdcGenerator, FeedingInOddPiecesGivesTheOnePassStream) {
  const Bytes data = Cat({Random(5, 150000), Bytes(70000, 0), Random(6, 3333)});
  const Bytes expected = MakeSignatureStream(data.data(), data.size());
  const struct {
    std::size_t in, out;
    VectorLevel level;
  } splits[] = {{1, 10000, VectorLevel::kAvx512}, {7, 1, VectorLevel::kAvx512}, {4093, 5, VectorLevel::kAvx512},
                {10000, 18, VectorLevel::kAvx512}, {65537, 3, VectorLevel::kAvx512},
                {data.size(), 10000, VectorLevel::kAvx512}, {10000, 10000, VectorLevel::kNone},
                {10000, 10000, VectorLevel::kAvx2}, {8193, 100, VectorLevel::kAvx2},
                {20000, 10000, VectorLevel::kSse41}, {513, 7, VectorLevel::kAvx2}};
  for (const auto& split : splits) {
    UseVectorLevel(split.level);
    SCOPED_TRACE(std::to_string(split.in) + "/" + std::to_string(split.out) + " at level " +
                 std::to_string(static_cast<int>(split.level)));
    SignatureGenerator generator;
    Bytes got, outBuf(split.out), inBuf(split.in);
    std::size_t at = 0;
    BOOL end = FALSE;
    for (int calls = 0; !end && calls < 10000000; ++calls) {
      const std::size_t n = std::min(split.in, data.size() - at);
      std::memcpy(inBuf.data(), data.data() + at, n);
      RdcBufferPointer in{static_cast<ULONG>(n), 0, inBuf.data()};
      RdcBufferPointer out{static_cast<ULONG>(split.out), 0, outBuf.data()};
      ASSERT_EQ(S_OK, generator.Process(at + n == data.size(), &end, &in, &out));
      at += in.m_Used;
      got.insert(got.end(), outBuf.begin(), outBuf.begin() + out.m_Used);
    }
    EXPECT_EQ(expected, got);
    RdcBufferPointer in{0, 0, nullptr}, out{0, 0, nullptr};
    EXPECT_EQ(E_FAIL, generator.Process(TRUE, &end, &in, &out)) << "a call after the end";
  }
  UseVectorLevel(VectorLevel::kAvx512);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(nullptr, file);
  std::fwrite(data.data(), 1, data.size(), file);
  std::rewind(file);
  Bytes fromFile;
  EXPECT_TRUE(MakeSignatureStream(file, &fromFile));
  std::fclose(file);
  EXPECT_EQ(expected, fromFile);
}

// The stream a server of the first format sends for data: version 1, with
// 16 hash bytes a chunk.
Bytes Version1(const Bytes& data) {
  Bytes v1 = {'V', 'R', 'D', 'C', 1, 16, 0x30, 0, 0, 4, 0xFF, 0xFF};
  std::size_t at = 0;
  for (std::uint32_t length : Lengths(Signatures(data))) {
    Sha1Context sha;
    sha.Update(data.data() + at, length);
    sha.Final();
    v1.push_back(static_cast<std::uint8_t>(length & 0xFF));
    v1.push_back(static_cast<std::uint8_t>(length >> 8));
    v1.insert(v1.end(), sha.Digest(), sha.Digest() + 16);
    at += length;
  }
  return v1;
}

std::string Text(const std::vector<RdcNeed>& needs) {
  std::string text;
  for (const RdcNeed& n : needs)
    text += std::to_string(n.m_BlockType) + ":" + std::to_string(n.m_FileOffset) + "+" +
            std::to_string(n.m_BlockLength) + " ";
  return text;
}

TEST(RdcTransfer, RebuildsTheNewFileFetchingOnlyWhatChanged) {
  const Bytes base = Random(7, 1 << 20);
  Bytes inserted = base;
  const Bytes insert = Random(8, 100);
  inserted.insert(inserted.begin() + 500000, insert.begin(), insert.end());
  Bytes edited = base;  // a few scattered byte changes
  for (std::size_t at : {1000u, 400000u, 900000u}) edited[at] ^= 0x5A;
  const struct {
    const char* name;
    Bytes oldFile, newFile;
    std::uint64_t maxSource;
  } cases[] = {
      {"identical", base, base, 0},
      {"insertion in the middle", base, inserted, 12000},
      {"shifted by a prefix", base, Cat({Random(9, 1000), base}), 8000},
      {"front cut off", base, Bytes(base.begin() + 77777, base.end()), 8000},
      {"scattered edits", base, edited, 3 * 12000},
      {"unrelated", Random(10, 50000), Random(11, 60000), 60000},
      {"from nothing", {}, Random(12, 5000), 5000},
      {"to nothing", Random(13, 5000), {}, 0},
      {"long runs", Cat({Bytes(300000, 1), Random(14, 1000)}), Cat({Bytes(300001, 1), Random(14, 1000)}), 70000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Transfer t = Rebuild(c.oldFile, c.newFile);
    EXPECT_TRUE(t.rebuilt == c.newFile);
    EXPECT_EQ(Text(t.needs), Text(Needs(Signatures(c.oldFile), Version1(c.newFile)))) << "from an older server";
    EXPECT_LE(t.sourceBytes, c.maxSource);
    // The new signature list from the old one and the changed stretches of
    // the new one: a changed chunk costs a few second-level runs at most.
    const Bytes oldList = Signatures(c.oldFile), newList = Signatures(c.newFile);
    const Transfer list = Rebuild(oldList, newList, true);
    EXPECT_TRUE(list.rebuilt == newList);
    EXPECT_LE(list.sourceBytes, std::min<std::uint64_t>(newList.size(), kSignatureHeaderSize + (c.maxSource + 11999) /
                                                                                                12000 * 3 * kSecondLevelMaxChunk));
    for (std::size_t i = 1; i < t.needs.size(); ++i) {
      const RdcNeed& a = t.needs[i - 1];
      const RdcNeed& b = t.needs[i];
      EXPECT_FALSE(a.m_BlockType == b.m_BlockType && a.m_FileOffset + a.m_BlockLength == b.m_FileOffset)
          << "neighbours not merged at " << i;
      EXPECT_NE(0u, b.m_BlockLength);
    }
  }
  EXPECT_EQ(1u, Rebuild(base, base).needs.size());
  const Bytes zeros(300000, 0);  // equal chunks: the one that continues the range wins
  EXPECT_EQ(1u, Rebuild(zeros, zeros).needs.size());
  EXPECT_EQ(1u, Rebuild(Random(10, 50000), Random(11, 60000)).needs.size());
}

TEST(RdcComparator, SmallNeedBuffersAndOddPiecesGiveTheSameNeeds) {
  const Bytes oldFile = Random(15, 400000);
  Bytes newFile = oldFile;
  for (std::size_t at = 20000; at < newFile.size(); at += 45000) newFile[at] ^= 1;
  const Bytes seedSigs = Signatures(oldFile), sourceSigs = Signatures(newFile);
  const std::vector<RdcNeed> expected = Needs(seedSigs, sourceSigs);
  ASSERT_GT(expected.size(), 10u);
  for (const std::size_t piece : {1u, 17u, 19u, 10000u}) {
    for (const ULONG room : {1u, 3u}) {
      SCOPED_TRACE(std::to_string(piece) + "/" + std::to_string(room));
      MemoryRdcFileReader* seed = new MemoryRdcFileReader(seedSigs.data(), seedSigs.size());
      SignatureComparator comparator;
      ASSERT_EQ(S_OK, comparator.Init(seed, 100));  // seed read in small pieces too
      seed->Release();
      std::vector<RdcNeed> got;
      std::vector<RdcNeed> buffer(room);
      Bytes inBuf(piece);
      std::size_t at = 0;
      BOOL end = FALSE;
      for (int calls = 0; !end && calls < 1000000; ++calls) {
        const std::size_t n = std::min(piece, sourceSigs.size() - at);
        std::memcpy(inBuf.data(), sourceSigs.data() + at, n);
        RdcBufferPointer in{static_cast<ULONG>(n), 0, inBuf.data()};
        RdcNeedPointer out{room, 0, buffer.data()};
        ASSERT_EQ(S_OK, comparator.Process(at + n == sourceSigs.size(), &end, &in, &out));
        at += in.m_Used;
        got.insert(got.end(), buffer.begin(), buffer.begin() + out.m_Used);
      }
      ASSERT_EQ(expected.size(), got.size());
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(expected[i].m_BlockType, got[i].m_BlockType);
        EXPECT_EQ(expected[i].m_FileOffset, got[i].m_FileOffset);
        EXPECT_EQ(expected[i].m_BlockLength, got[i].m_BlockLength);
      }
    }
  }
}

// A reader that answers short or failing reads.
class FaultyReader : public RdcReaderBase {
 public:
  FaultyReader(const Bytes& data, HRESULT result, ULONG shortBy)
      : data_(data), result_(result), shortBy_(shortBy) {}
  HRESULT STDMETHODCALLTYPE GetFileSize(ULONGLONG* size) override {
    *size = data_.size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Read(ULONGLONG offset, ULONG want, ULONG* got, BYTE* buffer, BOOL* eof) override {
    const ULONG n = want > shortBy_ ? want - shortBy_ : 0;
    std::memcpy(buffer, data_.data() + offset, n);
    *got = n;
    *eof = FALSE;
    return result_;
  }
  HRESULT STDMETHODCALLTYPE GetFilePosition(ULONGLONG* at) override {
    *at = 0;
    return S_OK;
  }

 private:
  const Bytes& data_;
  HRESULT result_;
  ULONG shortBy_;
};

TEST(RdcEngine, RefusesBrokenStreamsReadersAndSinks) {
  const Bytes sigs = Signatures(Random(16, 30000));
  Bytes badHeader = sigs;
  badHeader[4] = 3;  // another format version
  Bytes zeroLength = sigs;
  zeroLength[kSignatureHeaderSize] = zeroLength[kSignatureHeaderSize + 1] = 0;
  const Bytes cutShort(sigs.begin(), sigs.end() - 5);
  const Bytes headerOnly(sigs.begin(), sigs.begin() + kSignatureHeaderSize);
  const struct {
    const char* name;
    Bytes seed, source;
    HRESULT expected;
  } cases[] = {
      {"seed of another version", badHeader, sigs, E_FAIL},
      {"source of another version", sigs, badHeader, E_FAIL},
      {"zero-length chunk", sigs, zeroLength, E_FAIL},
      {"source cut inside a record", sigs, cutShort, E_FAIL},
      {"seed cut inside a record", cutShort, sigs, E_FAIL},
      {"empty source", sigs, {}, E_FAIL},
      {"empty seed", {}, sigs, E_FAIL},
      {"source of an empty file", sigs, headerOnly, S_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryRdcFileReader* seed = new MemoryRdcFileReader(c.seed.data(), c.seed.size());
    MemoryRdcFileReader* source = new MemoryRdcFileReader(c.source.data(), c.source.size());
    MemoryDiffWriter needs;
    EXPECT_EQ(c.expected, RdcEngine().CompareSignatures(seed, source, &needs));
    seed->Release();
    source->Release();
    std::vector<ChunkSignature> parsed;
    EXPECT_EQ(c.expected == S_OK, ParseSignatureStream(c.source.data(), c.source.size(), &parsed) &&
                                      ParseSignatureStream(c.seed.data(), c.seed.size(), &parsed));
  }

  // Only a file's list of the current version has a second level.
  const Bytes second = MakeSecondLevelStream(sigs.data(), sigs.size());
  ASSERT_FALSE(second.empty());
  const Bytes older = Version1(Random(16, 30000));
  const std::pair<const char*, const Bytes*> refused[] = {
      {"second level", &second}, {"other version", &badHeader}, {"zero length", &zeroLength},
      {"cut short", &cutShort}, {"version 1", &older}};
  for (const auto& r : refused) EXPECT_TRUE(MakeSecondLevelStream(r.second->data(), r.second->size()).empty()) << r.first;

  const Bytes data = Random(17, 25000);
  MemoryDiffWriter sink;
  FaultyReader shortRead(data, S_OK, 1), failing(data, E_FAIL, 0);
  EXPECT_EQ(E_FAIL, RdcEngine().GenerateSignatures(&shortRead, &sink));
  EXPECT_EQ(E_FAIL, RdcEngine().GenerateSignatures(&failing, &sink));
  EXPECT_EQ(E_INVALIDARG, RdcEngine().GenerateSignatures(nullptr, &sink));
  EXPECT_EQ(E_INVALIDARG, RdcEngine().GenerateSignatures(&failing, nullptr));
  MemoryRdcFileReader* seed = new MemoryRdcFileReader(sigs.data(), sigs.size());
  EXPECT_EQ(E_FAIL, RdcEngine().CompareSignatures(seed, &shortRead, &sink));

  // A sink that refuses makes the procedure fail.
  class Refusing : public MemoryDiffWriter {
   public:
    HRESULT Write(const BYTE*, ULONG) override { return E_OUTOFMEMORY; }
  } refusing;
  EXPECT_EQ(E_FAIL, RdcEngine().CompareSignatures(seed, seed, &refusing));
  MemoryRdcFileReader* file = new MemoryRdcFileReader(data.data(), data.size());
  EXPECT_EQ(E_FAIL, RdcEngine().GenerateSignatures(file, &refusing));
  file->Release();
  seed->Release();
}

TEST(RdcReaders, MemoryReaderAndWriterKeepTheirContract) {
  const Bytes data = Random(18, 100);
  MemoryDiffWriter writer;
  EXPECT_EQ(E_INVALIDARG, writer.Write(nullptr, 0));
  EXPECT_EQ(S_OK, writer.Write(data.data(), 0));
  EXPECT_EQ(S_OK, writer.Write(data.data(), 60));
  EXPECT_EQ(S_OK, writer.Write(data.data() + 60, 40));
  EXPECT_EQ(data, writer.Bytes());
  EXPECT_EQ(E_NOTIMPL, writer.Finish());
  IRdcFileReader* reader = writer.CreateReader();
  ASSERT_NE(nullptr, reader);

  ULONGLONG size = 0, position = 0;
  EXPECT_EQ(E_POINTER, reader->GetFileSize(nullptr));
  EXPECT_EQ(E_POINTER, reader->GetFilePosition(nullptr));
  EXPECT_EQ(S_OK, reader->GetFileSize(&size));
  EXPECT_EQ(100u, size);
  const struct {
    ULONGLONG offset;
    ULONG want, got;
    BOOL eof;
    ULONGLONG position;
  } reads[] = {
      {0, 10, 10, FALSE, 10},   {90, 10, 10, FALSE, 100}, {95, 10, 5, TRUE, 100},
      {100, 10, 0, TRUE, 100},  {250, 1, 0, TRUE, 250},  {0, 0, 0, FALSE, 0},
      {99, 1000, 1, TRUE, 100},
  };
  for (const auto& r : reads) {
    SCOPED_TRACE(r.offset);
    BYTE buffer[200];
    std::memset(buffer, 0xEE, sizeof buffer);
    ULONG got = 12345;
    BOOL eof = 7;
    EXPECT_EQ(S_OK, reader->Read(r.offset, r.want, &got, buffer, &eof));
    EXPECT_EQ(r.got, got);
    EXPECT_EQ(r.eof, eof);
    if (r.got > 0) {
      EXPECT_EQ(0, std::memcmp(buffer, data.data() + r.offset, r.got));
    }
    EXPECT_EQ(0xEE, buffer[r.got]) << "wrote past what it reported";
    EXPECT_EQ(S_OK, reader->GetFilePosition(&position));
    EXPECT_EQ(r.position, position);
  }
  EXPECT_EQ(E_POINTER, reader->Read(0, 5, nullptr, nullptr, nullptr));

  // Identity and reference counting.
  const GUID other = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* object = &size;
  EXPECT_EQ(E_NOINTERFACE, reader->QueryInterface(other, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(E_POINTER, reader->QueryInterface(kIidRdcFileReader, nullptr));
  EXPECT_EQ(S_OK, reader->QueryInterface(kIidRdcFileReader, &object));
  EXPECT_EQ(static_cast<void*>(reader), object);
  EXPECT_EQ(S_OK, reader->QueryInterface(kIidUnknown, &object));
  EXPECT_EQ(static_cast<void*>(reader), object);
  EXPECT_EQ(4u, reader->AddRef());
  EXPECT_EQ(3u, reader->Release());
  EXPECT_EQ(2u, reader->Release());
  EXPECT_EQ(1u, reader->Release());
  EXPECT_EQ(0u, reader->Release());  // gone; the sanitizer build sees any use after this

  MemoryRdcFileReader* empty = new MemoryRdcFileReader(nullptr, 50);
  EXPECT_EQ(S_OK, empty->GetFileSize(&size));
  EXPECT_EQ(0u, size);
  empty->Release();
}

TEST(RdcNeeds, RoundTripThroughTheirTwentyFourBytes) {
  const RdcNeed needs[] = {
      {RDCNEED_SEED, 0x0102030405060708ull, 0x1112131415161718ull},
      {RDCNEED_SOURCE, 0, 1},
      {RDCNEED_TARGET, ~0ull, ~0ull},
  };
  Bytes bytes;
  for (const RdcNeed& n : needs) {
    BYTE record[kNeedRecordSize];
    std::memset(record, 0xCC, sizeof record);
    EncodeNeed(n, record);
    bytes.insert(bytes.end(), record, record + kNeedRecordSize);
  }
  const Bytes first(bytes.begin(), bytes.begin() + 24);
  EXPECT_EQ((Bytes{2, 0, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11}),
            first);
  std::vector<RdcNeed> back;
  ASSERT_TRUE(DecodeNeeds(bytes.data(), bytes.size(), &back));
  ASSERT_EQ(3u, back.size());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(needs[i].m_BlockType, back[i].m_BlockType);
    EXPECT_EQ(needs[i].m_FileOffset, back[i].m_FileOffset);
    EXPECT_EQ(needs[i].m_BlockLength, back[i].m_BlockLength);
  }
  EXPECT_FALSE(DecodeNeeds(bytes.data(), bytes.size() - 1, &back));
  EXPECT_EQ(3u, back.size()) << "left alone on failure";
  EXPECT_TRUE(DecodeNeeds(nullptr, 0, &back));
  EXPECT_TRUE(back.empty());
}

}  // namespace
