// Installing updates under Wine: the installation step on real files (hash,
// Authenticode signature, locked files, the move back), the whole-file and
// delta routes against the real update server and against replies it would
// never send, the hand-over from one route to the other, and a program that
// replaces itself.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <zip.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "UpdateTestServers.h"
#include "update/FileRdcFileReader.h"
#include "update/MemoryZip.h"
#include "update/ReplaceFile.h"
#include "update/RunUpdateCheck.h"
#include "update/SignatureDelta.h"
#include "update/VU.h"
#include "update/rdc/RdcEngine.h"

using namespace VULIBRARY;
using updatetest::HttpReply;
using updatetest::Installed;
using updatetest::RealServer;
using updatetest::ScriptedServer;
using updatetest::Sha1Text;

namespace {

const std::string kProduct = "5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915";

std::string Narrow(const std::wstring& path) { return std::filesystem::path(path).string(); }
std::string Bytes(const std::wstring& path) { return updatetest::ReadFileBytes(Narrow(path)); }
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::wstring Old(const std::wstring& path) { return path + kReplacedSuffix; }

std::string HostFile(const char* path) { return updatetest::ReadFileBytes(wintest::HostToWindowsPath(path)); }

// A zip archive of the entries, in order, all under one name.
std::string Zip(const std::vector<std::string>& entries) {
  std::string archive;
  zlib_filefunc64_def io = MemoryZipWriter(archive);
  zipFile zip = zipOpen2_64(nullptr, APPEND_STATUS_CREATE, nullptr, &io);
  for (const std::string& entry : entries) {
    zipOpenNewFileInZip64(zip, "entry", nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, Z_BEST_SPEED, 1);
    zipWriteInFileInZip(zip, entry.data(), static_cast<unsigned>(entry.size()));
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
  return archive;
}

// Updates an installed vtl64.exe holding a to b through a server that gives
// replies in turn, checks that b was installed, and gives the requests made.
std::vector<updatetest::RecordedRequest> UpdateThrough(const std::vector<std::string>& replies, const std::string& a,
                                                       const std::string& b, const std::string& what) {
  Installed folder;
  ScriptedServer server(replies);
  EXPECT_TRUE(server.listening()) << what;
  VU updater(VANTLE_PRODUCT_ID, server.Url());
  UpdateFile file(folder.Write("vtl64.exe", a), L"vtl64.exe", L"vtl64.exe.sig", false);
  file.serverHash = Sha1Text(b);
  updater.AddFile(file);
  EXPECT_EQ(S_OK, updater.Update(nullptr, LoadIconA(nullptr, IDI_INFORMATION), L"Updating Vantle")) << what;
  EXPECT_TRUE(Bytes(updater.files[0].localPath) == b) << what;
  return server.Requests();
}

std::string Signatures(const std::string& bytes) {
  const std::vector<std::uint8_t> stream =
      DIFF::MakeSignatureStream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return std::string(stream.begin(), stream.end());
}

// Bytes that chunk like a program: varied, with no long repeats.
std::string Program(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 23);
  }
  return bytes;
}

// The installed release and the next one: the same but for a changed
// stretch in the middle and a few bytes more at the end.
const std::string& ReleaseA() {
  static const std::string a = Program(300000, 7);
  return a;
}
const std::string& ReleaseB() {
  static const std::string b = [] {
    std::string b = ReleaseA();
    b.replace(150000, 200, Program(260, 99));
    return b + "appended in release B";
  }();
  return b;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (std::size_t end; (end = line.find(' ', start)) != std::string::npos; start = end + 1) {
    words.push_back(line.substr(start, end - start));
  }
  words.push_back(line.substr(start));
  return words;
}

// The source ranges of b that rebuilding it from a fetches, in order.
std::vector<std::string> SourceBlocks(const std::string& a, const std::string& b) {
  const std::string seed = Signatures(a), source = Signatures(b);
  std::vector<Need> needs;
  std::vector<std::string> blocks;
  if (!CompareSignatureStreams(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size(),
                               reinterpret_cast<const std::uint8_t*>(source.data()), source.size(), a.size(), &needs))
    return blocks;
  JoinNearSourceRanges(needs);
  for (const Need& need : needs) {
    if (need.type == kNeedSource) blocks.push_back(b.substr(need.offset, need.length));
  }
  return blocks;
}

// A top-level window of this process with the given title.
HWND WaitForOwnWindow(const char* title, DWORD timeoutMs) {
  static const char* wanted;
  wanted = title;
  return wintest::WaitForTopWindow(GetCurrentProcessId(), timeoutMs,
                                   [](HWND window) { return wintest::WindowText(window) == wanted; });
}

