// The configuration file DOSBox is started with: settings under their headers
// in DOSBox's order, then mounts, commands and the program, byte for byte.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#ifdef _WIN32
#include <direct.h>
#endif

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/ConfWriter.h"
#include "launcher/DefaultProfile.h"
#include "launcher/GameSchema.h"
#include "launcher/Storage.h"

namespace {

// The settings of the shipped template, written out by hand.
const char kTemplateSettings[] =
    "[sdl]\r\nfullscreen=false\r\nfulldouble=true\r\nfullresolution=Original\r\n"
    "windowresolution=1024x768\r\noutput=surface\r\nautolock=true\r\nsensitivity=100\r\n"
    "waitonerror=true\r\npriority=higher,normal\r\nmapperfile=mapper.txt\r\nusescancodes=true\r\n"
    "[dosbox]\r\nmachine=vga\r\nmemsize=63\r\n"
    "[render]\r\nframeskip=0\r\naspect=false\r\nscale=normal2x\r\n"
    "[cpu]\r\ncore=auto\r\ncycles=16000\r\ncycleup=500\r\ncycledown=20\r\n"
    "[joystick]\r\njoysticktype=auto\r\ntimed=true\r\nautofire=false\r\nswap34=false\r\n"
    "buttonwrap=true\r\n"
    "[serial]\r\nserial1=dummy\r\nserial2=dummy\r\nserial3=dummy\r\nserial4=dummy\r\n"
    "[dos]\r\nxms=true\r\nems=true\r\numb=true\r\nkeyboardlayout=none\r\n"
    "[ipx]\r\nipx=false\r\n"
    "[mixer]\r\nnosound=false\r\nrate=22050\r\nblocksize=2048\r\nprebuffer=10\r\n"
    "[midi]\r\nmpu401=uart\r\ndevice=win32\r\nmidiconfig=0\r\n"
    "[sblaster]\r\nsbtype=sb16\r\nsbbase=220\r\nirq=7\r\ndma=1\r\nhdma=5\r\nmixer=true\r\n"
    "oplmode=auto\r\noplrate=22050\r\n"
    "[gus]\r\ngus=false\r\ngusrate=22050\r\ngusbase=240\r\nirq1=5\r\nirq2=5\r\ndma1=3\r\ndma2=3\r\n"
    "ultradir=\r\n"
    "[speaker]\r\npcspeaker=true\r\npcrate=22050\r\ntandy=auto\r\ntandyrate=22050\r\ndisney=true\r\n";

const char kTemplatePre[] = "REM Sample Commands here to be executed BEFORE your game\r\n\t\t\t\t\r\n";
const char kTemplatePost[] =
    "@echo Sample Commands here to be executed AFTER your game\r\n"
    "@echo Game completed! Close this Window to Exit.\r\n@REM exit\r\n\t\t\t\t\r\n";

// Section headers and settings only: everything after the last of them.
const char kEmptySections[] =
    "[sdl]\r\n[dosbox]\r\n[render]\r\n[cpu]\r\n[joystick]\r\n[serial]\r\n[dos]\r\n[ipx]\r\n"
    "[mixer]\r\n[midi]\r\n[sblaster]\r\n[gus]\r\n[speaker]\r\n[autoexec]\r\n";

std::string NoShortForm(const std::string&) { return std::string(); }

// Long names that exist on the "host" of these tests.
std::string FakeShortForm(const std::string& path) {
  if (path == "C:\\Program Files\\Games") return "C:\\PROGRA~1\\Games";
  if (path == "C:\\Long Game Name\\PLAY.EXE") return "C:\\LONGGA~1\\PLAY.EXE";
  if (path == "C") return "NOT-A-DRIVE-LETTER";  // remote names are never converted
  return std::string();
}

std::size_t CountLines(const std::string& text) {
  std::size_t lines = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
  return lines;
}

class ConfWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    profileText_ = xmltest::ReadFile(HostPath(VANTLE_DEFAULT_PROFILE));
    ASSERT_GT(profileText_.size(), 5000u);
    profile_ = xmltest::Parse(profileText_);
    entry_ = TemplateEntry(*profile_);
    ASSERT_NE(nullptr, entry_);
    target_ = dir_.File("game.conf");
  }

  // An entry of its own, without the template's settings.
  XmlElement* Bare(const std::string& inner) {
    bare_ = xmltest::Parse("<?xml version=\"1.0\"?>\r\n<root><Games><g>" + inner + "</g></Games></root>");
    return TemplateEntry(*bare_);
  }

  XmlElement* Main(XmlElement* entry) { return Section(entry, "Main"); }

  void AddMount(XmlElement* entry, const char* startTag) {
    Section(entry, "Mount")->AddChildFromText(startTag);
  }

  std::string Written(XmlElement* entry, LaunchMode mode, bool expected,
                      ShortPathFunction shortPath = NoShortForm) {
    EXPECT_EQ(expected, WriteDosBoxConf(entry, target_, mode, shortPath, confText_));
    return xmltest::ReadFile(target_);
  }

  // What follows "[autoexec]".
  std::string Autoexec(XmlElement* entry, LaunchMode mode, bool expected,
                       ShortPathFunction shortPath = NoShortForm) {
    const std::string text = Written(entry, mode, expected, shortPath);
    const std::size_t at = text.find("[autoexec]\r\n");
    return at == std::string::npos ? "<no autoexec>" : text.substr(at + 12);
  }

  xmltest::TempDir dir_;
  std::string profileText_;
  std::unique_ptr<XmlDocument> profile_;
  std::unique_ptr<XmlDocument> bare_;
  XmlElement* entry_ = nullptr;
  std::string target_;
  ConfTextFunction confText_ = nullptr;  // text as stored
};

}  // namespace

