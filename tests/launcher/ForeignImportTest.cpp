// A whole library of another front end against the games Vantle holds:
// which kind it is, and which of its games are there already.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/ForeignDFend.h"
#include "launcher/ForeignImport.h"
#include "launcher/ForeignLaunchBox.h"
#include "launcher/GameSchema.h"

namespace {

void Put(const std::string& root, const std::string& relative, const std::string& bytes) {
  const std::filesystem::path path = std::filesystem::u8path(root) / std::filesystem::u8path(relative);
  std::filesystem::create_directories(path.parent_path());
  xmltest::WriteFile(path.u8string(), bytes);
}

}  // namespace

TEST(ForeignImport, KnowsEachKindAndSkipsGamesTheLibraryHoldsAlready) {
  xmltest::TempDir dir;
  const std::string root = dir.Path();
  Put(root, "dfend/Confs/Keen.prof",
      "[Extra]\r\nExe=.\\VirtualHD\\KEEN\\KEEN4.EXE\r\nNrOfMounts=1\r\n0=.\\VirtualHD\\;Drive;C;false;\r\n");
  Put(root, "dfend/Confs/Keen again.prof", "[Extra]\r\nExe=.\\virtualhd\\keen\\keen4.exe\r\n");
  Put(root, "dfend/Confs/Doom.prof", "[Extra]\r\nExe=.\\VirtualHD\\DOOM\\DOOM.EXE\r\n[glide]\r\nglide=true\r\n");
  Put(root, "dfend/Confs/Bad.prof", "nothing");
  Put(root, "lb/Data/Platforms/MS-DOS.xml", "<?xml version=\"1.0\"?><LaunchBox/>");
  Put(root, "plain/GAME/GAME.EXE", "MZ");

  const struct {
    std::string path;
    const char* kind;
  } kinds[] = {{root + "/dfend", kDFendSource},
               {root + "/lb", kLaunchBoxSource},
               {root + "/lb/Data/Platforms/MS-DOS.xml", kLaunchBoxSource},
               {root + "/plain", nullptr},
               {root + "/nowhere", nullptr}};
  for (const auto& k : kinds) EXPECT_EQ(k.kind, ForeignLibraryKind(SystemForeignFiles(), k.path)) << k.path;

  // Keen is in the library under its DOS path, its drive C being the D-Fend
  // folder's VirtualHD in another case.
  auto library = xmltest::Parse(
      "<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Run=\"C:\\KEEN\\KEEN4.EXE\"/><Mount>"
      "<m type=\"hdd\" iso=\"no\" local=\"" +
      root + "/DFEND/VIRTUALHD/\" remote=\"C\"/></Mount></g></Games></root>");
  XmlDocument profile(HostPath(VANTLE_DEFAULT_PROFILE).c_str());
  ForeignReview review =
      ReviewForeignLibrary(SystemForeignFiles(), root + "/dfend", LibraryProgramPaths(*library), *TemplateEntry(profile));
  EXPECT_EQ(kDFendSource, review.source);
  EXPECT_EQ(2, review.alreadyKnown);  // the library's Keen, and the profile that repeats it
  ASSERT_EQ(1u, review.games.size());
  EXPECT_EQ("Doom", review.games[0].name);
  // What the entry leaves behind is known before anything is added.
  EXPECT_EQ("Not carried: program .\\VirtualHD\\DOOM\\DOOM.EXE does not exist; setting [glide] glide=true",
            NotCarriedLine(review.games[0]));
  review.games[0].name = "Doom II";  // renamed in the review
  auto entry = TakeForeignEntry(review, 0);
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ("Doom II", AttributeText(Section(entry.get(), "Main"), "Name"));
  EXPECT_EQ("C:\\DOOM.EXE", AttributeText(Section(entry.get(), "Main"), "Run"));
  EXPECT_EQ(root + "/dfend" + xmltest::OnThisSystem("/Confs/Bad.prof") + ": no [Extra] or [ExtraInfo] section\n",
            BrokenProfilesText(review.broken));
}
