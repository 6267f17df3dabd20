// The update check over real HTTP under Wine: against the real update server
// (what it receives, what it answers) and against scripted replies that the
// real server would never send.
#include <winsock2.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "UpdateTestServers.h"
#include "update/RunUpdateCheck.h"
#include "update/VU.h"

using namespace VULIBRARY;
using updatetest::HttpReply;
using updatetest::Installed;
using updatetest::Sha1Text;
using updatetest::RealServer;
using updatetest::ScriptedServer;

namespace {

const std::string kProduct = "5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915";
const std::string kHashA = "0123456789ABCDEF0123456789ABCDEF01234567";
const std::string kHashB = "89ABCDEF0123456789ABCDEF0123456789ABCDEF";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t end = line.find(' ', start);
    words.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return words;
}

std::string OwnExecutable() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return updatetest::ReadFileBytes(path);
}

class WithRealServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ("", server_.error()); }

  // The log line of the only request so far, split into its fields.
  std::vector<std::string> OnlyRequest() {
    const std::vector<std::string> lines = server_.LogLines(1);
    EXPECT_EQ(1u, lines.size());
    return lines.empty() ? std::vector<std::string>() : Words(lines.back());
  }

  RealServer server_;
  Installed installed_;
};

}  // namespace

TEST_F(WithRealServer, AnUpToDateFileChecksAsZeroAfterOneFieldPostedToTheProductsHashUrl) {
  const std::string build = "MZ this is build 7 of the program";
  server_.Publish(kProduct, "vtl64.exe", build);
  VU updater(VANTLE_PRODUCT_ID, server_.Url());
  updater.AddFile(UpdateFile(installed_.Write("vtl64.exe", build), L"vtl64.exe", L"vtl64.exe.sig", true));

  EXPECT_EQ(0, updater.Check());
  EXPECT_EQ(Sha1Text(build), updater.files[0].localHash);
  EXPECT_TRUE(SameHash(updater.files[0].serverHash, Sha1Text(build))) << updater.files[0].serverHash;

  // <time> <address> <method> <path> <status> <request bytes> <reply bytes> body=...
  const std::vector<std::string> request = OnlyRequest();
  ASSERT_EQ(8u, request.size());
  EXPECT_EQ("POST", request[2]);
  EXPECT_EQ("/update/u.php?f=hash&e=" + kProduct, request[3]);
  EXPECT_EQ("200", request[4]);
  EXPECT_EQ("12", request[5]);
  EXPECT_EQ("body=f1=vtl64.exe", request[7]);
}

TEST_F(WithRealServer, OneChangedFileOfTwoChecksAsOneAndBothRecordsHoldBothHashes) {
  const std::string program = "MZ program build 8";
  const std::string oldEmulator = "MZ emulator 0.74";
  const std::string newEmulator = "MZ emulator 0.74-3";
  server_.Publish(kProduct, "vtl64.exe", program);
  server_.Publish(kProduct, "DOSBOX.EXE", newEmulator);
  VU updater(VANTLE_PRODUCT_ID, server_.Url());
  updater.AddFile(UpdateFile(installed_.Write("vtl64.exe", program), L"vtl64.exe", L"vtl64.exe.sig", true));
  updater.AddFile(UpdateFile(installed_.Write("DOSBOX.EXE", oldEmulator), L"DOSBOX.EXE", false));

  EXPECT_EQ(1, updater.Check());
  EXPECT_TRUE(SameHash(Sha1Text(program), updater.files[0].serverHash));
  EXPECT_EQ(Sha1Text(program), updater.files[0].localHash);
  EXPECT_TRUE(SameHash(Sha1Text(newEmulator), updater.files[1].serverHash));
  EXPECT_EQ(Sha1Text(oldEmulator), updater.files[1].localHash);

  const std::vector<std::string> request = OnlyRequest();
  ASSERT_EQ(8u, request.size());
  EXPECT_EQ("body=f1=vtl64.exe&f2=DOSBOX.EXE", request[7]);
}

