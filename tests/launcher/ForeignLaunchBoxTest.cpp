// LaunchBox's platform files and the DOSBox configurations they name, read
// from files written after the published descriptions of its data model.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "launcher/ForeignLaunchBox.h"

namespace {

void Put(const std::string& root, const std::string& relative, const std::string& bytes) {
  const std::filesystem::path path = std::filesystem::u8path(root) / std::filesystem::u8path(relative);
  std::filesystem::create_directories(path.parent_path());
  xmltest::WriteFile(path.u8string(), bytes);
}

const char kPlatform[] =
    "\xEF\xBB\xBF<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<LaunchBox>\r\n"
    "  <Game>\r\n    <ID>1</ID>\r\n    <Title>Doom &amp; More</Title>\r\n    <Platform>MS-DOS</Platform>\r\n"
    "    <Developer>id Software</Developer>\r\n    <Publisher>GT Interactive</Publisher>\r\n"
    "    <Genre>Shooter; Action</Genre>\r\n    <ReleaseDate>1993-12-10T00:00:00-08:00</ReleaseDate>\r\n"
    "    <Notes>Rip &lt;and&gt; tear</Notes>\r\n    <Favorite>true</Favorite>\r\n    <PlayCount>12</PlayCount>\r\n"
    "    <PlayTime>5400</PlayTime>\r\n    <LastPlayedDate>2024-02-03T20:15:00.1234567-05:00</LastPlayedDate>\r\n"
    "    <ApplicationPath>games\\DOOM\\doom.exe</ApplicationPath>\r\n    <CommandLine>-warp 1 1</CommandLine>\r\n"
    "    <RootFolder>Games\\Doom</RootFolder>\r\n    <DosBoxConfigurationPath>Games\\Doom\\dosbox.conf</DosBoxConfigurationPath>\r\n"
    "    <UseDosBox>true</UseDosBox><Emulator>e-1</Emulator>\r\n  </Game>\r\n"
    "  <Game><ID>2</ID><Title>Lost</Title><Platform>MS-DOS</Platform>"
    "<ApplicationPath>Games\\LOST\\LOST.EXE</ApplicationPath><DosBoxConfigurationPath>none.conf</DosBoxConfigurationPath>"
    "<CustomDosBoxVersionPath>Emu\\X\\dosbox.exe</CustomDosBoxVersionPath><Emulator>e-1</Emulator></Game>\r\n"
    "  <Game><ID>3</ID><Title>Sonic</Title><Platform>Sega Genesis</Platform></Game>\r\n"
    "  <Game><ID>4</ID><Platform>MS-DOS</Platform></Game>\r\n"
    "  <AdditionalApplication><GameID>1</GameID><Name>Manual</Name></AdditionalApplication>\r\n"
    "  <AdditionalApplication><GameID>1</GameID><Name>Install</Name><ApplicationPath>Games\\Doom\\install.bat</ApplicationPath>"
    "</AdditionalApplication><AdditionalApplication><GameID>1</GameID><Name>Setup</Name>"
    "<ApplicationPath>Games\\Doom\\setup.exe</ApplicationPath><CommandLine>-s</CommandLine></AdditionalApplication>\r\n"
    "</LaunchBox>\r\n";

const char kConf[] =
    "[cpu]\r\ncycles=max\r\n[midi]\r\nmididevice=default\r\n[autoexec]\r\n"
    "mount c \"games\\doom\" -freesize 100\r\nimgmount d Games\\Doom\\CD\\doom.cue -t cdrom\r\n"
    "mount -u e\r\nSET DOOMWADDIR=C:\\\r\nexit\r\n";

}  // namespace

