// rdc_bench: the delta engine's signature generator against two peers over
// the same buffer in the same run: SHA-1 (Sha1Context, the generator's own
// strong hash, so the chunking's share is visible) and memcpy (the memory
// bandwidth ceiling). The generator is fed as the updater feeds it: 10000
// bytes in, a 10000-byte output buffer per call. Best of R runs each, the
// engines taking turns.
//
// No figure is printed unless every run did the whole work: the generator's
// chunks cover the buffer exactly and each run gives the same stream, SHA-1
// gives the digest of the buffer fed in two halves, and the copy equals the
// buffer. The digest of the signature stream is printed so that runs of two
// builds can be compared byte for byte.
//
//   rdc_bench [--size-mib N] [--runs R] [--vectors none|sse4.1|avx2|avx512]
//
// --vectors holds the window hashes to a narrower instruction set than the
// processor has, to show the figure of processors without the wider ones.
#include "update/Sha1.h"
#include "update/rdc/RdcEngine.h"
#include "update/rdc/WindowHashes.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The generator must keep up with half of SHA-1 over the same bytes: signing
// a release file should cost no more than hashing it twice.
constexpr double kGoalOfSha1 = 0.5;

// Processor time, not time on the clock: on a machine shared with other
// work the clock also counts the time this process waited for a core, which
// falls on either engine by chance; both run on this one thread. On Windows
// clock() is time on the clock, so the process's own times are asked for.
double ProcessorSeconds() {
#ifdef _WIN32
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) std::abort();
  const auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e7;  // 100-nanosecond units
#else
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// The smallest step the processor time moves by: a microsecond here, ten
// milliseconds under Wine, which is as much as a tenth of SHA-1's time.
double ProcessorClockStep() {
  const double first = ProcessorSeconds();
  double moved;
  while ((moved = ProcessorSeconds()) == first) {
  }
  double next;
  while ((next = ProcessorSeconds()) == moved) {
  }
  return next - moved;
}

// Steps of the processor clock each timing spans at least: the clock's
// coarseness then costs each figure under one percent.
constexpr double kClockSteps = 100;

