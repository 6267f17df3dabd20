// vantle-update-server: serves a release folder to Vantle's updater.
//
//   vantle-update-server --root DIR --port N [--bind ADDR] [--port-file FILE]
//                        [--log FILE] [--log-bodies]
//
// The HTTP side only: reading bodies, writing replies and the access log.
// What a request means is decided by UpdateService.
#include "server/AccessLog.h"
#include "server/UpdateService.h"

#include <httplib.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using vantle_server::AccessLog;
using vantle_server::LogRecord;
using vantle_server::ServiceReply;
using vantle_server::UpdateService;

struct Options {
  std::string root;
  std::string bind = "127.0.0.1";
  int port = -1;
  std::string portFile;
  std::string logFile;
  bool logBodies = false;
};

const char kUsage[] =
    "usage: vantle-update-server --root DIR --port N [--bind ADDR] [--port-file FILE]\n"
    "                            [--log FILE] [--log-bodies]\n"
    "  --root DIR        release folder: DIR/<product id>/<file name>\n"
    "  --port N          port to listen on; 0 picks a free one\n"
    "  --bind ADDR       address to listen on (default 127.0.0.1)\n"
    "  --port-file FILE  write the bound port and a line end to FILE once listening\n"
    "  --log FILE        append the access log to FILE instead of standard output\n"
    "  --log-bodies      add each request body, %-escaped, to its log line\n";

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vantle-update-server: %s needs a value\n", arg.c_str());
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string port;
    if (arg == "--root") {
      if (!value(o.root)) return false;
    } else if (arg == "--bind") {
      if (!value(o.bind)) return false;
    } else if (arg == "--port-file") {
      if (!value(o.portFile)) return false;
    } else if (arg == "--log") {
      if (!value(o.logFile)) return false;
    } else if (arg == "--log-bodies") {
      o.logBodies = true;
    } else if (arg == "--port") {
      if (!value(port)) return false;
      char* end = nullptr;
      const long n = std::strtol(port.c_str(), &end, 10);
      if (port.empty() || *end || n < 0 || n > 65535) {
        std::fprintf(stderr, "vantle-update-server: bad port \"%s\"\n", port.c_str());
        return false;
      }
      o.port = int(n);
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      std::fprintf(stderr, "vantle-update-server: unknown option \"%s\"\n%s", arg.c_str(), kUsage);
      return false;
    }
  }
  if (o.root.empty() || o.port < 0) {
    std::fprintf(stderr, "vantle-update-server: --root and --port are required\n%s", kUsage);
    return false;
  }
  return true;
}

// What the request handler read of a body, handed to the logger, which runs
// on the same thread once the reply is written. Tagged with the request's
// address so that a request the handler never saw cannot pick up an old one.
struct BodyNote {
  const httplib::Request* request = nullptr;
  std::uint64_t bytes = 0;
  std::string body;
};
thread_local BodyNote t_note;

void Answer(const ServiceReply& reply, httplib::Response& res) {
  res.status = reply.status;
  res.set_content(reply.body, reply.contentType.c_str());
  if (!reply.allow.empty()) res.set_header("Allow", reply.allow);
}

