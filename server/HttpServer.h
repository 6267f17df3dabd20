// The server's HTTP side: event loops (one per I/O thread) own the
// connections, each connection staying on the loop that accepted it, and a
// small pool of threads runs the requests the loops cannot answer at once. A
// connection that is idle, or that sends its request a byte at a time, costs
// a socket and a timer, never a thread, so it cannot keep other clients
// waiting.
//
//  - A whole request (header and body) must arrive within requestTimeout of
//    the moment the connection is ready for it (accepted, or the previous
//    reply sent). Late requests that had begun get 408; idle connections are
//    closed without a word.
//  - Each write of a reply must make progress within requestTimeout.
//  - Zip replies are written on a lane of their own (zipWorkers threads at a
//    lower priority), a piece at a time as the client takes them, so that
//    however many archives are asked for, hash queries are answered at
//    once and no reply is ever held whole in memory. The lane takes turns
//    between client addresses.
//  - A stop signal (SIGTERM, SIGINT) drains: nothing new is accepted, and
//    the requests under way are answered before Run() returns.
//  - No more than perAddressLimit connections from one client address, and
//    no more than maxConnections in all, are served at once; one more is
//    answered 503 and closed at once rather than queued.
#pragma once

#include "server/AccessLog.h"
#include "server/UpdateService.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantle_server {

struct HttpOptions {
  std::string bind = "127.0.0.1";
  int port = 0;  // 0 picks a free one
  std::chrono::milliseconds requestTimeout{30000};
  std::size_t perAddressLimit = 64;  // 0: no limit
  std::size_t maxConnections = 0;    // 0: from the process's descriptor limit
  unsigned workers = 16;             // threads that run requests
  unsigned zipWorkers = 0;           // threads that write zip replies; 0: half the cores, at least 1
  unsigned ioThreads = 0;            // threads that move bytes; 0: one per core
  bool stopOnSignals = true;         // SIGINT and SIGTERM end Run()
  // After a stop signal: how long the replies under way may take to finish.
  std::chrono::milliseconds stopTimeout{20000};
  // Called (on a thread that serves no client) when SIGHUP (true) or
  // SIGUSR1 (false) arrives.
  std::function<void(bool hangUp)> onReload;
};

using RequestHandler =
    std::function<ServiceReply(const std::string& method, const std::string& target, const std::string& body)>;
// Answers on the thread that read the request when it can do so at once
// (nothing: the request goes to a worker).
using QuickHandler = std::function<std::optional<ServiceReply>(const std::string& method, const std::string& target,
                                                               const std::string& body)>;

// Largest request header (request line and fields) read; a longer one is 431.
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
// A body over the service's limit is still read, and dropped, up to this
// size, so that the client reads its 413 in step; beyond it the connection
// is answered and closed without reading on.
constexpr std::uint64_t kMaxDrainedBodyBytes = 64u << 20;

// What the per-address limit counts a client by: an IPv4 address itself, an
// IPv6 address by its /64 network (one host is commonly handed a whole /64,
// so its single addresses cost nothing to change). An IPv4 client of a
// dual-stack listener counts as its IPv4 address. Text that is not an
// address comes back unchanged.
std::string ConnectionLimitKey(const std::string& address);

class HttpServer {
 public:
  HttpServer(HttpOptions options, RequestHandler handler, AccessLog& log, QuickHandler quick = nullptr);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens; false with a reason when the address or port cannot
  // be had. Stop signals are caught from here on.
  bool Listen(std::string& error);
  int Port() const;

  // Serves until Stop() or a stop signal; then ends every connection, waits
  // for requests being run and returns. A stop signal stops accepting at
  // once (a balancer sends new clients to another instance), ends idle
  // connections and lets every request already read be answered, for up to
  // stopTimeout, before that.
  void Run();
  // Safe from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vantle_server
