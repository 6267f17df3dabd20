// The update endpoint without HTTP: request parsing, the hash and zip
// replies, every refusal, the hash cache and the access log line.
#include "ServerTestSupport.h"

#include "server/AccessLog.h"
#include "server/FormRequest.h"
#include "server/UpdateService.h"
#include "update/Sha1.h"
#include "update/SignatureDelta.h"
#include "text/TextConvert.h"
#include "update/rdc/DiffIo.h"
#include "update/rdc/RdcEngine.h"
#include "xml/Xml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace vantle_server;
using server_test::ReadZip;
using server_test::ReleaseTree;
using server_test::ZipEntry;
namespace fs = std::filesystem;

namespace {

const char kAbcDigest[] = "A9993E364706816ABA3E25717850C26C9CD0D89D";
const char kEmptyDigest[] = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";

std::string Query(const std::string& function, const std::string& product = ReleaseTree::kProduct) {
  return std::string("/update/u.php?f=") + function + "&e=" + product;
}

class UpdateServiceTest : public ::testing::Test {
 protected:
  // The reply with its body made whole, as a client receives it.
  ServiceReply Post(const std::string& target, const std::string& body) {
    ServiceReply reply = service_.Handle("POST", target, body);
    const std::optional<std::uint64_t> length = reply.stream ? reply.stream->Length() : std::nullopt;
    std::string error;
    if (!MakeBodyWhole(reply, error)) return TextReply(599, "stream ended: " + error);
    EXPECT_EQ(length.value_or(reply.body.size()), reply.body.size());
    return reply;
  }
  ReleaseTree tree_;
  UpdateService service_{tree_.Root().string()};
};

// --- parsing ----------------------------------------------------------------

TEST(FormRequest, PercentAndPlusDecoding) {
  std::string out;
  ASSERT_TRUE(PercentDecode("a%20b+c%2Bd%2fe%C3%A4", true, out));
  EXPECT_EQ(out, "a b c+d/e\xC3\xA4");
  ASSERT_TRUE(PercentDecode("a+b", false, out));
  EXPECT_EQ(out, "a+b");
  for (const char* broken : {"%", "%4", "a%zz", "%g0", "ab%"}) EXPECT_FALSE(PercentDecode(broken, true, out)) << broken;
}

TEST(FormRequest, FieldsKeepOrderAndSkipEmptySegments) {
  FormFields fields;
  std::string error;
  ASSERT_TRUE(ParseFormText("f2=b&&f1=a=x&flag&", fields, error));
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0], (std::pair<std::string, std::string>("f2", "b")));
  EXPECT_EQ(fields[1], (std::pair<std::string, std::string>("f1", "a=x")));  // first '=' splits
  EXPECT_EQ(fields[2], (std::pair<std::string, std::string>("flag", "")));
  EXPECT_FALSE(ParseFormText("f1=%zz", fields, error));
  EXPECT_NE(error.find("escape"), std::string::npos);
}

TEST(FormRequest, ItemsAreNumberedFromOneWithoutGaps) {
  FormFields fields = {{"f2", "b.exe"}, {"f1", "a.exe"}};
  std::vector<RequestedItem> items;
  std::string error;
  ASSERT_TRUE(ParseItems(fields, items, error)) << error;
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].name, "a.exe");  // numbering order, not body order
  EXPECT_EQ(items[1].name, "b.exe");
  EXPECT_FALSE(items[0].ranged);

  const std::vector<FormFields> bad = {
      {},                                      // nothing
      {{"f2", "a"}},                           // no f1
      {{"f1", "a"}, {"f3", "b"}},              // gap
      {{"f1", "a"}, {"f1", "b"}},              // twice
      {{"f0", "a"}},                           // numbering starts at 1
      {{"f01", "a"}},                          // leading zero
      {{"f1", "a"}, {"g2", "b"}},              // unknown field
      {{"f", "a"}},                            // no number
      {{"f1", "a"}, {"from1", "0"}},           // range without size
      {{"f1", "a"}, {"from1", "x"}, {"size1", "3"}},  // not a number
      {{"from1", "0"}, {"size1", "3"}},        // range without name
  };
  for (const FormFields& f : bad) {
    EXPECT_FALSE(ParseItems(f, items, error)) << (f.empty() ? std::string("(empty)") : f[0].first);
    EXPECT_FALSE(error.empty());
  }
}

TEST(FormRequest, RangeTriplesBecomeRangedItems) {
  FormFields fields = {{"f1", "vtl64.exe"}, {"from1", "4096"}, {"size1", "18446744073709551615"},
                       {"f2", "vtl64.exe"}, {"from2", "0"},    {"size2", "1"}};
  std::vector<RequestedItem> items;
  std::string error;
  ASSERT_TRUE(ParseItems(fields, items, error)) << error;
  ASSERT_EQ(items.size(), 2u);
  EXPECT_TRUE(items[0].ranged);
  EXPECT_EQ(items[0].from, 4096u);
  EXPECT_EQ(items[0].size, UINT64_MAX);
  EXPECT_EQ(items[1].from, 0u);
  // One past 64 bits does not wrap.
  fields[2].second = "18446744073709551616";
  EXPECT_FALSE(ParseItems(fields, items, error));
}