TEST_F(WithRealServer, AnUnknownProductIsAFailedCheck) {
  server_.Publish(kProduct, "vtl64.exe", "MZ");
  VU updater(L"00000000-0000-0000-0000-000000000000", server_.Url());
  updater.AddFile(UpdateFile(installed_.Write("vtl64.exe", "MZ"), L"vtl64.exe", true));
  EXPECT_EQ(E_FAIL, updater.Check());
  EXPECT_EQ(L"the update server answered with HTTP status 404 instead of a list of versions", updater.failure);
  const std::vector<std::string> request = OnlyRequest();
  ASSERT_GE(request.size(), 5u);
  EXPECT_EQ("404", request[4]);
}

TEST_F(WithRealServer, TheUpdateCommandChecksThisProgramAndInstallsNoUnsignedBuild) {
  const std::string self = OwnExecutable();
  ASSERT_GT(self.size(), 10000u);

  server_.Publish(kProduct, "vtl64.exe", self);
  const CheckOutcome current = RunUpdateCheckAt(server_.Url().c_str(), nullptr);
  EXPECT_EQ(0, current.result);
  EXPECT_EQ(L"Vantle is up to date.", CheckOutcomeMessage(current));

  // A newer build on the server, but unsigned: the command fetches it and
  // refuses it, so this program stays as it is and carries on.
  server_.Publish(kProduct, "vtl64.exe", self + "newer");
  const CheckOutcome refused = RunUpdateCheckAt(server_.Url().c_str(), nullptr);
  EXPECT_TRUE(refused.result == E_FAIL && refused.updateFound) << refused.result;
  EXPECT_EQ(self, OwnExecutable());

  const std::vector<std::string> lines = server_.LogLines(2);
  ASSERT_GE(lines.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const std::vector<std::string> request = Words(lines[i]);
    ASSERT_EQ(8u, request.size()) << lines[i];
    EXPECT_EQ("/update/u.php?f=hash&e=" + kProduct, request[3]);
    EXPECT_EQ("body=f1=vtl64.exe", request[7]);
  }
  // The whole file was asked for last.
  const std::vector<std::string> last = Words(server_.LogLines(3).back());
  ASSERT_EQ(8u, last.size());
  EXPECT_EQ("/update/u.php?f=zip&e=" + kProduct, last[3]);
  EXPECT_EQ("body=f1=vtl64.exe", last[7]);
}

TEST(HashQueryOnTheWire, ThePostCarriesTheFixedHeadersAndTheUnescapedBody) {
  Installed installed;
  ScriptedServer server(HttpReply("<?xml version=\"1.0\"?><u><f1>" + Sha1Text("x") + "</f1></u>"));
  ASSERT_TRUE(server.listening());
  VU updater(VANTLE_PRODUCT_ID, server.Url());
  updater.AddFile(UpdateFile(installed.Write("vtl64.exe", "x"), L"vtl64.exe", true));
  ASSERT_EQ(0, updater.Check());

  const auto requests = server.Requests();
  ASSERT_EQ(1u, requests.size());
  const updatetest::RecordedRequest& request = requests[0];
  EXPECT_EQ("POST /update/u.php?f=hash&e=" + kProduct + " HTTP/1.1", request.requestLine);
  EXPECT_EQ("f1=vtl64.exe", request.body);
  EXPECT_EQ("application/x-www-form-urlencoded", request.Header("Content-Type"));
  EXPECT_EQ("12", request.Header("Content-Length"));
  EXPECT_EQ("Vantle Update Library", request.Header("User-Agent"));
  EXPECT_EQ("*/*", request.Header("Accept-Encoding"));
  EXPECT_EQ("*/*", request.Header("Accept"));
}

