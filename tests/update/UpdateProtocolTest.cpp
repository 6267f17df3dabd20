// The update protocol's portable rules: what is sent, how replies are read,
// and the progress figures.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "update/CheckOutcome.h"
#include "update/UpdateProtocol.h"

using namespace VULIBRARY;

namespace {

const char kEmptySha1[] = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";
const char kAbcSha1[] = "A9993E364706816ABA3E25717850C26C9CD0D89D";

std::vector<UpdateFile> TwoFiles() {
  return {UpdateFile(L"C:\\a\\vtl64.exe", L"vtl64.exe", L"vtl64.exe.sig", true),
          UpdateFile(L"C:\\a\\DOSBOX.EXE", L"DOSBOX.EXE", false)};
}

// Local hashes by path, so that reply handling is tested apart from disk.
HashFunction FakeHashes(std::map<std::wstring, std::string> hashes) {
  return [hashes](const std::wstring& path) {
    auto found = hashes.find(path);
    return found == hashes.end() ? std::string(kEmptySha1) : found->second;
  };
}

const std::string kHashA = "0123456789ABCDEF0123456789ABCDEF01234567";
const std::string kHashB = "89ABCDEF0123456789ABCDEF0123456789ABCDEF";

}  // namespace

TEST(UpdateRequest, HashQueryNamesEveryFileInOrderAtTheEndpointWithProductAndFunction) {
  EXPECT_EQ(L"http://127.0.0.1:8080/update/u.php?f=hash&e=5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915",
            MakeRequestUrl(L"http://127.0.0.1:8080/update/u.php", L"hash",
                           L"5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915"));

  auto files = TwoFiles();
  files[0].serverHash = kHashA;  // up-to-date files are still listed
  files[0].localHash = kHashA;
  const std::vector<FormField> fields = MakeHashQueryFields(files);
  ASSERT_EQ(2u, fields.size());
  EXPECT_EQ(L"f1", fields[0].name);
  EXPECT_EQ(L"vtl64.exe", fields[0].value);
  EXPECT_EQ(0, fields[0].fileIndex);
  EXPECT_EQ(L"f2", fields[1].name);
  EXPECT_EQ(L"DOSBOX.EXE", fields[1].value);
  EXPECT_EQ(1, fields[1].fileIndex);
  EXPECT_EQ(L"size12", FieldName(L"size", 12));

  const std::wstring builtIn = UpdateServerUrl;
  const std::wstring path = L"/update/u.php";
  ASSERT_GT(builtIn.size(), path.size());
  EXPECT_EQ(path, builtIn.substr(builtIn.size() - path.size()));
}

TEST(UpdateRequest, FormBodyJoinsFieldsWithoutTrailingSeparatorAsUtf8) {
  std::string body = "stale";
  ASSERT_TRUE(BuildFormBody({{L"f1", L"a", 0}, {L"f2", L"b", 1}}, &body));
  EXPECT_EQ("f1=a&f2=b", body);
  ASSERT_TRUE(BuildFormBody({{L"f1", L"vtl64.exe", 0}}, &body));
  EXPECT_EQ("f1=vtl64.exe", body);
  ASSERT_TRUE(BuildFormBody({}, &body));
  EXPECT_EQ("", body);
  // Sent as they are: no escaping of reserved or non-ASCII characters.
  ASSERT_TRUE(BuildFormBody({{L"f1", L"a b&c=\u00e9\U0001F600", 0}}, &body));
  EXPECT_EQ("f1=a b&c=\xC3\xA9\xF0\x9F\x98\x80", body);
  EXPECT_EQ("\xEF\xBF\xBD", Utf8FromWide(std::wstring(1, static_cast<wchar_t>(0xD800))));
}

TEST(UpdateRequest, BodiesOverTheLimitsAreRefusedInsteadOfCut) {
  std::string body = "stale";
  EXPECT_FALSE(BuildFormBody({{L"f1", std::wstring(kMaxFormattedField, L'x'), 0}}, &body));
  EXPECT_EQ("", body);

  // 1,000 fields of 999 characters: within each field's limit, not the body's.
  std::vector<FormField> many;
  for (unsigned n = 1; n <= 1000; ++n) many.push_back({FieldName(L"f", n), std::wstring(999, L'x'), 0});
  EXPECT_FALSE(BuildFormBody(many, &body));
  many.resize(990);
  EXPECT_TRUE(BuildFormBody(many, &body));

  // Few characters, but more than 1,000,000 bytes once in UTF-8.
  std::vector<FormField> wide;
  for (unsigned n = 1; n <= 400; ++n) wide.push_back({FieldName(L"f", n), std::wstring(999, L'\u20AC'), 0});
  EXPECT_FALSE(BuildFormBody(wide, &body));
}