TEST_F(ConfWriter, TheExampleGameGivesTheTemplateSettingsThenItsAutoexec) {
  AddMount(entry_, "<m type=\"hdd\" iso=\"no\" local=\"C:\\\" remote=\"C\">");
  SetAttributeText(Main(entry_), "Run", "C:\\GAMES\\KEEN\\KEEN.EXE");

  const std::string text = Written(entry_, LaunchMode::Run, true);
  EXPECT_EQ(std::string(kTemplateSettings) + "[autoexec]\r\nmount C C:\\\r\n" + kTemplatePre +
                "C:\r\nCD C:\\GAMES\\KEEN\r\nKEEN.EXE\r\n" + kTemplatePost,
            text);
  EXPECT_EQ(75u, CountLines(kTemplateSettings));
  EXPECT_EQ(std::string::npos, text.find("__")) << "choice lists are never written";
  EXPECT_EQ(std::string::npos, text.find("\r\n\r\n")) << "no blank line between sections";

  // Writing again replaces the file instead of adding to it.
  EXPECT_EQ(text, Written(entry_, LaunchMode::Run, true));
}

TEST_F(ConfWriter, SectionsFollowDosBoxOrderAndOnlyTheirOwnSettings) {
  XmlElement* entry = Bare(
      "<Sound volume=\"9\"><Speaker pcspeaker=\"false\"/><Mixer rate=\"44100\"><Extra x=\"1\"/></Mixer></Sound>"
      "<IPX ipx=\"true\"/><Dos ems=\"false\"/><Serial serial1=\"modem\"/><Joystick timed=\"false\"/>"
      "<Cpu cycles=\"max\"/><Render scale=\"hq2x\"/><DosBox machine=\"cga\"/>"
      "<Screen fullscreen=\"true\"><Nested inner=\"no\"/></Screen>"
      "<Main Run=\"GO.EXE\" Install=\"\"/>");
  EXPECT_EQ(
      "[sdl]\r\nfullscreen=true\r\n[dosbox]\r\nmachine=cga\r\n[render]\r\nscale=hq2x\r\n"
      "[cpu]\r\ncycles=max\r\n[joystick]\r\ntimed=false\r\n[serial]\r\nserial1=modem\r\n"
      "[dos]\r\nems=false\r\n[ipx]\r\nipx=true\r\n[mixer]\r\nrate=44100\r\n[midi]\r\n[sblaster]\r\n"
      "[gus]\r\n[speaker]\r\npcspeaker=false\r\n[autoexec]\r\nGO.EXE\r\n",
      Written(entry, LaunchMode::Run, true));
}

TEST_F(ConfWriter, OnlyDoubleUnderscoreNamesAreLeftOutAndValuesAreWrittenAsStored) {
  XmlElement* entry = Bare(
      "<Cpu __cycles=\"auto|||max\" __orphan=\"a|||b\" _single=\"1\" core=\"\" cycles=\" 3000 \""
      " note=\"a &amp; b &lt;c&gt; &#65;\" x__y=\"2\"/><Main Run=\"R.EXE\" Publisher=\"Sierra\"/>");
  const std::string text = Written(entry, LaunchMode::Run, true);
  EXPECT_NE(std::string::npos,
            text.find("[cpu]\r\n_single=1\r\ncore=\r\ncycles= 3000 \r\nnote=a & b <c> A\r\nx__y=2\r\n[joystick]"))
      << text;
  EXPECT_EQ(std::string::npos, text.find("orphan"));
  EXPECT_EQ(std::string::npos, text.find("Sierra")) << "Main is no section of the configuration";
}

