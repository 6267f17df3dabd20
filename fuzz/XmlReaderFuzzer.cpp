// libFuzzer entry for the XML reader and writer: arbitrary bytes go through
// the same checks as the corpus regression test (XmlRoundTrip.cpp), and a
// broken promise aborts so that libFuzzer keeps the input.
#include "XmlRoundTrip.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string g_folderPattern;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every input is saved a few times and each save is flushed to disk: in
  // memory (/dev/shm) that costs nothing, unless TMPDIR asks for another place.
  std::filesystem::path base = std::filesystem::temp_directory_path();
  std::error_code error;
  if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", error)) base = "/dev/shm";
  g_folderPattern = (base / "vantle-xmlfuzz-XXXXXX").string();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A fresh folder per input, gone again before the next one: parallel jobs
  // never share a file, and libFuzzer's way of ending (which skips atexit
  // handlers) leaves nothing behind.
  std::string folder = g_folderPattern;
  if (!mkdtemp(folder.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  std::vector<std::string> failures = xmlcheck::CheckInput(data, size, folder);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (failures.empty()) return 0;
  for (const std::string& failure : failures) std::fprintf(stderr, "broken promise: %s\n", failure.c_str());
  std::abort();
}