bool PressCancel(HWND dialog) {
  struct Search {
    HWND found = nullptr;
  } search;
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM param) -> BOOL {
        if (wintest::WindowText(child) != "Cancel") return TRUE;
        reinterpret_cast<Search*>(param)->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (!search.found) return false;
  PostMessageW(search.found, BM_CLICK, 0, 0);
  return true;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
  return true;
}

// A file opened the way a running program or a virus scanner holds it:
// readable by others, but not to be renamed or deleted.
class Locked {
 public:
  explicit Locked(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~Locked() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool locked() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

UpdateFile Record(const std::wstring& path, const std::string& serverBytes, bool verify) {
  UpdateFile file(path, L"vtl64.exe", L"vtl64.exe.sig", verify);
  file.serverHash = Sha1Text(serverBytes);
  file.localHash = Sha1Text(Bytes(path));
  return file;
}

}  // namespace

// With a signed program running, a new file must also come from its
// publisher and not be an older version: release A is version 1.0.0.1 and B
// 1.0.0.2, both signed by us; B is signed once more by another publisher and
// by a renewal of our certificate, and once by us without a version.
TEST(InstallStep, OnlyANewFileWithTheServersHashAndWhenAskedAValidSignatureIsInstalled) {
  const std::string signedA = HostFile(VANTLE_PROBE_A), signedB = HostFile(VANTLE_PROBE_B);
  const std::string otherB = HostFile(VANTLE_PROBE_B_OTHER), renewedB = HostFile(VANTLE_PROBE_B_RENEWED);
  const std::string unsignedA = HostFile(VANTLE_PROBE_UNSIGNED);
  const std::string unversioned = HostFile(VANTLE_PROBE_UNVERSIONED);
  ASSERT_GT(signedB.size(), 10000u);
  ASSERT_GT(unsignedA.size(), 10000u);
  std::string tampered = signedB;
  tampered[tampered.size() / 2] ^= 0x20;

  struct Case {
    const char* what;
    std::string newBytes;
    std::string serverBytes;  // what the check said the server has
    bool verify;
    HRESULT expected;
    const std::string* running = nullptr;  // the program that runs; by default this unsigned test
  };
  const Case cases[] = {
      {"signed, signature asked for", signedB, signedB, true, S_OK},
      {"unsigned, signature not asked for", unsignedA, unsignedA, false, S_OK},
      {"unsigned, signature asked for", unsignedA, unsignedA, true, E_FAIL},
      {"signed but changed after signing", tampered, tampered, true, E_FAIL},
      {"another version than the check saw", signedB, signedB + "x", false, E_FAIL},
      {"unsigned program running, another publisher's file", otherB, otherB, true, S_OK, &unsignedA},
      {"our newer release", signedB, signedB, true, S_OK, &signedA},
      {"our release of the same version", signedB, signedB, true, S_OK, &signedB},
      {"our release under our renewed certificate", renewedB, renewedB, true, S_OK, &signedA},
      {"another publisher's file", otherB, otherB, true, E_FAIL, &signedA},
      {"our older release", signedA, signedA, true, E_FAIL, &signedB},
      {"our release without a version", unversioned, unversioned, true, E_FAIL, &signedA},
  };
  for (const Case& c : cases) {
    Installed folder;
    const std::wstring local = folder.Write("vtl64.exe", "installed");
    folder.Write("vtl64.exe" + Narrow(kReplacedSuffix), "from an earlier update");
    const std::wstring fresh = folder.Write("download.tmp", c.newBytes);

    const UpdateFile record = Record(local, c.serverBytes, c.verify);
    const HRESULT result = c.running ? InstallFile(record, fresh, folder.Write("running.exe", *c.running))
                                     : InstallFile(record, fresh);
    EXPECT_EQ(c.expected, result) << c.what;
    if (c.expected == S_OK) {
      EXPECT_TRUE(Bytes(local) == c.newBytes) << c.what;
      EXPECT_EQ("installed", Bytes(Old(local))) << c.what;
      EXPECT_FALSE(Exists(fresh)) << c.what;
    } else {
      EXPECT_EQ("installed", Bytes(local)) << c.what;
      EXPECT_EQ("from an earlier update", Bytes(Old(local))) << c.what << ": nothing was touched";
      EXPECT_TRUE(Exists(fresh)) << c.what << ": the caller deletes a rejected download";
    }
  }
}

TEST(InstallStep, ALockedInstalledFileOrALockedNewFileLeavesTheInstalledVersionUnderItsName) {
  Installed folder;
  const std::wstring local = folder.Write("vtl64.exe", "installed");
  const std::wstring fresh = folder.Write("download.tmp", "new version");
  const UpdateFile record = Record(local, "new version", false);
  {
    Locked running(local);
    ASSERT_TRUE(running.locked());
    EXPECT_EQ(E_FAIL, InstallFile(record, fresh)) << "the installed file cannot be moved aside";
  }
  EXPECT_EQ("installed", Bytes(local));
  EXPECT_FALSE(Exists(Old(local)));
  {
    // Moved aside, then the new file cannot be moved in: the move back.
    Locked scanned(fresh);
    ASSERT_TRUE(scanned.locked());
    EXPECT_EQ(E_FAIL, InstallFile(record, fresh));
    EXPECT_EQ("installed", Bytes(local));
    EXPECT_FALSE(Exists(Old(local)));
  }
  EXPECT_EQ(S_OK, InstallFile(record, fresh)) << "once nothing holds the files";
  EXPECT_EQ("new version", Bytes(local));
  EXPECT_EQ("installed", Bytes(Old(local)));
}

namespace {

// The temporary folder moved to T:\temp, on a drive that Wine maps to a
// folder of another file system of the host, for as long as this lives.
class TempOnAnotherDrive {
 public:
  TempOnAnotherDrive() {
    char prefix[1000] = "";
    if (GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix) == 0) return;
    link_ = std::string(prefix) + "/dosdevices/t:";
    host_ = "/dev/shm/vantle-temp-" + std::to_string(GetCurrentProcessId());
    OnHost("mkdir -p " + host_ + "/temp && ln -sfn " + host_ + " " + link_);
    for (int i = 0; i < 200 && !Exists(L"T:\\temp"); ++i) Sleep(25);
    GetEnvironmentVariableW(L"TMP", saved_, sizeof saved_ / sizeof saved_[0]);
    SetEnvironmentVariableW(L"TMP", L"T:\\temp");
  }
  ~TempOnAnotherDrive() {
    SetEnvironmentVariableW(L"TMP", saved_[0] ? saved_ : nullptr);
    if (!host_.empty()) OnHost("rm -rf " + host_ + " " + link_);
  }
  // What the temporary folder holds.
  std::vector<std::string> Contents() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("T:\\temp")) names.push_back(entry.path().string());
    return names;
  }

 private:
  static void OnHost(std::string command) {
    std::string line = "/bin/sh -c \"" + command + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  }
  std::string link_, host_;
  wchar_t saved_[1000] = L"";
};

}  // namespace

