// Where the program keeps its files: the program folder when it can be
// written, the user's application-data folder otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "launcher/Storage.h"

namespace {

// Test paths are written with '/' and turned into the system's separator.
std::string P(std::string path) {
  for (char& c : path)
    if (c == '/') c = kPathSeparator;
  return path;
}

struct FakeSystem {
  static bool writable;
  static std::vector<std::string> probed, created;
  static int appDataCalls;
  static bool IsWritable(const std::string& folder) {
    probed.push_back(folder);
    return writable;
  }
  static std::string AppData() {
    ++appDataCalls;
    return P("C:/Users/Ann/AppData/Roaming");
  }
  static void Create(const std::string& folder) { created.push_back(folder); }
  static void Reset(bool isWritable) {
    writable = isWritable;
    probed.clear();
    created.clear();
    appDataCalls = 0;
  }
};
bool FakeSystem::writable = false;
std::vector<std::string> FakeSystem::probed, FakeSystem::created;
int FakeSystem::appDataCalls = 0;

const FolderServices kFake{FakeSystem::IsWritable, FakeSystem::AppData, FakeSystem::Create};

}  // namespace

TEST(Folders, ProgramFolderIsThePathUpToItsLastSeparator) {
  EXPECT_EQ(P("C:/Program Files/Vantle"), FolderOfPath(P("C:/Program Files/Vantle/vtl64.exe")));
  EXPECT_EQ(P("C:/a.b/c"), FolderOfPath(P("C:/a.b/c/d")));
  EXPECT_EQ("vtl64.exe", FolderOfPath("vtl64.exe"));
}

TEST(Folders, AWritableProgramFolderHoldsDatabaseAndProfile) {
  FakeSystem::Reset(true);
  const StorageFolders f = SettleFolders(P("D:/Games/Vantle/vtl64.exe"), kFake);
  EXPECT_EQ(P("D:/Games/Vantle"), f.programFolder);
  EXPECT_EQ(P("D:/Games/Vantle"), f.profileFolder);
  EXPECT_EQ(P("D:/Games/Vantle/vtl.xml"), f.databasePath);
  EXPECT_EQ(std::vector<std::string>{P("D:/Games/Vantle")}, FakeSystem::probed);
  EXPECT_EQ(0, FakeSystem::appDataCalls);
  EXPECT_TRUE(FakeSystem::created.empty());
}

// The database gets a folder of its own, while the profile (and the
// temporary configuration files beside it) lie in the application-data
// folder itself.
TEST(Folders, AReadOnlyProgramFolderSendsTheFilesToApplicationData) {
  FakeSystem::Reset(false);
  const StorageFolders f = SettleFolders(P("C:/Program Files/Vantle/vtl64.exe"), kFake);
  EXPECT_EQ(P("C:/Program Files/Vantle"), f.programFolder);
  EXPECT_EQ(P("C:/Users/Ann/AppData/Roaming"), f.profileFolder);
  EXPECT_EQ(P("C:/Users/Ann/AppData/Roaming/Vantle/vtl.xml"), f.databasePath);
  EXPECT_EQ(std::vector<std::string>{P("C:/Users/Ann/AppData/Roaming/Vantle")}, FakeSystem::created);
}

TEST(WritabilityProbe, LeavesNothingBehindAndNeverTouchesSomeoneElsesFile) {
  xmltest::TempDir dir;
  EXPECT_TRUE(ProbeFolderWritable(dir.Path()));
  EXPECT_EQ("", dir.Listing());

  // A "woa.exe" that was there already is somebody's program.
  xmltest::WriteFile(dir.File("woa.exe"), "MZ keep me");
  EXPECT_TRUE(ProbeFolderWritable(dir.Path()));
  EXPECT_EQ("woa.exe;", dir.Listing());
  EXPECT_EQ("MZ keep me", xmltest::ReadFile(dir.File("woa.exe")));

  EXPECT_FALSE(ProbeFolderWritable(dir.File("no such folder")));
}
