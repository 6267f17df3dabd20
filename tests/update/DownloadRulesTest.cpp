// What the download routes send and what they accept, apart from the network
// and the disk: request fields, needs lists, zip replies, and putting a new
// version in place when any file operation fails.
#include <gtest/gtest.h>

#include <zip.h>

#include <map>
#include <random>
#include <set>

#include "update/MemoryZip.h"
#include "update/ReplaceFile.h"
#include "update/SignatureDelta.h"
#include "update/UpdateProtocol.h"
#include "update/rdc/RdcEngine.h"

using namespace VULIBRARY;

namespace {

const std::string kHash = "0123456789ABCDEF0123456789ABCDEF01234567";

// The file request's rules (only out-of-date files, numbered among
// themselves) are checked on the wire in the Windows tests.
UpdateFile Record(const wchar_t* name, const std::string& serverHash, const std::string& localHash) {
  UpdateFile file(std::wstring(L"C:\\v\\") + name, name, std::wstring(name) + L".sig", false);
  file.serverHash = serverHash;
  file.localHash = localHash;
  return file;
}

std::string Field(const FormField& field) {
  return std::string(field.name.begin(), field.name.end()) + "=" +
         std::string(field.value.begin(), field.value.end()) + "@" + std::to_string(field.fileIndex);
}

std::vector<std::string> Fields(const std::vector<FormField>& fields) {
  std::vector<std::string> texts;
  for (const FormField& field : fields) texts.push_back(Field(field));
  return texts;
}

// An archive of the given entries; every entry gets the same name, which the
// reader must not care about.
std::string Zip(const std::vector<std::string>& entries, int level = Z_DEFAULT_COMPRESSION) {
  std::string archive;
  zlib_filefunc64_def io = MemoryZipWriter(archive);
  zipFile zip = zipOpen2_64(nullptr, APPEND_STATUS_CREATE, nullptr, &io);
  for (const std::string& entry : entries) {
    zipOpenNewFileInZip64(zip, "same", nullptr, nullptr, 0, nullptr, 0, nullptr, level ? Z_DEFLATED : 0, level, 1);
    zipWriteInFileInZip(zip, entry.data(), static_cast<unsigned>(entry.size()));
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
  return archive;
}

}  // namespace

TEST(DownloadRequest, BlockRequestNumbersBlocksAcrossFilesAndSkipsSeedAndTargetRanges) {
  std::vector<UpdateFile> files = {Record(L"a.exe", "", ""), Record(L"skip", kHash, kHash), Record(L"b.dll", "", "")};
  const std::vector<std::vector<Need>> needs = {
      {{kNeedSource, 0, 100}, {kNeedSeed, 0, 50}, {kNeedSource, 150, 7}},
      {{kNeedTarget, 0, 9}, {kNeedSource, 0, 1}, {kNeedSource, 5, 2}, {kNeedSource, 18446744073709551615ull, 3}}};
  const std::vector<FormField> fields = MakeBlockRequestFields(files, {0, 2}, needs);
  EXPECT_EQ((std::vector<std::string>{"f1=a.exe@0", "from1=0@0", "size1=100@0", "f2=a.exe@0", "from2=150@0",
                                      "size2=7@0", "f3=b.dll@2", "from3=0@2", "size3=1@2", "f4=b.dll@2",
                                      "from4=5@2", "size4=2@2", "f5=b.dll@2", "from5=18446744073709551615@2",
                                      "size5=3@2"}),
            Fields(fields));
  ASSERT_EQ(2u, files[0].sourceBlocks.size());
  EXPECT_EQ(150u, files[0].sourceBlocks[1].offset);
  EXPECT_EQ(7u, files[0].sourceBlocks[1].length);
  EXPECT_TRUE(files[1].sourceBlocks.empty());
  EXPECT_EQ(3u, files[2].sourceBlocks.size());
}

TEST(NeedsList, RecordsRoundTripAndListsThatCannotDescribeAPublishedFileAreRefused) {
  std::vector<std::uint8_t> good;
  AppendNeed(good, {kNeedSeed, 10, 90});
  AppendNeed(good, {kNeedTarget, 0, ~0ull});  // not ours to fetch or copy: ignored
  AppendNeed(good, {kNeedSource, 1ull << 40, 5});
  ASSERT_EQ(3 * kNeedRecordBytes, good.size());
  std::vector<Need> read;
  ASSERT_TRUE(ReadNeeds(good, 100, &read));
  ASSERT_EQ(2u, read.size());
  EXPECT_EQ(kNeedSeed, read[0].type);
  EXPECT_EQ(10u, read[0].offset);
  EXPECT_EQ(90u, read[0].length);
  EXPECT_EQ(kNeedSource, read[1].type);
  EXPECT_EQ(1ull << 40, read[1].offset);

  struct Case {
    const char* what;
    std::vector<Need> needs;
    std::uint64_t seedSize;
    bool accepted;
  };
  const std::uint64_t max = kMaxUpdateFileBytes;
  const Case cases[] = {
      {"seed range ends at the file's end", {{kNeedSeed, 60, 40}}, 100, true},
      {"seed range one byte past the end", {{kNeedSeed, 61, 40}}, 100, false},
      {"seed offset past the end", {{kNeedSeed, 101, 0}}, 100, false},
      {"seed range wrapping around", {{kNeedSeed, 50, ~0ull - 10}}, 100, false},
      {"ranges adding up to the limit", {{kNeedSource, 0, max - 100}, {kNeedSeed, 0, 100}}, 100, true},
      {"ranges adding up to one byte more", {{kNeedSource, 0, max - 99}, {kNeedSeed, 0, 100}}, 100, false},
      {"a source range beyond any file", {{kNeedSource, 0, ~0ull}}, 100, false},
      {"many ranges that overflow together", {{kNeedSource, 0, ~0ull / 2}, {kNeedSource, 0, ~0ull / 2 + 2}}, 100, false},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> needs;
    for (const Need& need : c.needs) AppendNeed(needs, need);
    EXPECT_EQ(c.accepted, ReadNeeds(needs, c.seedSize, &read)) << c.what;
  }
  good.pop_back();
  EXPECT_FALSE(ReadNeeds(good, 100, &read)) << "a cut record";

  // Counted before anything is built: one record more than a block request
  // can carry is refused, whatever the bytes add up to.
  for (const bool seedTurns : {false, true}) {
    std::vector<std::uint8_t> many;
    const std::size_t count = seedTurns ? kMaxNeeds : kMaxSourceBlocks;
    for (std::size_t i = 0; i < count; ++i) AppendNeed(many, {seedTurns && i % 2 == 0 ? kNeedSeed : kNeedSource, 0, 1});
    EXPECT_TRUE(ReadNeeds(many, 100, &read)) << count;
    AppendNeed(many, {kNeedSource, 0, 1});
    EXPECT_FALSE(ReadNeeds(many, 100, &read)) << count + 1;
  }
}

TEST(NeedsList, ShortSeedGapsJoinTheirSourceNeighboursAndRebuildsTakeBlocksInOrder) {
  const std::uint64_t gap = kJoinGapBytes;
  const struct {
    std::vector<Need> needs;
    std::vector<std::uint64_t> joined;  // the lengths left, in order
  } joins[] = {
      {{{kNeedSource, 0, 10}, {kNeedSeed, 500, gap}, {kNeedSource, 10 + gap, 5}}, {15 + gap}},
      {{{kNeedSource, 0, 10}, {kNeedSeed, 500, gap + 1}, {kNeedSource, 11 + gap, 5}}, {10, gap + 1, 5}},
      {{{kNeedSource, 0, 10}, {kNeedSeed, 7, 1}, {kNeedSource, 11, 1}, {kNeedSeed, 3, 2}, {kNeedSource, 14, 1}}, {15}},
      {{{kNeedSeed, 0, 1}, {kNeedSource, 1, 1}, {kNeedSeed, 0, 1}}, {1, 1, 1}},
  };
  for (const auto& j : joins) {
    std::vector<Need> needs = j.needs;
    JoinNearSourceRanges(needs);
    std::vector<std::uint64_t> lengths;
    for (const Need& need : needs) lengths.push_back(need.length);
    EXPECT_EQ(j.joined, lengths);
    EXPECT_EQ(j.needs[0].offset, needs[0].offset);
  }

  const std::vector<std::uint8_t> seed = {'a', 'b', 'c', 'd', 'e', 'f'};
  const std::vector<Need> needs = {{kNeedSeed, 0, 2}, {kNeedSource, 2, 3}, {kNeedTarget, 0, 9}, {kNeedSeed, 4, 2}};
  const struct {
    const char* what;
    std::vector<Need> needs;
    std::vector<std::string> blocks;
    std::string rebuilt;  // empty: refused
  } rebuilds[] = {
      {"seed, block, seed", needs, {"XYZ"}, "abXYZef"},
      {"a block missing", needs, {}, ""},
      {"a block too many", needs, {"XYZ", "W"}, ""},
      {"a block of another length", needs, {"XY"}, ""},
      {"a seed range past the seed", {{kNeedSeed, 5, 2}}, {}, ""},
  };
  for (const auto& r : rebuilds) {
    std::vector<std::uint8_t> out;
    const bool rebuilt = RebuildFromNeeds(r.needs, seed, r.blocks, &out);
    EXPECT_EQ(r.rebuilt, rebuilt ? std::string(out.begin(), out.end()) : std::string()) << r.what;
  }
}

// The signature list of a new version from the second level the server
// sends, the client's own list and the ranges it fetches; anything but a
// second-level stream is refused, so that the list is fetched whole.
TEST(SecondLevel, TheNewListIsRebuiltFromTheOldOneAndOnlyASecondLevelIsTaken) {
  std::mt19937 rng(3);
  std::vector<std::uint8_t> oldFile(1500000);
  for (auto& x : oldFile) x = static_cast<std::uint8_t>(rng() % 7 == 0 ? 0 : rng());
  std::vector<std::uint8_t> newFile = oldFile;
  newFile.insert(newFile.begin() + 700000, oldFile.begin(), oldFile.begin() + 3000);
  const std::vector<std::uint8_t> oldList = DIFF::MakeSignatureStream(oldFile.data(), oldFile.size());
  const std::vector<std::uint8_t> newList = DIFF::MakeSignatureStream(newFile.data(), newFile.size());
  const std::vector<std::uint8_t> level2 = DIFF::MakeSecondLevelStream(newList.data(), newList.size());
  const std::string good(level2.begin(), level2.end());
  std::string flipped = good;
  flipped[DIFF::kSignatureHeaderSize + 5] ^= 1;  // one run's hash: fetched, not matched
  // A second level no list has: millions of records of one byte each, which
  // would all be compared before the list of ranges they make is refused.
  std::vector<std::uint8_t> tiny;
  DIFF::AppendSignatureHeader(tiny, 0, DIFF::kSecondLevelHorizon, DIFF::kSecondLevelMaxChunk);
  for (std::uint32_t k = 0; k < 2000000; ++k) {
    const std::uint8_t record[DIFF::kSignatureRecordSize] = {1, 0, std::uint8_t(k), std::uint8_t(k >> 8), std::uint8_t(k >> 16)};
    tiny.insert(tiny.end(), record, record + sizeof record);
  }
  const struct {
    const char* what;
    std::string secondLevel;
    bool taken;
  } cases[] = {
      {"the server's second level", good, true},
      {"a run's hash damaged", flipped, true},
      {"cut inside a record", good.substr(0, good.size() - 3), false},
      {"the list itself", std::string(newList.begin(), newList.end()), false},
      {"garbage", "not a signature stream", false},
      {"2 million one-byte records", std::string(tiny.begin(), tiny.end()), false},
  };
  for (const auto& c : cases) {
    std::vector<Need> needs;
    ASSERT_EQ(c.taken, SecondLevelNeeds(oldList, c.secondLevel, &needs)) << c.what;
    std::vector<std::string> blocks;
    for (const Need& need : needs) {
      if (need.type == kNeedSource && need.offset + need.length <= newList.size())
        blocks.emplace_back(newList.begin() + need.offset, newList.begin() + need.offset + need.length);
    }
    std::vector<std::uint8_t> rebuilt;
    EXPECT_EQ(c.taken, RebuildFromNeeds(needs, oldList, blocks, &rebuilt) && rebuilt == newList) << c.what;
    EXPECT_LT(blocks.size() * DIFF::kSecondLevelMaxChunk, newList.size() / 4) << c.what;
  }
}

TEST(ZipReply, EntriesAreReadByPositionWithinTheirBoundAndDamageIsRefused) {
  const std::string first(70000, 'a'), second = "second entry";
  for (int level : {0, Z_DEFAULT_COMPRESSION}) {
    const std::string bytes = Zip({first, second, ""}, level);
    MemoryZipArchive archive(bytes);
    ASSERT_TRUE(archive.IsOpen());
    EXPECT_EQ(3u, archive.EntryCount());
    std::string entry;
    EXPECT_TRUE(archive.ReadEntry(1, second.size(), &entry));
    EXPECT_EQ(second, entry);
    EXPECT_TRUE(archive.ReadEntry(0, first.size(), &entry));
    EXPECT_TRUE(entry == first);
    EXPECT_TRUE(archive.ReadEntry(2, 0, &entry));
    EXPECT_EQ("", entry);
    EXPECT_FALSE(archive.ReadEntry(0, first.size() - 1, &entry)) << "one byte over its bound";
    EXPECT_FALSE(archive.ReadEntry(3, 100, &entry)) << "no such entry";
    EXPECT_FALSE(archive.ReadEntry(1, 100, [](const char*, std::size_t) { return false; })) << "sink refused";
  }

  std::string entry;
  // An entry whose header understates its size inflates no further than the
  // header says, and the short result fails its CRC.
  std::string lying = Zip({std::string(100000, 'z')});
  const std::size_t central = lying.rfind(std::string("PK\1\2", 4));
  ASSERT_NE(std::string::npos, central);
  for (std::size_t at : {std::size_t(22), central + 24}) {  // local and central uncompressed size
    lying[at] = 10;
    lying[at + 1] = lying[at + 2] = lying[at + 3] = 0;
  }
  MemoryZipArchive small(lying);
  ASSERT_TRUE(small.IsOpen());
  EXPECT_FALSE(small.ReadEntry(0, kMaxUpdateFileBytes, &entry));
  EXPECT_LE(entry.size(), 10u);
  // One whose header claims more than its data holds, with the CRC of what
  // is there: minizip ends at the data's end without a word.
  for (int level : {0, Z_DEFAULT_COMPRESSION}) {
    std::string longer = Zip({second}, level);
    const std::size_t directory = longer.rfind(std::string("PK\1\2", 4));
    longer[22] = longer[directory + 24] = static_cast<char>(second.size() + 1);
    MemoryZipArchive overstated(longer);
    EXPECT_FALSE(overstated.ReadEntry(0, 100, &entry)) << "declared longer than its data, level " << level;
  }

  // Many entries, read in order and then again from the start.
  std::vector<std::string> many;
  for (int i = 0; i < 3000; ++i) many.push_back(std::to_string(i));
  const std::string manyBytes = Zip(many, 0);
  MemoryZipArchive blocks(manyBytes);
  ASSERT_EQ(3000u, blocks.EntryCount());
  bool allRead = true;
  for (int pass = 0; pass < 2; ++pass) {
    for (std::uint64_t i = 0; i < many.size(); i += pass + 1) {
      allRead = allRead && blocks.ReadEntry(i, 10, &entry) && entry == many[i];
    }
  }
  EXPECT_TRUE(allRead);
  EXPECT_TRUE(blocks.ReadEntry(5, 10, &entry) && entry == "5") << "back to an earlier entry";

  std::string damaged = Zip({second}, 0);
  damaged[damaged.find(second)] ^= 1;
  MemoryZipArchive broken(damaged);
  ASSERT_TRUE(broken.IsOpen());
  EXPECT_FALSE(broken.ReadEntry(0, 100, &entry)) << "CRC mismatch";

  EXPECT_FALSE(MemoryZipArchive(std::string()).IsOpen());
  EXPECT_FALSE(MemoryZipArchive(std::string("<html>503</html>")).IsOpen());
  EXPECT_GE(ZipReplyLimit(1, 1000), Zip({std::string(1000, 'q')}, 0).size());
}

namespace {

// The process ends in the middle of an install.
struct CutOff {};

// A folder in memory whose operations can be made to fail one by one, or
// all from some point on, as when the process is killed.
struct FakeFolder {
  std::map<std::wstring, std::string> files;
  std::set<std::string> failing;  // "remove old", "move aside", "move in", ...
  int budget = -1;                // operations left before the cut; -1: no cut

