// Where the program keeps its files: the program folder when it can be
// written, the user's application-data folder otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "launcher/Storage.h"
#include "launcher/WindowSettings.h"

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

// What the windows remember comes back as written; a damaged or hostile
// file costs only the values it spoils.
TEST(WindowSettings, ComeBackAsWrittenAndDamagedValuesFallBackAlone) {
  xmltest::TempDir dir;
  const std::string path = dir.File("vtlui.xml");
  EXPECT_FALSE(ReadWindowSettings(path).placed) << "no file: defaults";

  WindowSettings written;
  written.placed = true;
  written.left = -1200, written.top = 40, written.width = 900, written.height = 500;
  written.maximized = true;
  written.columnWidths = {30, 250, 400};
  written.sortColumn = 1, written.sortDirection = -1;
  written.importFolder = "C:\\Spiele\\Zw\xC3\xB6lf & \"Co\"";
  ASSERT_TRUE(WriteWindowSettings(path, written));
  const WindowSettings read = ReadWindowSettings(path);
  EXPECT_TRUE(read.placed && read.maximized);
  EXPECT_EQ(std::vector<int>({-1200, 40, 900, 500}), std::vector<int>({read.left, read.top, read.width, read.height}));
  EXPECT_EQ(written.columnWidths, read.columnWidths);
  EXPECT_EQ(1, read.sortColumn);
  EXPECT_EQ(-1, read.sortDirection);
  EXPECT_EQ(written.importFolder, read.importFolder);

  const struct {
    const char* xml;
    bool placed;
    std::size_t columns;
    int sortColumn;
  } damaged[] = {
      {"<root><Window Left=\"1\" Top=\"2\" Width=\"0\" Height=\"5\"/></root>", false, 0, -1},
      {"<root><Window Left=\"1x\" Top=\"2\" Width=\"3\" Height=\"5\"/></root>", false, 0, -1},
      {"<root><Window Left=\"99999999999\" Top=\"2\" Width=\"3\" Height=\"5\"/></root>", false, 0, -1},
      {"<root><List Column0=\"10\" Column1=\"-4\" Column2=\"8\" SortColumn=\"1\" SortDirection=\"0\"/></root>",
       false, 1, -1},
      {"<root><List SortColumn=\"2\" SortDirection=\"1\"/><Window", false, 0, -1},
      {"<root><List SortColumn=\"2\" SortDirection=\"-1\"/></root>", false, 0, 2},
  };
  for (const auto& c : damaged) {
    xmltest::WriteFile(path, std::string("<?xml version=\"1.0\"?>\r\n") + c.xml);
    const WindowSettings settings = ReadWindowSettings(path);
    EXPECT_EQ(c.placed, settings.placed) << c.xml;
    EXPECT_EQ(c.columns, settings.columnWidths.size()) << c.xml;
    EXPECT_EQ(c.sortColumn, settings.sortColumn) << c.xml;
  }
}