TEST(HashReply, MatchingHashesInAnyLetterCaseAreUpToDate) {
  auto files = TwoFiles();
  std::atomic<Result> status{kResultRunning};
  const std::string reply = "<?xml version=\"1.0\"?><u><f1>" + kHashA + "</f1><f2>" + kHashB + "</f2></u>";
  std::string lowerB = kHashB;
  for (char& c : lowerB) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string replyLower = "<?xml version=\"1.0\"?><u><f1>" + kHashA + "</f1><f2>" + lowerB + "</f2></u>";

  const auto hashes = FakeHashes({{files[0].localPath, kHashA}, {files[1].localPath, kHashB}});
  EXPECT_EQ(kResultOk, ReadHashReply(reply, files, status, hashes));
  EXPECT_EQ(kResultOk, ReadHashReply(replyLower, files, status, hashes));
  EXPECT_EQ(lowerB, files[1].serverHash);  // kept exactly as received
  EXPECT_EQ(kHashB, files[1].localHash);
  EXPECT_TRUE(IsUpToDate(files[0]));
  EXPECT_TRUE(IsUpToDate(files[1]));
}

TEST(HashReply, OneDifferingFileGivesOneAndEveryRecordGetsBothHashes) {
  auto files = TwoFiles();
  std::atomic<Result> status{kResultRunning};
  // Elements in another order than asked, with extras that must be ignored;
  // for a repeated name the first one counts.
  const std::string reply = "<?xml version=\"1.0\"?><reply><note>x</note><f2>" + kHashA + "</f2><f3>" +
                            kHashB + "</f3><f1>" + kHashA + "</f1><f1>" + kHashB + "</f1></reply>";
  EXPECT_EQ(kResultDifferent,
            ReadHashReply(reply, files, status,
                          FakeHashes({{files[0].localPath, kHashA}, {files[1].localPath, kHashB}})));
  EXPECT_EQ(kHashA, files[0].serverHash);
  EXPECT_EQ(kHashA, files[0].localHash);
  EXPECT_EQ(kHashA, files[1].serverHash);
  EXPECT_EQ(kHashB, files[1].localHash);
  EXPECT_TRUE(IsUpToDate(files[0]));
  EXPECT_FALSE(IsUpToDate(files[1]));
}

TEST(HashReply, RepliesWithoutAUsableHashFailAndKeepEarlierRecords) {
  std::atomic<Result> status{kResultRunning};
  const auto hashes = FakeHashes({});
  struct Case {
    const char* what;
    std::string reply;
    const char* firstServerHash;  // what record 1 holds afterwards
  };
  const Case cases[] = {
      {"empty f1", "<?xml version=\"1.0\"?><u><f1></f1><f2>" + kHashB + "</f2></u>", ""},
      {"f1 without text", "<?xml version=\"1.0\"?><u><f1/><f2>" + kHashB + "</f2></u>", ""},
      {"f2 missing", "<?xml version=\"1.0\"?><u><f1>" + kHashA + "</f1></u>", kHashA.c_str()},
      {"element names differ in case", "<?xml version=\"1.0\"?><u><F1>" + kHashA + "</F1></u>", ""},
      {"unclosed element", "<?xml version=\"1.0\"?><u><f1>" + kHashA + "</f1><f2>", ""},
      {"plain text", "Not Found", ""},
      {"empty reply", "", ""},
  };
  // What the user is told of each, in the same order.
  const std::wstring empty = L"it gives an empty version of vtl64.exe", noXml = L"it is not XML";
  const std::wstring reasons[] = {empty, empty, L"it names no version of DOSBOX.EXE",
                                  L"it names no version of vtl64.exe", noXml, noXml, L"it is empty"};
  for (std::size_t i = 0; i < 7; ++i) {
    const Case& c = cases[i];
    auto files = TwoFiles();
    std::wstring reason;
    EXPECT_EQ(kResultFail, ReadHashReply(c.reply, files, status, hashes, &reason)) << c.what;
    EXPECT_EQ(c.firstServerHash, files[0].serverHash) << c.what;
    EXPECT_EQ("", files[1].serverHash) << c.what;
    EXPECT_EQ(reasons[i], reason) << c.what;
  }
}

TEST(HashReply, ACancelStopsBeforeTheNextFile) {
  auto files = TwoFiles();
  std::atomic<Result> status{kResultRunning};
  const std::string reply = "<?xml version=\"1.0\"?><u><f1>" + kHashA + "</f1><f2>" + kHashB + "</f2></u>";
  // The user cancels while the first file is being hashed.
  const HashFunction cancelling = [&status](const std::wstring&) {
    status = kResultAbort;
    return kHashA;
  };
  EXPECT_EQ(kResultAbort, ReadHashReply(reply, files, status, cancelling));
  EXPECT_EQ(kHashA, files[0].localHash);
  EXPECT_EQ("", files[1].serverHash);
  EXPECT_EQ("", files[1].localHash);
}

