// What the reader is done with leaves the process's memory, under Wine too,
// and reads back from the file.
#include "xml/FileView.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "TestSupport.h"
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

namespace {

double ResidentMb() {  // Wine fills the counters from the Linux process's VmRSS
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize / 1048576.0;
#else
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
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
  std::string bytes(64u << 20, ' ');
  for (std::size_t i = 0; i < bytes.size(); i += 4096) bytes[i] = static_cast<char>('a' + i / 4096 % 26);
  xmltest::WriteFile(dir.File("large.xml"), bytes);
  const long expected = SumOfPages(bytes.data(), bytes.size());
  std::string().swap(bytes);
  std::FILE* file = std::fopen(dir.File("large.xml").c_str(), "rb");
  xml_detail::FileView view;
  ASSERT_TRUE(file && view.Open(file, 64u << 20));
  std::fclose(file);
  ASSERT_EQ(expected, SumOfPages(view.Data(), view.Size()));
  const double read = ResidentMb();
  view.Release(view.Data(), view.Data() + view.Size() / 2 + 100);
  EXPECT_LT(ResidentMb(), read - 24) << "half the view stays in memory";
  EXPECT_EQ(expected, SumOfPages(view.Data(), view.Size()));
}
