// server_bench: does the update server keep serving while one address holds
// thousands of idle and slow connections?
//
//   ./server_bench [--server PATH] [--idle N] [--slow N] [--queries N]
//                  [--connections N] [--duration SECONDS] [--rounds N]
//                  [--per-address-limit N] [--hold-only] [--keep]
//   ./server_bench --attack [--duration SECONDS] [--server PATH] [--keep]
//
// For each of two per-address limits (one that just lets the load run in,
// and none at all; or only the one given), one server run:
//   1. hash queries from 127.0.0.1, one connection each, nothing else going on;
//   2. the load run (wrk, --connections hash queries from 127.0.0.1, for
//      --duration seconds, default 5) alone;
//   3. hostile clients on 127.0.0.2: --idle connections that send nothing and
//      --slow that send one byte of an endless request line a second; every
//      connection the server closes (deadline, 503) is opened again a second
//      later, so the pressure stays (with --hold-only it is not: the clients
//      keep what they were let in with);
//   4. (first round only) the hash queries of step 1 again, with the hostile
//      clients there;
//   5. the load run again, with the hostile clients there;
//   steps 2 to 5 --rounds times (default 3).
// Prints the query latencies (median, 90th percentile, worst), the load
// run's requests per second with and without the hostile clients (each
// round, and the medians) and the medians' ratio, the server's CPU time per
// request in both (what the hostile clients cost it, whatever else the
// machine is doing), and whether the two
// targets were met: median latency within 100 ms, and requests per second
// down by no more than a tenth.
//
// With --attack, one server run of another kind: 16 connections from
// 127.0.0.2 ask, one request after another, for the most the server will
// give (every byte of a 60 MB release file as 1 MB ranges, and the 4 MB
// program named 500 times over), while 127.0.0.1 sends a hash query every
// 300 ms for --duration seconds (default 30), then fetches the program whole
// three times, as an updating client would. Prints the queries' latency, the
// fetches' times, the server's largest resident memory and the archives
// served, and whether the targets were met: median under 50 ms, memory
// under 512 MB.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kProduct[] = "5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915";

