// vantle-update-server: serves a release folder to Vantle's updater.
//
//   vantle-update-server --root DIR --port N [--bind ADDR] [--port-file FILE]
//                        [--log FILE] [--log-bodies] [--request-timeout SECONDS]
//                        [--per-address-limit N] [--max-connections N] [--workers N]
//                        [--zip-workers N] [--io-threads N] [--refresh SECONDS]
//                        [--stop-timeout SECONDS]
//
// Options, the port file and the log stream only. What a request means is
// decided by UpdateService, how it travels by HttpServer.
#include "server/AccessLog.h"
#include "server/HttpServer.h"
#include "server/UpdateService.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

using vantle_server::AccessLog;
using vantle_server::HttpOptions;
using vantle_server::HttpServer;
using vantle_server::UpdateService;

struct Options {
  std::string root;
  HttpOptions http;
  bool portGiven = false;
  std::string portFile;
  std::string logFile;
  bool logBodies = false;
  long refreshSeconds = 60;
};

const char kUsage[] =
    "usage: vantle-update-server --root DIR --port N [--bind ADDR] [--port-file FILE]\n"
    "                            [--log FILE] [--log-bodies] [--request-timeout SECONDS]\n"
    "                            [--per-address-limit N] [--max-connections N] [--workers N]\n"
    "                            [--zip-workers N] [--io-threads N] [--refresh SECONDS]\n"
    "                            [--stop-timeout SECONDS]\n"
    "  --root DIR               release folder: DIR/<product id>/<file name>; a link to\n"
    "                           it is followed at start and again on SIGHUP, which\n"
    "                           prepares the release it then leads to and switches over\n"
    "                           (SIGUSR1 only prepares it, so that a SIGHUP after it\n"
    "                           switches at once)\n"
    "  --port N                 port to listen on; 0 picks a free one\n"
    "  --bind ADDR              address to listen on (default 127.0.0.1)\n"
    "  --port-file FILE         write the bound port and a line end to FILE once listening\n"
    "  --log FILE               append the access log to FILE instead of standard output\n"
    "  --log-bodies             add each request body, %-escaped, to its log line\n"
    "  --request-timeout S      seconds a client has for a whole request, header and body,\n"
    "                           and for each write of a reply to make progress (default 30)\n"
    "  --per-address-limit N    connections served at once per client address; one more\n"
    "                           is answered 503 (default 64; 0 for no limit)\n"
    "  --max-connections N      connections served at once in all (default: as many as the\n"
    "                           descriptor limit allows)\n"
    "  --workers N              threads that run requests (default 16)\n"
    "  --zip-workers N          threads that write zip replies, apart from the others so that\n"
    "                           hash queries never wait for them (default: half the cores)\n"
    "  --io-threads N           threads that read requests and write replies, each with\n"
    "                           connections of its own (default: one per core)\n"
    "  --refresh S              hash and sign new or changed release files at start and\n"
    "                           then every S seconds, before clients ask (default 60;\n"
    "                           0: at start only)\n"
    "  --stop-timeout S         on SIGTERM or SIGINT, stop accepting and give the requests\n"
    "                           under way up to S seconds to be answered (default 20)\n";