// The best time of each piece of work over R rounds, the pieces taking turns
// within a round: other work on the machine (a busy sibling of the core, say)
// then weighs on each of them alike rather than on whichever ran while it did.
// A piece too quick for the clock is repeated within each timing as often as
// it takes to span kClockSteps of it.
std::vector<double> BestSeconds(int runs, const std::vector<std::function<void()>>& works) {
  const double step = ProcessorClockStep();
  std::vector<double> best(works.size(), 1e30);
  std::vector<int> repeats(works.size(), 0);
  for (int r = 0; r < runs; ++r)
    for (std::size_t w = 0; w < works.size(); ++w) {
      if (repeats[w] == 0) {  // a first run to learn how long the piece takes
        const double t0 = ProcessorSeconds();
        works[w]();
        const double once = ProcessorSeconds() - t0;
        repeats[w] = std::max(1, static_cast<int>(std::ceil(kClockSteps * step / std::max(once, step))));
      }
      const double t0 = ProcessorSeconds();
      for (int k = 0; k < repeats[w]; ++k) works[w]();
      best[w] = std::min(best[w], (ProcessorSeconds() - t0) / repeats[w]);
    }
  return best;
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "rdc_bench: %s; no figures printed\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  long sizeMiB = 256;
  int runs = 3;
  const char* const levelNames[] = {"none", "sse4.1", "avx2", "avx512"};
  int level = static_cast<int>(DIFF::SupportedVectorLevel());
  bool usage = argc % 2 == 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mib") == 0) sizeMiB = std::atol(argv[i + 1]);
    else if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--vectors") == 0) {
      level = -1;
      for (int l = 0; l < 4; ++l)
        if (std::strcmp(argv[i + 1], levelNames[l]) == 0) level = l;
    } else usage = true;
  }
  if (sizeMiB <= 0 || runs <= 0 || level < 0 || usage) {
    std::fprintf(stderr, "usage: rdc_bench [--size-mib N] [--runs R] [--vectors none|sse4.1|avx2|avx512]\n");
    return 2;
  }
  const int used = static_cast<int>(DIFF::UseVectorLevel(static_cast<DIFF::VectorLevel>(level)));
  if (used != level)
    return Refuse(std::string("this processor cannot run the ") + levelNames[level] + " kernels (widest: " +
                  levelNames[used] + ")");
  // Random bytes with some long runs, as executables have.
  std::vector<std::uint8_t> data(static_cast<std::size_t>(sizeMiB) << 20);
  std::mt19937_64 rng(12345);
  for (std::size_t i = 0; i < data.size(); i += 8) {
    const std::uint64_t x = rng();
    std::memcpy(&data[i], &x, std::min<std::size_t>(8, data.size() - i));
  }
  for (std::size_t i = 0; i + 100000 < data.size(); i += 1 << 20) std::memset(&data[i], 0, 100000);
  const double mb = static_cast<double>(data.size()) / 1e6;

  std::vector<std::uint8_t> stream, firstStream;
  bool streamsAgree = true;
  const auto generate = [&] {
    DIFF::SignatureGenerator generator;
    std::uint8_t out[DIFF::kGeneratorOutputSize];
    std::size_t at = 0;
    stream.clear();
    BOOL end = FALSE;
    while (!end) {
      const std::size_t n = std::min<std::size_t>(DIFF::kReadChunk, data.size() - at);
      RdcBufferPointer in{static_cast<ULONG>(n), 0, data.data() + at};
      RdcBufferPointer o{DIFF::kGeneratorOutputSize, 0, out};
      if (FAILED(generator.Process(at + n == data.size(), &end, &in, &o))) std::abort();
      at += in.m_Used;
      stream.insert(stream.end(), out, out + o.m_Used);
    }
    if (firstStream.empty()) firstStream = stream;
    streamsAgree = streamsAgree && stream == firstStream;
  };

  std::string shaDigest;
  const auto hash = [&] {
    Sha1Context ctx;
    ctx.Update(data.data(), data.size());
    ctx.Final();
    char text[Sha1Context::kHexSize + 1] = "";
    ctx.ReportHash(text);
    shaDigest = text;
  };

  std::vector<std::uint8_t> copy(data.size());
  const std::vector<double> best =
      BestSeconds(runs, {generate, hash, [&] { std::memcpy(copy.data(), data.data(), data.size()); }});
  const double gen = best[0], sha = best[1], mem = best[2];

  // Each engine must have done the work it is timed for.
  std::vector<DIFF::ChunkSignature> chunks;
  if (!DIFF::ParseSignatureStream(stream.data(), stream.size(), &chunks)) return Refuse("the signature stream does not parse");
  std::uint64_t covered = 0;
  for (const DIFF::ChunkSignature& c : chunks) covered += c.length;
  if (covered != data.size())
    return Refuse("the chunks cover " + std::to_string(covered) + " bytes of " + std::to_string(data.size()));
  if (!streamsAgree) return Refuse("the generator's runs gave different streams");
  {
    Sha1Context halves;
    halves.Update(data.data(), data.size() / 2);
    halves.Update(data.data() + data.size() / 2, data.size() - data.size() / 2);
    halves.Final();
    char text[Sha1Context::kHexSize + 1] = "";
    halves.ReportHash(text);
    if (shaDigest != text) return Refuse("SHA-1 did not hash the whole buffer (" + shaDigest + ")");
  }
  if (copy != data) return Refuse("memcpy did not copy the buffer");

  const double genSpeed = mb / gen, shaSpeed = mb / sha, ratio = genSpeed / shaSpeed;
  std::printf("buffer: %ld MiB, best of %d runs, in processor time; window hash kernels: %s\n", sizeMiB, runs,
              levelNames[used]);
  std::printf("%-28s %9.1f MB/s  (%zu chunks, mean %.0f bytes, stream SHA-1 %s)\n", "rdc signature generator",
              genSpeed, chunks.size(), chunks.empty() ? 0.0 : static_cast<double>(data.size()) / chunks.size(),
              Sha1Text(stream.data(), stream.size()).c_str());
  std::printf("%-28s %9.1f MB/s  (digest %s)\n", "sha1 (Sha1Context::Update)", shaSpeed, shaDigest.c_str());
  std::printf("%-28s %9.1f MB/s\n", "memcpy", mb / mem);
  const bool met = ratio >= kGoalOfSha1;
  std::printf("generator / sha1: %.2fx (goal: at least %.2fx) %s\n", ratio, kGoalOfSha1, met ? "met" : "MISSED");
  return 0;
}
