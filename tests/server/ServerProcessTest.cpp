// The real vantle-update-server program on a free loopback port, spoken to
// over HTTP: good and bad requests, the log it writes, start-up failures and
// a clean stop on SIGINT/SIGTERM.
#include "ServerTestSupport.h"

#include "server/FormRequest.h"
#include "server/HttpServer.h"
#include "xml/Xml.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using server_test::ReadFileBytes;
using server_test::ReleaseTree;

const char kAbcDigest[] = "A9993E364706816ABA3E25717850C26C9CD0D89D";

// One run of the server program; killed in the destructor if a test left it
// running.
class ServerProcess {
 public:
  explicit ServerProcess(const fs::path& dir) : dir_(dir) {}
  ~ServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Starts the program; with waitForPort, returns once it has written its
  // port file (or has exited).
  void Start(std::vector<std::string> args, bool waitForPort = true) {
    portFile_ = dir_ / "port";
    std::error_code ignored;
    fs::remove(portFile_, ignored);
    args.insert(args.begin(), VANTLE_UPDATE_SERVER);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    if (!waitForPort) return;
    for (int i = 0; i < 300 && !fs::exists(portFile_); ++i) {
      if (Exited()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(fs::exists(portFile_)) << ReadFileBytes(dir_ / "stderr");
    const std::string text = ReadFileBytes(portFile_);
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), '\n');
    port_ = std::stoi(text);
    ASSERT_GT(port_, 0);
  }