// A whole number in [min, max], or false.
bool ParseCount(const std::string& text, long min, long max, long& out) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || n < min || n > max) return false;
  out = n;
  return true;
}

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
    // --name N with N a whole number in [min, max].
    auto count = [&](long min, long max, long& out) {
      std::string text;
      if (!value(text)) return false;
      if (!ParseCount(text, min, max, out)) {
        std::fprintf(stderr, "vantle-update-server: bad value \"%s\" for %s\n", text.c_str(), arg.c_str());
        return false;
      }
      return true;
    };
    long n = 0;
    if (arg == "--root") {
      if (!value(o.root)) return false;
    } else if (arg == "--bind") {
      if (!value(o.http.bind)) return false;
    } else if (arg == "--port-file") {
      if (!value(o.portFile)) return false;
    } else if (arg == "--log") {
      if (!value(o.logFile)) return false;
    } else if (arg == "--log-bodies") {
      o.logBodies = true;
    } else if (arg == "--port") {
      if (!count(0, 65535, n)) return false;
      o.http.port = int(n);
      o.portGiven = true;
    } else if (arg == "--request-timeout") {
      if (!count(1, 86400, n)) return false;
      o.http.requestTimeout = std::chrono::seconds(n);
    } else if (arg == "--per-address-limit") {
      if (!count(0, 1000000, n)) return false;
      o.http.perAddressLimit = std::size_t(n);
    } else if (arg == "--max-connections") {
      if (!count(1, 10000000, n)) return false;
      o.http.maxConnections = std::size_t(n);
    } else if (arg == "--refresh") {
      if (!count(0, 86400 * 365, n)) return false;
      o.refreshSeconds = n;
    } else if (arg == "--stop-timeout") {
      if (!count(0, 3600, n)) return false;
      o.http.stopTimeout = std::chrono::seconds(n);
    } else if (arg == "--workers") {
      if (!count(1, 1024, n)) return false;
      o.http.workers = unsigned(n);
    } else if (arg == "--zip-workers") {
      if (!count(1, 1024, n)) return false;
      o.http.zipWorkers = unsigned(n);
    } else if (arg == "--io-threads") {
      if (!count(1, 1024, n)) return false;
      o.http.ioThreads = unsigned(n);
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      std::fprintf(stderr, "vantle-update-server: unknown option \"%s\"\n%s", arg.c_str(), kUsage);
      return false;
    }
  }
  if (o.root.empty() || !o.portGiven) {
    std::fprintf(stderr, "vantle-update-server: --root and --port are required\n%s", kUsage);
    return false;
  }
  return true;
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
  // A client that hangs up mid-reply must not kill the server.
  signal(SIGPIPE, SIG_IGN);

  UpdateService service(options.root);
  AccessLog log(logStream, options.logBodies);
  // Digests and signatures are made ahead of the clients that will ask for
  // them, once at start and then whenever the folder is looked at again; a
  // reload (SIGHUP) has the root link followed again, by the same thread.
  std::mutex refreshMutex;
  std::condition_variable refreshWake;
  bool stopping = false, reload = false, prepare = false;
  options.http.onReload = [&](bool hangUp) {
    {
      std::lock_guard<std::mutex> lock(refreshMutex);
      (hangUp ? reload : prepare) = true;
    }
    refreshWake.notify_all();
  };
  HttpServer server(
      options.http,
      [&service](const std::string& method, const std::string& target, const std::string& body) {
        return service.Handle(method, target, body);
      },
      log,
      [&service](const std::string& method, const std::string& target, const std::string& body) {
        return service.HandleQuick(method, target, body);
      });

  std::string error;
  if (!server.Listen(error)) {
    std::fprintf(stderr, "vantle-update-server: cannot listen on %s port %d (%s)\n", options.http.bind.c_str(),
                 options.http.port, error.c_str());
    return 1;
  }
  if (!options.portFile.empty() && !WritePortFile(options.portFile, server.Port())) {
    std::fprintf(stderr, "vantle-update-server: cannot write %s: %s\n", options.portFile.c_str(),
                 std::strerror(errno));
    return 1;
  }

  std::thread refresher([&] {
    std::unique_lock<std::mutex> lock(refreshMutex);
    while (!stopping) {
      const bool reloading = std::exchange(reload, false), preparing = std::exchange(prepare, false);
      lock.unlock();
      if (!reloading && !preparing)
        service.Release().Refresh();
      else if (reloading ? !service.Release().Reload() : service.Release().Prepare().empty())
        std::fprintf(stderr, "vantle-update-server: %s leads to no folder; the release served stays\n",
                     options.root.c_str());
      lock.lock();
      const auto woken = [&] { return stopping || reload || prepare; };
      if (options.refreshSeconds == 0)
        refreshWake.wait(lock, woken);
      else
        refreshWake.wait_for(lock, std::chrono::seconds(options.refreshSeconds), woken);
    }
  });

  server.Run();
  {
    std::lock_guard<std::mutex> lock(refreshMutex);
    stopping = true;
  }
  refreshWake.notify_all();
  refresher.join();
  if (logStream != stdout) std::fclose(logStream);
  return 0;
}