// --- hash query -------------------------------------------------------------

TEST_F(UpdateServiceTest, HashReplyIsXmlWithOneDigestPerField) {
  tree_.Write("vtl64.exe", "abc");
  tree_.Write("empty.dat", "");
  const ServiceReply reply = Post(Query("hash"), "f1=vtl64.exe&f2=empty.dat&f3=vtl64.exe");
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_NE(reply.contentType.find("xml"), std::string::npos);

  // Read the way the updater reads it: the XML library, from memory.
  XmlDocument doc;
  doc.ParseText(reply.body.c_str());
  ASSERT_EQ(doc.GetParseStatus(), 0);
  XmlElement* root = doc.GetRoot();
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->GetChildCount(), 3u);
  ASSERT_NE(root->FindChild("f1"), nullptr);
  EXPECT_EQ(root->FindChild("f1")->GetText(), kAbcDigest);
  EXPECT_EQ(root->FindChild("f2")->GetText(), kEmptyDigest);
  EXPECT_EQ(root->FindChild("f3")->GetText(), kAbcDigest);
  EXPECT_EQ(root->FindChild("f1")->GetAttributeCount(), 0u);
}

TEST_F(UpdateServiceTest, NamesAreFormDecodedAndMayBeUtf8) {
  tree_.Write("My Game+1.exe", "abc");
  tree_.Write("Spiel-\xC3\xA4.exe", "");
  ServiceReply reply = Post(Query("hash"), "f1=My+Game%2B1.exe&f2=Spiel-%C3%A4.exe");
  ASSERT_EQ(reply.status, 200) << reply.body;
  // The updater sends names as they are, UTF-8 and unescaped.
  reply = Post(Query("hash"), "f1=Spiel-\xC3\xA4.exe");
  ASSERT_EQ(reply.status, 200) << reply.body;
  XmlDocument doc;
  doc.ParseText(reply.body.c_str());
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_EQ(doc.GetRoot()->FindChild("f1")->GetText(), kEmptyDigest);
}

TEST_F(UpdateServiceTest, HashIsCachedUntilSizeOrTimeChanges) {
  const auto path = tree_.Write("vtl64.exe", "abc");
  auto hashOf = [&] {
    const ServiceReply reply = Post(Query("hash"), "f1=vtl64.exe");
    XmlDocument doc;
    doc.ParseText(reply.body.c_str());
    return doc.GetRoot() && doc.GetRoot()->FindChild("f1") ? doc.GetRoot()->FindChild("f1")->GetText()
                                                           : std::string("(no reply)");
  };
  EXPECT_EQ(hashOf(), kAbcDigest);
  EXPECT_EQ(hashOf(), kAbcDigest);
  EXPECT_EQ(service_.Release().HashComputations(), 1u);

  // Same size, new contents and a new time.
  const auto before = fs::last_write_time(path);
  tree_.Write("vtl64.exe", "xyz");
  fs::last_write_time(path, before + std::chrono::seconds(2));
  EXPECT_EQ(hashOf(), "66B27417D37E024C46526C2F6D358A754FC552F3");
  EXPECT_EQ(service_.Release().HashComputations(), 2u);

  // New size with the time put back: the size alone is enough.
  tree_.Write("vtl64.exe", "");
  fs::last_write_time(path, before + std::chrono::seconds(2));
  EXPECT_EQ(hashOf(), kEmptyDigest);
  EXPECT_EQ(service_.Release().HashComputations(), 3u);
}

TEST_F(UpdateServiceTest, ConcurrentHashQueriesAgree) {
  tree_.Write("vtl64.exe", "abc");
  tree_.Write("other.dll", server_test::RandomText(300000, 4));
  const ServiceReply first = Post(Query("hash"), "f1=vtl64.exe&f2=other.dll");
  ASSERT_EQ(first.status, 200);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i)
        if (Post(Query("hash"), "f1=vtl64.exe&f2=other.dll").body != first.body) ++mismatches[t];
    });
  }
  for (auto& th : threads) th.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

// --- zip --------------------------------------------------------------------

TEST_F(UpdateServiceTest, ZipHoldsOneDeflatedEntryPerFieldInRequestOrder) {
  const std::string big = server_test::RandomText(200000, 1) + std::string(100000, 'z');
  tree_.Write("vtl64.exe", big);
  tree_.Write("empty.dat", "");
  tree_.Write("notes.txt", "signature bytes");
  const ServiceReply reply = Post(Query("zip"), "f1=notes.txt&f2=empty.dat&f3=vtl64.exe&f4=empty.dat");
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.contentType, "application/zip");

  std::vector<ZipEntry> entries;
  ASSERT_TRUE(ReadZip(reply.body, entries));
  ASSERT_EQ(entries.size(), 4u);
  const char* names[] = {"notes.txt", "empty.dat", "vtl64.exe", "empty.dat"};
  const std::string contents[] = {"signature bytes", "", big, ""};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(entries[i].name, names[i]);
    EXPECT_EQ(entries[i].method, 8) << names[i];  // deflated
    EXPECT_TRUE(entries[i].bytes == contents[i]) << names[i];
  }
  EXPECT_LT(reply.body.size(), big.size());  // the compressible tail did shrink
}