// The program on C:, the temporary folder on another drive: the new version
// is written beside the installed one and renamed in, never moved (copied)
// across; and what a cut-off install left beside it is finished first: a
// whole new version installed without a download, a piece removed and the
// file fetched again.
TEST(InstallBeside, TheTemporaryFolderOnAnotherDriveIsNotUsedAndWhatACutOffInstallLeftIsFinished) {
  const std::string a = "MZ release A", b = "MZ release B, somewhat longer";
  const std::vector<std::string> fetched = {HttpReply("no delta here", "404 Not Found"), HttpReply(Zip({b}))};
  struct Case {
    const char* what;
    const char* beside;  // nullptr: nothing
    std::size_t requests;
  } const cases[] = {
      {"nothing beside", nullptr, 2},
      {"a piece beside", "MZ release B, so", 2},
      {"the whole new version beside", "MZ release B, somewhat longer", 0},
  };
  for (const Case& c : cases) {
    Installed folder;
    const std::wstring local = folder.Write("vtl64.exe", a);
    if (c.beside) folder.Write("vtl64.exe" + Narrow(kStagedSuffix), c.beside);
    TempOnAnotherDrive temp;
    wchar_t tempPath[MAX_PATH + 1] = L"";
    GetTempPathW(MAX_PATH + 1, tempPath);
    ASSERT_EQ(std::wstring(L"T:\\temp\\"), tempPath);
    ASSERT_TRUE(temp.Contents().empty()) << c.what;

    ScriptedServer server(fetched);
    ASSERT_TRUE(server.listening());
    VU updater(VANTLE_PRODUCT_ID, server.Url());
    updater.AddFile(Record(local, b, false));
    EXPECT_EQ(S_OK, updater.Update(nullptr, LoadIconA(nullptr, IDI_INFORMATION), L"Updating Vantle")) << c.what;
    EXPECT_EQ(c.requests, server.Requests().size()) << c.what;
    EXPECT_EQ(b, Bytes(local)) << c.what;
    EXPECT_EQ(a, Bytes(Old(local))) << c.what;
    EXPECT_FALSE(Exists(local + kStagedSuffix)) << c.what;
    EXPECT_TRUE(temp.Contents().empty()) << c.what;
  }
}

class FullRoute : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ("", server_.error()); }
  RealServer server_;
  Installed installed_;
};