  void Spend() {
    if (budget == 0) throw CutOff();
    if (budget > 0) --budget;
  }

  // A new version written in two pieces, the first of which may be the last.
  NewVersion Version() {
    NewVersion version;
    version.write = [this](const std::wstring& path) {
      if (files.count(path)) return false;
      for (const char* piece : {"new ", "version"}) {
        Spend();
        files[path] += piece;
      }
      return true;
    };
    version.accept = [this](const std::wstring& path) { return files[path] == "new version" && !failing.count("test"); };
    return version;
  }

  FileOperations Operations(const std::wstring& local) {
    const std::wstring old = local + kReplacedSuffix;
    // Which step of the replacement an operation is, from its paths.
    auto label = [local, old](const std::string& verb, const std::wstring& from) -> std::string {
      if (verb == "move") return from == local ? "move aside" : from == old ? "move back" : "move in";
      if (verb == "remove") return from == old ? "remove old" : "remove partial";
      return "copy back";
    };
    FileOperations ops;
    ops.remove = [this, label](const std::wstring& path) {
      Spend();
      if (failing.count(label("remove", path))) return false;
      return files.erase(path) == 1;
    };
    ops.move = [this, label](const std::wstring& from, const std::wstring& to) {
      Spend();
      const std::string what = label("move", from);
      if (!files.count(from) || files.count(to)) return false;
      if (failing.count(what)) {
        if (what == "move in") files[to] = files[from].substr(0, 3);  // a copy cut short
        return false;
      }
      files[to] = files[from];
      files.erase(from);
      return true;
    };
    ops.copy = [this, label](const std::wstring& from, const std::wstring& to) {
      Spend();
      if (failing.count(label("copy", from)) || !files.count(from) || files.count(to)) return false;
      files[to] = files[from];
      return true;
    };
    ops.exists = [this](const std::wstring& path) { return files.count(path) == 1; };
    return ops;
  }
};

}  // namespace

TEST(ReplaceInstalledFile, TheInstalledVersionIsBackUnderItsNameWhateverStepFails) {
  const std::wstring local = L"C:\\v\\vtl64.exe", fresh = L"C:\\tmp\\A1.tmp", old = local + kReplacedSuffix;
  struct Case {
    std::set<std::string> failing;
    Result result;
    const char* atLocal;
    const char* atOld;  // "" when absent
  };
  const Case cases[] = {
      {{}, kResultOk, "new version", "installed"},
      {{"remove old"}, kResultFail, "installed", "earlier"},  // the leftover blocks the move aside
      {{"move aside"}, kResultFail, "installed", ""},
      {{"move in"}, kResultFail, "installed", ""},
      {{"move in", "move back"}, kResultFail, "installed", "installed"},
  };
  for (const Case& c : cases) {
    FakeFolder folder;
    folder.files = {{local, "installed"}, {fresh, "new version"}, {old, "earlier"}};
    folder.failing = c.failing;
    std::string what;
    for (const std::string& f : c.failing) what += f + "; ";
    EXPECT_EQ(c.result, PutNewVersionInPlace(folder.Operations(local), local, fresh)) << what;
    EXPECT_EQ(c.atLocal, folder.files.count(local) ? folder.files[local] : "") << what;
    EXPECT_EQ(c.atOld, folder.files.count(old) ? folder.files[old] : "") << what;
    if (c.result == kResultOk) {
      EXPECT_EQ(0u, folder.files.count(fresh));
    }
  }
}

// An install cut off after each of its file operations in turn: a whole
// version under the installed name, except between the two renames; the
// next start puts the previous version back there or removes it from beside
// the new one; the next update installs a whole new version that was left
// beside, removes anything else left there, and fetches again.
TEST(ReplaceInstalledFile, AnInstallCutOffAnywhereLeavesAWholeProgramAndTheNextStartAndUpdateFinishIt) {
  const std::wstring local = L"D:\\Games\\vtl64.exe", old = local + kReplacedSuffix, staged = local + kStagedSuffix;
  const struct {
    const char* cut;
    const char* atLocal;  // "" when absent
    Result completed;     // what the next update makes of what is beside
  } cuts[] = {
      {"before the leftover goes", "installed", kResultFail},
      {"before writing", "installed", kResultDifferent},
      {"half-way through writing", "installed", kResultFail},
      {"when written and flushed", "installed", kResultOk},
      {"with the earlier previous version removed", "installed", kResultOk},
      {"between the two renames", "", kResultOk},
      {"after the last rename", "new version", kResultDifferent},
  };
  for (int done = 0; done < static_cast<int>(std::size(cuts)); ++done) {
    const char* what = cuts[done].cut;
    FakeFolder folder;
    // An earlier update's previous version, and a piece left by a cut-off one.
    folder.files = {{local, "installed"}, {old, "earlier"}, {staged, "new v"}};
    folder.budget = done;
    const FileOperations ops = folder.Operations(local);
    try {
      InstallBeside(ops, local, folder.Version());
    } catch (const CutOff&) {
    }
    EXPECT_EQ(cuts[done].atLocal, folder.files.count(local) ? folder.files[local] : "") << what;

    folder.budget = -1;
    RecoverCutOffInstall(ops, local);
    EXPECT_EQ(done + 1 < static_cast<int>(std::size(cuts)) ? "installed" : "new version", folder.files[local]) << what;
    EXPECT_EQ(0u, folder.files.count(old)) << what;

    EXPECT_EQ(cuts[done].completed, CompleteStagedVersion(ops, local, folder.Version().accept)) << what;
    EXPECT_EQ(0u, folder.files.count(staged)) << what;
    if (folder.files[local] != "new version") {
      EXPECT_EQ(kResultOk, InstallBeside(ops, local, folder.Version())) << what;
    }
    EXPECT_EQ("new version", folder.files[local]) << what;
  }
  // Left alone, the install runs through; a version that fails its tests
  // leaves nothing beside the installed one.
  for (const bool passes : {true, false}) {
    FakeFolder folder;
    folder.files = {{local, "installed"}, {staged, "new v"}};
    if (!passes) folder.failing = {"test"};
    EXPECT_EQ(passes ? kResultOk : kResultFail, InstallBeside(folder.Operations(local), local, folder.Version()));
    using Files = std::map<std::wstring, std::string>;
    const Files left = passes ? Files{{local, "new version"}, {old, "installed"}} : Files{{local, "installed"}};
    EXPECT_EQ(left, folder.files);
  }
}