// A request costs what a client can use: every file and range once, however
// often it is named, and no more than the program accepts in one reply.
TEST_F(UpdateServiceTest, ZipSendsAndCountsEachPieceOnceAndRefusesWhatNoClientUses) {
  const std::string a = server_test::RandomText(20000, 3);
  tree_.Write("a", a);
  std::string body;
  for (int i = 1; i <= 30000; ++i) {
    const std::string n = std::to_string(i);
    body += (i > 1 ? "&f" : "f") + n + "=a" + (i % 2 ? "" : "&from" + n + "=100&size" + n + "=19000");
  }
  ASSERT_LE(body.size(), UpdateService::kMaxBodyBytes);
  for (int round = 0; round < 2; ++round) {
    const ServiceReply reply = Post(Query("zip"), body);
    ASSERT_EQ(reply.status, 200) << reply.body;
    // The file and the range once each, then a directory entry per name.
    EXPECT_LT(reply.body.size(), 2 * a.size() + 30000u * (46 + 1) + 200);
    std::vector<ZipEntry> entries;
    ASSERT_TRUE(ReadZip(reply.body, entries));
    ASSERT_EQ(entries.size(), 30000u);
    EXPECT_TRUE(entries[0].bytes == a && entries[29998].bytes == a && entries[29999].bytes == a.substr(100, 19000));
  }
  EXPECT_EQ(service_.Release().PackComputations(), 1u);  // deflated once, not per request

  // Sparse files: their size is all that is looked at before the refusal.
  const std::uint64_t mib = 1 << 20;
  fs::resize_file(tree_.Write("big", ""), 40 * mib);
  fs::resize_file(tree_.Write("other", ""), 30 * mib);
  const std::string half = std::to_string(20 * mib);
  struct Case {
    std::string body;
    int status;
    const char* reason;
  } cases[] = {
      {"f1=big&f2=other", 400, "add up"},
      // Ranges of a file also asked for whole are sent as well.
      {"f1=big&f2=big&from2=0&size2=" + half + "&f3=big&from3=" + half + "&size3=" + half, 400, "add up"},
      {"f1=other&f2=other&from2=0&size2=" + half, 200, ""},
      {"f1=big&from1=0&size1=1000&f2=big&from2=999&size2=10", 400, "overlap"},
      {"f1=big&from1=10&size1=10&f2=big&from2=0&size2=11", 400, "overlap"},
      {"f1=big&from1=0&size1=1000&f2=big&from2=1000&size2=10&f3=big&from3=0&size3=1000", 200, ""},
  };
  for (const Case& c : cases) {
    const ServiceReply reply = service_.Handle("POST", Query("zip"), c.body);
    EXPECT_EQ(reply.status, c.status) << c.body << ": " << reply.body;
    EXPECT_NE(reply.body.find(c.reason), std::string::npos) << reply.body;
  }
  EXPECT_EQ(service_.Release().PackComputations(), 2u);  // only the one accepted whole file
}

TEST_F(UpdateServiceTest, RangesComeBackOnePerEntryInRequestOrder) {
  const std::string a = server_test::RandomText(150000, 7);
  const std::string b = "0123456789";
  tree_.Write("a.exe", a);
  tree_.Write("b.dll", b);
  // Out of offset order, across files, with an empty range, the whole file,
  // a range that ends exactly at the end and a whole file between ranges.
  struct Range {
    const char* name;
    std::uint64_t from, size;
  } ranges[] = {{"a.exe", 140000, 10000}, {"b.dll", 3, 4},     {"a.exe", 0, 65537},
                {"b.dll", 10, 0},         {"b.dll", 7, 3},     {"a.exe", 65537, 1}};
  std::string body;
  int n = 0;
  for (const Range& r : ranges) {
    const std::string k = std::to_string(++n);
    body += (n > 1 ? "&f" : "f") + k + "=" + r.name + "&from" + k + "=" + std::to_string(r.from) + "&size" + k +
            "=" + std::to_string(r.size);
  }
  body += "&f7=b.dll";
  const ServiceReply reply = Post(Query("zip"), body);
  ASSERT_EQ(reply.status, 200) << reply.body;
  std::vector<ZipEntry> entries;
  ASSERT_TRUE(ReadZip(reply.body, entries));
  ASSERT_EQ(entries.size(), 7u);
  for (int i = 0; i < 6; ++i) {
    const std::string& file = std::string(ranges[i].name) == "a.exe" ? a : b;
    EXPECT_TRUE(entries[i].bytes == file.substr(ranges[i].from, ranges[i].size)) << "entry " << i;
  }
  EXPECT_EQ(entries[6].bytes, b);
}