TEST_F(FullRoute, TheRealServerDeliversTheOutOfDateFilesAndEachIsInstalledBesideItsOldVersion) {
  const std::string program = "MZ program build 8";
  const std::string oldEmulator = "MZ emulator 0.74", newEmulator = "MZ emulator 0.74-3 with more";
  const std::string oldSetup = "setup 1", newSetup = "setup 2";
  server_.Publish(kProduct, "vtl64.exe", program);
  server_.Publish(kProduct, "DOSBOX.EXE", newEmulator);
  server_.Publish(kProduct, "SETUP.DAT", newSetup);
  VU updater(VANTLE_PRODUCT_ID, server_.Url());
  updater.AddFile(UpdateFile(installed_.Write("vtl64.exe", program), L"vtl64.exe", false));
  updater.AddFile(UpdateFile(installed_.Write("DOSBOX.EXE", oldEmulator), L"DOSBOX.EXE", false));
  updater.AddFile(UpdateFile(installed_.Write("SETUP.DAT", oldSetup), L"SETUP.DAT", false));
  ASSERT_EQ(1, updater.Check());

  EXPECT_EQ(S_OK, updater.DownloadFull());
  EXPECT_EQ(program, Bytes(updater.files[0].localPath));
  EXPECT_FALSE(Exists(Old(updater.files[0].localPath)));
  EXPECT_EQ(newEmulator, Bytes(updater.files[1].localPath));
  EXPECT_EQ(oldEmulator, Bytes(Old(updater.files[1].localPath)));
  EXPECT_EQ(newSetup, Bytes(updater.files[2].localPath));
  EXPECT_EQ(oldSetup, Bytes(Old(updater.files[2].localPath)));

  const std::vector<std::string> lines = server_.LogLines(2);
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[1].find("/update/u.php?f=zip&e=" + kProduct + " 200")) << lines[1];
  EXPECT_NE(std::string::npos, lines[1].find("body=f1=DOSBOX.EXE&f2=SETUP.DAT")) << lines[1];

  // Now everything is current: nothing to fetch, nothing sent.
  ASSERT_EQ(0, updater.Check());
  EXPECT_EQ(S_FALSE, updater.DownloadFull());
  EXPECT_EQ(3u, server_.LogLines(4).size());
}

TEST(FullRouteReplies, AnyReplyThatIsNotExactlyTheFilesAskedForInstallsNothing) {
  const std::string fresh = "the new version";
  const std::string bomb = Zip({std::string(kMaxUpdateFileBytes + 1, '\0')});
  ASSERT_LT(bomb.size(), 1000000u);
  struct Case {
    const char* what;
    std::string reply;
    HRESULT expected;
  };
  const Case cases[] = {
      {"the file asked for", HttpReply(Zip({fresh})), S_OK},
      {"one entry too many", HttpReply(Zip({fresh, fresh})), E_FAIL},
      {"no entries", HttpReply(Zip({})), E_FAIL},
      {"another file's bytes", HttpReply(Zip({fresh + "!"})), E_FAIL},
      {"not a zip archive", HttpReply("<html>Service Unavailable</html>", "503 Service Unavailable"), E_FAIL},
      {"an empty reply", HttpReply(""), E_FAIL},
      {"an entry inflating beyond any release file", HttpReply(bomb), E_FAIL},
      {"a body announced far beyond any release file",
       "HTTP/1.1 200 OK\r\nContent-Length: 10000000000\r\nConnection: close\r\n\r\n" + Zip({fresh}), E_FAIL},
  };
  for (const Case& c : cases) {
    Installed folder;
    const std::wstring local = folder.Write("vtl64.exe", "installed");
    ScriptedServer server(c.reply);
    ASSERT_TRUE(server.listening());
    VU updater(VANTLE_PRODUCT_ID, server.Url());
    updater.AddFile(Record(local, fresh, false));

    EXPECT_EQ(c.expected, updater.DownloadFull()) << c.what;
    ASSERT_EQ(1u, server.Requests().size()) << c.what;
    EXPECT_EQ("f1=vtl64.exe", server.Requests()[0].body);
    EXPECT_EQ(c.expected == S_OK ? fresh : "installed", Bytes(local)) << c.what;
    EXPECT_EQ(c.expected == S_OK, Exists(Old(local))) << c.what;
  }
}


