// A file seen in place: what the reader is done with leaves the process's
// memory, on every system the program runs on, and reads back from the file;
// and the byte search that reads it.
#include "xml/FileView.h"

#include "xml/ByteFind.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <cstdlib>
#include <fstream>
#endif

namespace {

// What of this process is held in memory now, in MB. Wine answers from the
// Linux process's VmRSS.
double ResidentMb() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize / 1048576.0;
#else
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
  return 0;
#endif
}

long SumOfPages(const char* data, std::size_t size) {
  long sum = 0;
  for (std::size_t i = 0; i < size; i += 4096) sum += data[i];
  return sum;
}

}  // namespace

TEST(FileView, PagesReadForGoodLeaveMemoryAndReadBackFromTheFile) {
  xmltest::TempDir dir;
  const std::string path = dir.File("large.xml");
  constexpr std::size_t kSize = 64u << 20;
  long expected = 0;
  {
    std::string bytes(kSize, ' ');
    for (std::size_t i = 0; i < kSize; i += 4096) expected += bytes[i] = static_cast<char>('a' + i / 4096 % 26);
    xmltest::WriteFile(path, bytes);
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, file);
  xml_detail::FileView view;
  ASSERT_TRUE(view.Open(file, kSize));
  std::fclose(file);
  ASSERT_EQ(expected, SumOfPages(view.Data(), view.Size()));
  const double read = ResidentMb();
  view.Release(view.Data() + kSize / 2 + 100);
  const double released = ResidentMb();
  EXPECT_LT(released, read - 24) << "half the view stays in memory";
  EXPECT_EQ(expected, SumOfPages(view.Data(), view.Size()));
}

// The byte search the reader runs over every file: each place in and around
// a 16-byte block, the last byte before the bound, and a byte past it.
TEST(FileView, FindByteFindsTheFirstByteBeforeTheBoundAndNothingPastIt) {
  std::string text(70, 'a');
  for (std::size_t at : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 47u, 63u, 69u}) {
    std::string t = text;
    t[at] = '<';
    t[69] = '<';  // a later match never wins
    const char* found = xml_detail::FindByte(t.data(), t.data() + t.size(), '<');
    EXPECT_EQ(static_cast<std::ptrdiff_t>(at), found ? found - t.data() : -1) << at;
    EXPECT_EQ(nullptr, xml_detail::FindByte(t.data(), t.data() + at, '<')) << at;
  }
  const std::string high = std::string(20, 'x') + "\xC3\xA9";
  EXPECT_EQ(high.data() + 21, xml_detail::FindByte(high.data(), high.data() + high.size(), '\xA9'));
  EXPECT_EQ(nullptr, xml_detail::FindByte(high.data() + 5, high.data() + 5, 'x'));
}