// A long range is deflated a piece at a time; each piece still refers back
// to what the pieces before it sent, as one stream over the range would.
TEST_F(UpdateServiceTest, LongRangesCompressAcrossTheirPieces) {
  const std::string unit = server_test::RandomText(20000, 11);
  std::string a;
  for (int i = 0; i < 12; ++i) a += unit;
  tree_.Write("a.exe", a);
  const ServiceReply reply = Post(Query("zip"), "f1=a.exe&from1=1000&size1=" + std::to_string(a.size() - 2000));
  ASSERT_EQ(reply.status, 200) << reply.body;
  std::vector<ZipEntry> entries;
  ASSERT_TRUE(ReadZip(reply.body, entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].bytes == a.substr(1000, a.size() - 2000));
  // The unit about once, then references: the four pieces starting afresh
  // would each send it again.
  EXPECT_LT(reply.body.size(), 2 * unit.size());
}

// Asked with j=1, the ranges of one file come as one entry; without it (an
// older client), or when they cannot be joined, one entry per range. The
// updater reads either form (the second is what a server that predates j
// sends), and refuses a reply whose ranges are not the lengths asked for.
TEST_F(UpdateServiceTest, JoinedRangesComeAsOneEntryAndEitherFormReadsBack) {
  const std::string a = server_test::RandomText(150000, 7), b = "0123456789";
  tree_.Write("a.exe", a);
  tree_.Write("b.dll", b);
  struct Range {
    const char* name;
    std::uint64_t from, size;
  };
  const std::vector<Range> ofA = {{"a.exe", 140000, 10000}, {"a.exe", 0, 65537}, {"a.exe", 70000, 0},
                                  {"a.exe", 65537, 1}};
  const struct {
    const char* what;
    bool joinAsked;
    std::vector<Range> ranges;
    std::size_t entries;
  } cases[] = {
      {"joined", true, ofA, 1},
      {"an older client", false, ofA, 4},
      {"two files", true, {{"a.exe", 5, 10}, {"b.dll", 1, 2}}, 2},
      {"a range named twice", true, {{"a.exe", 5, 10}, {"a.exe", 20, 5}, {"a.exe", 5, 10}}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string body;
    std::vector<std::uint64_t> lengths;
    for (std::size_t i = 0; i < c.ranges.size(); ++i) {
      const std::string k = std::to_string(i + 1);
      body += (i > 0 ? "&f" : "f") + k + "=" + c.ranges[i].name + "&from" + k + "=" +
              std::to_string(c.ranges[i].from) + "&size" + k + "=" + std::to_string(c.ranges[i].size);
      lengths.push_back(c.ranges[i].size);
    }
    const ServiceReply reply = Post(Query("zip") + (c.joinAsked ? "&j=1" : ""), body);
    ASSERT_EQ(reply.status, 200) << reply.body;
    std::vector<ZipEntry> entries;
    ASSERT_TRUE(ReadZip(reply.body, entries));
    EXPECT_EQ(c.entries, entries.size());
    std::vector<std::string> read;
    ASSERT_TRUE(VULIBRARY::ReadRangeEntries(reply.body, lengths, &read));
    for (std::size_t i = 0; i < c.ranges.size(); ++i) {
      const std::string& file = std::string(c.ranges[i].name) == "a.exe" ? a : b;
      EXPECT_TRUE(read[i] == file.substr(c.ranges[i].from, c.ranges[i].size)) << "range " << i;
    }
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      std::vector<std::uint64_t> wrong = lengths;
      wrong[i] += 1;
      EXPECT_FALSE(VULIBRARY::ReadRangeEntries(reply.body, wrong, &read)) << "range " << i << " one byte longer";
    }
  }
}