  // Exit code after the signal, or -1 when it did not end within 15 s or
  // ended by a signal.
  int Stop(int signal) {
    kill(pid_, signal);
    return Wait();
  }
  int Wait() {
    for (int i = 0; i < 300; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

  int Port() const { return port_; }
  std::string Stdout() const { return ReadFileBytes(dir_ / "stdout"); }
  std::string Stderr() const { return ReadFileBytes(dir_ / "stderr"); }
  std::string PortFile() const { return portFile_.string(); }

 private:
  bool Exited() {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return true;
    }
    return false;
  }

  fs::path dir_;
  fs::path portFile_;
  pid_t pid_ = -1;
  int port_ = 0;
};

class ServerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = tree_.Root() / "work";
    fs::create_directories(work_);
    tree_.Write("vtl64.exe", "abc");
    tree_.Write("big.bin", server_test::RandomText(300000, 9));
  }
  std::vector<std::string> Args() {
    return {"--root", tree_.Root().string(), "--port", "0", "--port-file", (work_ / "port").string()};
  }
  ReleaseTree tree_;
  fs::path work_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = line.find(' ', start);
    fields.push_back(line.substr(start, space - start));
    if (space == std::string::npos) return fields;
    start = space + 1;
  }
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// "<time> <addr> <method> <target> <status> <in> <out>[ body=<escaped>]",
// the body escaped so that it holds only '!'..'~'.
bool IsLogLine(const std::vector<std::string>& f, bool withBody) {
  if (f.size() != (withBody ? 8u : 7u)) return false;
  if (!std::regex_match(f[0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"))) return false;
  if (f[1] != "127.0.0.1" || f[2].empty() || f[3].empty()) return false;
  if (f[4].size() != 3 || !AllDigits(f[4]) || !AllDigits(f[5]) || !AllDigits(f[6])) return false;
  if (!withBody) return true;
  if (f[7].rfind("body=", 0) != 0) return false;
  for (unsigned char c : f[7])
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

std::string HashOf(const std::string& xml, const char* field) {
  XmlDocument doc;
  doc.ParseText(xml.c_str());
  XmlElement* e = doc.GetRoot() ? doc.GetRoot()->FindChild(field) : nullptr;
  return e ? e->GetText() : std::string("(none)");
}

const char kForm[] = "application/x-www-form-urlencoded";
const std::string kEndpoint = std::string("/update/u.php?e=") + ReleaseTree::kProduct;

TEST_F(ServerProcessTest, AnswersEveryRequestAndLogsEachOnce) {
  ServerProcess server(work_);
  auto args = Args();
  args.insert(args.end(), {"--log", (work_ / "access.log").string(), "--log-bodies"});
  ASSERT_NO_FATAL_FAILURE(server.Start(args));
  httplib::Client client("127.0.0.1", server.Port());

  // A body well past the 8 KB at which the HTTP library would refuse form
  // posts on its own: 2,000 fields.
  std::string manyFields;
  for (int i = 1; i <= 2000; ++i) manyFields += (i > 1 ? "&f" : "f") + std::to_string(i) + "=vtl64.exe";

  struct Request {
    std::string method, target, body;
    int status;
  };
  // Every target is tagged (t=...), which the server ignores, to find its log line.
  std::vector<Request> requests = {
      {"POST", kEndpoint + "&f=hash&t=1", "f1=vtl64.exe&f2=big.bin", 200},
      {"POST", kEndpoint + "&f=zip&t=2", "f1=big.bin&f2=vtl64.exe", 200},
      {"POST", kEndpoint + "&f=hash&t=3", "f1=vtl64.exe&f3=big.bin", 400},      // gap
      {"POST", kEndpoint + "&f=hash&t=4", "f1=vtl64%G1.exe", 400},              // escape
      {"POST", kEndpoint + "&f=list&t=5", "f1=vtl64.exe", 400},                 // function
      {"POST", "/update/u.php?f=hash&t=6", "f1=vtl64.exe", 400},                // no product
      {"POST", "/update/u.php?f=hash&e=NOPE&t=7", "f1=vtl64.exe", 404},        // product
      {"POST", kEndpoint + "&f=zip&t=8", "f1=..%2Fwork%2Fport", 404},           // outside
      {"POST", kEndpoint + "&f=zip&t=9", "f1=big.bin&from1=299995&size1=10", 400},  // outside
      {"GET", kEndpoint + "&f=hash&t=10", "", 405},
      {"PUT", kEndpoint + "&f=hash&t=11", "f1=vtl64.exe", 405},
      {"POST", "/update/other.php?t=12", "f1=vtl64.exe", 404},
      {"POST", kEndpoint + "&f=hash&t=13", std::string(1000001, 'a'), 413},
      {"POST", kEndpoint + "&f=hash&t=14", manyFields, 200},
      {"POST", kEndpoint + "&f=hash&t=15", std::string("f1=vtl64.exe\r\n\x01 %25", 19), 404},
      {"POST", kEndpoint + "&f=hash&t=16", "f1=vtl64.exe", 200},  // still serving
  };
  std::vector<std::string> replies;
  for (const Request& r : requests) {
    httplib::Result res = r.method == "GET"   ? client.Get(r.target.c_str())
                          : r.method == "PUT" ? client.Put(r.target.c_str(), r.body, kForm)
                                              : client.Post(r.target.c_str(), r.body, kForm);
    ASSERT_TRUE(res) << r.target << ": " << httplib::to_string(res.error());
    EXPECT_EQ(res->status, r.status) << r.target << ": " << res->body;
    if (r.status != 200) {
      EXPECT_EQ(res->get_header_value("Content-Type").rfind("text/plain", 0), 0u) << r.target;
      EXPECT_FALSE(res->body.empty()) << r.target;
    }
    replies.push_back(res->body);
  }
  EXPECT_EQ(HashOf(replies[0], "f1"), kAbcDigest);
  std::vector<server_test::ZipEntry> entries;
  ASSERT_TRUE(server_test::ReadZip(replies[1], entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].bytes == ReadFileBytes(tree_.Product() / "big.bin"));
  EXPECT_EQ(entries[1].bytes, "abc");
  EXPECT_EQ(HashOf(replies[13], "f2000"), kAbcDigest);
  EXPECT_EQ(HashOf(replies[15], "f1"), kAbcDigest);

  // A chunked body over the limit has no length to refuse it by up front.
  httplib::Result chunked = client.Post(
      (kEndpoint + "&f=hash&t=17").c_str(),
      [](size_t offset, httplib::DataSink& sink) {
        if (offset >= 1200000) {
          sink.done();
          return true;
        }
        const std::string piece(60000, 'b');
        return sink.write(piece.data(), piece.size());
      },
      kForm);
  ASSERT_TRUE(chunked);
  EXPECT_EQ(chunked->status, 413);
  requests.push_back({"POST", kEndpoint + "&f=hash&t=17", "", 413});
  replies.push_back(chunked->body);
  httplib::Result after = client.Post((kEndpoint + "&f=hash&t=18").c_str(), "f1=big.bin", kForm);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
  requests.push_back({"POST", kEndpoint + "&f=hash&t=18", "f1=big.bin", 200});
  replies.push_back(after->body);

  EXPECT_EQ(server.Stop(SIGTERM), 0) << server.Stderr();

  // One line per request, each in the agreed shape, found by its tag.
  const std::vector<std::string> lines = Lines(ReadFileBytes(work_ / "access.log"));
  ASSERT_EQ(lines.size(), requests.size());
  std::map<std::string, std::vector<std::string>> byTarget;
  for (const std::string& line : lines) {
    const std::vector<std::string> f = Fields(line);
    ASSERT_TRUE(IsLogLine(f, true)) << line.substr(0, 200);
    byTarget[f[3]] = f;
  }
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const Request& r = requests[i];
    ASSERT_EQ(byTarget.count(r.target), 1u) << r.target;
    const std::vector<std::string>& f = byTarget[r.target];
    EXPECT_EQ(f[2], r.method);
    EXPECT_EQ(std::stoi(f[4]), r.status) << r.target;
    EXPECT_EQ(std::stoull(f[6]), replies[i].size()) << r.target;
    if (r.status == 413) continue;  // refused unread: the body is not all there
    EXPECT_EQ(std::stoull(f[5]), r.body.size()) << r.target;
    std::string body;
    ASSERT_TRUE(vantle_server::PercentDecode(f[7].substr(5), false, body)) << r.target;
    EXPECT_TRUE(body == r.body) << r.target;
  }
  EXPECT_EQ(byTarget[kEndpoint + "&f=hash&t=13"][5], "1000001");
  EXPECT_EQ(byTarget[kEndpoint + "&f=hash&t=17"][5], "1200000");
}

TEST_F(ServerProcessTest, LogsToStandardOutputAndStopsOnSigint) {
  ServerProcess server(work_);
  ASSERT_NO_FATAL_FAILURE(server.Start(Args()));
  httplib::Client client("127.0.0.1", server.Port());
  httplib::Result res = client.Post((kEndpoint + "&f=hash").c_str(), "f1=vtl64.exe", kForm);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(server.Stop(SIGINT), 0);
  const std::vector<std::string> lines = Lines(server.Stdout());
  ASSERT_EQ(lines.size(), 1u);
  const std::vector<std::string> f = Fields(lines[0]);
  ASSERT_TRUE(IsLogLine(f, false)) << lines[0];
  EXPECT_EQ(f[2], "POST");
  EXPECT_EQ(f[3], kEndpoint + "&f=hash");
  EXPECT_EQ(f[4], "200");
  EXPECT_EQ(f[5], "12");
  EXPECT_EQ(std::stoull(f[6]), res->body.size());
  EXPECT_FALSE(fs::exists(server.PortFile() + ".tmp"));
}

// A stop soon after start, as test harnesses do, ends the server cleanly.
TEST_F(ServerProcessTest, StopsRightAfterStart) {
  for (int i = 0; i < 5; ++i) {
    ServerProcess server(work_);
    ASSERT_NO_FATAL_FAILURE(server.Start(Args()));
    EXPECT_EQ(server.Stop(i % 2 ? SIGINT : SIGTERM), 0) << "round " << i;
  }
}

TEST_F(ServerProcessTest, ManyClientsAtOnce) {
  ServerProcess server(work_);
  auto args = Args();
  args.insert(args.end(), {"--io-threads", "3", "--log", (work_ / "access.log").string()});
  ASSERT_NO_FATAL_FAILURE(server.Start(args));
  std::vector<std::thread> threads;
  std::vector<int> failures(16, 0);
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      httplib::Client client("127.0.0.1", server.Port());
      for (int i = 0; i < 25; ++i) {
        httplib::Result res = client.Post((kEndpoint + "&f=hash").c_str(), "f1=vtl64.exe&f2=big.bin", kForm);
        if (!res || res->status != 200 || HashOf(res->body, "f1") != kAbcDigest) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  // Every line whole, from whichever thread answered, and written while the
  // server runs, not held until it stops.
  std::vector<std::string> lines;
  for (int i = 0; i < 100 && lines.size() < 16u * 25u; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    lines = Lines(ReadFileBytes(work_ / "access.log"));
  }
  EXPECT_EQ(server.Stop(SIGTERM), 0);
  EXPECT_EQ(lines.size(), 16u * 25u);
  for (const std::string& line : lines) EXPECT_TRUE(IsLogLine(Fields(line), false)) << line;
}

// --- slow, idle and too many clients -----------------------------------------

// A raw TCP connection to the server from a chosen loopback address.
class RawClient {
 public:
  RawClient(int port, const char* from) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(std::uint16_t(port));
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                 connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return connected_; }
  bool Send(const std::string& bytes) { return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }

  // What arrives until the server closes the connection or the time is up;
  // closed tells which.
  std::string ReadUntilClosed(std::chrono::milliseconds within, bool& closed) {
    std::string got;
    closed = false;
    const auto end = std::chrono::steady_clock::now() + within;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) return got;
      char buf[4096];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed = true;
        return got;
      }
      got.append(buf, std::size_t(n));
    }
  }

  // Still open, with nothing to read: the server has neither answered nor
  // closed it.
  bool Waiting() {
    char c;
    const ssize_t n = recv(fd_, &c, 1, MSG_DONTWAIT | MSG_PEEK);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

std::string HashQuery(const std::string& connection) {
  return "POST " + kEndpoint + "&f=hash HTTP/1.1\r\nHost: x\r\nContent-Type: " + kForm +
         "\r\nContent-Length: 12\r\nConnection: " + connection + "\r\n\r\nf1=vtl64.exe";
}

TEST_F(ServerProcessTest, IdleAndSlowClientsDoNotHoldUpOthers) {
  ServerProcess server(work_);
  auto args = Args();
  args.insert(args.end(), {"--per-address-limit", "0", "--request-timeout", "30"});
  ASSERT_NO_FATAL_FAILURE(server.Start(args));
  // More half-sent requests and silent connections than the server has
  // threads, from another address.
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 150; ++i) {
    slow.push_back(std::make_unique<RawClient>(server.Port(), "127.0.0.2"));
    ASSERT_TRUE(slow.back()->Connected()) << i;
    if (i % 2) {
      ASSERT_TRUE(slow.back()->Send("POST /update/u.php?f=ha"));
    }
  }
  // Answered while every one of them is still waiting for its deadline.
  for (int round = 0; round < 3; ++round) {
    RawClient client(server.Port(), "127.0.0.1");
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send(HashQuery("close")));
    bool closed = false;
    const std::string reply = client.ReadUntilClosed(std::chrono::seconds(20), closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
    EXPECT_NE(reply.find(kAbcDigest), std::string::npos) << reply;
  }
  int waiting = 0;
  for (auto& c : slow) waiting += c->Waiting() ? 1 : 0;
  EXPECT_EQ(waiting, 150);
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

// What clients other than the updater may send: several requests in one
// write, a body that waits for "100 Continue", HEAD, HTTP/1.0, headers too
// large, a request line that is not HTTP.
TEST_F(ServerProcessTest, PipelinedContinuedAndBrokenRequests) {
  ServerProcess server(work_);
  ASSERT_NO_FATAL_FAILURE(server.Start(Args()));
  const std::string zip = "POST " + kEndpoint + "&f=zip HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nf1=big.bin";
  // Ranges are deflated while they are sent: a chunked reply.
  const std::string ranges = "POST " + kEndpoint +
                             "&f=zip HTTP/1.1\r\nHost: x\r\nContent-Length: 29\r\n\r\nf1=big.bin&from1=7&size1=9000";
  struct Case {
    const char* what;
    std::string request;
    std::vector<std::string> replies;  // starts of the replies, in order
    const char* header = "";           // in one of them
  } cases[] = {
      {"pipelined", HashQuery("keep-alive") + zip + ranges + HashQuery("close"),
       {"HTTP/1.1 200", "HTTP/1.1 200", "HTTP/1.1 200", "HTTP/1.1 200"}, "\r\nConnection: close\r\n"},
      {"head", "HEAD " + kEndpoint + "&f=hash HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", {"HTTP/1.1 405"}},
      {"http/1.0", "POST " + kEndpoint + "&f=hash HTTP/1.0\r\nContent-Length: 12\r\n\r\nf1=vtl64.exe",
       {"HTTP/1.0 200"}},
      {"http/1.0 kept open",
       "POST " + kEndpoint + "&f=hash HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 12\r\n\r\nf1=vtl64.exe" +
           HashQuery("close"),
       {"HTTP/1.0 200", "HTTP/1.1 200"}, "\r\nConnection: keep-alive\r\n"},
      {"huge header", "POST / HTTP/1.1\r\nX: " + std::string(20000, 'x') + "\r\n\r\n", {"HTTP/1.1 431"}},
      {"not http", "HELLO THERE\r\n\r\n", {"HTTP/1.1 400"}},
  };
  for (const Case& c : cases) {
    RawClient client(server.Port(), "127.0.0.1");
    ASSERT_TRUE(client.Send(c.request)) << c.what;
    bool closed = false;
    const std::string got = client.ReadUntilClosed(std::chrono::seconds(10), closed);
    EXPECT_TRUE(closed) << c.what;
    EXPECT_NE(got.find(c.header), std::string::npos) << c.what << ": " << got.substr(0, 300);
    std::size_t at = 0;
    for (const std::string& start : c.replies) {
      EXPECT_EQ(got.compare(at, start.size(), start), 0) << c.what << ": " << got.substr(0, 300);
      const std::size_t next = got.find("HTTP/1.", at + 1);
      at = next == std::string::npos ? got.size() : next;
    }
    EXPECT_EQ(at, got.size()) << c.what << ": one reply too many";
  }
  // The head reply names the length of the body it leaves out.
  {
    RawClient client(server.Port(), "127.0.0.1");
    client.Send(cases[1].request);
    bool closed = false;
    const std::string got = client.ReadUntilClosed(std::chrono::seconds(10), closed);
    const std::size_t end = got.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(end + 4, got.size());
    EXPECT_EQ(got.find("Content-Length: 0\r\n"), std::string::npos) << got;
  }
  // A client that waits for consent before it sends the body.
  {
    RawClient client(server.Port(), "127.0.0.1");
    client.Send("POST " + kEndpoint + "&f=hash HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                "Content-Length: 12\r\nConnection: close\r\n\r\n");
    bool closed = false;
    const std::string consent = client.ReadUntilClosed(std::chrono::milliseconds(1000), closed);
    EXPECT_EQ(consent, "HTTP/1.1 100 Continue\r\n\r\n");
    client.Send("f1=vtl64.exe");
    const std::string got = client.ReadUntilClosed(std::chrono::seconds(10), closed);
    EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;
    EXPECT_NE(got.find(kAbcDigest), std::string::npos);
  }
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

TEST_F(ServerProcessTest, RequestsMustArriveWithinTheDeadline) {
  ServerProcess server(work_);
  auto args = Args();
  args.insert(args.end(), {"--request-timeout", "1", "--log", (work_ / "access.log").string()});
  ASSERT_NO_FATAL_FAILURE(server.Start(args));
  const std::string request = HashQuery("keep-alive");
  struct Case {
    const char* what;
    std::string sent;   // then nothing more
    const char* reply;  // the start of what comes back before the close
  } cases[] = {
      {"silent", "", ""},
      {"half a request line", request.substr(0, 20), "HTTP/1.1 408"},
      {"header without its end", request.substr(0, request.find("\r\n\r\n")), "HTTP/1.1 408"},
      {"half a body", request.substr(0, request.size() - 5), "HTTP/1.1 408"},
      // A whole request is answered, and the wait for the next one is timed too.
      {"a whole request", request, "HTTP/1.1 200"},
  };
  std::vector<std::unique_ptr<RawClient>> clients;
  for (const Case& c : cases) {
    clients.push_back(std::make_unique<RawClient>(server.Port(), "127.0.0.1"));
    ASSERT_TRUE(clients.back()->Connected());
    if (!c.sent.empty()) {
      ASSERT_TRUE(clients.back()->Send(c.sent));
    }
  }
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < clients.size(); ++i) {
    bool closed = false;
    const std::string got = clients[i]->ReadUntilClosed(std::chrono::seconds(10), closed);
    EXPECT_TRUE(closed) << cases[i].what;
    EXPECT_EQ(got.rfind(cases[i].reply, 0), 0u) << cases[i].what << ": " << got;
    if (std::string(cases[i].reply).empty()) {
      EXPECT_EQ(got, "") << cases[i].what;
    }
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(6));
  EXPECT_EQ(server.Stop(SIGTERM), 0);
  // The late requests are logged; the silent connection is not.
  const std::string log = ReadFileBytes(work_ / "access.log");
  EXPECT_EQ(Lines(log).size(), 4u) << log;
}

TEST_F(ServerProcessTest, ConnectionsBeyondTheAddressLimitAre503) {
  ServerProcess server(work_);
  auto args = Args();
  args.insert(args.end(), {"--per-address-limit", "3", "--log", (work_ / "access.log").string()});
  ASSERT_NO_FATAL_FAILURE(server.Start(args));
  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<RawClient>(server.Port(), "127.0.0.1"));
    ASSERT_TRUE(held.back()->Connected());
  }
  // Admission is decided as connections are accepted: one that is answered
  // shows that the three before it are counted.
  ASSERT_TRUE(held[2]->Send(HashQuery("keep-alive")));
  bool closed = false;
  std::string got = held[2]->ReadUntilClosed(std::chrono::milliseconds(500), closed);
  ASSERT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;

  // The fourth from that address is refused at once, whether it has sent
  // its request or not...
  for (bool sendFirst : {false, true}) {
    RawClient extra(server.Port(), "127.0.0.1");
    ASSERT_TRUE(extra.Connected());
    if (sendFirst) extra.Send(HashQuery("keep-alive"));
    got = extra.ReadUntilClosed(std::chrono::seconds(10), closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(got.rfind("HTTP/1.1 503", 0), 0u) << got;
    EXPECT_NE(got.find("Retry-After"), std::string::npos) << got;
  }
  // ...while another address is served.
  RawClient other(server.Port(), "127.0.0.2");
  ASSERT_TRUE(other.Send(HashQuery("close")));
  got = other.ReadUntilClosed(std::chrono::seconds(10), closed);
  EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;

  // A closed connection makes room again.
  held.pop_back();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  RawClient again(server.Port(), "127.0.0.1");
  ASSERT_TRUE(again.Send(HashQuery("close")));
  got = again.ReadUntilClosed(std::chrono::seconds(10), closed);
  EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;
  // So does one that keeps its end open after its last reply, once the
  // server has waited a little (not a whole request timeout) for it to close.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  RawClient late(server.Port(), "127.0.0.1");
  ASSERT_TRUE(late.Send(HashQuery("close")));
  got = late.ReadUntilClosed(std::chrono::seconds(10), closed);
  EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;

  EXPECT_EQ(server.Stop(SIGTERM), 0);
  int refusals = 0;
  for (const std::string& line : Lines(ReadFileBytes(work_ / "access.log"))) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() == 7 && f[4] == "503") ++refusals;
  }
  EXPECT_EQ(refusals, 2);
}