TEST_F(ConfWriter, MountLinesDependOnTypeAndIso) {
  XmlElement* entry = Bare("<Main Run=\"A.EXE\"/>");
  AddMount(entry, "<m type=\"\" iso=\"no\" local=\"C:\\GAMES\" remote=\"C\">");
  AddMount(entry, "<m type=\"floppy\" iso=\"YES\" local=\"A:\\\" remote=\"A\">");
  AddMount(entry, "<m type=\"HDD\" iso=\"no\" local=\"C:\\Program Files\\Games\" remote=\"C\">");
  AddMount(entry, "<cd type=\"iso\" iso=\"Yes\" local=\"D:\\GAME.ISO\" remote=\"D\">");
  AddMount(entry, "<m type=\"cdrom\" local=\"E:\\\" remote=\"E\">");
  AddMount(entry, "<m type=\"hdd\" iso=\"yes\" local=\"C:\\HD.IMG\" remote=\"2\">");
  AddMount(entry, "<m type=\"hdd\" iso=\"no\" local=\"D:\\No Short Form\" remote=\"D\">");
  AddMount(entry, "<m type=\"iso\" iso=\"yes\" local=\"&quot;E:\\My CD.iso&quot;\" remote=\"E\">");
  EXPECT_EQ(
      "imgmount A A:\\ -t floppy\r\n"
      "mount C C:\\PROGRA~1\\Games\r\n"
      "imgmount D D:\\GAME.ISO -t iso\r\n"
      "mount E E:\\ -t cdrom\r\n"
      "imgmount 2 C:\\HD.IMG\r\n"
      "mount D \"D:\\No Short Form\"\r\n"
      "imgmount E \"E:\\My CD.iso\" -t iso\r\n"
      "A.EXE\r\n",
      Autoexec(entry, LaunchMode::Run, true, FakeShortForm));
  // Reading a mount completes it, the skipped one included.
  XmlElement* first = Section(entry, "Mount")->GetChildren()[0];
  EXPECT_NE(nullptr, first->FindAttribute("iso"));
  XmlElement* noIso = Section(entry, "Mount")->GetChildren()[4];
  EXPECT_NE(nullptr, noIso->FindAttribute("iso"));
}

TEST_F(ConfWriter, TheProgramPathIsSplitIntoDriveDirectoryAndProgram) {
  struct Case {
    const char* run;
    const char* lines;
  } const cases[] = {
      {"KEEN.EXE", "KEEN.EXE\r\n"},
      {"C:KEEN.EXE", "C:\r\nC:KEEN.EXE\r\n"},
      {"C:\\KEEN.EXE", "C:\r\nCD C:\r\nKEEN.EXE\r\n"},
      {"GAMES\\KEEN\\KEEN.EXE", "CD GAMES\\KEEN\r\nKEEN.EXE\r\n"},
      {"D:\\A:B\\GO.BAT", "D:\r\nCD D:\\A:B\r\nGO.BAT\r\n"},
      {"C:\\GAMES\\", "C:\r\nCD C:\\GAMES\r\n\r\n"},
      {"C:\\Long Game Name\\PLAY.EXE", "C:\r\nCD C:\\LONGGA~1\r\nPLAY.EXE\r\n"},
      {"C:\\No Short Form\\PLAY.EXE", "C:\r\nCD C:\\No Short Form\r\nPLAY.EXE\r\n"},
  };
  for (const Case& c : cases) {
    XmlElement* entry = Bare("<Main/>");
    SetAttributeText(Main(entry), "Run", c.run);
    EXPECT_EQ(c.lines, Autoexec(entry, LaunchMode::Run, true, FakeShortForm)) << c.run;
  }
}

