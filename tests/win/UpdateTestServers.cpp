#include <winsock2.h>

#include "UpdateTestServers.h"

#include "update/Sha1.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace updatetest {

namespace {

struct WinsockSession {
  WinsockSession() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockSession() { WSACleanup(); }
};

void EnsureWinsock() { static WinsockSession session; }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SendAll(SOCKET socket, const char* data, std::size_t size) {
  while (size > 0) {
    const int sent = send(socket, data, static_cast<int>(std::min<std::size_t>(size, 65536)), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

std::string HttpReply(const std::string& body, const std::string& status, bool withLength) {
  std::string reply = "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nConnection: close\r\n";
  if (withLength) reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return reply + "\r\n" + body;
}

std::string RecordedRequest::Header(const std::string& name) const {
  std::istringstream lines(headers);
  std::string line;
  const std::string wanted = Lower(name) + ":";
  while (std::getline(lines, line)) {
    if (Lower(line.substr(0, wanted.size())) != wanted) continue;
    std::string value = line.substr(wanted.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    return value;
  }
  return "";
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  return Lower("\n" + headers).find("\n" + Lower(name) + ":") != std::string::npos;
}

ScriptedServer::ScriptedServer(std::vector<std::string> replies)
    : ScriptedServer(std::string()) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_ = std::move(replies);
}

ScriptedServer::ScriptedServer(std::string reply, std::size_t holdAfter, bool closeAtHold, bool holdEachRequest,
                               unsigned short port)
    : replies_{std::move(reply)}, holdAfter_(holdAfter), closeAtHold_(closeAtHold), holdEach_(holdEachRequest) {
  EnsureWinsock();
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  // A fixed port may still hold connections of the server before.
  const BOOL reuse = TRUE;
  if (port) setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  int length = sizeof address;
  if (listener_ == INVALID_SOCKET || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  stopping_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    releases_ = static_cast<std::size_t>(-1) / 2;
  }
  Release();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  if (thread_.joinable()) thread_.join();
}

std::wstring ScriptedServer::Url() const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/update/u.php";
}

void ScriptedServer::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  ++releases_;
  changed_.notify_all();
}

bool ScriptedServer::WaitUntilHeld(DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return held_; });
}

std::vector<RecordedRequest> ScriptedServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedServer::Serve() {
  while (!stopping_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    timeval wait{0, 100000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    Answer(client);
    closesocket(client);
  }
}

void ScriptedServer::Answer(SOCKET client) {
  std::string received;
  char buffer[4096];
  std::size_t headerEnd = std::string::npos;
  while ((headerEnd = received.find("\r\n\r\n")) == std::string::npos) {
    const int got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  RecordedRequest request;
  const std::size_t lineEnd = received.find("\r\n");
  request.requestLine = received.substr(0, lineEnd);
  request.headers = received.substr(lineEnd + 2, headerEnd + 2 - (lineEnd + 2));
  const std::string lengthText = request.Header("Content-Length");
  const std::size_t bodyLength = lengthText.empty() ? 0 : std::stoul(lengthText);
  request.body = received.substr(headerEnd + 4);
  while (request.body.size() < bodyLength) {
    const int got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    request.body.append(buffer, static_cast<std::size_t>(got));
  }
  std::string reply;
  std::size_t number = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    number = requests_.size();
    reply = replies_[std::min(requests_.size(), replies_.size()) - 1];
  }

  const std::size_t first = std::min(holdAfter_, reply.size());
  if (!SendAll(client, reply.data(), first)) return;
  if (first == reply.size()) return;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this, number] { return holdEach_ ? releases_ >= number : released_; });
  }
  if (!closeAtHold_) SendAll(client, reply.data() + first, reply.size() - first);
}

unsigned short UnusedPort() {
  EnsureWinsock();
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(probe);
  return ntohs(address.sin_port);
}

