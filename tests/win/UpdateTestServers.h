#pragma once
// Update servers for the updater's tests under Wine: the real
// vantle-update-server (a Linux program, started through Wine), and a scripted
// one inside the test that answers canned bytes and records what it got.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WinTestUtil.h"

namespace updatetest {

// An HTTP/1.1 reply with the given status line, body and, unless told not
// to, a Content-Length.
std::string HttpReply(const std::string& body, const std::string& status = "200 OK",
                      bool withLength = true);

struct RecordedRequest {
  std::string requestLine;  // "POST /path?query HTTP/1.1"
  std::string headers;      // header lines as received, each ending in "\r\n"
  std::string body;
  // The value of a header (name compared without case), or "" when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

// Listens on 127.0.0.1 (a free port) and answers every request with the same
// bytes. With a hold point, it sends only the first holdAfter bytes of the
// reply and the rest after Release() (or closes after Release() when
// closeAtHold is set). It listens on port when one is given.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::string reply, std::size_t holdAfter = std::string::npos,
                          bool closeAtHold = false, bool holdEachRequest = false, unsigned short port = 0);
  // Answers the n-th request with replies[n], and every later one with the
  // last reply.
  explicit ScriptedServer(std::vector<std::string> replies);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  bool listening() const { return port_ != 0; }
  unsigned short port() const { return port_; }
  std::wstring Url() const;  // http://127.0.0.1:<port>/update/u.php
  // Lets the held reply go on; with holdEachRequest, one Release lets one
  // more request past its hold point.
  void Release();
  // True once a connection has reached the hold point.
  bool WaitUntilHeld(DWORD timeoutMs);
  std::vector<RecordedRequest> Requests();

 private:
  void Serve();
  void Answer(SOCKET client);

  std::vector<std::string> replies_;
  std::size_t holdAfter_;
  bool closeAtHold_;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
  bool holdEach_ = false;
  std::size_t releases_ = 0;
  bool held_ = false;
  std::vector<RecordedRequest> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nobody listens on (bound once, then let go).
unsigned short UnusedPort();

// The real update server on a free port (or the one given), serving a
// release folder of its own, with its access log (request bodies included)
// in that folder.
class RealServer {
 public:
  explicit RealServer(unsigned short port = 0);
  ~RealServer();
  RealServer(const RealServer&) = delete;
  RealServer& operator=(const RealServer&) = delete;

  // Empty when the server runs; otherwise what went wrong.
  const std::string& error() const { return error_; }
  std::wstring Url() const;
  // Publishes bytes as product/name in the release folder.
  void Publish(const std::string& product, const std::string& name, const std::string& bytes);
  // The access log's lines, once there are atLeast of them (or 5 s passed).
  std::vector<std::string> LogLines(std::size_t atLeast) const;
  // A Windows path inside the test's own folder.
  std::string WindowsPath(const std::string& name) const;

 private:
  std::string folder_;  // host (Linux) path
  std::string error_;
  unsigned short port_ = 0;
  bool launched_ = false;
};

std::string ReadFileBytes(const std::string& windowsPath);
void WriteFileBytes(const std::string& windowsPath, const std::string& bytes);

// SHA-1 of bytes as the updater writes it (40 upper-case hex digits).
std::string Sha1Text(const std::string& bytes);

// The installed files of one test, in a temporary folder of their own.
class Installed {
 public:
  Installed();
  ~Installed();
  Installed(const Installed&) = delete;
  Installed& operator=(const Installed&) = delete;
  // Writes the file and returns its full path.
  std::wstring Write(const std::string& name, const std::string& bytes);

 private:
  std::string folder_;
};

}  // namespace updatetest