TEST_F(ConfWriter, TheModeChoosesTheProgramAndAnEmptyOneStopsAfterThePreCommands) {
  SetAttributeText(Main(entry_), "Install", "C:\\SETUP\\INSTALL.EXE");
  EXPECT_EQ(std::string(kTemplatePre) + "C:\r\nCD C:\\SETUP\r\nINSTALL.EXE\r\n" + kTemplatePost,
            Autoexec(entry_, LaunchMode::Install, true));
  // Run is empty: the partial file keeps settings, mounts and pre-commands.
  AddMount(entry_, "<m type=\"hdd\" iso=\"no\" local=\"C:\\\" remote=\"C\">");
  const std::string partial = Written(entry_, LaunchMode::Run, false);
  EXPECT_EQ(std::string(kTemplateSettings) + "[autoexec]\r\nmount C C:\\\r\n" + kTemplatePre, partial);
}

TEST_F(ConfWriter, MissingSectionsAreWrittenEmptyAndAddedToTheEntry) {
  XmlElement* entry = Bare("");
  EXPECT_EQ(kEmptySections, Written(entry, LaunchMode::Run, false));
  for (const char* name : {"Screen", "Cpu", "Sound", "Mount", "Pre_Commands", "Main"})
    EXPECT_NE(nullptr, entry->FindChild(name)) << name;
  EXPECT_NE(nullptr, entry->FindChild("Sound")->FindChild("Speaker"));
  EXPECT_NE(nullptr, entry->FindChild("Main")->FindAttribute("Run"));
  EXPECT_EQ(nullptr, entry->FindChild("Command_Line_Parameters")) << "not part of the file";

  // A game without Sound: the sound sections have headers only.
  entry_->RemoveChild(static_cast<unsigned>(entry_->FindChildIndex("Sound")));
  SetAttributeText(Main(entry_), "Run", "GO.COM");
  const std::string text = Written(entry_, LaunchMode::Run, true);
  EXPECT_NE(std::string::npos, text.find("[ipx]\r\nipx=false\r\n[mixer]\r\n[midi]\r\n[sblaster]\r\n[gus]\r\n[speaker]\r\n[autoexec]\r\n"));
}

TEST_F(ConfWriter, WithoutAnEntryTheProfileTemplateIsUsedAndWrittenFirstWhenMissing) {
  static std::string builtIn;
  builtIn = profileText_;
  ProfileFolder = dir_.Path();
  SetDefaultProfileSource([] { return ProfileBytes{builtIn.data(), builtIn.size()}; });

  EXPECT_EQ(std::string(kTemplateSettings) + "[autoexec]\r\n" + kTemplatePre,
            Written(nullptr, LaunchMode::Run, false));
  EXPECT_EQ(profileText_, xmltest::ReadFile(dir_.File("defrc.xml")));

  // An edited profile is the one used, and it is not written back.
  std::string edited = profileText_;
  edited.replace(edited.find("Install=\"\""), 10, "Install=\"C:\\I.BAT\"");
  edited.replace(edited.find("cycles=\"16000\""), 14, "cycles=\"max\"");
  xmltest::WriteFile(dir_.File("defrc.xml"), edited);
  const std::string text = Written(nullptr, LaunchMode::Install, true);
  EXPECT_NE(std::string::npos, text.find("cycles=max\r\n"));
  EXPECT_NE(std::string::npos, text.find("C:\r\nCD C:\r\nI.BAT\r\n"));
  EXPECT_EQ(edited, xmltest::ReadFile(dir_.File("defrc.xml")));

  // A profile that is not XML still gives a file: section headers only.
  xmltest::WriteFile(dir_.File("defrc.xml"), "not a profile");
  EXPECT_EQ(kEmptySections, Written(nullptr, LaunchMode::Run, false));
  SetDefaultProfileSource(nullptr);
}

TEST_F(ConfWriter, FailsWithoutATargetAndWhenTheFileCannotBeWrittenWhole) {
  SetAttributeText(Main(entry_), "Run", "GO.COM");
  const std::string missingFolder = dir_.File("no-such-folder") + kPathSeparator + "x.conf";
  EXPECT_FALSE(WriteDosBoxConf(entry_, missingFolder, LaunchMode::Run, NoShortForm));
  EXPECT_FALSE(WriteDosBoxConf(entry_, "", LaunchMode::Run, NoShortForm));
  EXPECT_FALSE(WriteDosBoxConf(entry_, dir_.Path(), LaunchMode::Run, NoShortForm)) << "a folder";
  EXPECT_EQ("", dir_.Listing());
#ifndef _WIN32
  // A full disk must not pass for a finished configuration.
  EXPECT_FALSE(WriteDosBoxConf(entry_, "/dev/full", LaunchMode::Run, NoShortForm));
#endif
}