// The release script replaces a file under a running server, which answers
// for the new version at once, signatures included.
TEST_F(ServerProcessTest, PublishedBuildsAreServedAtOnce) {
  ServerProcess server(work_);
  ASSERT_NO_FATAL_FAILURE(server.Start(Args()));
  httplib::Client client("127.0.0.1", server.Port());
  auto post = [&](const char* function, const std::string& body) {
    httplib::Result res = client.Post((kEndpoint + "&f=" + function).c_str(), body, kForm);
    return res ? std::to_string(res->status) + " " + res->body : std::string("no reply");
  };
  const std::string oldSignatures = post("zip", "f1=vtl64.exe.sig");

  const fs::path build = work_ / "build";
  fs::create_directories(build);
  std::ofstream(build / "vtl64.exe", std::ios::binary) << "xyz";
  std::ofstream(build / "signed.exe", std::ios::binary) << "";
  auto publish = [&](const std::string& args) {
    const std::string command = std::string("bash ") + VANTLE_PUBLISH_SCRIPT + " --root " + tree_.Root().string() +
                                " " + args + " >" + (work_ / "publish.out").string() + " 2>&1";
    return std::system(command.c_str());
  };
  ASSERT_EQ(publish("--product " + std::string(ReleaseTree::kProduct) + " " + (build / "vtl64.exe").string()), 0)
      << ReadFileBytes(work_ / "publish.out");
  EXPECT_EQ(ReadFileBytes(work_ / "publish.out"), "vtl64.exe 66B27417D37E024C46526C2F6D358A754FC552F3\n");
  EXPECT_NE(post("hash", "f1=vtl64.exe").find("66B27417D37E024C46526C2F6D358A754FC552F3"), std::string::npos);
  EXPECT_NE(post("zip", "f1=vtl64.exe.sig"), oldSignatures);
  // Under another name, with the product id the program is built with.
  ASSERT_EQ(publish("--name other.dll " + (build / "signed.exe").string()), 0) << ReadFileBytes(work_ / "publish.out");
  EXPECT_TRUE(fs::exists(tree_.Product() / "other.dll"));
  // Bad names and missing files publish nothing.
  EXPECT_NE(publish("--product .. " + (build / "vtl64.exe").string()), 0);
  EXPECT_NE(publish("--name ../x.exe " + (build / "vtl64.exe").string()), 0);
  EXPECT_NE(publish("--product P " + (build / "missing.exe").string() + " " + (build / "vtl64.exe").string()), 0);
  EXPECT_FALSE(fs::exists(tree_.Root() / "P"));
  // No temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(tree_.Product())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"big.bin", "other.dll", "vtl64.exe"}));
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

TEST(ConnectionLimitKey, Ipv4ByAddressIpv6ByNetwork) {
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.2", "127.0.0.2"},
      {"::ffff:192.0.2.7", "192.0.2.7"},  // IPv4 through a dual-stack listener
      {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
      {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
      {"::1", "::/64"},
      {"not an address", "not an address"},
  };
  for (const auto& [address, key] : cases) EXPECT_EQ(vantle_server::ConnectionLimitKey(address), key) << address;
}

TEST_F(ServerProcessTest, StartupFailuresAreReported) {
  {
    ServerProcess server(work_);
    server.Start({"--root", (tree_.Root() / "missing").string(), "--port", "0"}, false);
    EXPECT_NE(server.Wait(), 0);
    EXPECT_NE(server.Stderr().find("missing"), std::string::npos) << server.Stderr();
  }
  {
    // A port somebody else holds.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    socklen_t len = sizeof addr;
    getsockname(holder, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string port = std::to_string(ntohs(addr.sin_port));

    ServerProcess server(work_);
    server.Start({"--root", tree_.Root().string(), "--port", port}, false);
    EXPECT_NE(server.Wait(), 0);
    EXPECT_NE(server.Stderr().find("cannot listen"), std::string::npos) << server.Stderr();
    close(holder);
  }
  {
    ServerProcess server(work_);
    server.Start({"--root", tree_.Root().string()}, false);  // no port
    EXPECT_NE(server.Wait(), 0);
    EXPECT_FALSE(server.Stderr().empty());
  }
}

}  // namespace