// The updater's range route through the handler: block sums find the
// blocks of the lacking chunks that the installed file holds elsewhere, and
// the rest comes primed (d=1) or, from a server that ignores d, as today.
// Whatever is damaged or does not match is refused, never rebuilt wrong.
TEST_F(UpdateServiceTest, BlockSumsAndPrimedRangesRebuildTheNewFile) {
  using namespace VULIBRARY;
  const std::string unit = server_test::RandomText(3000, 5);
  std::string fresh, old;
  for (int i = 0; i < 50; ++i) {
    fresh += unit + "#" + std::to_string(i * 7919);  // a new number in every unit
    old += unit + "#" + std::to_string(i * 104729) + (i % 9 == 0 ? "moved" : "");
  }
  tree_.Write("a.exe", fresh);
  const auto bytes = [](const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); };
  const std::vector<std::uint8_t> local = DIFF::MakeSignatureStream(bytes(old), old.size()),
                                  remote = DIFF::MakeSignatureStream(bytes(fresh), fresh.size());
  std::vector<Need> chunks, needs;
  ASSERT_TRUE(CompareSignatureStreams(local.data(), local.size(), remote.data(), remote.size(), old.size(), &chunks));
  const auto lacking = [](const std::vector<Need>& list) {
    std::uint64_t sum = 0;
    for (const Need& need : list) sum += need.type == kNeedSource ? need.length : 0;
    return sum;
  };
  const auto request = [](const std::string& name, const std::vector<Need>& list) {
    std::string body;
    std::vector<FormField> fields;
    unsigned n = 1;
    AppendRangeFields(fields, WideFromUtf8(name), list, 0, &n);
    EXPECT_TRUE(BuildFormBody(fields, &body));
    return body;
  };
  constexpr std::size_t kBlock = 256;
  std::vector<std::uint64_t> sumsLengths;
  for (const Need& need : chunks)
    if (need.type == kNeedSource) sumsLengths.push_back(SumsLength(need.length, kBlock));
  const ServiceReply sums = Post(Query("zip") + "&j=1&b=256", request("a.exe.sums", chunks));
  ASSERT_EQ(sums.status, 200) << sums.body;
  std::vector<std::string> read;
  ASSERT_TRUE(ReadRangeEntries(sums.body, sumsLengths, &read));
  ASSERT_TRUE(MatchBlockSums(chunks, read, kBlock, bytes(old), old.size(), &needs));
  EXPECT_LT(lacking(needs), lacking(chunks) / 2);
  read.back().resize(read.back().size() - 1);
  EXPECT_FALSE(MatchBlockSums(chunks, read, kBlock, bytes(old), old.size(), &needs)) << "sums cut short";
  ASSERT_TRUE(MatchBlockSums(chunks, {}, kBlock, bytes(old), old.size(), &needs) == chunks.empty());
  ASSERT_TRUE(ReadRangeEntries(sums.body, sumsLengths, &read));
  ASSERT_TRUE(MatchBlockSums(chunks, read, kBlock, bytes(old), old.size(), &needs));
  for (const char* refused : {"&b=100", "&b=32", "&b=131072", "&b=25x6"})
    EXPECT_EQ(Post(Query("zip") + refused, request("a.exe.sums", chunks)).status, 400) << refused;
  EXPECT_EQ(Post(Query("zip"), "f1=a.exe.sums").status, 400);
  EXPECT_EQ(Post(Query("zip"), "f1=b.exe.sums&from1=0&size1=1").status, 404);

  const std::string zeros(old.size(), '\0');
  const struct {
    const char* what;
    const char* query;
    const std::string* seed;
    long damagedAt;  // a byte of the reply turned over (below 0: from its end), or none
    bool primed, rebuilt;
  } cases[] = {
      {"primed", "&j=1&d=1", &old, 0, true, true},
      {"a server that ignores d", "&j=1", &old, 0, false, true},
      {"a single entry per range", "", &old, 0, false, true},
      {"primed, but another installed file", "&j=1&d=1", &zeros, 0, true, false},
      {"primed, damaged data", "&j=1&d=1", &old, 200, true, false},
      {"primed, damaged directory", "&j=1&d=1", &old, -30, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ServiceReply reply = Post(Query("zip") + c.query, request("a.exe", needs));
    ASSERT_EQ(reply.status, 200) << reply.body;
    if (c.damagedAt) reply.body[std::size_t(c.damagedAt < 0 ? long(reply.body.size()) + c.damagedAt : c.damagedAt)] ^= 0x10;
    const std::string& seed = *c.seed;
    const SeedReader reader = [&seed](std::uint64_t offset, std::uint64_t length, std::string* out) {
      *out = seed.substr(offset, length);
      return out->size() == length;
    };
    bool primed = !c.primed;
    std::vector<std::uint8_t> rebuilt;
    const bool ok = ReadPrimedRangeEntries(reply.body, "a.exe", needs, reader, &read, &primed) &&
                    RebuildFromNeeds(needs, std::vector<std::uint8_t>(old.begin(), old.end()), read, &rebuilt);
    EXPECT_EQ(ok, c.rebuilt);
    EXPECT_TRUE(!ok || std::string(rebuilt.begin(), rebuilt.end()) == fresh);
    EXPECT_TRUE(c.damagedAt != 0 || primed == c.primed);
  }
}

TEST_F(UpdateServiceTest, RangesOutsideTheFileAre400) {
  tree_.Write("b.dll", "0123456789");
  const std::pair<const char*, const char*> outside[] = {
      {"11", "0"},                     // starts past the end
      {"5", "6"},                      // ends past the end
      {"1", "18446744073709551615"},   // the end would wrap around
      {"18446744073709551615", "2"},   // so would this one
  };
  for (const auto& [from, size] : outside) {
    // Good requests around it must not be answered on their own either.
    const std::string body = std::string("f1=b.dll&f2=b.dll&from2=0&size2=1&f3=b.dll&from3=") + from +
                             "&size3=" + size + "&f4=b.dll";
    const ServiceReply reply = Post(Query("zip"), body);
    EXPECT_EQ(reply.status, 400) << body << ": " << reply.body;
    EXPECT_NE(reply.body.find("outside"), std::string::npos) << reply.body;
  }
  // A range of a file that is not there is a missing file, and a hash query
  // does not take ranges at all.
  EXPECT_EQ(Post(Query("zip"), "f1=nope.dll&from1=0&size1=1").status, 404);
  EXPECT_EQ(Post(Query("hash"), "f1=b.dll&from1=0&size1=1").status, 400);
}

// --- signatures -------------------------------------------------------------

std::string Sha1Of(const std::string& bytes) { return ::Sha1Text(bytes); }

std::string SignaturesOf(const std::string& bytes) {
  const std::vector<std::uint8_t> stream =
      DIFF::MakeSignatureStream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return std::string(stream.begin(), stream.end());
}

std::string SecondLevelOf(const std::string& signatures) {
  const std::vector<std::uint8_t> stream =
      DIFF::MakeSecondLevelStream(reinterpret_cast<const std::uint8_t*>(signatures.data()), signatures.size());
  return std::string(stream.begin(), stream.end());
}