TEST(FileReader, ReadsAWindowsFileByOffsetReportsItsEndAndKeepsTheHandleOpen) {
  Installed folder;
  const std::wstring path = folder.Write("data.bin", "0123456789");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  auto* reader = new DIFF::FileRdcFileReader(file);

  ULONGLONG size = 0, position = 0;
  EXPECT_EQ(S_OK, reader->GetFileSize(&size));
  EXPECT_EQ(10u, size);
  struct Case {
    ULONGLONG offset;
    ULONG wanted;
    std::string bytes;
    BOOL eof;
  };
  const Case cases[] = {{2, 3, "234", FALSE}, {6, 4, "6789", FALSE}, {7, 5, "789", TRUE}, {10, 4, "", TRUE},
                        {99, 1, "", TRUE}};
  for (const Case& c : cases) {
    char buffer[16] = {};
    ULONG got = 77;
    BOOL eof = 5;
    EXPECT_EQ(S_OK, reader->Read(c.offset, c.wanted, &got, reinterpret_cast<BYTE*>(buffer), &eof)) << c.offset;
    EXPECT_EQ(c.bytes, std::string(buffer, got)) << c.offset;
    EXPECT_EQ(c.eof, eof) << c.offset;
  }
  EXPECT_EQ(S_OK, reader->Read(1, 2, nullptr, reinterpret_cast<BYTE*>(&size), nullptr));
  EXPECT_EQ(S_OK, reader->GetFilePosition(&position));
  EXPECT_EQ(3u, position);

  void* other = reader;
  const IID someOther = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(E_NOINTERFACE, reader->QueryInterface(someOther, &other));
  EXPECT_EQ(nullptr, other);
  EXPECT_EQ(S_OK, reader->QueryInterface(IID_IUnknown, &other));
  EXPECT_EQ(1u, reader->Release());
  EXPECT_EQ(0u, reader->Release());

  char rest[4] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(file, rest, sizeof rest, &got, nullptr)) << "the reader closed the maker's handle";
  EXPECT_EQ("3456", std::string(rest, got));
  CloseHandle(file);
}

class DeltaRoute : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ("", server_.error()); }

  VU& Updater(const std::string& installed) {
    updater_.AddFile(UpdateFile(installed_.Write("vtl64.exe", installed), L"vtl64.exe", L"vtl64.exe.sig", false));
    return updater_;
  }
  RealServer server_;
  Installed installed_;
  VU updater_{VANTLE_PRODUCT_ID, L""};
};

TEST_F(DeltaRoute, RebuildsTheNewVersionFromTheInstalledFileAndTheFetchedBlocks) {
  server_.Publish(kProduct, "vtl64.exe", ReleaseB());
  VU& updater = Updater(ReleaseA());
  updater.endpoint = server_.Url();
  ASSERT_EQ(1, updater.Check());

  EXPECT_EQ(S_OK, updater.DownloadDelta());
  const std::wstring local = updater.files[0].localPath;
  EXPECT_TRUE(Bytes(local) == ReleaseB());
  EXPECT_TRUE(Bytes(Old(local)) == ReleaseA());

  const std::vector<std::string> lines = server_.LogLines(3);
  ASSERT_EQ(3u, lines.size());
  const std::vector<std::string> signatures = Words(lines[1]), blocks = Words(lines[2]);
  ASSERT_EQ(8u, signatures.size());
  EXPECT_EQ("/update/u.php?f=zip&e=" + kProduct, signatures[3]);
  EXPECT_EQ("body=f1=vtl64.exe.sig", signatures[7]);
  ASSERT_EQ(8u, blocks.size()) << lines[2];
  EXPECT_EQ("/update/u.php?f=zip&e=" + kProduct + "&j=1&d=1", blocks[3]) << "one file's ranges are asked for as one entry, primed";
  EXPECT_EQ(0u, blocks[7].find("body=f1=vtl64.exe&from1=")) << blocks[7];
  EXPECT_EQ("200", blocks[4]);
  // Only the changed stretch travels, not the file.
  EXPECT_LT(std::stoull(blocks[6]), ReleaseB().size() / 4) << lines[2];
  std::uint64_t fetched = 0;
  for (const SourceBlock& block : updater.files[0].sourceBlocks) fetched += block.bytes.size();
  EXPECT_GE(fetched, 221u);
}

TEST_F(DeltaRoute, AFileWhoseNewVersionTheInstalledOneAlreadyHoldsNeedsNoBlockRequest) {
  // Out of date by its record only: the server has the very same bytes.
  server_.Publish(kProduct, "vtl64.exe", ReleaseA());
  VU& updater = Updater(ReleaseA());
  updater.endpoint = server_.Url();
  updater.files[0].serverHash = Sha1Text(ReleaseA());

  EXPECT_EQ(S_OK, updater.DownloadDelta());
  EXPECT_TRUE(updater.files[0].sourceBlocks.empty());
  EXPECT_TRUE(Bytes(updater.files[0].localPath) == ReleaseA());
  const std::vector<std::string> lines = server_.LogLines(2);
  ASSERT_EQ(1u, lines.size()) << "only the signatures were asked for";
  EXPECT_NE(std::string::npos, lines[0].find("body=f1=vtl64.exe.sig")) << lines[0];

  updater.files[0].localHash = updater.files[0].serverHash;
  EXPECT_EQ(S_FALSE, updater.DownloadDelta()) << "nothing out of date";
}