TEST(HashQueryOnTheWire, RepliesTheServerWouldNotSendAreReadByTheRules) {
  Installed installed;
  const std::wstring program = installed.Write("vtl64.exe", "program");
  const std::wstring emulator = installed.Write("DOSBOX.EXE", "emulator");
  const std::string programHash = Sha1Text("program");
  const std::string emulatorHash = Sha1Text("emulator");
  struct Case {
    const char* what;
    std::string body;
    int expected;
  };
  const Case cases[] = {
      {"lower-case hashes", "<?xml version=\"1.0\"?><u><f1>" + Lower(programHash) + "</f1><f2>" +
                                Lower(emulatorHash) + "</f2></u>", 0},
      {"another order, extra elements, second differs",
       "<?xml version=\"1.0\"?><r><f3>" + kHashA + "</f3><f2>" + kHashB + "</f2><x/><f1>" + programHash +
           "</f1></r>", 1},
      {"empty f1", "<?xml version=\"1.0\"?><u><f1></f1><f2>" + emulatorHash + "</f2></u>", E_FAIL},
      {"not XML", "<html><body>Service Unavailable", E_FAIL},
  };
  for (const Case& c : cases) {
    ScriptedServer server(HttpReply(c.body));
    ASSERT_TRUE(server.listening());
    VU updater(VANTLE_PRODUCT_ID, server.Url());
    updater.AddFile(UpdateFile(program, L"vtl64.exe", true));
    updater.AddFile(UpdateFile(emulator, L"DOSBOX.EXE", false));
    EXPECT_EQ(c.expected, updater.Check()) << c.what;
    EXPECT_EQ(1u, server.Requests().size()) << c.what;
    if (c.expected == 1) {
      EXPECT_EQ(programHash, updater.files[0].serverHash);
      EXPECT_EQ(programHash, updater.files[0].localHash);
      EXPECT_EQ(kHashB, updater.files[1].serverHash);
      EXPECT_EQ(emulatorHash, updater.files[1].localHash);
    }
  }
}

TEST(HashQueryOnTheWire, NoFilesSendsNothingAndAServerThatIsDownOrSilentFailsWithItsReason) {
  ScriptedServer server(HttpReply("<u/>"));
  ASSERT_TRUE(server.listening());
  VU empty(VANTLE_PRODUCT_ID, server.Url());
  EXPECT_EQ(E_INVALIDARG, empty.Check());
  EXPECT_EQ(0u, server.Requests().size());

  Installed installed;
  VU nobody(VANTLE_PRODUCT_ID,
            L"http://127.0.0.1:" + std::to_wstring(updatetest::UnusedPort()) + L"/update/u.php");
  nobody.AddFile(UpdateFile(installed.Write("vtl64.exe", "x"), L"vtl64.exe", true));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT), nobody.Check());
  EXPECT_EQ(L"the update server (127.0.0.1) could not be reached: no connection could be made (error 12029)",
            nobody.failure);
  EXPECT_EQ("", nobody.files[0].serverHash);

  // A server that takes the request and never answers holds the check only
  // as long as the timeout.
  ScriptedServer silent(HttpReply("<u/>"), 0);
  VU waiting(VANTLE_PRODUCT_ID, silent.Url());
  waiting.timeoutMs = 1500;
  waiting.AddFile(nobody.files[0]);
  const DWORD start = GetTickCount();
  const int result = waiting.Check();  // Wine's WinINet calls the timeout an aborted connection
  EXPECT_TRUE(result == HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT) ||
              result == HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED)) << std::hex << result;
  EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST(FormPost, AnyStatusWithOrWithoutLengthDeliversTheWholeBody) {
  std::string big(250000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  struct Case {
    const char* what;
    std::string reply;
    std::string body;
  };
  const Case cases[] = {
      {"404 with a body", HttpReply("no such product", "404 Not Found"), "no such product"},
      {"no Content-Length", HttpReply(big, "200 OK", false), big},
      {"Content-Length", HttpReply(big), big},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.reply);
    ASSERT_TRUE(server.listening());
    VU updater(VANTLE_PRODUCT_ID, server.Url());
    std::string reply = "kept:";
    EXPECT_EQ(S_OK, updater.PostForm(server.Url().c_str(), {{L"f1", L"a", 0}, {L"f2", L"b", 1}}, reply, true))
        << c.what;
    EXPECT_TRUE(reply == "kept:" + c.body) << c.what << ": " << reply.size() << " bytes";
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ("f1=a&f2=b", server.Requests()[0].body);
  }
}

TEST(FormPost, NoFieldsPostsNoBodyAndNoFormHeaders) {
  ScriptedServer server(HttpReply("ok"));
  ASSERT_TRUE(server.listening());
  VU updater(VANTLE_PRODUCT_ID, server.Url());
  std::string reply;
  EXPECT_EQ(S_OK, updater.PostForm(server.Url().c_str(), {}, reply, false));
  EXPECT_EQ("ok", reply);
  ASSERT_EQ(1u, server.Requests().size());
  const updatetest::RecordedRequest request = server.Requests()[0];
  EXPECT_EQ(0u, request.requestLine.find("POST "));
  EXPECT_EQ("", request.body);
  EXPECT_FALSE(request.HasHeader("Content-Type")) << request.headers;
  // WinINet may announce the empty body itself; we add no length of our own.
  EXPECT_TRUE(request.Header("Content-Length") == "" || request.Header("Content-Length") == "0")
      << request.headers;
  EXPECT_EQ(E_INVALIDARG, updater.PostForm(nullptr, {}, reply, false));
}

