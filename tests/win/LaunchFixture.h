#pragma once
// A program folder for launch tests: its path has blanks
// ("...\Program Files\Vantle"), it holds the test DOSBOX.EXE, and beside
// "Program Files" lies a decoy "Program.exe" (the same recorder) that records
// into the folder above if anything ever starts it through an unquoted path.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "WinTestUtil.h"

namespace launchtest {

namespace fs = std::filesystem;

using wintest::ReadBytes;
using wintest::WriteBytes;

// Drive C: mounted by a command of the game, which the launch takes on trust:
// for games whose programs need not exist.
inline const std::string kMountC = "<Pre_Commands><![CDATA[mount c C:\\]]></Pre_Commands>";

class LaunchFolders : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Number of complete records the recorder left in folder.
  static int CallCount(const fs::path& folder);
  std::string CallCommandLine(int call) const;
  std::string CallConf(int call) const;
  // Names of the temporary configuration files ("woa*.tmp") in folder.
  static std::string TempFiles(const fs::path& folder);
  // Asserts that the decoy in the folder above never ran.
  void ExpectNoDecoyRun() const;

  fs::path root_;
  fs::path program_;  // ...\Program Files\Vantle
};

#ifdef VANTLE_EXE
// A launch folder that holds a copy of the program, started as a user would.
class ProgramCopy : public LaunchFolders {
 protected:
  void SetUp() override {
    LaunchFolders::SetUp();
    fs::copy_file(wintest::HostToWindowsPath(VANTLE_EXE), program_ / "vtl64.exe");
  }

  std::string Vantle(const std::string& arguments) const {
    return "\"" + (program_ / "vtl64.exe").string() + "\" " + arguments;
  }
};
#endif

}  // namespace launchtest
