// D-Fend Reloaded's library read from files written after its published
// descriptions: fields, escapes, relative paths in another case, a missing
// program, files that are no profiles.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "launcher/ForeignDFend.h"

namespace {

void Put(const std::string& root, const std::string& relative, const std::string& bytes) {
  const std::filesystem::path path = std::filesystem::u8path(root) / std::filesystem::u8path(relative);
  std::filesystem::create_directories(path.parent_path());
  xmltest::WriteFile(path.u8string(), bytes);
}

const char kKeen[] =
    "[Extra]\r\nProfileMode=DOSBox\r\nExe=.\\virtualhd\\KEEN\\keen4.exe\r\nGameParameters=/nojoy\r\n"
    "Setup=.\\VirtualHD\\KEEN\\INSTALL.EXE\r\nNrOfMounts=3\r\n0=.\\VIRTUALHD\\;Drive;c;false;\r\n"
    "1=.\\VirtualHD\\CD\\keen.iso$.\\VirtualHD\\CD\\keen2.iso;CDROMImage;D;false;\r\n2=.\\VirtualHD\\;Tape;E;\r\n"
    "autoexec=echo a[61]b[13][10]echo c\r\nEnvironment=PATH[61]C:\\[13][10]\r\nExtraExe0=.\\VirtualHD\\KEEN\\ED.EXE\r\n"
    "[ExtraInfo]\r\nName=Commander Keen \xB4\x39\x31\r\nGenre=platform\r\nDeveloper=id Software\r\n"
    "Publisher=Apogee\r\nYear=1991\r\nFavorite=1\r\nNotes=line one[13][10]x[61]1\r\n"
    "[dosbox]\r\nDOSBoxDirectory=Default\r\nmemsize=16\r\n[midi]\r\nmpu401=true\r\nintelligent=false\r\n"
    "device=default\r\n[sblaster]\r\nmixer=false\r\n[glide]\r\nglide=true\r\n";

}  // namespace

TEST(DFendLibrary, ReadsEveryProfileAndNamesTheOnesItCannot) {
  xmltest::TempDir dir;
  const std::string root = dir.Path();
  Put(root, "DFend.dat", "PRGDIRMODE\r\n");
  Put(root, "VirtualHD/Keen/KEEN4.EXE", "MZ");
  Put(root, "VirtualHD/Keen/INSTALL.EXE", "MZ");
  Put(root, "VirtualHD/cd/KEEN.ISO", "CD");
  Put(root, "Confs/Keen.prof", kKeen);
  Put(root, "Confs/Gone.prof",
      "[Extra]\r\nExe=.\\VirtualHD\\GONE\\GONE.EXE\r\nNrOfMounts=1\r\n0=.\\VirtualHD\\;Drive;C;false;\r\n");
  Put(root, "Confs/Binary.prof", std::string("\x00\x01[Extra]", 9));
  Put(root, "Confs/Notes.prof", "just some words\r\n");
  Put(root, "Confs/Windows.prof", "[Extra]\r\nProfileMode=Windows\r\n[ExtraInfo]\r\nName=Paint\r\n");
  Put(root, "Confs/readme.txt", "not a profile");

  PathFinder probe(SystemForeignFiles());
  ASSERT_TRUE(IsDFendFolder(probe, root));
  EXPECT_FALSE(IsDFendFolder(probe, root + "/VirtualHD"));
  const ForeignLibrary library = ReadDFendLibrary(SystemForeignFiles(), root);

  ASSERT_EQ(3u, library.broken.size());
  const char* reasons[][2] = {{"Binary.prof", "not a text file"},
                              {"Notes.prof", "no [Extra] or [ExtraInfo] section"},
                              {"Windows.prof", "a Windows profile, not one for DOSBox"}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(reasons[i][0], NamePart(library.broken[i].file));
    EXPECT_EQ(reasons[i][1], library.broken[i].reason);
  }

  ASSERT_EQ(2u, library.games.size());
  const ForeignGame& gone = library.games[0];
  EXPECT_EQ("Gone", gone.name);  // from the file name when the profile has none
  ASSERT_EQ(1u, gone.notCarried.size());
  EXPECT_EQ("program .\\VirtualHD\\GONE\\GONE.EXE does not exist", gone.notCarried[0]);

  const ForeignGame& keen = library.games[1];
  EXPECT_EQ("Commander Keen \xC2\xB4\x39\x31", keen.name);
  EXPECT_EQ("D-Fend Reloaded|platform|id Software|Apogee|1991|1", keen.source + "|" + keen.genre + "|" +
                                                                   keen.developer + "|" + keen.publisher + "|" +
                                                                   keen.year + "|" + std::to_string(keen.favorite));
  EXPECT_EQ("line one\r\nx=1", keen.notes);
  EXPECT_EQ(xmltest::OnThisSystem(root + "/VirtualHD/Keen/KEEN4.EXE"), keen.program);
  EXPECT_EQ("/nojoy", keen.parameters);
  EXPECT_EQ(xmltest::OnThisSystem(root + "/VirtualHD/Keen/INSTALL.EXE"), keen.installer);
  EXPECT_EQ("SET PATH=C:\\\r\necho a=b\r\necho c\r\n", keen.preCommands);
  ASSERT_EQ(2u, keen.mounts.size());
  EXPECT_EQ(xmltest::OnThisSystem(root + "/VirtualHD"), keen.mounts[0].host);
  EXPECT_EQ('C', keen.mounts[0].letter);
  EXPECT_EQ(ForeignMount::CDImage, keen.mounts[1].kind);
  EXPECT_EQ(xmltest::OnThisSystem(root + "/VirtualHD/cd/KEEN.ISO"), keen.mounts[1].host);
  const std::string left[] = {"further image .\\VirtualHD\\CD\\keen2.iso of drive D",
                              "mount .\\VirtualHD\\;Tape;E;", "further program .\\VirtualHD\\KEEN\\ED.EXE"};
  ASSERT_EQ(3u, keen.notCarried.size());
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(left[i], keen.notCarried[i]);
  // Front-end choices stay behind; DOSBox's settings come along in order.
  std::string settings;
  for (const ForeignSetting& s : keen.settings) settings += s.section + "." + s.key + "=" + s.value + " ";
  EXPECT_EQ("dosbox.memsize=16 midi.mpu401=true midi.intelligent=false midi.device=default sblaster.mixer=false "
            "glide.glide=true ",
            settings);
}

TEST(DFendLibrary, RelativePathsStartFromTheDefaultLocationItsSettingsName) {
  xmltest::TempDir dir;
  const std::string root = dir.Path();
  Put(root, "Settings/DFend.ini", "[ProgramSets]\r\nDefLoc=" + root + "/Elsewhere\r\n");
  Put(root, "Elsewhere/VirtualHD/A/A.EXE", "MZ");
  Put(root, "Confs/A.prof", "[Extra]\r\nExe=.\\VirtualHD\\A\\A.EXE\r\n");
  const ForeignLibrary library = ReadDFendLibrary(SystemForeignFiles(), root);
  ASSERT_EQ(1u, library.games.size());
  EXPECT_EQ(xmltest::OnThisSystem(root + "/Elsewhere/VirtualHD/A/A.EXE"), library.games[0].program);
  EXPECT_TRUE(library.games[0].notCarried.empty());
}