TEST(FormPost, ACancelEndsTheReadingAfterTheCurrentChunkWithAbort) {
  std::string body(2000000, 'z');
  const std::string reply = HttpReply(body);
  const std::size_t headerSize = reply.size() - body.size();
  ScriptedServer server(reply, headerSize + 30000);
  ASSERT_TRUE(server.listening());
  VU updater(VANTLE_PRODUCT_ID, server.Url());

  std::thread user([&] {
    ASSERT_TRUE(server.WaitUntilHeld(20000));
    Sleep(300);  // let the client read what has come so far
    updater.status = E_ABORT;
    server.Release();
  });
  std::string received;
  EXPECT_EQ(E_ABORT, updater.PostForm(server.Url().c_str(), {{L"f1", L"vtl64.exe", 0}}, received, true));
  user.join();
  EXPECT_GT(received.size(), 0u);
  EXPECT_LE(received.size(), 30000u + kReadChunk);  // not one read more
  EXPECT_EQ(std::string(received.size(), 'z'), received);
}

// The program's own window with its endpoint on a loopback port: the check
// at start-up says nothing, one asked for by F5 or the menu tells what it
// found or why it failed, and one asked for while another runs starts none.
TEST(ManualUpdateCheck, TheWindowTellsWhatEachCheckFoundAndWhyOneFailed) {
  const std::string release = updatetest::ReadFileBytes(wintest::HostToWindowsPath(VANTLE_RELEASE_UNSIGNED));
  Installed installed;
  wintest::Process vantle("\"" + std::filesystem::path(installed.Write("vtl64.exe", release)).string() + "\"");
  HWND main = wintest::WaitForTopWindow(vantle.id(), 30000, wintest::HasMenu);
  ASSERT_NE(nullptr, main);
  const auto told = [&](const char* expected, DWORD timeoutMs = 30000) {
    const std::string text = wintest::AnswerMessage(vantle.id(), timeoutMs);
    return text.find(expected) != std::string::npos ? ::testing::AssertionSuccess()
                                                    : ::testing::AssertionFailure() << text;
  };
  EXPECT_TRUE(told("<none>", 2000)) << "the start-up check is silent";
  const auto byKey = [&] { PostMessageW(GetDlgItem(main, 901), WM_KEYDOWN, VK_F5, 1); };
  const auto byMenu = [&] { PostMessageW(main, WM_COMMAND, 197, 0); };
  const unsigned short port = VANTLE_TEST_UPDATE_PORT;

  byKey();  // nobody listens on the port
  EXPECT_TRUE(told("Vantle could not check for updates.\r\n\r\nThe update server (127.0.0.1) could not be "
                   "reached: no connection could be made"));
  {
    RealServer server(port);
    ASSERT_EQ("", server.error());
    server.Publish(kProduct, "vtl64.exe", release);
    byMenu();
    EXPECT_TRUE(told("Vantle is up to date."));
  }
  {
    ScriptedServer server(HttpReply("<html><body>Service Unavailable"), std::string::npos, false, false, port);
    byKey();
    EXPECT_TRUE(told("The update server's reply could not be read: it is not XML."));
  }
  {
    ScriptedServer server(HttpReply("<html>"), 0, false, false, port);
    byMenu();
    ASSERT_TRUE(server.WaitUntilHeld(20000));
    byKey();
    EXPECT_TRUE(told("An update check is already running.", 10000));
    server.Release();
    EXPECT_TRUE(told("it is not XML"));
    EXPECT_EQ(1u, server.Requests().size()) << "the second request started no check";
  }
  PostMessageW(main, WM_CLOSE, 0, 0);
  DWORD code = 1;
  EXPECT_TRUE(vantle.Wait(20000, &code) && code == 0);
}