class SignatureTest : public UpdateServiceTest {
 protected:
  std::string Fetch(const std::string& body) {
    const ServiceReply reply = Post(Query("zip"), body);
    std::vector<ZipEntry> entries;
    if (reply.status != 200 || !ReadZip(reply.body, entries) || entries.size() != 1)
      return "(status " + std::to_string(reply.status) + ": " + reply.body + ")";
    return entries[0].bytes;
  }
  std::string HashOf(const std::string& name) {
    XmlDocument doc;
    doc.ParseText(Post(Query("hash"), "f1=" + name).body.c_str());
    return doc.GetRoot() && doc.GetRoot()->FindChild("f1") ? doc.GetRoot()->FindChild("f1")->GetText() : "(none)";
  }
};

TEST_F(SignatureTest, SignatureFilesAreMadeFromTheFileAndMadeAgainWhenItChanges) {
  const std::string v1 = server_test::RandomText(300000, 11);
  const auto path = tree_.Write("vtl64.exe", v1);
  tree_.Write("vtl64.exe.sig", "a stale copy that must not be served");
  const std::string sig1 = Fetch("f1=vtl64.exe.sig");
  EXPECT_TRUE(sig1 == SignaturesOf(v1));
  // The stream describes the whole file, chunk by chunk.
  std::vector<DIFF::ChunkSignature> chunks;
  ASSERT_TRUE(DIFF::ParseSignatureStream(reinterpret_cast<const std::uint8_t*>(sig1.data()), sig1.size(), &chunks));
  std::uint64_t covered = 0;
  for (const auto& c : chunks) covered += c.length;
  EXPECT_EQ(covered, v1.size());
  EXPECT_EQ(HashOf("vtl64.exe.sig"), Sha1Of(sig1));
  EXPECT_TRUE(Fetch("f1=vtl64.exe.sig&from1=4&size1=8") == sig1.substr(4, 8));
  EXPECT_TRUE(Fetch("f1=vtl64.exe.sig.sig") == SecondLevelOf(sig1));
  EXPECT_EQ(service_.Release().SignatureComputations(), 1u);

  // A new version of the same size and a new time: new signatures, once.
  std::string v2 = v1;
  v2.replace(150000, 5000, server_test::RandomText(5000, 12));
  const auto before = fs::last_write_time(path);
  tree_.Write("vtl64.exe", v2);
  fs::last_write_time(path, before + std::chrono::seconds(2));
  const std::string sig2 = Fetch("f1=vtl64.exe.sig");
  EXPECT_TRUE(sig2 == SignaturesOf(v2));
  EXPECT_FALSE(sig2 == sig1);
  EXPECT_EQ(HashOf("vtl64.exe.sig"), Sha1Of(sig2));
  EXPECT_TRUE(Fetch("f1=vtl64.exe.sig.sig") == SecondLevelOf(sig2));
  EXPECT_EQ(service_.Release().SignatureComputations(), 2u);

  // A ".sig" with nothing to make it from is an ordinary file, or missing.
  tree_.Write("readme.sig", "plain");
  EXPECT_EQ(Fetch("f1=readme.sig"), "plain");
  EXPECT_EQ(Post(Query("zip"), "f1=missing.exe.sig").status, 404);
  EXPECT_EQ(Post(Query("zip"), "f1=missing.exe.sig.sig").status, 404);
  EXPECT_EQ(Post(Query("zip"), "f1=..%2Fvtl64.exe.sig").status, 404);
}

TEST_F(SignatureTest, RefreshMakesWhatIsNewOrChangedAheadOfTheClients) {
  const auto path = tree_.Write("vtl64.exe", server_test::RandomText(70000, 31));
  tree_.Write("other.dll", "abc");
  fs::create_directories(tree_.Root() / "SECOND-PRODUCT" / "sub");
  std::ofstream(tree_.Root() / "SECOND-PRODUCT" / "x.exe") << "x";
  std::ofstream(tree_.Root() / "not-a-product.txt") << "y";
  EXPECT_EQ(service_.Release().Refresh(), 3u);  // folders and stray files left out
  EXPECT_EQ(service_.Release().HashComputations(), 3u);
  EXPECT_EQ(service_.Release().SignatureComputations(), 3u);
  // The clients are served from what was made.
  EXPECT_EQ(HashOf("other.dll"), kAbcDigest);
  EXPECT_EQ(Fetch("f1=other.dll.sig"), SignaturesOf("abc"));
  EXPECT_EQ(service_.Release().HashComputations(), 3u);
  EXPECT_EQ(service_.Release().SignatureComputations(), 3u);
  // What is known is answered at once, what is not (or not a hash) is not.
  auto quick = [this](const char* function, const char* body) {
    const std::optional<ServiceReply> reply = service_.HandleQuick("POST", Query(function), body);
    return reply ? std::to_string(reply->status) + " " + reply->body : std::string("(none)");
  };
  EXPECT_EQ(quick("hash", "f1=other.dll&f2=vtl64.exe.sig"), "200 " + Post(Query("hash"), "f1=other.dll&f2=vtl64.exe.sig").body);
  EXPECT_EQ(quick("hash", "f2=other.dll"), "400 " + Post(Query("hash"), "f2=other.dll").body);
  EXPECT_EQ(quick("zip", "f2=other.dll"), "(none)");
  EXPECT_EQ(quick("zip", "f1=other.dll"), "(none)");
  EXPECT_EQ(quick("hash", "f1=missing.dll"), "(none)");
  // Only the file that changed is made again.
  const auto before = fs::last_write_time(path);
  tree_.Write("vtl64.exe", "new");
  fs::last_write_time(path, before + std::chrono::seconds(2));
  EXPECT_EQ(quick("hash", "f1=vtl64.exe"), "(none)");
  EXPECT_EQ(service_.Release().Refresh(), 3u);
  EXPECT_EQ(service_.Release().HashComputations(), 4u);
  EXPECT_EQ(service_.Release().SignatureComputations(), 4u);
  // Nor does a stale signature file stand in for signatures not made yet.
  tree_.Write("vtl64.exe", "newer");
  fs::last_write_time(path, before + std::chrono::seconds(4));
  service_.Release().FileHash(tree_.Write("vtl64.exe.sig", "stale").string());
  EXPECT_EQ(quick("hash", "f1=vtl64.exe.sig"), "(none)");
}

