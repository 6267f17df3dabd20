// eXoDOS's tree, alone and as the LaunchBox library it ships in, from files written after the
// published descriptions: batch file and configuration, mounts relative to the eXo folder in
// another case, a game still zipped, a missing game folder, a folder with nothing to read.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/ForeignExo.h"
#include "launcher/ForeignImport.h"
#include "launcher/ForeignLaunchBox.h"
#include "launcher/GameSchema.h"

namespace {

void Put(const std::string& root, const std::string& relative, const std::string& bytes) {
  const std::filesystem::path path = std::filesystem::u8path(root) / std::filesystem::u8path(relative);
  std::filesystem::create_directories(path.parent_path());
  xmltest::WriteFile(path.u8string(), bytes);
}

std::string Batch(const std::string& dir) {
  return "@echo off\r\ncd ..\\..\\..\r\n\".\\emulators\\dosbox\\ece4230\\DOSBox.exe\" -conf \".\\eXoDOS\\!dos\\" + dir +
         "\\dosbox.conf\" -noconsole -exit\r\n";
}

std::string Conf(const std::string& dir) {
  return "[sblaster]\r\nsbtype=sb16\r\n[autoexec]\r\n@echo off\r\nmount c .\\eXoDOS\\" + dir +
         "\r\nimgmount d .\\eXoDOS\\" + dir + "\\cd\\KEEN.CUE -t cdrom\r\nc:\r\ncd keen4\r\nkeen4e.exe\r\nexit\r\n";
}

}  // namespace

TEST(ExoLibrary, ReadsEachGameOfTheDosFolder) {
  xmltest::TempDir dir;
  const std::string lb = dir.Path();
  const std::string exo = lb + "/eXo";
  for (const char* game : {"keen", "doom", "gone"}) Put(exo, std::string("eXoDOS/!dos/") + game + "/dosbox.conf", Conf(game == std::string("keen") ? "Keen" : game));
  Put(exo, "eXoDOS/!dos/keen/Commander Keen 4 (1991).bat", Batch("keen"));
  Put(exo, "eXoDOS/!dos/keen/install.bat", "@echo off\r\n");
  Put(exo, "eXoDOS/!dos/doom/Doom (1993).bat", Batch("doom"));
  Put(exo, "eXoDOS/!dos/gone/Gone (1990).bat", Batch("gone"));
  std::filesystem::create_directories(std::filesystem::u8path(exo + "/eXoDOS/!dos/empty"));
  Put(exo, "eXoDOS/keen/KEEN4/KEEN4E.EXE", "MZ");
  Put(exo, "eXoDOS/keen/cd/keen.cue", "FILE");
  Put(exo, "eXoDOS/Doom (1993).zip", "PK");
  Put(lb, "Data/Platforms/MS-DOS.xml",
      "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<LaunchBox><Game><Title>Commander Keen 4: Secret of the Oracle</Title>"
      "<Platform>MS-DOS</Platform><PlayCount>5</PlayCount>"
      "<ApplicationPath>eXo\\eXoDOS\\!dos\\keen\\Commander Keen 4 (1991).bat</ApplicationPath></Game>"
      "<Game><Title>Tool</Title><Platform>MS-DOS</Platform><ApplicationPath>Tools\\Keen\\run.bat</ApplicationPath></Game>"
      "</LaunchBox>");
  Put(lb, "Tools/Keen/run.bat", Batch("keen"));  // a batch file outside !dos is the program itself

  PathFinder finder(SystemForeignFiles());
  for (const std::string& given : {lb, exo, exo + "/eXoDOS"}) EXPECT_EQ(xmltest::OnThisSystem(exo), ExoFolderOf(finder, xmltest::OnThisSystem(given))) << given;
  EXPECT_EQ("", ExoFolderOf(finder, exo + "/eXoDOS/!dos"));
  EXPECT_EQ(kLaunchBoxSource, ForeignLibraryKind(SystemForeignFiles(), lb));
  EXPECT_EQ(kExoSource, ForeignLibraryKind(SystemForeignFiles(), exo));

  const ForeignLibrary library = ReadExoLibrary(SystemForeignFiles(), lb);
  ASSERT_EQ(1u, library.broken.size());
  EXPECT_EQ("empty: neither a batch file nor a DOSBox configuration",
            NamePart(library.broken[0].file) + ": " + library.broken[0].reason);
  ASSERT_EQ(3u, library.games.size());
  const struct {
    const char *name, *year;
    std::string program;
    std::vector<std::string> notCarried;
  } expected[] = {
      {"Doom", "1993", "", {"not installed: its files are still in Doom (1993).zip"}},
      {"Gone", "1990", "", {"mounted path .\\eXoDOS\\gone does not exist", "mounted path .\\eXoDOS\\gone\\cd\\KEEN.CUE does not exist",
                            "no program its configuration starts exists here"}},
      {"Commander Keen 4", "1991", xmltest::OnThisSystem(exo + "/eXoDOS/keen/KEEN4/KEEN4E.EXE"), {}},
  };
  for (std::size_t i = 0; i < 3; ++i) {
    const ForeignGame& game = library.games[i];
    EXPECT_EQ(std::string("eXoDOS|") + expected[i].name + "|" + expected[i].year + "|ece4230",
              game.source + "|" + game.name + "|" + game.year + "|" + game.engine);
    EXPECT_EQ(expected[i].program, game.program) << game.name;
    EXPECT_EQ(expected[i].notCarried, game.notCarried) << game.name;
    EXPECT_EQ(2u, game.mounts.size()) << game.name;  // kept for when the game is unpacked
  }
  const ForeignGame& keen = library.games[2];
  EXPECT_EQ(xmltest::OnThisSystem(exo + "/eXoDOS/keen/cd/keen.cue") + "|@echo off\r\n|",
            keen.mounts[1].host + "|" + keen.preCommands + "|" + keen.postCommands);

  // Through LaunchBox: its title and play count, eXo's mounts and program.
  const ForeignLibrary launchBox = ReadLaunchBoxLibrary(SystemForeignFiles(), lb);
  ASSERT_EQ(2u, launchBox.games.size());
  EXPECT_EQ("LaunchBox " + xmltest::OnThisSystem(lb + "/Tools/Keen/run.bat"),
            launchBox.games[1].source + " " + launchBox.games[1].program);
  const ForeignGame& listed = launchBox.games[0];
  EXPECT_EQ("eXoDOS|Commander Keen 4: Secret of the Oracle|1991|5", listed.source + "|" + listed.name + "|" +
                                                                       listed.year + "|" + std::to_string(listed.playCount));
  EXPECT_EQ(keen.program, listed.program);

  // Imported once, each game is known the next time, the zipped one (which
  // has no program) by its name and its drive C.
  XmlDocument profile(HostPath(VANTLE_DEFAULT_PROFILE).c_str());
  auto stored = xmltest::Parse("<?xml version=\"1.0\"?>\r\n<root><Games></Games></root>");
  ForeignReview first = ReviewForeignLibrary(SystemForeignFiles(), exo, LibraryProgramPaths(*stored), *TemplateEntry(profile));
  ASSERT_EQ(3u, first.games.size());
  for (std::size_t i = 0; i < 3; ++i) GamesOf(*stored)->AddChild(TakeForeignEntry(first, i));
  const ForeignReview again = ReviewForeignLibrary(SystemForeignFiles(), exo, LibraryProgramPaths(*stored), *TemplateEntry(profile));
  EXPECT_EQ("3 0", std::to_string(again.alreadyKnown) + " " + std::to_string(again.games.size()));
}