struct Options {
  std::string server = VANTLE_UPDATE_SERVER;
  int idle = 2000;
  int slow = 200;
  int queries = 200;
  int connections = 1000;
  int duration = 0;  // 0: 5 s, or 30 s with --attack
  int rounds = 3;
  int onlyLimit = -1;  // run one per-address limit only (0: none)
  bool keep = false;   // keep the work folder (wrk's output, the access log)
  bool reopen = true;  // open again what the server closes (--hold-only: not)
  bool attack = false;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

pid_t Spawn(const std::vector<std::string>& args, const fs::path& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (out.string() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int Connect(int port, const char* from, bool nonBlocking) {
  // Not inherited by wrk, whose event loop takes only descriptors below a
  // few thousand.
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, from, &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(std::uint16_t(port));
  remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 && errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

// One hash query on a fresh connection from 127.0.0.1; its time in
// milliseconds, or a negative number when the reply was not the digest.
double TimedQuery(int port, const std::string& digest) {
  const std::string request = std::string("POST /update/u.php?f=hash&e=") + kProduct +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: 12\r\nConnection: close\r\n\r\nf1=vtl64.exe";
  const auto start = Clock::now();
  const int fd = Connect(port, "127.0.0.1", false);
  if (fd < 0) return -1;
  timeval limit{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string reply;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    char buf[4096];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) reply.append(buf, std::size_t(n));
  }
  close(fd);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return reply.rfind("HTTP/1.1 200", 0) == 0 && reply.find(digest) != std::string::npos ? ms : -1;
}

struct Latency {
  double median = 0, p90 = 0, worst = 0;
  int failed = 0;
};

Latency MeasureQueries(int port, int count, const std::string& digest) {
  std::vector<double> times;
  Latency result;
  for (int i = 0; i < count; ++i) {
    const double ms = TimedQuery(port, digest);
    if (ms < 0)
      ++result.failed;
    else
      times.push_back(ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (times.empty()) return result;
  std::sort(times.begin(), times.end());
  result.median = times[times.size() / 2];
  result.p90 = times[times.size() * 9 / 10];
  result.worst = times.back();
  return result;
}

// The hostile clients of 127.0.0.2, kept open by a thread of their own. It
// shares the machine with the server and wrk, so it waits in epoll and
// touches only the connections that something happened to.
class Hostile {
 public:
  Hostile(int port, int idle, int slow, bool reopen)
      : port_(port), reopenClosed_(reopen), epoll_(epoll_create1(EPOLL_CLOEXEC)) {
    const auto now = Clock::now();
    for (int i = 0; i < idle + slow; ++i) {
      sockets_.push_back(Socket{-1, i >= idle});
      reopen_.push_back({now, i});
    }
    thread_ = std::thread([this] { Loop(); });
  }
  ~Hostile() {
    stop_ = true;
    thread_.join();
    for (Socket& s : sockets_)
      if (s.fd >= 0) close(s.fd);
    close(epoll_);
  }
  int Open() const { return open_; }
  long Reopened() const { return reopened_; }

 private:
  struct Socket {
    int fd;
    bool slow;
  };

  void Loop() {
    auto nextByte = Clock::now();
    epoll_event events[256];
    int open = 0;
    while (!stop_) {
      const auto now = Clock::now();
      while (!reopen_.empty() && reopen_.front().first <= now) {
        const int i = reopen_.front().second;
        reopen_.pop_front();
        Socket& s = sockets_[std::size_t(i)];
        s.fd = Connect(port_, "127.0.0.2", true);
        if (s.fd < 0) {
          reopen_.push_back({now + std::chrono::seconds(1), i});
          continue;
        }
        epoll_event e{};
        e.events = EPOLLIN | EPOLLRDHUP;
        e.data.u32 = std::uint32_t(i);
        epoll_ctl(epoll_, EPOLL_CTL_ADD, s.fd, &e);
        ++open;
      }
      open_ = open;
      // One more byte of an endless request line, every second.
      if (now >= nextByte) {
        nextByte = now + std::chrono::seconds(1);
        for (Socket& s : sockets_)
          if (s.fd >= 0 && s.slow) send(s.fd, "G", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      }
      // Whatever the server sends (a 503 or a 408) or a close ends a
      // connection; it is opened again a second later.
      const int n = epoll_wait(epoll_, events, 256, 50);
      for (int k = 0; k < n; ++k) {
        Socket& s = sockets_[events[k].data.u32];
        if (s.fd < 0) continue;
        close(s.fd);  // leaves the epoll set with it
        s.fd = -1;
        --open;
        if (!reopenClosed_) continue;
        reopen_.push_back({Clock::now() + std::chrono::seconds(1), int(events[k].data.u32)});
        ++reopened_;
      }
    }
  }

  int port_;
  bool reopenClosed_;
  int epoll_;
  std::vector<Socket> sockets_;
  std::deque<std::pair<Clock::time_point, int>> reopen_;  // in time order
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> open_{0};
  std::atomic<long> reopened_{0};
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string Joined(const std::vector<double>& values) {
  std::string text;
  for (double v : values) text += (text.empty() ? "" : ", ") + std::to_string(long(v + 0.5));
  return text;
}

struct LoadResult {
  double rps = 0;
  double cpuMicrosPerRequest = 0;  // the server's own time (user and system)
  std::string problems;
};

// A process's user and system time so far, in seconds.
double CpuSeconds(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  // Fields after the command: state is field 3; utime and stime are 14 and 15.
  std::vector<std::string> fields;
  std::size_t start = close + 2;
  while (start < stat.size() && fields.size() < 13) {
    const std::size_t space = stat.find(' ', start);
    fields.push_back(stat.substr(start, space - start));
    start = space == std::string::npos ? stat.size() : space + 1;
  }
  if (fields.size() < 13) return 0;
  return double(std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str())) / double(sysconf(_SC_CLK_TCK));
}

LoadResult LoadRun(const Options& o, pid_t server, int port, const fs::path& work, const char* tag) {
  const fs::path script = work / "hash.lua";
  std::ofstream(script) << "wrk.method = \"POST\"\nwrk.body = \"f1=vtl64.exe\"\n"
                           "wrk.headers[\"Content-Type\"] = \"application/x-www-form-urlencoded\"\n";
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/update/u.php?f=hash&e=" + kProduct;
  const fs::path out = work / (std::string("wrk-") + tag + ".out");
  const pid_t pid = Spawn({"wrk", "-t2", "-c" + std::to_string(o.connections), "-d" + std::to_string(o.duration) + "s",
                           "--timeout", "5s", "-s", script.string(), url},
                          out);
  LoadResult result;
  const double cpuBefore = CpuSeconds(server);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.problems = "wrk did not run";
    return result;
  }
  const double cpu = CpuSeconds(server) - cpuBefore;
  const std::string text = ReadFile(out);
  const std::size_t at = text.find("Requests/sec:");
  if (at != std::string::npos) result.rps = std::atof(text.c_str() + at + 13);
  const std::size_t in = text.find(" requests in ");
  if (in != std::string::npos) {
    const double requests = std::atof(text.c_str() + text.rfind('\n', in) + 1);
    if (requests > 0) result.cpuMicrosPerRequest = cpu * 1e6 / requests;
  }
  for (const char* bad : {"Socket errors", "Non-2xx"}) {
    const std::size_t b = text.find(bad);
    if (b != std::string::npos) result.problems += text.substr(b, text.find('\n', b) - b) + "; ";
  }
  return result;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (bool more = true; more && argc > 1;) {
    const std::string last = argv[argc - 1];
    more = last == "--keep" || last == "--hold-only" || last == "--attack";
    if (last == "--keep") o.keep = true;
    if (last == "--attack") o.attack = true;
    if (last == "--hold-only") o.reopen = false;
    if (more) --argc;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = argv[i + 1];
    if (a == "--server") o.server = v;
    else if (a == "--idle") o.idle = std::atoi(v);
    else if (a == "--slow") o.slow = std::atoi(v);
    else if (a == "--queries") o.queries = std::atoi(v);
    else if (a == "--connections") o.connections = std::atoi(v);
    else if (a == "--duration") o.duration = std::atoi(v);
    else if (a == "--rounds") o.rounds = std::atoi(v);
    else if (a == "--per-address-limit") o.onlyLimit = std::atoi(v);
    else return false;
  }
  return argc % 2 == 1 && o.queries > 0 && o.duration >= 0 && o.rounds > 0;
}

std::string Sha1Hex(const fs::path& file) {
  const std::string out = fs::temp_directory_path() / "server-bench-sha1";
  const pid_t pid = Spawn({"sha1sum", file.string()}, out);
  int status = 0;
  waitpid(pid, &status, 0);
  std::string hex = ReadFile(out).substr(0, 40);
  for (char& c : hex) c = char(std::toupper(static_cast<unsigned char>(c)));
  return hex;
}

// The largest resident set the process has had so far, in megabytes.
double PeakRssMb(pid_t pid) {
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::atof(status.c_str() + at + 6) / 1024.0;
}

// One connection's worth of the attack: the most expensive request, sent
// again as soon as its reply has been read to the end.
void Attacker(int port, const std::string& request, const std::atomic<bool>& stop, std::atomic<long>& replies,
              std::atomic<long long>& bytes) {
  while (!stop) {
    const int fd = Connect(port, "127.0.0.2", false);
    if (fd < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    long long got = 0;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
      char buf[65536];
      ssize_t n;
      while (!stop && (n = recv(fd, buf, sizeof buf, 0)) > 0) got += n;
    }
    close(fd);
    bytes += got;
    if (!stop) ++replies;
  }
}

int AttackRun(const Options& o, const fs::path& work, const std::string& digest) {
  constexpr int kAttackers = 16;
  constexpr std::uint64_t kBig = 60000000, kRange = 1000000;
  {
    std::mt19937_64 rng(2);
    std::string bytes(kBig, '\0');
    for (char& c : bytes) c = char(rng());
    std::ofstream(work / "root" / kProduct / "big.bin", std::ios::binary) << bytes;
  }
  std::string body;
  int n = 0;
  for (std::uint64_t from = 0; from < kBig; from += kRange) {
    const std::string k = std::to_string(++n);
    body += (n > 1 ? "&f" : "f") + k + "=big.bin&from" + k + "=" + std::to_string(from) + "&size" + k + "=" +
            std::to_string(kRange);
  }
  for (int i = 0; i < 500; ++i) body += "&f" + std::to_string(++n) + "=vtl64.exe";
  const std::string request = std::string("POST /update/u.php?f=zip&e=") + kProduct +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;

  const fs::path portFile = work / "port";
  const pid_t server = Spawn({o.server, "--root", (work / "root").string(), "--port", "0", "--port-file",
                              portFile.string(), "--log", (work / "access.log").string()},
                             work / "server.out");
  for (int i = 0; i < 400 && !fs::exists(portFile); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  if (server < 0 || !fs::exists(portFile)) {
    std::fprintf(stderr, "server_bench: the server did not start: %s\n", ReadFile(work / "server.out.err").c_str());
    return 1;
  }
  const int port = std::atoi(ReadFile(portFile).c_str());
  std::printf("server_bench --attack: %d connections from 127.0.0.2 each asking for %d entries (%.0f MB of\n"
              "source) again and again; a hash query from 127.0.0.1 every 300 ms for %d s; %u cores\n",
              kAttackers, n, double(kBig + 4000000) / 1e6, o.duration, std::thread::hardware_concurrency());

  std::atomic<bool> stop{false};
  std::atomic<long> replies{0};
  std::atomic<long long> bytes{0};
  std::vector<std::thread> attackers;
  for (int i = 0; i < kAttackers; ++i)
    attackers.emplace_back(Attacker, port, std::cref(request), std::cref(stop), std::ref(replies), std::ref(bytes));
  std::this_thread::sleep_for(std::chrono::seconds(2));  // every attacker at work

  std::vector<double> times;
  int failed = 0;
  const auto end = Clock::now() + std::chrono::seconds(o.duration);
  while (Clock::now() < end) {
    const auto next = Clock::now() + std::chrono::milliseconds(300);
    const double ms = TimedQuery(port, digest);
    if (ms < 0)
      ++failed;
    else
      times.push_back(ms);
    std::this_thread::sleep_until(next);
  }
  // An updating client from another address, fetching the whole program.
  const std::string fetchBody = "f1=vtl64.exe";
  const std::string fetch = std::string("POST /update/u.php?f=zip&e=") + kProduct +
                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                            "Content-Length: 12\r\nConnection: close\r\n\r\n" + fetchBody;
  std::vector<double> fetches;
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    const int fd = Connect(port, "127.0.0.1", false);
    long long got = 0;
    if (fd >= 0 && send(fd, fetch.data(), fetch.size(), MSG_NOSIGNAL) == ssize_t(fetch.size())) {
      char buf[65536];
      ssize_t n;
      while ((n = recv(fd, buf, sizeof buf, 0)) > 0) got += n;
    }
    if (fd >= 0) close(fd);
    if (got > 4000000) fetches.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  const double rss = PeakRssMb(server);
  const double cpu = CpuSeconds(server);
  stop = true;
  kill(server, SIGTERM);
  for (std::thread& t : attackers) t.join();
  int status = 0;
  waitpid(server, &status, 0);

  Latency l;
  std::sort(times.begin(), times.end());
  if (!times.empty()) {
    l.median = times[times.size() / 2];
    l.p90 = times[times.size() * 9 / 10];
    l.worst = times.back();
  }
  const bool latencyMet = failed == 0 && !times.empty() && l.median < 50.0;
  const bool memoryMet = rss < 512.0;
  std::printf("  hash query under attack: %zu answered, median %7.2f ms, 90%% %7.2f ms, worst %7.2f ms, failed %d  [%s]\n",
              times.size(), l.median, l.p90, l.worst, failed, latencyMet ? "under 50 ms" : "MISSED");
  std::printf("  the 4 MB program fetched whole from 127.0.0.1 meanwhile: %zu of 3, median %.0f ms\n", fetches.size(),
              Median(fetches));
  std::printf("  server's peak resident memory: %.0f MB  [%s]\n", rss, memoryMet ? "under 512 MB" : "MISSED");
  std::printf("  attack archives read to the end: %ld, %.0f MB in all; server CPU %.1f s\n", replies.load(),
              double(bytes.load()) / 1e6, cpu);
  std::printf("\nserver_bench: %s\n", latencyMet && memoryMet ? "both targets met" : "a target was MISSED");
  return latencyMet && memoryMet ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: server_bench [--server PATH] [--idle N] [--slow N] [--queries N] [--connections N] "
                 "[--duration SECONDS] [--rounds N] [--per-address-limit N] [--hold-only] [--keep]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  // Both ends of every connection live on this machine: the server, wrk and
  // the hostile clients inherit this limit.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  const std::size_t needed = std::size_t(o.idle + o.slow + o.connections) * 2 + 512;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
    std::fprintf(stderr, "server_bench: needs %zu open files, the limit is %llu\n", needed,
                 (unsigned long long)limit.rlim_cur);
    return 2;
  }

  const fs::path work = fs::temp_directory_path() / ("vantle-server-bench-" + std::to_string(getpid()));
  fs::create_directories(work / "root" / kProduct);
  {
    std::mt19937_64 rng(1);
    std::string bytes(4000000, '\0');
    for (char& c : bytes) c = char(rng());
    std::ofstream(work / "root" / kProduct / "vtl64.exe", std::ios::binary) << bytes;
  }
  const std::string digest = Sha1Hex(work / "root" / kProduct / "vtl64.exe");

  if (o.attack) {
    if (o.duration == 0) o.duration = 30;
    const int result = AttackRun(o, work, digest);
    std::error_code ignored;
    if (o.keep)
      std::printf("server_bench: kept %s\n", work.c_str());
    else
      fs::remove_all(work, ignored);
    return result;
  }

  if (o.duration == 0) o.duration = 5;
  std::printf("server_bench: %d idle and %d slow connections from 127.0.0.2; %d timed hash queries and a\n"
              "load run of %d connections for %d s from 127.0.0.1, %d rounds each way; %u cores\n",
              o.idle, o.slow, o.queries, o.connections, o.duration, o.rounds, std::thread::hardware_concurrency());
  bool allMet = true;
  const int limits[] = {o.onlyLimit > 0 ? o.onlyLimit : o.connections + 24, 0};
  for (int perAddress : limits) {
    if (o.onlyLimit >= 0 && perAddress != o.onlyLimit) continue;
    const fs::path portFile = work / "port";
    fs::remove(portFile);
    const pid_t server = Spawn({o.server, "--root", (work / "root").string(), "--port", "0", "--port-file",
                                portFile.string(), "--log", (work / "access.log").string(), "--per-address-limit",
                                std::to_string(perAddress)},
                               work / "server.out");
    for (int i = 0; i < 200 && !fs::exists(portFile); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    if (server < 0 || !fs::exists(portFile)) {
      std::fprintf(stderr, "server_bench: the server did not start: %s\n",
                   ReadFile(work / "server.out.err").c_str());
      return 1;
    }
    const int port = std::atoi(ReadFile(portFile).c_str());

    const Latency quiet = MeasureQueries(port, o.queries, digest);
    // Load runs with and without the hostile clients take turns, and the
    // medians are compared, so that what else this machine is doing weighs
    // on both alike.
    std::vector<double> alone, withHostile, cpuAlone, cpuHostile;
    std::string problems;
    Latency loud;
    int held = 0;
    long reopened = 0;
    for (int round = 0; round < o.rounds; ++round) {
      const LoadResult a = LoadRun(o, server, port, work, "alone");
      alone.push_back(a.rps);
      cpuAlone.push_back(a.cpuMicrosPerRequest);
      problems += a.problems;
      Hostile hostile(port, o.idle, o.slow, o.reopen);
      std::this_thread::sleep_for(std::chrono::seconds(3));  // all connected, some refused
      if (round == 0) {
        held = hostile.Open();
        loud = MeasureQueries(port, o.queries, digest);
      }
      const LoadResult h = LoadRun(o, server, port, work, "hostile");
      withHostile.push_back(h.rps);
      cpuHostile.push_back(h.cpuMicrosPerRequest);
      problems += h.problems;
      reopened += hostile.Reopened();
    }
    kill(server, SIGTERM);
    int status = 0;
    waitpid(server, &status, 0);

    const double aloneRps = Median(alone), hostileRps = Median(withHostile);
    const double ratio = aloneRps > 0 ? hostileRps / aloneRps : 0;
    const bool latencyMet = loud.failed == 0 && loud.median <= 100.0;
    const bool rpsMet = problems.empty() && ratio >= 0.9;
    allMet = allMet && latencyMet && rpsMet;
    std::printf("\nper-address limit %s%s:\n", perAddress ? std::to_string(perAddress).c_str() : "none",
                o.reopen ? "" : ", closed hostile connections not opened again");
    std::printf("  hostile connections open after 3 s: %d of %d; closed by the server and opened again: %ld\n", held,
                o.idle + o.slow, reopened);
    std::printf("  hash query, alone:        median %7.2f ms, 90%% %7.2f ms, worst %7.2f ms, failed %d\n",
                quiet.median, quiet.p90, quiet.worst, quiet.failed);
    std::printf("  hash query, with hostile: median %7.2f ms, 90%% %7.2f ms, worst %7.2f ms, failed %d  [%s]\n",
                loud.median, loud.p90, loud.worst, loud.failed, latencyMet ? "within 100 ms" : "MISSED");
    std::printf("  load run alone:        %s -> median %.0f requests/s\n", Joined(alone).c_str(), aloneRps);
    std::printf("  load run with hostile: %s -> median %.0f requests/s\n", Joined(withHostile).c_str(), hostileRps);
    std::printf("  server CPU per request: alone %.1f us, with hostile %.1f us (medians)\n", Median(cpuAlone),
                Median(cpuHostile));
    if (!problems.empty()) std::printf("  load run errors: %s\n", problems.c_str());
    std::printf("  ratio %.3f  [%s]\n", ratio, rpsMet ? "within a tenth" : "MISSED");
  }
  std::error_code ignored;
  if (o.keep)
    std::printf("server_bench: kept %s\n", work.c_str());
  else
    fs::remove_all(work, ignored);
  std::printf("\nserver_bench: %s\n", allMet ? "both targets met in every run" : "a target was MISSED");
  return allMet ? 0 : 1;
}