TEST(DeltaFallback, EveryFailureOfTheDeltaRouteEndsInTheWholeFileRoute) {
  const std::string a = ReleaseA(), b = ReleaseB();
  // Blocks of the lengths the route will ask for, but not the right bytes.
  std::vector<std::string> wrongBlocks;
  for (const std::string& block : SourceBlocks(a, b)) wrongBlocks.push_back(std::string(block.size(), 'w'));
  ASSERT_FALSE(wrongBlocks.empty());
  const std::string full = HttpReply(Zip({b}));
  // Chunk records of 65535 bytes each, none known: a needs list beyond any
  // release file.
  std::string huge = Signatures("x").substr(0, DIFF::kSignatureHeaderSize);
  for (int i = 0; i < 1100; ++i) {
    std::string record(DIFF::kSignatureRecordSize, static_cast<char>(i));
    record[0] = '\xFF';
    record[1] = '\xFF';
    record[2] = static_cast<char>(i >> 8);
    huge += record;
  }
  // A known chunk and an unknown one-byte chunk in turn, one pair more than a
  // block request can carry: refused before the request is built.
  const std::string known = Signatures(a);
  const std::size_t header = DIFF::kSignatureHeaderSize, record = DIFF::kSignatureRecordSize;
  auto length = [](const std::string& r) { return static_cast<unsigned char>(r[0]) | static_cast<unsigned char>(r[1]) << 8; };
  std::string shortest = known.substr(header, record);
  for (std::size_t at = header; at + record <= known.size(); at += record) {
    if (length(known.substr(at, record)) < length(shortest)) shortest = known.substr(at, record);
  }
  std::string alternating = known.substr(0, header);
  for (std::size_t i = 0; i <= kMaxSourceBlocks; ++i) {
    std::string unknown(record, 'u');
    unknown[0] = 1;
    unknown[1] = 0;
    std::memcpy(&unknown[2], &i, sizeof i);
    alternating += shortest + unknown;
  }
  struct Case {
    const char* what;
    std::vector<std::string> replies;  // signatures, then blocks when asked for, then the whole file
    std::size_t deltaRequests;
  };
  const Case cases[] = {
      {"signature reply not a zip archive", {HttpReply("<html>busy</html>"), full}, 1},
      {"one signature entry too many", {HttpReply(Zip({Signatures(b), Signatures(b)})), full}, 1},
      {"a signature entry that is no signature stream", {HttpReply(Zip({"garbage"})), full}, 1},
      {"a needs list larger than any release file", {HttpReply(Zip({huge})), full}, 1},
      {"more blocks than one request can carry", {HttpReply(Zip({alternating})), full}, 1},
      {"block reply with no entries", {HttpReply(Zip({Signatures(b)})), HttpReply(Zip({})), full}, 2},
      {"blocks with the wrong bytes", {HttpReply(Zip({Signatures(b)})), HttpReply(Zip(wrongBlocks)), full}, 2},
      {"a block shorter than asked for", {HttpReply(Zip({Signatures(b)})), HttpReply(Zip({"short"})), full}, 2},
  };
  for (const Case& c : cases) {
    const auto requests = UpdateThrough(c.replies, a, b, c.what);
    ASSERT_EQ(c.deltaRequests + 1, requests.size()) << c.what;
    EXPECT_EQ("f1=vtl64.exe.sig", requests[0].body) << c.what;
    if (c.deltaRequests == 2) {
      EXPECT_EQ(0u, requests[1].body.find("f1=vtl64.exe&from1=")) << c.what;
    }
    EXPECT_EQ("f1=vtl64.exe", requests.back().body) << c.what << ": the whole file last";
  }
}

