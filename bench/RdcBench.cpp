// rdc_bench: the delta engine's signature generator against two peers over
// the same buffer in the same run: SHA-1 (Sha1Context, the generator's own
// strong hash, so the chunking's share is visible) and memcpy (the memory
// bandwidth ceiling). The generator is fed as the updater feeds it: 10000
// bytes in, a 10000-byte output buffer per call. Best of R runs each.
//
//   rdc_bench [--size-mib N] [--runs R]
#include "update/Sha1.h"
#include "update/rdc/RdcEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

double BestSeconds(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  long sizeMiB = 256;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mib") == 0) sizeMiB = std::atol(argv[i + 1]);
    else if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
  }
  if (sizeMiB <= 0 || runs <= 0) {
    std::fprintf(stderr, "usage: rdc_bench [--size-mib N] [--runs R]\n");
    return 2;
  }
  // Random bytes with some long runs, as executables have.
  std::vector<std::uint8_t> data(static_cast<std::size_t>(sizeMiB) << 20);
  std::mt19937_64 rng(12345);
  for (std::size_t i = 0; i < data.size(); i += 8) {
    const std::uint64_t x = rng();
    std::memcpy(&data[i], &x, std::min<std::size_t>(8, data.size() - i));
  }
  for (std::size_t i = 0; i + 100000 < data.size(); i += 1 << 20) std::memset(&data[i], 0, 100000);
  const double mb = static_cast<double>(data.size()) / 1e6;

  std::size_t signatureBytes = 0;
  const double gen = BestSeconds(runs, [&] {
    DIFF::SignatureGenerator generator;
    std::uint8_t out[DIFF::kGeneratorOutputSize];
    std::size_t at = 0, produced = 0;
    BOOL end = FALSE;
    while (!end) {
      const std::size_t n = std::min<std::size_t>(DIFF::kReadChunk, data.size() - at);
      RdcBufferPointer in{static_cast<ULONG>(n), 0, data.data() + at};
      RdcBufferPointer o{DIFF::kGeneratorOutputSize, 0, out};
      if (FAILED(generator.Process(at + n == data.size(), &end, &in, &o))) std::abort();
      at += in.m_Used;
      produced += o.m_Used;
    }
    signatureBytes = produced;
  });

  std::uint8_t digest0 = 0;
  const double sha = BestSeconds(runs, [&] {
    Sha1Context ctx;
    ctx.Update(data.data(), data.size());
    ctx.Final();
    digest0 = ctx.Digest()[0];
  });

  std::vector<std::uint8_t> copy(data.size());
  const double mem = BestSeconds(runs, [&] { std::memcpy(copy.data(), data.data(), data.size()); });

  const std::size_t chunks = (signatureBytes - DIFF::kSignatureHeaderSize) / DIFF::kSignatureRecordSize;
  std::printf("buffer: %ld MiB, best of %d runs\n", sizeMiB, runs);
  std::printf("%-28s %9.1f MB/s  (%zu chunks, mean %.0f bytes)\n", "rdc signature generator", mb / gen,
              chunks, chunks ? static_cast<double>(data.size()) / chunks : 0.0);
  std::printf("%-28s %9.1f MB/s  (digest starts %02X)\n", "sha1 (Sha1Context::Update)", mb / sha, digest0);
  std::printf("%-28s %9.1f MB/s  (last byte %02X)\n", "memcpy", mb / mem, copy.back());
  return 0;
}