std::string ReadFileBytes(const std::string& windowsPath) {
  std::ifstream in(windowsPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& windowsPath, const std::string& bytes) {
  std::ofstream(windowsPath, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Sha1Text(const std::string& bytes) { return ::Sha1Text(bytes); }

Installed::Installed() {
  static int counter = 0;
  folder_ = (std::filesystem::temp_directory_path() /
             ("vantle-update-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter)))
                .string();
  std::filesystem::create_directories(folder_);
}

Installed::~Installed() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::wstring Installed::Write(const std::string& name, const std::string& bytes) {
  const std::filesystem::path path = std::filesystem::path(folder_) / name;
  WriteFileBytes(path.string(), bytes);
  return path.wstring();
}

namespace {

// This process's id on the host: Wine shows the host's /proc on drive Z:.
std::string HostProcessId() {
  const std::string stat = ReadFileBytes("Z:\\proc\\self\\stat");
  return stat.substr(0, stat.find(' '));
}

}  // namespace

RealServer::RealServer(unsigned short port) {
  static int counter = 0;
  folder_ = std::string(VANTLE_UPDATE_TEST_WORK) + "/" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
  const std::string server = VANTLE_UPDATE_SERVER_EXE;
  if (GetFileAttributesA(wintest::HostToWindowsPath(server).c_str()) == INVALID_FILE_ATTRIBUTES) {
    error_ = "the update server is not built: " + server +
             " is missing (build the native tree named by VANTLE_NATIVE_BUILD_DIR first)";
    return;
  }
  std::error_code failed;
  std::filesystem::create_directories(WindowsPath("root"), failed);
  if (failed) {
    error_ = "cannot make " + WindowsPath("root") + ": " + failed.message();
    return;
  }
  const std::string testProcess = HostProcessId();
  if (testProcess.empty()) {
    error_ = "cannot read this process's host id from Z:\\proc\\self\\stat";
    return;
  }
  WriteFileBytes(WindowsPath("running"), "");

  // Wine starts host programs but hands back no process handle for them, so
  // a host shell keeps the server on a leash: it ends the server when the
  // "running" file goes away or this test process is gone (also after a
  // crash), and leaves "stopped" behind when it has.
  const std::string script =
      server + " --root " + folder_ + "/root --port " + std::to_string(port) + " --port-file " + folder_ +
      "/port --log " + folder_ + "/server.log --log-bodies & s=$!; while [ -e " + folder_ +
      "/running ] && kill -0 $s 2>/dev/null && kill -0 " + testProcess +
      " 2>/dev/null; do sleep 0.1; done; { kill -9 $s; wait $s; } 2>/dev/null; touch " + folder_ + "/stopped";
  std::string commandLine = "Z:\\bin\\sh -c \"" + script + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    error_ = "could not start the update server through /bin/sh: error " + std::to_string(GetLastError());
    return;
  }
  if (info.hProcess) CloseHandle(info.hProcess);
  if (info.hThread) CloseHandle(info.hThread);
  launched_ = true;

  const ULONGLONG end = GetTickCount64() + 20000;
  while (GetTickCount64() < end) {
    const std::string text = ReadFileBytes(WindowsPath("port"));
    if (!text.empty() && text.back() == '\n') {
      port_ = static_cast<unsigned short>(std::stoul(text));
          return;
    }
    if (GetFileAttributesA(WindowsPath("stopped").c_str()) != INVALID_FILE_ATTRIBUTES) {
      error_ = "the update server ended at once";
      return;
    }
    Sleep(20);
  }
  error_ = "the update server wrote no port file within 20 s";
}

RealServer::~RealServer() {
  std::error_code ignored;
  if (launched_) {
    std::filesystem::remove(WindowsPath("running"), ignored);
    const ULONGLONG end = GetTickCount64() + 10000;
    while (GetTickCount64() < end && GetFileAttributesA(WindowsPath("stopped").c_str()) == INVALID_FILE_ATTRIBUTES) {
      Sleep(20);
    }
  }
  std::filesystem::remove_all(WindowsPath(""), ignored);
}

std::wstring RealServer::Url() const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/update/u.php";
}

std::string RealServer::WindowsPath(const std::string& name) const {
  return wintest::HostToWindowsPath(folder_ + "/" + name);
}

void RealServer::Publish(const std::string& product, const std::string& name, const std::string& bytes) {
  const std::string folder = WindowsPath("root/" + product);
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  WriteFileBytes(folder + "\\" + name, bytes);
}

std::vector<std::string> RealServer::LogLines(std::size_t atLeast) const {
  // The server writes a request's line after its reply, which may reach us
  // first.
  const ULONGLONG end = GetTickCount64() + 5000;
  for (;;) {
    std::istringstream text(ReadFileBytes(WindowsPath("server.log")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    if (lines.size() >= atLeast || GetTickCount64() >= end) return lines;
    Sleep(20);
  }
}

}  // namespace updatetest