#ifdef _WIN32
// The system's conversion on a real disk: existing long names lose their
// blanks, paths that do not exist are kept as they are.
TEST_F(ConfWriter, TheSystemShortFormsReplaceExistingLongPaths) {
  const std::string folder = dir_.File("Long Folder Name");
  ASSERT_EQ(0, _mkdir(folder.c_str()));
  xmltest::WriteFile(folder + "\\Long Program.exe", "MZ");
  const std::string shortFolder = SystemShortPath(folder);
  ASSERT_FALSE(shortFolder.empty());
  EXPECT_EQ(std::string::npos, shortFolder.find(' ')) << shortFolder;
  EXPECT_EQ("", SystemShortPath(dir_.File("Not There At All")));

  XmlElement* entry = Bare("<Main/>");
  AddMount(entry, ("<m type=\"hdd\" iso=\"no\" local=\"" + folder + "\" remote=\"C\">").c_str());
  SetAttributeText(Main(entry), "Run", (folder + "\\Long Program.exe").c_str());
  const std::string lines = Autoexec(entry, LaunchMode::Run, true, SystemShortPath);
  const std::string shortProgram = SystemShortPath(folder + "\\Long Program.exe");
  ASSERT_FALSE(shortProgram.empty());
  const std::size_t slash = shortProgram.rfind('\\');
  EXPECT_EQ("mount C " + shortFolder + "\r\n" + shortProgram.substr(0, shortProgram.find(':')) + ":\r\nCD " +
                shortProgram.substr(0, slash) + "\r\n" + shortProgram.substr(slash + 1) + "\r\n",
            lines);
  EXPECT_EQ(std::string::npos, lines.find("Long")) << lines;
}
#endif

namespace {

// A code page of one byte per character up to U+00FF, as Windows-1252 holds
// the letters of western Europe and no Cyrillic.
bool Latin1(const std::string& text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80 && (c > 0xC3 || c < 0xC2 || i + 1 == text.size())) return false;
    out += c < 0x80 ? static_cast<char>(c) : static_cast<char>(((c & 3) << 6) | (text[++i] & 0x3F));
  }
  return true;
}

// A Cyrillic folder with an 8.3 name of its own.
std::string CyrillicShortForm(const std::string& path) {
  const std::string folder = "C:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B";
  return path.compare(0, folder.size(), folder) == 0 ? "C:\\9D3F~1" + path.substr(folder.size()) : "";
}

}  // namespace

// The file is in the code page DOSBox reads; a path it cannot hold goes by
// its short name, and "%" is doubled in the lines made from paths.
TEST_F(ConfWriter, PathsAreWrittenInTheConfCodePageOrByTheirShortNames) {
  std::string written;
  EXPECT_FALSE(ConfPathText("D:\\\xD0\x98\\GO.EXE", CyrillicShortForm, Latin1, written)) << "no name at all";
  XmlElement* entry = Bare(
      "<Cpu note=\"Zw\xC3\xB6lf\"/><Main Run=\"C:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\GAME.EXE\"/>"
      "<Pre_Commands><![CDATA[echo 100%% \xC3\xA4]]></Pre_Commands>");
  AddMount(entry, "<m type=\"hdd\" iso=\"no\" local=\"C:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\" remote=\"C\">");
  AddMount(entry, "<m type=\"hdd\" iso=\"no\" local=\"D:\\50%off & Co's\" remote=\"D\">");
  AddMount(entry, "<m type=\"cdrom\" iso=\"yes\" local=\"D:\\\xC3\x84pfel 2.iso\" remote=\"E\">");
  confText_ = Latin1;
  EXPECT_EQ(
      "mount C C:\\9D3F~1\r\nmount D \"D:\\50%%off & Co's\"\r\nimgmount E \"D:\\\xC4pfel 2.iso\" -t cdrom\r\n"
      "echo 100%% \xE4\r\nC:\r\nCD C:\\9D3F~1\r\nGAME.EXE\r\n",
      Autoexec(entry, LaunchMode::Run, true, CyrillicShortForm));
  EXPECT_NE(std::string::npos, Written(entry, LaunchMode::Run, true).find("note=Zw\xF6lf\r\n"));
  SetAttributeText(Main(entry), "Run", "C:\\50%OFF\\GO.BAT");
  EXPECT_NE(std::string::npos, Autoexec(entry, LaunchMode::Run, true).find("C:\r\nCD C:\\50%%OFF\r\nGO.BAT\r\n"));
}