TEST(HashReply, LocalHashesAreUpperCaseSha1OfTheFileAndOfNothingWhenItIsMissing) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vantle-update-protocol-test";
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "abc.bin";
  { std::ofstream(file, std::ios::binary) << "abc"; }
  EXPECT_EQ(kAbcSha1, LocalFileHash(file.wstring()));
  EXPECT_EQ(kEmptySha1, LocalFileHash((folder / "missing.bin").wstring()));

  // Through the reply, with the real hashing: a lower-case server hash of
  // the same content matches.
  std::vector<UpdateFile> files{UpdateFile(file.wstring(), L"abc.bin", false)};
  std::atomic<Result> status{kResultRunning};
  EXPECT_EQ(kResultOk, ReadHashReply("<?xml version=\"1.0\"?><r><f1>a9993e364706816aba3e25717850c26c9cd0d89d</f1></r>",
                                     files, status));
  EXPECT_EQ(kAbcSha1, files[0].localHash);
  std::filesystem::remove_all(folder);
}

TEST(UpdateRecords, OnlyAKnownMatchingServerHashCountsAsUpToDate) {
  UpdateFile file(L"x", L"x", false);
  EXPECT_FALSE(IsUpToDate(file));  // never checked
  file.localHash = kEmptySha1;
  EXPECT_FALSE(IsUpToDate(file));
  file.serverHash = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
  EXPECT_TRUE(IsUpToDate(file));
  file.serverHash = "DA39A3EE5E6B4B0D3255BFEF95601890AFD8070";  // one digit short
  EXPECT_FALSE(IsUpToDate(file));
  EXPECT_EQ(L"", UpdateFile(L"p", L"r", true).signatureName);
}

TEST(UpdateTransport, SecureFlagsFollowTheSchemeInAnyCase) {
  EXPECT_EQ(0xC04000u, RequestFlagsForUrl(L"https://update.vantle.app/update/u.php"));
  EXPECT_EQ(0xC04000u, RequestFlagsForUrl(L"HTTPS://update.vantle.app/update/u.php"));
  EXPECT_EQ(0x4000u, RequestFlagsForUrl(L"http://127.0.0.1:1/update/u.php"));
  EXPECT_EQ(0x4000u, RequestFlagsForUrl(L"https"));
}

TEST(UpdateTransport, ContentLengthIsADecimalNumberOrNothing) {
  EXPECT_EQ(std::optional<std::uint64_t>(10000000), ParseContentLength(L"10000000"));
  EXPECT_EQ(std::optional<std::uint64_t>(42), ParseContentLength(L" 42"));
  EXPECT_EQ(std::optional<std::uint64_t>(5000000000ull), ParseContentLength(L"5000000000"));
  EXPECT_FALSE(ParseContentLength(L""));
  EXPECT_FALSE(ParseContentLength(L"abc"));
  EXPECT_FALSE(ParseContentLength(L"-5"));
  EXPECT_FALSE(ParseContentLength(L"0"));  // no total to divide by
  EXPECT_FALSE(ParseContentLength(L"99999999999999999999"));
}

TEST(UpdateTransport, ProgressShowsWholePercentAndTruncatedKilobytes) {
  EXPECT_EQ(50u, ProgressPercent(5000000, 10000000));
  EXPECT_EQ(L"Downloading updates ... 4882/9765 KB", ProgressText(5000000, 10000000));
  EXPECT_EQ(0u, ProgressPercent(1023, 10000000));
  EXPECT_EQ(L"Downloading updates ... 0/9765 KB", ProgressText(1023, 10000000));
  EXPECT_EQ(99u, ProgressPercent(9999999, 10000000));
  EXPECT_EQ(100u, ProgressPercent(10000000, 10000000));
  EXPECT_EQ(100u, ProgressPercent(20000000, 10000000));  // a server that sends more than it said
  // Sizes where received x 100 no longer fits in 64 bits.
  EXPECT_EQ(50u, ProgressPercent(1ull << 62, 1ull << 63));
}

TEST(CheckOutcomeText, EveryOutcomeIsToldAndAFailureWithItsReason) {
  const std::wstring failed = L"Vantle could not check for updates.\r\n\r\n";
  const struct {
    Result result;
    bool found;
    const wchar_t* reason;
    std::wstring message;
  } cases[] = {
      {kResultOk, false, L"", L"Vantle is up to date."},
      {kResultDifferent, true, L"", L"Vantle is updated."},
      {static_cast<Result>(0x80072EFDu), false, L"the server (a.org) could not be reached: why",
       failed + L"The server (a.org) could not be reached: why."},
      {static_cast<Result>(0x80072EE2u), false, L"", failed + L"The server did not answer in time (error 12002)."},
      {static_cast<Result>(0x80070005u), false, L"", failed + L"Windows error 5."},
      {kResultFail, true, L"", L"A newer Vantle was found but could not be installed.\r\n\r\n"
                               L"The server's reply or a downloaded file was not as expected."},
      {kResultAbort, true, L"", L"The update was cancelled; Vantle stays as it is."},
  };
  for (const auto& c : cases) {
    CheckOutcome outcome;
    outcome.result = c.result;
    outcome.updateFound = c.found;
    outcome.reason = c.reason;
    EXPECT_EQ(c.message, CheckOutcomeMessage(outcome)) << c.result;
  }
}