// The delta route end to end against the service: the old file's
// signatures against the served ones give the needs, the served ranges fill
// the SOURCE needs, and the rebuilt file is the new version.
TEST_F(SignatureTest, ServedSignaturesAndRangesRebuildTheNewVersion) {
  const std::string oldVersion = server_test::RandomText(400000, 21);
  std::string newVersion = oldVersion.substr(0, 100000) + server_test::RandomText(30000, 22) +
                           oldVersion.substr(100000, 250000) + server_test::RandomText(777, 23);
  tree_.Write("vtl64.exe", newVersion);

  const std::string seed = SignaturesOf(oldVersion);
  const std::string source = Fetch("f1=vtl64.exe.sig");
  DIFF::MemoryRdcFileReader seedReader(reinterpret_cast<const BYTE*>(seed.data()), seed.size());
  DIFF::MemoryRdcFileReader sourceReader(reinterpret_cast<const BYTE*>(source.data()), source.size());
  DIFF::MemoryDiffWriter needBytes;
  ASSERT_EQ(DIFF::RdcEngine().CompareSignatures(&seedReader, &sourceReader, &needBytes), S_OK);
  std::vector<RdcNeed> needs;
  ASSERT_TRUE(DIFF::DecodeNeeds(needBytes.Bytes().data(), needBytes.Bytes().size(), &needs));

  std::string body;
  unsigned n = 0;
  std::uint64_t fetched = 0;
  for (const RdcNeed& need : needs) {
    if (need.m_BlockType != RDCNEED_SOURCE) continue;
    const std::string k = std::to_string(++n);
    body += (n > 1 ? "&f" : "f") + k + "=vtl64.exe&from" + k + "=" + std::to_string(need.m_FileOffset) + "&size" +
            k + "=" + std::to_string(need.m_BlockLength);
    fetched += need.m_BlockLength;
  }
  ASSERT_GT(n, 0u);
  EXPECT_LT(fetched, newVersion.size() / 4);  // most of it came from the old file
  const ServiceReply blocks = Post(Query("zip"), body);
  ASSERT_EQ(blocks.status, 200) << blocks.body;
  std::vector<ZipEntry> entries;
  ASSERT_TRUE(ReadZip(blocks.body, entries));
  ASSERT_EQ(entries.size(), n);

  std::string rebuilt;
  std::size_t e = 0;
  for (const RdcNeed& need : needs) {
    if (need.m_BlockType == RDCNEED_SEED) rebuilt += oldVersion.substr(need.m_FileOffset, need.m_BlockLength);
    if (need.m_BlockType == RDCNEED_SOURCE) rebuilt += entries[e++].bytes;
  }
  EXPECT_TRUE(rebuilt == newVersion);
}

// --- refusals ---------------------------------------------------------------

TEST_F(UpdateServiceTest, MalformedRequestsAre400) {
  tree_.Write("vtl64.exe", "abc");
  struct Case {
    std::string target, body;
  } cases[] = {
      {Query("hash"), ""},                             // no f1
      {Query("hash"), "f2=vtl64.exe"},                 // no f1
      {Query("hash"), "f1=vtl64.exe&f3=vtl64.exe"},    // gap
      {Query("hash"), "f1=vtl64%2"},                   // broken escape
      {Query("hash"), "f1=vtl64%xx.exe"},              // broken escape
      {Query("hash"), "f1=a&f1=b"},                    // twice
      {Query("list"), "f1=vtl64.exe"},                 // unknown function
      {"/update/u.php?f=hash", "f1=vtl64.exe"},        // no product
      {"/update/u.php?f=hash&e=", "f1=vtl64.exe"},     // empty product
      {"/update/u.php?e=P", "f1=vtl64.exe"},           // no function
      {"/update/u.php", "f1=vtl64.exe"},               // no query
      {Query("hash") + "&f=zip", "f1=vtl64.exe"},      // function twice
      {"/update/u.php?f=hash&e=%zz", "f1=vtl64.exe"},  // broken escape in the query
  };
  for (const Case& c : cases) {
    const ServiceReply reply = Post(c.target, c.body);
    EXPECT_EQ(reply.status, 400) << c.target << " / " << c.body;
    EXPECT_EQ(reply.contentType.rfind("text/plain", 0), 0u);
    EXPECT_GT(reply.body.size(), 5u);
  }
}