TEST(DeltaFallback, CancellingTheDeltaRouteStartsTheWholeFileRouteAndCancellingThatEndsTheUpdate) {
  const std::string a = ReleaseA(), b = ReleaseB();
  const std::string reply = HttpReply(Zip({b}));
  for (bool cancelBoth : {false, true}) {
    Installed folder;
    ScriptedServer server(reply, reply.size() / 2, false, true);  // each reply stalls half-way until released
    ASSERT_TRUE(server.listening());
    VU updater(VANTLE_PRODUCT_ID, server.Url());
    UpdateFile file(folder.Write("vtl64.exe", a), L"vtl64.exe", L"vtl64.exe.sig", false);
    file.serverHash = Sha1Text(b);
    updater.AddFile(file);

    std::atomic<int> cancelled{0};
    std::thread user([&] {
      for (int dialog = 0; dialog < (cancelBoth ? 2 : 1); ++dialog) {
        HWND window = WaitForOwnWindow("Update Process", 20000);
        if (!window) break;
        if (dialog == 0) server.WaitUntilHeld(20000);
        if (PressCancel(window) && WaitUntilGone(window, 10000)) ++cancelled;
        server.Release();  // the cancelled route's reply goes on, to be dropped
      }
      server.Release();  // the whole-file route's reply, when it was not cancelled
    });
    const int result = updater.Update(nullptr, LoadIconA(nullptr, IDI_INFORMATION), L"Updating Vantle");
    user.join();

    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size()) << cancelBoth;
    EXPECT_EQ("f1=vtl64.exe.sig", requests[0].body);
    EXPECT_EQ("f1=vtl64.exe", requests[1].body);
    if (cancelBoth) {
      EXPECT_EQ(2, cancelled.load());
      EXPECT_EQ(E_ABORT, result);
      EXPECT_TRUE(Bytes(updater.files[0].localPath) == a);
      EXPECT_FALSE(Exists(Old(updater.files[0].localPath)));
    } else {
      EXPECT_EQ(1, cancelled.load());
      EXPECT_EQ(S_OK, result);
      EXPECT_TRUE(Bytes(updater.files[0].localPath) == b);
    }
  }
}

// A large file's signatures come as a delta of the installed file's own. An
// older server or a damaged second level still leaves the update to the delta
// route; a second level that rebuilds a wrong list is caught by the hash.
TEST(DeltaSecondLevel, OlderServersAndDamagedSecondLevelsStillUpdate) {
  const std::string a = Program(1200000, 5), b = std::string(a).replace(600000, 300, Program(400, 6));
  const std::string list = Signatures(a);
  ASSERT_GE(list.size(), kSecondLevelMinBytes);
  const auto stale = DIFF::MakeSecondLevelStream(reinterpret_cast<const std::uint8_t*>(list.data()), list.size());
  const std::string blocks = HttpReply(Zip(SourceBlocks(a, b))), signatures = HttpReply(Zip({Signatures(b)}));
  const std::vector<std::string> byDelta = {"f1=vtl64.exe.sig.sig", "f1=vtl64.exe.sig", "f1=vtl64.exe&from1="};
  const struct {
    const char* what;
    std::vector<std::string> replies;
    std::vector<std::string> bodies;  // each request's body; a range request's start
  } cases[] = {
      {"an older server", {HttpReply("no such file\n", "404 Not Found"), signatures, blocks}, byDelta},
      {"a damaged second level", {HttpReply(Zip({"garbage"})), signatures, blocks}, byDelta},
      {"a second level of the installed file's list",
       {HttpReply(Zip({std::string(stale.begin(), stale.end())})), HttpReply(Zip({b}))},
       {"f1=vtl64.exe.sig.sig", "f1=vtl64.exe"}},
  };
  for (const auto& c : cases) {
    const auto requests = UpdateThrough(c.replies, a, b, c.what);
    ASSERT_EQ(c.bodies.size(), requests.size()) << c.what;
    for (std::size_t k = 0; k < requests.size(); ++k) {
      const bool range = c.bodies[k].back() == '=';
      EXPECT_EQ(c.bodies[k], range ? requests[k].body.substr(0, c.bodies[k].size()) : requests[k].body) << c.what;
    }
  }
}

namespace {

bool ShowsUpdated(HWND window) {
  return wintest::WindowText(window) == "Vantle" &&
         wintest::ChildTexts(window).find("Vantle is updated.") != std::string::npos;
}

std::string Label(const std::wstring& program, const std::wstring& folder) {
  const std::wstring out = folder + L"\\label.txt";
  DeleteFileW(out.c_str());
  wintest::Process run("\"" + Narrow(program) + "\" --label \"" + Narrow(out) + "\"");
  DWORD code = 1;
  if (!run.started() || !run.Wait(20000, &code) || code != 0) return "<did not run>";
  return Bytes(out);
}

}  // namespace

// Release B published on a server of the test's own, release A installed
// as vtl64.exe in a folder of its own: where both self-updates start.
class SelfUpdate : public ::testing::Test {
 protected:
  void Prepare(unsigned short port, const char* fileA, const char* fileB) {
    server.emplace(port);
    ASSERT_EQ("", server->error());
    releaseA = HostFile(fileA);
    releaseB = HostFile(fileB);
    ASSERT_NE(releaseA, releaseB);
    server->Publish(kProduct, "vtl64.exe", releaseB);
    program = installed.Write("vtl64.exe", releaseA);
    folder = std::filesystem::path(program).parent_path().wstring();
  }

