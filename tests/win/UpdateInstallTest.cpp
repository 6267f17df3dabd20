// Installing updates under Wine: the installation step on real files (hash,
// Authenticode signature, locked files, the move back), the whole-file route
// against the real update server and against replies it would never send,
// and a program that replaces itself.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <zip.h>

#include <filesystem>

#include "UpdateTestServers.h"
#include "update/MemoryZip.h"
#include "update/ReplaceFile.h"
#include "update/RunUpdateCheck.h"
#include "update/VU.h"

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

TEST(InstallStep, OnlyANewFileWithTheServersHashAndWhenAskedAValidSignatureIsInstalled) {
  const std::string signedB = HostFile(VANTLE_PROBE_B);
  const std::string unsignedA = HostFile(VANTLE_PROBE_UNSIGNED);
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
  };
  const Case cases[] = {
      {"signed, signature asked for", signedB, signedB, true, S_OK},
      {"unsigned, signature not asked for", unsignedA, unsignedA, false, S_OK},
      {"unsigned, signature asked for", unsignedA, unsignedA, true, E_FAIL},
      {"signed but changed after signing", tampered, tampered, true, E_FAIL},
      {"another version than the check saw", signedB, signedB + "x", false, E_FAIL},
  };
  for (const Case& c : cases) {
    Installed folder;
    const std::wstring local = folder.Write("vtl64.exe", "installed");
    folder.Write("vtl64.exe" + Narrow(kReplacedSuffix), "from an earlier update");
    const std::wstring fresh = folder.Write("download.tmp", c.newBytes);

    EXPECT_EQ(c.expected, InstallFile(Record(local, c.serverBytes, c.verify), fresh)) << c.what;
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
