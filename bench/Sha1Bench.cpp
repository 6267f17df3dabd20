// Sha1Context::HashFile against sha1sum and openssl on one large file.
//
// Every measurement is a spawned process reading the same file, so that all
// three pay the same start-up and the page cache is warm for all of them
// (the file is read once before the first timed run). Each tool runs `runs`
// times and its best time counts; the digests must agree, or the run fails.
//
//   sha1_bench [--file PATH] [--size-mib N] [--runs R] [--keep]
//   sha1_bench --hash PATH     (the child: prints HashFile's digest)
#include "update/Sha1.h"
#include "update/Sha1Compress.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Options {
  std::string file = "/tmp/vantle-sha1-bench.bin";
  long sizeMiB = 1024;
  int runs = 3;
  bool keep = false;
};

int HashChild(const char* path) {
  Sha1Context sha;
  sha.Reset();
  if (!sha.HashFile(path)) {
    std::fprintf(stderr, "sha1_bench: cannot read %s\n", path);
    return 1;
  }
  sha.Final();
  char text[100] = "";
  sha.ReportHash(text);
  std::printf("%s\n", text);
  return 0;
}

// Fills the file with pseudo-random bytes (xorshift), 1 MiB at a time.
bool MakeFile(const std::string& path, long sizeMiB) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && info.st_size == off_t(sizeMiB) << 20) return true;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<std::uint64_t> block((1 << 20) / 8);
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  bool ok = true;
  for (long i = 0; i < sizeMiB && ok; ++i) {
    for (auto& w : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      w = x;
    }
    ok = std::fwrite(block.data(), 1, 1 << 20, f) == (1u << 20);
  }
  return std::fclose(f) == 0 && ok;
}

// Runs argv, returns its standard output, and the wall time in seconds.
bool Run(const std::vector<std::string>& args, std::string& out, double& seconds) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    return false;
  }
  out.clear();
  char buf[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The first run of 40 hex digits in a tool's output, upper-cased.
std::string DigestIn(const std::string& out) {
  for (std::size_t i = 0; i + 40 <= out.size(); ++i) {
    std::size_t n = 0;
    while (n < 40 && std::isxdigit(static_cast<unsigned char>(out[i + n]))) ++n;
    if (n == 40 && (i + 40 == out.size() || !std::isxdigit(static_cast<unsigned char>(out[i + 40])))) {
      std::string d = out.substr(i, 40);
      for (char& c : d) c = char(std::toupper(static_cast<unsigned char>(c)));
      return d;
    }
    i += n;
  }
  return {};
}

// Throughput of one compression form alone, in memory (best of `runs` over
// 256 MiB), to show what each form contributes without the file reads.
double CompressMBps(sha1_detail::CompressFunction compress, int runs) {
  std::vector<std::uint8_t> data(256u << 20, 0x5A);
  double best = 1e100;
  for (int run = 0; run < runs; ++run) {
    std::uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const auto start = std::chrono::steady_clock::now();
    compress(state, data.data(), data.size() / 64);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (state[0] == 0x12345678) std::printf(" ");  // keep the work observable
  }
  return double(data.size()) / best / 1e6;
}

struct Result {
  std::string name;
  double best = 0;
  std::string digest;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--hash") == 0) return HashChild(argv[2]);

  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--file" && i + 1 < argc) {
      o.file = argv[++i];
    } else if (a == "--size-mib" && i + 1 < argc) {
      o.sizeMiB = std::atol(argv[++i]);
    } else if (a == "--runs" && i + 1 < argc) {
      o.runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      std::fprintf(stderr, "usage: sha1_bench [--file PATH] [--size-mib N] [--runs R] [--keep]\n");
      return 2;
    }
  }
  if (o.sizeMiB <= 0) return 2;

  std::printf("file %s, %ld MiB\n", o.file.c_str(), o.sizeMiB);
  if (!MakeFile(o.file, o.sizeMiB)) {
    std::fprintf(stderr, "sha1_bench: cannot write %s\n", o.file.c_str());
    return 1;
  }
  const std::string self = "/proc/self/exe";
  char selfPath[4096];
  const ssize_t len = readlink(self.c_str(), selfPath, sizeof selfPath - 1);
  if (len <= 0) return 1;
  selfPath[len] = '\0';

  std::vector<std::pair<std::string, std::vector<std::string>>> tools = {
      {"Sha1Context::HashFile", {selfPath, "--hash", o.file}},
      {"sha1sum", {"sha1sum", o.file}},
      {"openssl dgst -sha1", {"openssl", "dgst", "-sha1", o.file}},
  };

  // Warm the page cache so that no tool pays for the disk.
  std::string out;
  double seconds = 0;
  Run(tools[1].second, out, seconds);

  std::vector<Result> results;
  for (const auto& [name, args] : tools) {
    Result r{name, 1e100, {}};
    for (int run = 0; run < o.runs; ++run) {
      if (!Run(args, out, seconds)) {
        std::fprintf(stderr, "sha1_bench: %s failed\n", name.c_str());
        return 1;
      }
      r.best = std::min(r.best, seconds);
      r.digest = DigestIn(out);
    }
    results.push_back(r);
  }

  const double bytes = double(o.sizeMiB) * 1048576.0;
  bool agree = true;
  for (const Result& r : results) {
    std::printf("%-24s best of %d: %7.3f s  %8.1f MB/s  %s\n", r.name.c_str(), o.runs, r.best,
                bytes / r.best / 1e6, r.digest.c_str());
    agree = agree && r.digest == results[0].digest && r.digest.size() == 40;
  }
  for (std::size_t i = 1; i < results.size(); ++i)
    std::printf("HashFile speed / %s speed: %.2f\n", results[i].name.c_str(),
                results[i].best / results[0].best);
  std::printf("in memory, portable compression:  %8.1f MB/s\n",
              CompressMBps(&sha1_detail::CompressPortable, o.runs));
  if (const sha1_detail::CompressFunction hardware = sha1_detail::HardwareCompress())
    std::printf("in memory, SHA-instruction compression: %8.1f MB/s (the one HashFile uses)\n",
                CompressMBps(hardware, o.runs));
  else
    std::printf("no SHA instructions here: HashFile uses the portable compression\n");
  if (!o.keep) std::remove(o.file.c_str());
  if (!agree) {
    std::fprintf(stderr, "sha1_bench: the digests differ\n");
    return 1;
  }
  return 0;
}
