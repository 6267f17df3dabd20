// Finding paths of other front ends' libraries with and without asking the
// file system for a whole path first: the same answers, and the folders of
// single games are never listed.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "TestSupport.h"
#include "launcher/ForeignFiles.h"

TEST(PathFinder, AskingForWholePathsFindsWhatListingFindsWithoutListingGameFolders) {
  xmltest::TempDir dir;
  const std::string root = dir.Path();
  for (const char* file : {"Games/G1/GAME.EXE", "Games/G2/Game.exe", "Games/G3/README.TXT", "Games/G4/GAME.EXE"}) {
    const std::filesystem::path path = std::filesystem::u8path(root) / file;
    std::filesystem::create_directories(path.parent_path());
    xmltest::WriteFile(path.u8string(), "MZ");
  }
  std::set<std::string> listed;
  ForeignFiles listing = SystemForeignFiles();
  listing.spell = nullptr;
  ForeignFiles asking = SystemForeignFiles();
  const ListFolderFunction list = asking.list;
  asking.list = [&](const std::string& folder, std::vector<FolderItem>& items) {
    listed.insert(NamePart(folder));
    return list(folder, items);
  };
  PathFinder byListing(listing), byAsking(asking);
  const struct {
    const char* written;
    bool found;
  } cases[] = {
      {".\\Games\\..\\Games\\G1\\GAME.EXE", true}, {"Games\\G4\\GAME.EXE", true}, {"games\\g2\\GAME.EXE", true},
      {"Games\\G3\\MISSING.EXE", false},            {"Games\\G4", true},           {"Games/G3/./README.TXT", true},
  };
  for (const auto& c : cases) {
    bool viaListing = false, viaAsking = false;
    const std::string expected = byListing.Find(root, c.written, &viaListing);
    EXPECT_EQ(expected, byAsking.Find(root, c.written, &viaAsking)) << c.written;
    EXPECT_EQ(c.found, viaListing) << c.written;
    EXPECT_EQ(c.found, viaAsking) << c.written;
  }
  // G4 was found whole every time; G3 (a missing file) needed its listing.
  EXPECT_EQ(0u, listed.count("G4"));
  EXPECT_EQ(1u, listed.count("G3"));
}