TEST_F(UpdateServiceTest, UnknownProductsAndFilesAre404AndStayInside) {
  tree_.Write("vtl64.exe", "abc");
  fs::create_directories(tree_.Product() / "sub");
  tree_.Write("sub/inner.exe", "abc");
  // A file beside the product folders, and one beside the release root.
  std::ofstream(tree_.Root() / "secret.txt") << "secret";
  std::ofstream(tree_.Root() / "plain-file") << "not a folder";

  const std::string names[] = {"../secret.txt", "..",           "sub/inner.exe", "sub%2Finner.exe",
                               "sub\\inner.exe", "sub",         "vtl64.exe%00",  "",
                               "missing.exe",    "..%2Fsecret.txt", "vtl64.exe/", "."};
  for (const std::string& name : names) {
    for (const char* function : {"hash", "zip"}) {
      const ServiceReply reply = Post(Query(function), "f1=vtl64.exe&f2=" + name);
      EXPECT_EQ(reply.status, 404) << function << " " << name;
      EXPECT_EQ(reply.body.find("secret\n"), std::string::npos);
    }
  }
  const std::string products[] = {"NOPE", "..", "%2E%2E", "plain-file", "a%2Fb", ".", "x%00"};
  for (const std::string& product : products) {
    const ServiceReply reply = Post(Query("hash", product), "f1=secret.txt");
    EXPECT_EQ(reply.status, 404) << product;
  }
  // ".." as the product would make ROOT/../<name> reachable.
  std::ofstream(tree_.Outside() / "outside.txt") << "secret";
  for (const char* function : {"hash", "zip"}) {
    for (const char* product : {"..", "%2E%2E"}) {
      const ServiceReply reply = Post(Query(function, product), "f1=outside.txt");
      EXPECT_EQ(reply.status, 404) << function << " " << product;
      EXPECT_EQ(reply.body.find("secret"), std::string::npos);
    }
  }
}

TEST_F(UpdateServiceTest, PathAndMethodAndSize) {
  tree_.Write("vtl64.exe", "abc");
  EXPECT_EQ(Post("/update/x.php?f=hash&e=P", "f1=vtl64.exe").status, 404);
  EXPECT_EQ(Post("/update/u.php/?f=hash", "f1=vtl64.exe").status, 404);
  EXPECT_EQ(Post("/", "").status, 404);
  for (const char* method : {"GET", "PUT", "DELETE", "HEAD", "OPTIONS"}) {
    const ServiceReply reply = service_.Handle(method, Query("hash"), "f1=vtl64.exe");
    EXPECT_EQ(reply.status, 405) << method;
    EXPECT_EQ(reply.allow, "POST");
  }
  std::string limit = "f1=vtl64.exe&f2=";
  limit += std::string(UpdateService::kMaxBodyBytes - limit.size(), 'a');
  EXPECT_NE(Post(Query("hash"), limit).status, 413);  // exactly the limit is read
  EXPECT_EQ(Post(Query("hash"), limit + "a").status, 413);
}

// --- log --------------------------------------------------------------------

TEST(AccessLogLine, FieldsAndEscapedBody) {
  const std::string body = std::string("f1=a b%&\x7f\xff") + std::string(1, '\0') + "~!";
  LogRecord r;
  r.when = 86400 * 365 + 3661;  // 1971-01-01 01:01:01
  r.remoteAddr = "127.0.0.1";
  r.method = "POST";
  r.target = "/update/u.php?f=hash&e=X%20Y";
  r.status = 200;
  r.requestBytes = body.size();
  r.replyBytes = 165;
  EXPECT_EQ(FormatLogLine(r), "1971-01-01T01:01:01Z 127.0.0.1 POST /update/u.php?f=hash&e=X%20Y 200 13 165");
  r.body = &body;
  EXPECT_EQ(FormatLogLine(r),
            "1971-01-01T01:01:01Z 127.0.0.1 POST /update/u.php?f=hash&e=X%20Y 200 13 165 "
            "body=f1=a%20b%25&%7F%FF%00~!");
  // An unparsable request still gives every field.
  LogRecord broken;
  broken.status = 400;
  EXPECT_EQ(FormatLogLine(broken), "1970-01-01T00:00:00Z - - - 400 0 0");
}

TEST(AccessLogLine, EscapedBodyDecodesToTheSameBytes) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += char(i);
  const std::string escaped = EscapeLogField(all);
  EXPECT_EQ(escaped.find_first_of(std::string(" \t\r\n\0", 5)), std::string::npos);
  std::string decoded;
  ASSERT_TRUE(PercentDecode(escaped, false, decoded));
  EXPECT_EQ(decoded, all);
}

}  // namespace
