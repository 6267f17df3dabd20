// rdc_signatures: the digests of the signature streams (and their second
// level) of a set of files and generated buffers, written to a record or
// compared with one. Made to show that a change to the generator keeps every
// signature byte for byte: record with the old build, compare with the new.
//
//   rdc_signatures [--vectors none|sse4.1|avx2|avx512] --record FILE [PATH...]
//   rdc_signatures [--vectors none|sse4.1|avx2|avx512] --compare FILE [PATH...]
//
// Besides the paths, the record holds generated buffers: rdc_bench's (random
// bytes with runs of zeros), all zeros, one repeated byte, text-like lines
// and short random tails of every length near the window and the horizon.
#include "update/Sha1.h"
#include "update/rdc/RdcEngine.h"
#include "update/rdc/WindowHashes.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BenchBuffer(std::size_t size) {
  Bytes data(size);
  std::mt19937_64 rng(12345);
  for (std::size_t i = 0; i < data.size(); i += 8) {
    const std::uint64_t x = rng();
    std::memcpy(&data[i], &x, std::min<std::size_t>(8, data.size() - i));
  }
  for (std::size_t i = 0; i + 100000 < data.size(); i += 1 << 20) std::memset(&data[i], 0, 100000);
  return data;
}

Bytes Lines(std::size_t count) {
  std::string s;
  for (std::size_t i = 0; i < count; ++i) s += "entry " + std::to_string(i * 7919 % 5003) + " = value\r\n";
  return Bytes(s.begin(), s.end());
}

// One line per input: its name, size, chunk count and the two digests. The
// stream is made twice, from memory and from a file, which must agree.
std::string Describe(const std::string& name, const Bytes& data) {
  const Bytes sigs = DIFF::MakeSignatureStream(data.data(), data.size());
  Bytes fromFile;
  std::FILE* file = std::tmpfile();
  if (file) {
    std::fwrite(data.data(), 1, data.size(), file);
    std::rewind(file);
    DIFF::MakeSignatureStream(file, &fromFile);
    std::fclose(file);
  }
  const Bytes second = DIFF::MakeSecondLevelStream(sigs.data(), sigs.size());
  std::ostringstream line;
  line << name << ' ' << data.size() << ' '
       << (sigs.size() - DIFF::kSignatureHeaderSize) / DIFF::kSignatureRecordSize << ' '
       << Sha1Text(sigs.data(), sigs.size()) << ' ' << Sha1Text(second.data(), second.size())
       << (fromFile == sigs ? "" : " FILE-STREAM-DIFFERS");
  return line.str();
}

}  // namespace

int main(int argc, char** argv) {
  // --vectors first holds the window hashes to a narrower instruction set, so
  // that each set's kernels are shown to keep the signatures.
  const char* const levelNames[] = {"none", "sse4.1", "avx2", "avx512"};
  int level = static_cast<int>(DIFF::SupportedVectorLevel());
  if (argc >= 3 && std::strcmp(argv[1], "--vectors") == 0) {
    level = -1;
    for (int l = 0; l < 4; ++l)
      if (std::strcmp(argv[2], levelNames[l]) == 0) level = l;
    argc -= 2;
    argv += 2;
  }
  if (argc < 3 || level < 0 || (std::strcmp(argv[1], "--record") != 0 && std::strcmp(argv[1], "--compare") != 0)) {
    std::fprintf(stderr, "usage: rdc_signatures [--vectors none|sse4.1|avx2|avx512] --record|--compare FILE [PATH...]\n");
    return 2;
  }
  if (static_cast<int>(DIFF::UseVectorLevel(static_cast<DIFF::VectorLevel>(level))) != level) {
    std::fprintf(stderr, "rdc_signatures: this processor cannot run the %s kernels\n", levelNames[level]);
    return 2;
  }
  std::printf("rdc_signatures: window hash kernels: %s\n", levelNames[level]);
  std::vector<std::string> lines;
  lines.push_back(Describe("bench-buffer-64MiB", BenchBuffer(64u << 20)));
  lines.push_back(Describe("zeros-300000", Bytes(300000, 0)));
  lines.push_back(Describe("sevens-140001", Bytes(140001, 7)));
  lines.push_back(Describe("lines-20000", Lines(20000)));
  for (std::size_t n : {0, 1, 47, 48, 49, 1023, 1024, 1025, 2047, 2048, 2049, 65535, 65536, 65537}) {
    Bytes tail = BenchBuffer(3 * 65536);
    tail.resize(n);
    lines.push_back(Describe("bench-buffer-" + std::to_string(n), tail));
  }
  for (int i = 3; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "rdc_signatures: cannot read %s\n", argv[i]);
      return 1;
    }
    const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string name = argv[i];
    for (char& c : name)
      if (c == ' ') c = '_';
    lines.push_back(Describe(name, data));
  }

  if (std::strcmp(argv[1], "--record") == 0) {
    std::ofstream out(argv[2], std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
    std::printf("rdc_signatures: %zu inputs recorded in %s\n", lines.size(), argv[2]);
    return out ? 0 : 1;
  }
  std::ifstream in(argv[2]);
  std::vector<std::string> recorded;
  for (std::string line; std::getline(in, line);) recorded.push_back(line);
  int differ = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool same = i < recorded.size() && recorded[i] == lines[i];
    if (!same) {
      ++differ;
      std::printf("DIFFERS  %s\n   was   %s\n", lines[i].c_str(), i < recorded.size() ? recorded[i].c_str() : "-");
    }
  }
  if (recorded.size() != lines.size()) ++differ;
  std::printf("rdc_signatures: %zu inputs, %d differ from %s\n", lines.size(), differ, argv[2]);
  return differ == 0 ? 0 : 1;
}
