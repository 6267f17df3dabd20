#include "LaunchFixture.h"

#include <windows.h>

#include "WinTestUtil.h"

namespace launchtest {

void LaunchFolders::SetUp() {
  root_ = fs::temp_directory_path() /
          ("vantle-launch-" + std::to_string(GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(root_);
  program_ = root_ / "Program Files" / "Vantle";
  fs::create_directories(program_);
  const std::string recorder = wintest::HostToWindowsPath(VANTLE_FAKE_DOSBOX);
  fs::copy_file(recorder, program_ / "DOSBOX.EXE");
  fs::copy_file(recorder, root_ / "Program.exe");
}

void LaunchFolders::TearDown() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

int LaunchFolders::CallCount(const fs::path& folder) {
  int count = 0;
  while (fs::exists(folder / ("call-" + std::to_string(count + 1) + ".cmdline"))) ++count;
  return count;
}

std::string LaunchFolders::CallCommandLine(int call) const {
  return ReadBytes(program_ / ("call-" + std::to_string(call) + ".cmdline"));
}

std::string LaunchFolders::CallConf(int call) const {
  return ReadBytes(program_ / ("call-" + std::to_string(call) + ".conf"));
}

std::string LaunchFolders::TempFiles(const fs::path& folder) {
  std::string names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("woa", 0) == 0 && entry.path().extension() == ".tmp") names += name + ";";
  }
  return names;
}

void LaunchFolders::ExpectNoDecoyRun() const {
  EXPECT_EQ(0, CallCount(root_)) << "an unquoted DOSBox path started " << (root_ / "Program.exe").string();
}

}  // namespace launchtest