TEST(LaunchBoxLibrary, ReadsTheDosGamesOfEachPlatformFile) {
  xmltest::TempDir dir;
  const std::string root = dir.Path();
  Put(root, "Data/Platforms/MS-DOS.xml", kPlatform);
  Put(root, "Data/Platforms/Broken.xml", "<?xml version=\"1.0\"?><Games><Game>");
  Put(root, "Data/Platforms/Other.xml", "<?xml version=\"1.0\"?><Games><Game><Title>X</Title></Game></Games>");
  Put(root, "Games/Doom/DOOM.EXE", "MZ");
  Put(root, "Games/Doom/SETUP.EXE", "MZ");
  Put(root, "Data/Emulators.xml", "<?xml version=\"1.0\"?><LaunchBox><Emulator><ID>e-1</ID><Title>DOSBox Staging</Title></Emulator></LaunchBox>");
  Put(root, "Games/Doom/dosbox.conf", kConf);
  Put(root, "Games/Doom/cd/DOOM.CUE", "FILE");

  PathFinder finder(SystemForeignFiles());
  const std::string platforms = root + "/Data/Platforms";
  for (const std::string& given : {root, platforms, platforms + "/MS-DOS.xml"})
    EXPECT_EQ(root, LaunchBoxFolderOf(finder, given)) << given;
  EXPECT_EQ("", LaunchBoxFolderOf(finder, root + "/Games"));

  const ForeignLibrary library = ReadLaunchBoxLibrary(SystemForeignFiles(), root);
  ASSERT_EQ(3u, library.broken.size());
  const char* broken[] = {"Broken.xml: not a LaunchBox platform file", "MS-DOS.xml: a game without a title (4)",
                          "Other.xml: not a LaunchBox platform file"};
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(broken[i], NamePart(library.broken[i].file) + ": " + library.broken[i].reason);

  ASSERT_EQ(2u, library.games.size());
  const ForeignGame& doom = library.games[0];
  EXPECT_EQ("LaunchBox|Doom & More|id Software|GT Interactive|Shooter; Action|1993|Rip <and> tear|1|12|5400|"
            "2024-02-03 20:15:00|-warp 1 1",
            doom.source + "|" + doom.name + "|" + doom.developer + "|" + doom.publisher + "|" + doom.genre + "|" +
                doom.year + "|" + doom.notes + "|" + std::to_string(doom.favorite) + "|" +
                std::to_string(doom.playCount) + "|" + std::to_string(doom.playTime) + "|" + doom.lastPlayed + "|" +
                doom.parameters);
  EXPECT_EQ(xmltest::OnThisSystem(root + "/Games/Doom/DOOM.EXE"), doom.program);
  ASSERT_EQ(2u, doom.mounts.size());  // the configuration's C takes the root folder's place
  EXPECT_EQ(xmltest::OnThisSystem(root + "/Games/Doom"), doom.mounts[0].host);
  EXPECT_EQ(ForeignMount::Folder, doom.mounts[0].kind);
  EXPECT_EQ(ForeignMount::CDImage, doom.mounts[1].kind);
  EXPECT_EQ(xmltest::OnThisSystem(root + "/Games/Doom/cd/DOOM.CUE"), doom.mounts[1].host);
  EXPECT_EQ("mount -u e\r\nSET DOOMWADDIR=C:\\\r\n", doom.preCommands);
  EXPECT_EQ((std::vector<std::string>{"mount option -freesize of drive c", "additional application Manual",
                                      "additional application Install (Games\\Doom\\install.bat)"}),
            doom.notCarried);
  EXPECT_EQ(xmltest::OnThisSystem(root + "/Games/Doom/SETUP.EXE") + " -s", doom.installer + " " + doom.installerParameters);
  ASSERT_EQ(2u, doom.settings.size());
  EXPECT_EQ("midi mididevice default", doom.settings[1].section + " " + doom.settings[1].key + " " + doom.settings[1].value);

  const ForeignGame& lost = library.games[1];
  EXPECT_EQ("Lost", lost.name);
  EXPECT_EQ("DOSBox Staging|Emu\\X\\dosbox.exe", doom.engine + "|" + lost.engine);  // its own build first
  const std::string left[] = {"DOSBox configuration none.conf cannot be read",
                              "program Games\\LOST\\LOST.EXE does not exist"};
  ASSERT_EQ(2u, lost.notCarried.size());
  for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(left[i], lost.notCarried[i]);
}