  // The running release says that it is updated, with the new release
  // already in place; answered, it must end by itself with 0.
  void ExpectUpdatedAndEnded(wintest::Process& running) {
    ASSERT_TRUE(running.started());
    HWND box = wintest::WaitForTopWindow(running.id(), 60000, ShowsUpdated);
    ASSERT_NE(nullptr, box) << "no message after the update";
    EXPECT_TRUE(Bytes(program) == releaseB);
    EXPECT_TRUE(Bytes(Old(program)) == releaseA);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    DWORD code = 1;
    ASSERT_TRUE(running.Wait(20000, &code)) << "the program did not end after the message";
    EXPECT_EQ(0u, code);
  }

  std::optional<RealServer> server;
  std::string releaseA, releaseB;
  Installed installed;
  std::wstring program, folder;
};

TEST_F(SelfUpdate, AProgramReplacesItselfWithTheSignedNewReleaseAndEndsThroughItsWindow) {
  ASSERT_NO_FATAL_FAILURE(Prepare(0, VANTLE_PROBE_A, VANTLE_PROBE_B));
  ASSERT_GT(releaseA.size(), 10000u);
  const std::wstring record = folder + L"\\record.txt";
  ASSERT_EQ("release A", Label(program, folder));

  wintest::Process running("\"" + Narrow(program) + "\" " + Narrow(server->Url()) + " \"" + Narrow(record) + "\"");
  ASSERT_NO_FATAL_FAILURE(ExpectUpdatedAndEnded(running));
  EXPECT_EQ("closed", Bytes(record)) << "the program did not end through its window";

  EXPECT_EQ("release B", Label(program, folder)) << "the next start runs the new release";
  // By the delta route: the hash, the second level of the signatures, their
  // changed ranges, the changed blocks, and never the whole file.
  const std::vector<std::string> lines = server->LogLines(4);
  ASSERT_EQ(4u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("f=hash")) << lines[0];
  EXPECT_NE(std::string::npos, lines[1].find("body=f1=vtl64.exe.sig.sig")) << lines[1];
  EXPECT_NE(std::string::npos, lines[2].find("body=f1=vtl64.exe.sig&from1=")) << lines[2];
  EXPECT_NE(std::string::npos, lines[3].find("body=f1=vtl64.exe&from1=")) << lines[3];
  std::uint64_t wire = 0;
  for (int k = 1; k <= 3; ++k) wire += std::stoull(Words(lines[k])[6]);
  EXPECT_LT(wire, releaseB.size() / 2) << "bytes of both replies";
  std::printf("release B: %zu bytes; delta replies: %llu bytes\n", releaseB.size(),
              static_cast<unsigned long long>(wire));
}

namespace {

bool IsMainWindow(HWND window) { return wintest::HasMenu(window); }

}  // namespace

// The program itself: release A, started with a library beside it, finds
// release B on the server, installs it by the delta route, says so, and ends
// through its window, so that the library is saved as at any orderly end.
TEST_F(SelfUpdate, VantleUpdatesItselfSavesItsLibraryAndTheNextStartRunsTheNewRelease) {
  ASSERT_NO_FATAL_FAILURE(Prepare(VANTLE_TEST_UPDATE_PORT, VANTLE_RELEASE_A, VANTLE_RELEASE_B));
  // Reading a game completes it, so a library saved at the end holds Main.
  const std::wstring library = folder + L"\\vtl.xml";
  updatetest::WriteFileBytes(Narrow(library), "<?xml version=\"1.0\"?>\r\n<root><Games><g/></Games></root>\r\n");

  {
    wintest::Process running("\"" + Narrow(program) + "\"");
    ASSERT_NO_FATAL_FAILURE(ExpectUpdatedAndEnded(running));
  }
  EXPECT_NE(std::string::npos, Bytes(library).find("<Main")) << "the library was not saved at the end";
  std::vector<std::string> lines = server->LogLines(4);
  ASSERT_EQ(4u, lines.size());
  EXPECT_NE(std::string::npos, lines[1].find("body=f1=vtl64.exe.sig.sig")) << "by the delta route";

  // The next start runs B, which finds nothing newer and opens as usual.
  wintest::Process next("\"" + Narrow(program) + "\"");
  HWND main = wintest::WaitForTopWindow(next.id(), 60000, IsMainWindow);
  ASSERT_NE(nullptr, main);
  EXPECT_EQ(5u, server->LogLines(5).size()) << "one hash query, nothing fetched";
  PostMessageW(main, WM_CLOSE, 0, 0);
  next.Wait(20000, nullptr);
  EXPECT_TRUE(Bytes(program) == releaseB);
  EXPECT_FALSE(Exists(Old(program))) << "the previous version outlived the start of the new one";
}