bool WritePortFile(const std::string& path, int port) {
  const std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), "w");
  if (!f) return false;
  const bool written = std::fprintf(f, "%d\n", port) > 0;
  const bool closed = std::fclose(f) == 0;
  return written && closed && std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;

  struct stat rootInfo;
  if (::stat(options.root.c_str(), &rootInfo) != 0 || !S_ISDIR(rootInfo.st_mode)) {
    std::fprintf(stderr, "vantle-update-server: release folder %s is not a directory\n",
                 options.root.c_str());
    return 1;
  }

  std::FILE* logStream = stdout;
  if (!options.logFile.empty()) {
    logStream = std::fopen(options.logFile.c_str(), "a");
    if (!logStream) {
      std::fprintf(stderr, "vantle-update-server: cannot open log %s: %s\n", options.logFile.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }

  // SIGINT and SIGTERM are taken by a thread of their own (below), so they
  // are blocked before any other thread exists; a client that hangs up
  // mid-reply must not kill the server.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  UpdateService service(options.root);
  AccessLog log(logStream, options.logBodies);
  httplib::Server server;

  // Our own socket options: SO_REUSEADDR for quick restarts, but not
  // SO_REUSEPORT, so that a port already in use is reported, not shared.
  std::atomic<int> listenSocket{-1};
  server.set_socket_options([&](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listenSocket = sock;
  });
  server.set_payload_max_length(UpdateService::kMaxBodyBytes);
  // Replies go out as a header write and a body write; without this the body
  // waits for the client's delayed acknowledgement of the header (~40 ms).
  server.set_tcp_nodelay(true);
  // Each worker serves one connection at a time. With many more clients than
  // workers, a short keep-alive (the library's 5 requests) hands workers
  // round the waiting connections fairly; measured with 1000 clients, longer
  // keep-alives left some clients waiting seconds.
  const unsigned threads = std::max(32u, 8 * std::thread::hardware_concurrency());
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };

  // POST bodies are read here rather than by the library, which would refuse
  // form bodies far below our limit and parse them into its own fields.
  auto readAndServe = [&](const httplib::Request& req, httplib::Response& res,
                          const httplib::ContentReader& reader) {
    t_note = BodyNote{&req, 0, {}};
    bool tooLarge = false;
    const bool read = reader([&](const char* data, size_t n) {
      t_note.bytes += n;
      // Past the limit the rest is still read, and dropped, so that the
      // connection stays in step for the reply.
      if (t_note.body.size() + n > UpdateService::kMaxBodyBytes) tooLarge = true;
      if (!tooLarge) t_note.body.append(data, n);
      return true;
    });
    if (tooLarge || res.status == 413) {
      if (t_note.bytes == 0) t_note.bytes = req.get_header_value<std::uint64_t>("Content-Length");
      Answer(UpdateService::BodyTooLarge(), res);
    } else if (!read) {
      res.status = 400;
      res.set_content("request body could not be read\n", "text/plain; charset=utf-8");
    } else {
      Answer(service.Handle(req.method, req.target, t_note.body), res);
    }
  };
  auto serve = [&](const httplib::Request& req, httplib::Response& res) {
    t_note = BodyNote{&req, req.body.size(), req.body};
    Answer(service.Handle(req.method, req.target, req.body), res);
  };
  server.Post(".*", readAndServe);
  server.Put(".*", readAndServe);
  server.Patch(".*", readAndServe);
  server.Delete(".*", readAndServe);
  server.Get(".*", serve);
  server.Options(".*", serve);

  server.set_logger([&](const httplib::Request& req, const httplib::Response& res) {
    const bool noted = t_note.request == &req;
    LogRecord record;
    record.when = std::time(nullptr);
    record.remoteAddr = req.remote_addr;
    record.method = req.method;
    record.target = req.target;
    record.status = res.status;
    record.requestBytes = noted ? t_note.bytes : req.body.size();
    record.replyBytes = req.method == "HEAD" ? 0 : res.body.size();
    record.body = noted ? &t_note.body : &req.body;
    log.Write(record);
    t_note = BodyNote{};
  });

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.bind.c_str());
  } else if (!server.bind_to_port(options.bind.c_str(), port)) {
    port = -1;
  }
  if (port < 0) {
    std::fprintf(stderr,
                 "vantle-update-server: cannot listen on %s port %d (address in use or not "
                 "available)\n",
                 options.bind.c_str(), options.port);
    return 1;
  }
  // The library listens with a backlog of 5, which drops connections when
  // many clients arrive at once; listen again with the system's maximum.
  if (listenSocket >= 0) ::listen(listenSocket, SOMAXCONN);

  if (!options.portFile.empty() && !WritePortFile(options.portFile, port)) {
    std::fprintf(stderr, "vantle-update-server: cannot write %s: %s\n", options.portFile.c_str(),
                 std::strerror(errno));
    return 1;
  }

  std::atomic<bool> signalled{false};
  std::atomic<bool> listenEnded{false};
  std::thread stopper([&] {
    int received = 0;
    sigwait(&stopSignals, &received);
    signalled = true;
    // A stop before the accept loop has started would be lost (the port file
    // is out before that), so wait for the loop to run first.
    while (!server.is_running() && !listenEnded)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server.stop();
  });

  const bool ok = server.listen_after_bind();
  listenEnded = true;
  if (!signalled) {
    // Wake the stopper so that it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
  }
  stopper.join();
  if (logStream != stdout) std::fclose(logStream);
  return signalled || ok ? 0 : 1;
}
