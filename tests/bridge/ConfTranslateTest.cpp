// Configurations as Vantle writes them under Wine, translated for the host's
// DOSBox with a stand-in for Wine's path conversion.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "bridge/ConfTranslate.h"

namespace {

// Like Wine: Z: is the host's root, C: the prefix's drive, D: nothing; Wine's
// short names lead to the long ones.
std::string FakeHostPath(const std::string& windowsPath) {
  static const std::map<std::string, std::string> shortNames = {
      {"X_Y~~R0B", "x y"}, {"COMM~M54", "Commander Keen"}, {"PLAY~AB1.COM", "play game.com"},
      {"SAYHI~1", "say \"hi\""}, {"TOMJE~1", "Tom & Jerry's"}, {"GAMES~1", ".games"}};
  std::string root;
  if (windowsPath.compare(0, 3, "Z:\\") == 0)
    root = "/";
  else if (windowsPath.compare(0, 3, "C:\\") == 0)
    root = "/home/me/.wine/drive_c/";
  else
    return std::string();
  std::string host = root;
  std::string rest = windowsPath.substr(3);
  while (!rest.empty()) {
    const std::size_t cut = rest.find('\\');
    std::string part = rest.substr(0, cut);
    rest = cut == std::string::npos ? std::string() : rest.substr(cut + 1);
    if (part.empty()) continue;
    const auto found = shortNames.find(part);
    if (host.back() != '/') host += '/';
    host += found == shortNames.end() ? part : found->second;
  }
  return host;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string Notes(const TranslatedConf& conf) {
  std::string notes;
  for (const std::string& note : conf.notes) notes += note + "\n";
  return notes;
}

}  // namespace

TEST(ConfTranslate, OldSettingNamesBecomeThisDosBoxsAndEverythingElseStaysByteForByte) {
  const std::string in = Lines({"[sdl]", "fullscreen=false", "output=ddraw", "mapperfile=mapper.txt",
                                "[dosbox]", "machine=vga", "memsize=63", "[render]", "frameskip=0",
                                "scale=normal2x", "[midi]", "mpu401=uart", "device=win32", "midiconfig=0",
                                "[sblaster]", "irq=7", "mixer=true", "[gus]", "gus=false", "irq1=5", "irq2=7",
                                "dma1=3", "dma2=1", "ultradir=", "[autoexec]", "echo machine=vga", "scale=x"});
  const std::string out = Lines({"[sdl]", "fullscreen=false", "output=surface", "mapperfile=mapper.txt",
                                 "[dosbox]", "machine=svga_s3", "memsize=63", "[render]", "frameskip=0",
                                 "scaler=normal2x", "[midi]", "mpu401=uart", "mididevice=default", "midiconfig=",
                                 "[sblaster]", "irq=7", "sbmixer=true", "[gus]", "gus=false", "gusirq=5",
                                 "gusdma=3", "ultradir=", "[autoexec]", "echo machine=vga", "scale=x"});
  const TranslatedConf translated = TranslateConf(in, FakeHostPath);
  EXPECT_EQ(out, translated.text);
  EXPECT_EQ(10u, translated.notes.size()) << Notes(translated);

  // Values the host's DOSBox takes, and a MIDI device of its own, stay.
  struct Case {
    std::string in, out;
  } cases[] = {
      {"[dosbox]\nmachine=cga\n", "[dosbox]\nmachine=cga\n"},
      {"[sdl]\noutput=opengl\n", "[sdl]\noutput=opengl\n"},
      {"[midi]\ndevice = alsa\nmidiconfig=128:0\n", "[midi]\nmididevice=alsa\nmidiconfig=128:0\n"},
      {"[midi]\nmidiconfig=2\ndevice=oss\n", "[midi]\nmidiconfig=2\nmididevice=oss\n"},
      {"[midi]\nmidiconfig=2\ndevice=WIN32", "[midi]\nmidiconfig=\nmididevice=default"},
      {"[render]\r\nscaler=hq2x\r\n", "[render]\r\nscaler=hq2x\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, TranslateConf(c.in, FakeHostPath).text) << c.in;
}

TEST(ConfTranslate, TheHostRootIsNarrowedToTheGameFolderAndDosNamesLeadThere) {
  struct Case {
    const char* what;
    std::vector<std::string> autoexec, expected;
  } cases[] = {
      {"a -run game in plain folders: the drive moves to the first free letter and holds the game's folder",
       {"mount Z Z:\\", "REM before", "Z:", "CD Z:\\GAMES\\KEEN", "KEEN4.EXE", "exit"},
       {"mount C \"/GAMES/KEEN\"", "REM before", "C:", "CD C:\\", "KEEN4.EXE", "exit"}},
      {"C is taken by the prefix's drive; Wine's short names of folders that are no DOS names",
       {"mount C C:\\", "mount Z Z:\\", "Z:", "CD Z:\\tmp\\X_Y~~R0B\\COMM~M54", "PLAY.COM -x"},
       {"mount C \"/home/me/.wine/drive_c/\"", "mount D \"/tmp/x y/Commander Keen\"", "D:", "CD D:\\",
        "PLAY.COM -x"}},
      {"two folders on the drive: their common folder, and DOS names below it",
       {"mount Z Z:\\", "Z:", "CD Z:\\tmp\\games\\setup", "INSTALL.EXE", "CD Z:\\tmp\\games", "PLAY~AB1.COM"},
       {"mount C \"/tmp/games\"", "C:", "CD C:\\SETUP", "INSTALL.EXE", "CD C:\\", "PLAYGA~1.COM"}},
      {"an image with blanks keeps its options; other lines stay",
       {"imgmount D \"Z:\\tmp\\X_Y~~R0B\\keen cd.iso\" -t cdrom", "mount Q /already/host", "D:", "CD D:",
        "CDGAME.COM"},
       {"imgmount D \"/tmp/x y/keen cd.iso\" -t cdrom", "mount Q /already/host", "D:", "CD D:", "CDGAME.COM"}},
      {"a game folder below a mounted sub-folder of the prefix's drive",
       {"mount C C:\\GAMES", "C:", "CD C:\\GAMES\\KEEN", "KEEN.EXE"},
       {"mount C \"/home/me/.wine/drive_c/GAMES\"", "C:", "CD C:\\KEEN", "KEEN.EXE"}},
      {"a folder deeper than DOS can enter, below a plain one",
       {"mount C C:\\", "C:", "CD C:\\GAMES\\ID\\KEEN\\EPISODE4\\DATA\\LEVELS\\SAVED\\GAMES2\\USER1\\PART\\SUBPART",
        "K.EXE"},
       {"mount C \"/home/me/.wine/drive_c/\"", "C:",
        "mount D \"/home/me/.wine/drive_c/GAMES/ID/KEEN/EPISODE4/DATA/LEVELS/SAVED/GAMES2/USER1/PART/SUBPART\"",
        "D:", "K.EXE"}},
      {"nothing used on the host's root: it is not mounted at all",
       {"mount Z Z:\\", "Z:", "CD Z:", "RUN.BAT"}, {"C:", "CD C:", "RUN.BAT"}},
      {"'%' is doubled in batch lines, read as one and written doubled again; an eight-letter name is a DOS name",
       {"mount Z Z:\\", "Z:", "CD Z:\\tmp\\50%%off\\KEEN4EGA", "KEEN4EGA.EXE", "echo 100%%"},
       {"mount C \"/tmp/50%%off/KEEN4EGA\"", "C:", "CD C:\\", "KEEN4EGA.EXE", "echo 100%%"}},
      {"'%' below a plain mount; '&', the apostrophe and leading dots in host names",
       {"mount C C:\\", "mount Z Z:\\", "C:", "CD C:\\50%%OFF", "SETUP.BAT", "Z:", "CD Z:\\tmp\\TOMJE~1\\GAMES~1",
        "GO.BAT"},
       {"mount C \"/home/me/.wine/drive_c/\"", "mount D \"/tmp/Tom & Jerry's/.games\"", "C:", "CD C:\\50%%OFF",
        "SETUP.BAT", "D:", "CD D:\\", "GO.BAT"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> in = {"[dos]", "xms=true", "[autoexec]"};
    std::vector<std::string> out = in;
    in.insert(in.end(), c.autoexec.begin(), c.autoexec.end());
    out.insert(out.end(), c.expected.begin(), c.expected.end());
    const TranslatedConf translated = TranslateConf(Lines(in), FakeHostPath);
    EXPECT_EQ(Lines(out), translated.text) << c.what << "\n" << Notes(translated);
    EXPECT_TRUE(translated.failures.empty()) << c.what;
  }

  // What DOSBox cannot be handed stops the launch, and says which path it is.
  struct Refused {
    std::vector<std::string> autoexec;
    const char* failure;
  } refused[] = {
      {{"mount A A:\\ -t floppy"}, "no host path for A:\\"},
      {{"mount Z Z:\\", "Z:", "CD Z:\\tmp\\SAYHI~1", "PLAY.COM"}, "/tmp/say \"hi\""},
      {{"imgmount D Z:\\tmp\\SAYHI~1\\cd.iso -t iso"}, "/tmp/say \"hi\"/cd.iso"},
      {{"mount C C:\\", "C:", "CD C:\\SAYHI~1", "PLAY.COM"}, "/home/me/.wine/drive_c/say \"hi\""},
      {{"mount Z Z:\\", "CD Z:\\tmp\\games", "CD Z:\\usr\\games"}, "only the host's root in common"},
  };
  for (const Refused& r : refused) {
    std::vector<std::string> in = {"[autoexec]"};
    in.insert(in.end(), r.autoexec.begin(), r.autoexec.end());
    const TranslatedConf translated = TranslateConf(Lines(in), FakeHostPath);
    ASSERT_FALSE(translated.failures.empty()) << r.autoexec[0] << "\n" << translated.text;
    EXPECT_NE(std::string::npos, translated.failures[0].find(r.failure)) << translated.failures[0];
  }

  // Every letter up to Y taken: Z stays where it is rather than overwrite
  // another drive.
  std::string full = "[autoexec]\n";
  for (char letter = 'C'; letter <= 'Y'; ++letter) full += std::string("mount ") + letter + " /d" + letter + "\n";
  EXPECT_EQ(full + "mount Z \"/tmp/games\"\nCD Z:\\\n",
            TranslateConf(full + "mount Z Z:\\\nCD Z:\\tmp\\games\n", FakeHostPath).text);
}

TEST(ConfTranslate, DosNames) {
  struct Case {
    const char* name;
    bool plain;
    const char* shortName;
  } cases[] = {
      {"KEEN4.EXE", true, "KEEN4~1.EXE"},     {"keen", true, "KEEN~1"},
      {"KEEN4EGA.EXE", true, ""},            {"KEEN4EGA", true, ""},
      {"KEEN4EGA1.EXE", false, "KEEN4E~1.EXE"}, {"50%OFF", true, ""},
      {"GAMES_1", true, "GAMES_~1"},          {"Commander Keen", false, "COMMAN~1"},
      {"My Games", false, "MYGAME~1"},        {"LONGNAME9.EXE", false, "LONGNA~1.EXE"},
      {"A.TEXT", false, "A~1.TEX"},           {"A.B.C", false, "A~1.C"},
      {"a b.com", false, "AB~1.COM"},         {".hidden", false, "HIDDEN~1"},
      {"KEEN.", false, "KEEN~1"},             {"COMMAN~1", false, "COMMAN~1"},
      {"x+y", false, "X+Y~1"},                {"\xc3\xa9t\xc3\xa9", false, "\xc3\xa9T\xc3\xa9~1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.plain, IsPlainDosName(c.name)) << c.name;
    if (!c.plain) {
      EXPECT_EQ(c.shortName, DosBoxShortName(c.name)) << c.name;
    }
  }
}
