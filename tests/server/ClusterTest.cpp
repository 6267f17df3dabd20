// The service as scripts/serve-cluster.sh runs it: nginx in front of two
// instances, many clients going through the update protocol while one
// instance is killed, a new release is published and another instance is
// stopped. Prints the failed exchanges (the goal is none) and the throughput
// beside one instance alone.
#include "ServerTestSupport.h"

#include "update/Sha1.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

namespace {

namespace fs = std::filesystem;
const std::string kProduct = "P";
const std::string kScript = std::string("bash ") + VANTLE_CLUSTER_SCRIPT;

// Whether a process runs (one that ended but waits to be reaped does not).
bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  return std::getline(stat, line) && line.find(") Z ") == std::string::npos;
}

bool CanListen(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool free = s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (s >= 0) close(s);
  return free;
}

// A port for nginx whose next two, the instances', are free too; all below
// the system's range of ephemeral ports (32768 on), from which every
// connection of the load takes its own, so that none can hold a killed
// instance's port when it comes back.
int FreePort() {
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 500; ++attempt) {
    const int port = 20000 + static_cast<int>(random() % 12000);
    if (CanListen(port) && CanListen(port + 1) && CanListen(port + 2)) return port;
  }
  return 0;
}

struct Tally {
  std::atomic<int> done{0}, failed{0}, cut{0}, switched{0};
  std::atomic<bool> stopping{false};  // an instance has been told to stop
  std::atomic<int> cutWhileStopping{0};
};

// The server's hash of the file; "cut" when no whole reply came.
std::string HashOf(httplib::Client& client, const std::string& name) {
  auto res = client.Post(("/update/u.php?f=hash&e=" + kProduct).c_str(), "f1=" + name,
                         "application/x-www-form-urlencoded");
  if (!res) return "cut";
  if (res->status != 200) return "";
  const std::size_t at = res->body.find("<f1>");
  return at == std::string::npos ? "" : res->body.substr(at + 4, 40);
}

// The hash query, then the file, which must have the hash the server named.
// A client starts over (at most four times) after a clear error: a reply cut
// short (its instance died under it: nginx passes on what it had), or a
// file of another hash than the one named (a release came in between, or
// the two requests met two instances on either side of the switch), which
// the program too refuses to install. Anything else, or a fifth error, is a
// failed exchange.
void Exchange(httplib::Client& client, Tally& tally) {
  std::string errors;  // one letter per attempt: c cut short, s switched
  for (int attempt = 0;; ++attempt) {
    if (attempt == 5) {
      std::fprintf(stderr, "failed exchange: five errors in a row (%s)\n", errors.c_str());
      break;
    }
    const std::string hash = HashOf(client, "vtl64.exe");
    auto res = client.Post(("/update/u.php?f=zip&e=" + kProduct).c_str(), "f1=vtl64.exe",
                           "application/x-www-form-urlencoded");
    std::vector<server_test::ZipEntry> entries;
    if (hash == "cut" || !res) {
      ++tally.cut;
      errors += 'c';
      tally.cutWhileStopping += tally.stopping;
      continue;
    }
    if (hash.empty() || res->status != 200 || !server_test::ReadZip(res->body, entries) || entries.size() != 1) {
      std::fprintf(stderr, "failed exchange: hash %s, zip reply %d %.100s\n", hash.c_str(), res->status,
                   res->body.c_str());
      break;
    }
    if (Sha1Text(entries[0].bytes) == hash) {
      ++tally.done;
      return;
    }
    ++tally.switched;
    errors += 's';
  }
  ++tally.failed;
}

class ClusterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v nginx >/dev/null || test -x /usr/sbin/nginx") != 0) GTEST_SKIP() << "no nginx";
    work_ = fs::temp_directory_path() / ("vantle-cluster-" + std::to_string(getpid()));
    fs::create_directories(work_);
    port_ = FreePort();
    ASSERT_EQ(0, Run("start --releases " + (work_ / "releases").string() + " --port " + std::to_string(port_) +
                     " --server " VANTLE_UPDATE_SERVER));
    ASSERT_EQ(0, Publish(server_test::RandomText(50000, 1)));
  }
  void TearDown() override {
    if (work_.empty()) return;
    EXPECT_EQ(0, Run("stop"));
    fs::remove_all(work_);
  }

  int Run(const std::string& arguments) {
    return std::system((kScript + " " + arguments + " --run " + (work_ / "run").string() + " >/dev/null").c_str());
  }
  int Publish(const std::string& bytes) {
    std::ofstream(work_ / "vtl64.exe", std::ios::binary) << bytes;
    return Run("publish --product " + kProduct + " " + (work_ / "vtl64.exe").string());
  }
  pid_t Instance(int n) {
    std::ifstream file(work_ / "run" / ("instance-" + std::to_string(port_ + n) + ".pid"));
    pid_t pid = 0;
    file >> pid;
    return pid;
  }

  // Clients at port through the exchange, for as long as during runs.
  double Load(int port, Tally& tally, const std::function<void()>& during) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    const auto start = std::chrono::steady_clock::now();
    for (int c = 0; c < 16; ++c) {
      clients.emplace_back([&] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30, 0);
        while (!stop) Exchange(client, tally);
      });
    }
    during();
    stop = true;
    for (auto& client : clients) client.join();
    return tally.done / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  fs::path work_;
  int port_ = 0;
};

TEST_F(ClusterTest, ClientsGoOnThroughAKilledInstanceAPublishedReleaseAndAStoppedOne) {
  auto pause = [](double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); };
  Tally alone;
  const double aloneRate = Load(port_ + 1, alone, [&] { pause(3); });

  Tally cluster;
  bool stoppedInTime = false;
  const double clusterRate = Load(port_, cluster, [&] {
    pause(1);
    const pid_t killed = Instance(1);
    kill(killed, SIGKILL);
    // Brought back once it is gone, as a supervisor would, while the rest of
    // its threads may still hold its port.
    for (int i = 0; i < 500 && Running(killed); ++i) pause(0.02);
    EXPECT_EQ(0, Run("start --releases " + (work_ / "releases").string() + " --port " + std::to_string(port_) +
                     " --server " VANTLE_UPDATE_SERVER)) << "the killed instance back";
    EXPECT_EQ(0, Publish(server_test::RandomText(52000, 2)));
    pause(1);
    const pid_t stopping = Instance(2);
    cluster.stopping = true;
    kill(stopping, SIGTERM);
    for (int i = 0; i < 250 && !stoppedInTime; ++i, pause(0.02)) stoppedInTime = !Running(stopping);
    pause(1);
  });
  std::printf("one instance alone: %d exchanges, %d failed, %.0f/s\n", alone.done.load(), alone.failed.load(),
              aloneRate);
  std::printf("nginx and two instances, one killed, one stopped, a release published: %d exchanges, %d failed, "
              "%.0f/s; started over: %d after a reply cut short, %d after a release switch\n",
              cluster.done.load(), cluster.failed.load(), clusterRate, cluster.cut.load(), cluster.switched.load());
  EXPECT_EQ(0, alone.failed.load());
  EXPECT_EQ(0, cluster.failed.load());
  EXPECT_GT(cluster.done.load(), 0);
  EXPECT_TRUE(stoppedInTime) << "SIGTERM did not end the instance within 5 s";
  EXPECT_EQ(0, cluster.cutWhileStopping.load()) << "replies cut short by a stop";
  httplib::Client client("127.0.0.1", port_);
  EXPECT_EQ(Sha1Text(server_test::RandomText(52000, 2)), HashOf(client, "vtl64.exe"));
}

}  // namespace
