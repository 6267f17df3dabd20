// The pieces of a launch that do not need Windows: the game's extra
// parameters, the Run-then-Install fallback, the command lines and the
// reading of the program's own command line.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/CommandLine.h"
#include "launcher/GameSchema.h"
#include "launcher/LaunchPlan.h"

namespace {

using Pieces = std::vector<std::string>;

std::string NoShortForm(const std::string&) { return std::string(); }

XmlElement* EntryOf(std::unique_ptr<XmlDocument>& doc, const std::string& inner) {
  doc = xmltest::Parse("<?xml version=\"1.0\"?>\r\n<root><Games><g>" + inner + "</g></Games></root>");
  return TemplateEntry(*doc);
}

std::string Parameters(const std::string& commandText) {
  std::unique_ptr<XmlDocument> doc;
  return LaunchParameters(
      EntryOf(doc, "<Command_Line_Parameters><![CDATA[" + commandText + "]]></Command_Line_Parameters>"));
}

}  // namespace

TEST(SplitText, CutsAtEverySeparatorAndDropsEmptyPieces) {
  EXPECT_EQ((Pieces{"a", "b", "c"}), SplitText("a\r\nb\r\nc", "\r\n"));
  EXPECT_EQ((Pieces{"a", "b"}), SplitText("\r\n\r\na\r\n\r\n\r\nb\r\n", "\r\n"));
  EXPECT_EQ((Pieces{"a\nb", "c\r"}), SplitText("a\nb\r\nc\r", "\r\n")) << "only the whole pair separates";
  EXPECT_EQ((Pieces{"x\r", "y"}), SplitText("x\r\r\ny", "\r\n"));
  EXPECT_EQ((Pieces{"one"}), SplitText("one", "\r\n"));
  EXPECT_EQ(Pieces{}, SplitText("", "\r\n"));
  EXPECT_EQ(Pieces{}, SplitText("\r\n\r\n", "\r\n"));
  EXPECT_EQ(Pieces{}, SplitText(nullptr, "\r\n"));
  EXPECT_EQ((Pieces{"a", "b"}), SplitText("a||b||", "||"));
  EXPECT_EQ((Pieces{"whole"}), SplitText("whole", ""));
}

TEST(LaunchParameters, KeepEveryLineOfTwoOrMoreCharactersThatIsNoComment) {
  EXPECT_EQ("-noconsole ", Parameters("// comment line\r\n-noconsole\r\nx\r\n\r\n"));
  EXPECT_EQ("-noconsole -c \"mount d d:\\\" /x ",
            Parameters("-noconsole\r\n-c \"mount d d:\\\"\r\n//-fullscreen\r\n/x\r\n"));
  EXPECT_EQ("ab  cd ", Parameters("ab \r\ncd")) << "pieces are not trimmed";
  EXPECT_EQ("", Parameters("//only comments\r\n//\r\n-\r\n"));
  EXPECT_EQ("", Parameters(""));

  // The template's text gives the one parameter it ships with.
  auto profile = xmltest::Parse(xmltest::ReadFile(HostPath(VANTLE_DEFAULT_PROFILE)));
  EXPECT_EQ("-noconsole ", LaunchParameters(TemplateEntry(*profile)));
}

TEST(LaunchParameters, AreOnlyLookedUpNeverAdded) {
  std::unique_ptr<XmlDocument> doc;
  XmlElement* entry = EntryOf(doc, "<Main Run=\"A.EXE\"/>");
  EXPECT_EQ("", LaunchParameters(entry));
  EXPECT_EQ(nullptr, entry->FindChild("Command_Line_Parameters"));

  entry = EntryOf(doc, "<Command_Line_Parameters>-text-is-not-cdata</Command_Line_Parameters>");
  EXPECT_EQ("", LaunchParameters(entry));
  EXPECT_EQ("", LaunchParameters(nullptr));

  entry = EntryOf(doc, "<Command_Line_Parameters><![CDATA[-first]]><![CDATA[-second]]></Command_Line_Parameters>");
  EXPECT_EQ("-first ", LaunchParameters(entry)) << "only the first CDATA section counts";
}

TEST(CommandLines, QuoteDosBoxAndTheConfigurationAndKeepTheBlanks) {
  EXPECT_EQ("\"C:\\Program Files\\Vantle\\DOSBOX.EXE\"  -conf \"C:\\Program Files\\Vantle\\woaA1.tmp\"",
            GameLaunchCommandLine("C:\\Program Files\\Vantle", "", "C:\\Program Files\\Vantle\\woaA1.tmp"));
  EXPECT_EQ("\"C:\\V\\DOSBOX.EXE\" -noconsole  -conf \"C:\\V\\woa2.tmp\"",
            GameLaunchCommandLine("C:\\V", "-noconsole ", "C:\\V\\woa2.tmp"));
  EXPECT_EQ("\"C:\\V\\DOSBOX.EXE\" -a -b  -conf \"x\"", GameLaunchCommandLine("C:\\V", "-a -b ", "x"));
  EXPECT_EQ("\"C:\\V\\DOSBOX.EXE\" -conf \"D:\\my games\\doom.conf\"",
            ConfCommandLine("C:\\V", "D:\\my games\\doom.conf"));
}

TEST(WriteLaunchConf, RunsTheInstallerOnlyWhenTheGameItselfIsUnknown) {
  xmltest::TempDir dir;
  const std::string target = dir.File("woa1.tmp");
  std::unique_ptr<XmlDocument> doc;

  XmlElement* entry = EntryOf(doc, "<Main Run=\"\" Install=\"C:\\SETUP.EXE\"/>");
  EXPECT_TRUE(WriteLaunchConf(entry, target, LaunchMode::Run, NoShortForm));
  EXPECT_NE(std::string::npos, xmltest::ReadFile(target).find("\r\nSETUP.EXE\r\n"));

  entry = EntryOf(doc, "<Main Run=\"C:\\GAME.EXE\" Install=\"C:\\SETUP.EXE\"/>");
  EXPECT_TRUE(WriteLaunchConf(entry, target, LaunchMode::Run, NoShortForm));
  EXPECT_NE(std::string::npos, xmltest::ReadFile(target).find("\r\nGAME.EXE\r\n"));
  EXPECT_EQ(std::string::npos, xmltest::ReadFile(target).find("SETUP"));

  // Setup never falls back to the game.
  entry = EntryOf(doc, "<Main Run=\"C:\\GAME.EXE\" Install=\"\"/>");
  EXPECT_FALSE(WriteLaunchConf(entry, target, LaunchMode::Install, NoShortForm));
  EXPECT_EQ(std::string::npos, xmltest::ReadFile(target).find("GAME.EXE"));

  entry = EntryOf(doc, "<Main Run=\"\" Install=\"\"/>");
  EXPECT_FALSE(WriteLaunchConf(entry, target, LaunchMode::Run, NoShortForm));
}

TEST(ReadCommandLine, TellsTheReplayAndTheModesApart) {
  struct Case {
    std::vector<const char*> args;
    CommandLineRequest::Kind kind;
    int command;
    const char* argument;
  } const cases[] = {
      {{"vtl64.exe"}, CommandLineRequest::None, 0, ""},
      {{"vtl64.exe", "192"}, CommandLineRequest::Replay, 192, ""},
      {{"vtl64.exe", "195", "ignored"}, CommandLineRequest::Replay, 195, ""},
      {{"vtl64.exe", "3dgame.exe"}, CommandLineRequest::Replay, 3, ""},
      {{"vtl64.exe", " +7"}, CommandLineRequest::Replay, 7, ""},
      {{"vtl64.exe", "0"}, CommandLineRequest::None, 0, ""},
      {{"vtl64.exe", "0", "x"}, CommandLineRequest::None, 0, ""},
      {{"vtl64.exe", "-run", "C:\\GAMES\\KEEN.EXE"}, CommandLineRequest::Run, 0, "C:\\GAMES\\KEEN.EXE"},
      {{"vtl64.exe", "-run"}, CommandLineRequest::None, 0, ""},
      {{"vtl64.exe", "-RUN", "KEEN.EXE"}, CommandLineRequest::None, 0, ""},
      {{"vtl64.exe", "-run ", "KEEN.EXE"}, CommandLineRequest::None, 0, ""},
      {{"vtl64.exe", "-shortcut", "Commander Keen"}, CommandLineRequest::Shortcut, 0, "Commander Keen"},
      {{"vtl64.exe", "-Shortcut", "Keen"}, CommandLineRequest::None, 0, ""},
      {{"vtl64.exe", "-conf", "D:\\a b.conf", "extra"}, CommandLineRequest::Conf, 0, "D:\\a b.conf"},
      {{"vtl64.exe", "-conf", ""}, CommandLineRequest::Conf, 0, ""},
      {{"vtl64.exe", "-import", "D:\\Games"}, CommandLineRequest::Import, 0, "D:\\Games"},
      {{"vtl64.exe", "/conf", "x"}, CommandLineRequest::None, 0, ""},
      {{"vtl64.exe", "C:\\GAMES\\KEEN.EXE"}, CommandLineRequest::None, 0, ""},
  };
  for (const Case& c : cases) {
    const CommandLineRequest request = ReadCommandLine(static_cast<int>(c.args.size()), c.args.data());
    const std::string label = c.args.size() > 1 ? c.args[1] : "(none)";
    EXPECT_EQ(c.kind, request.kind) << label;
    EXPECT_EQ(c.command, request.command) << label;
    EXPECT_EQ(c.argument, request.argument) << label;
  }
  EXPECT_EQ(CommandLineRequest::None, ReadCommandLine(0, nullptr).kind);
}

TEST(ReadCommandLine, ReadsNumbersLikeTheCLibraryWithoutOverflowing) {
  EXPECT_EQ(0, LeadingNumber(""));
  EXPECT_EQ(0, LeadingNumber("-run"));
  EXPECT_EQ(-5, LeadingNumber("-5x"));
  EXPECT_EQ(42, LeadingNumber("\t 42 7"));
  EXPECT_EQ(0, LeadingNumber("x42"));
  EXPECT_EQ(INT_MAX, LeadingNumber("99999999999999999999999"));
  EXPECT_EQ(INT_MIN, LeadingNumber("-99999999999999999999999"));
  EXPECT_EQ(0, LeadingNumber(nullptr));
}

namespace {

// The host of these checks: a game folder with its program, an image, a
// Cyrillic folder (no short name, a code page without Cyrillic).
PathKind FakeKind(const std::string& path) {
  for (const char* folder : {"C:\\", "C:\\GAMES", "E:\\\xD0\x98", "F:\\50%off & Co's"})
    if (path == folder) return PathKind::Folder;
  for (const char* file :
       {"C:\\GAMES\\KEEN4EGA.EXE", "D:\\keen.iso", "E:\\\xD0\x98\\GO.EXE", "F:\\50%off & Co's\\GO.EXE"})
    if (path == file) return PathKind::File;
  return PathKind::Missing;
}

bool AsciiOnly(const std::string& text, std::string& out) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  out = text;
  return true;
}

const HostPathServices kFakeHost{NoShortForm, AsciiOnly, FakeKind};

}  // namespace

TEST(CheckLaunch, EveryPathIsThereAndSayableBeforeDosBoxStarts) {
  using P = LaunchProblem;
  const std::string games = "<m type=\"hdd\" iso=\"no\" local=\"C:\\GAMES\" remote=\"C\"/>";
  struct Case {
    std::string mounts, run;
    LaunchMode mode;
    P::Kind kind;
    P::Role role;
    const char* path;
  } const cases[] = {
      {games, "C:\\KEEN4EGA.EXE", LaunchMode::Run, P::None, P::Program, ""},
      {games, "C:\\KEEN5.EXE", LaunchMode::Run, P::Missing, P::Program, "C:\\GAMES\\KEEN5.EXE"},
      {"<m type=\"hdd\" iso=\"no\" local=\"C:\\\" remote=\"C\"/>", "C:\\GAMES\\SETUP.EXE", LaunchMode::Install,
       P::Missing, P::Installer, "C:\\GAMES\\SETUP.EXE"},
      {"<m type=\"hdd\" iso=\"no\" local=\"D:\\keen.iso\" remote=\"C\"/>", "KEEN.EXE", LaunchMode::Run, P::Missing,
       P::MountFolder, "D:\\keen.iso"},
      // A program inside an image, or on a drive no mount provides, is left to
      // DOSBox; a mount without a type is written nowhere.
      {games + "<m type=\"iso\" iso=\"YES\" local=\"&quot;D:\\keen.iso&quot;\" remote=\"D\"/><m type=\"\" local=\"Q:\\\"/>",
       "D:\\GAME.EXE", LaunchMode::Run, P::None, P::Program, ""},
      {games + "<m type=\"iso\" iso=\"yes\" local=\"D:\\gone.iso\" remote=\"D\"/>", "G:\\A.EXE", LaunchMode::Run,
       P::Missing, P::MountImage, "D:\\gone.iso"},
      {games, "C:\\GAMES\nECHO\\KEEN4EGA.EXE", LaunchMode::Run, P::ControlCharacter, P::Program,
       "C:\\GAMES\nECHO\\KEEN4EGA.EXE"},
      {"<m type=\"hdd\" iso=\"no\" local=\"C:\\GAMES&#10;DEL\" remote=\"C\"/>", "A.EXE", LaunchMode::Run,
       P::ControlCharacter, P::MountFolder, "C:\\GAMES\nDEL"},
      {games, "C:\\GAMES\x7F\\KEEN4EGA.EXE", LaunchMode::Run, P::ControlCharacter, P::Program,
       "C:\\GAMES\x7F\\KEEN4EGA.EXE"},
      {"<m type=\"hdd\" iso=\"no\" local=\"E:\\\xD0\x98\" remote=\"E\"/>", "E:\\GO.EXE", LaunchMode::Run,
       P::NoConfName, P::MountFolder, "E:\\\xD0\x98"},
      {"<m type=\"hdd\" iso=\"no\" local=\"F:\\50%off &amp; Co's\" remote=\"F\"/>", "F:\\GO.EXE", LaunchMode::Run,
       P::None, P::Program, ""},
  };
  for (const Case& c : cases) {
    std::unique_ptr<XmlDocument> doc;
    const char* attribute = c.mode == LaunchMode::Run ? "Run" : "Install";
    XmlElement* entry =
        EntryOf(doc, "<Main " + std::string(attribute) + "=\"" + c.run + "\"/><Mount>" + c.mounts + "</Mount>");
    const LaunchProblem problem = CheckLaunch(entry, c.mode, kFakeHost);
    EXPECT_EQ(c.kind, problem.kind) << c.run;
    if (c.kind == P::None) continue;
    EXPECT_EQ(c.role, problem.role) << c.run;
    EXPECT_EQ(c.path, problem.path) << c.run;
  }
}

TEST(CheckLaunch, ThePreparedLaunchChecksTheProgramThatRunsAndTheMessageNamesIt) {
  std::unique_ptr<XmlDocument> doc;
  const PreparedLaunch launch = PrepareLaunch(
      EntryOf(doc, "<Main Install=\"C:\\SETUP.EXE\"/><Mount><m type=\"hdd\" local=\"C:\\GAMES\" remote=\"C\"/></Mount>"),
      LaunchMode::Run, kFakeHost);
  EXPECT_NE(std::string::npos, launch.conf.find("\r\nSETUP.EXE\r\n"));
  EXPECT_EQ("C:\\GAMES", launch.folder) << "DOSBox starts in the folder of what it runs";
  EXPECT_NE(std::string::npos, LaunchProblemText(launch.problem, true)
                                   .find("The installer of this game cannot be found:\n\nC:\\GAMES\\SETUP.EXE\n\n"
                                         "It may have been moved or deleted, or its drive is not connected.\n\n"
                                         "DOSBox was not started.\n\nOpen the game's settings?"));
  EXPECT_EQ(std::string::npos, LaunchProblemText(launch.problem, false).find("settings"));
  EXPECT_EQ("woaA0B.tmp", TempFileName("woa", 0x10A0B)) << "four hexadecimal digits at most";
}

// The DOS side: every path the configuration changes to and starts must lie
// on a drive a mount gives, inside the folder it gives, each letter mounted
// once; the message names the path, the drive and what Mount gives.
TEST(CheckLaunch, TheProgramMeetsTheMountsAsDosBoxResolvesThem) {
  using P = LaunchProblem;
  const std::string games = "<m type=\"hdd\" iso=\"no\" local=\"C:\\GAMES\" remote=\"C\"/>";
  const std::string image = "<m type=\"iso\" iso=\"yes\" local=\"D:\\keen.iso\" remote=\"D\"/>";
  struct Case {
    std::string mounts, more, run;
    P::Kind kind;
    const char* drive;
    const char* said;  // a piece of the message
  } const cases[] = {
      {games, "", "D:\\GAME.EXE", P::DriveNotMounted, "D",
       "is on drive D:, which none of its mounts gives:\n\nD:\\GAME.EXE\n\nThe game's Mount settings give: "
       "C: (the folder C:\\GAMES).\n\nAdd a mount for drive D: under Mount"},
      {"", "", "C:\\KEEN4EGA.EXE", P::DriveNotMounted, "C", "Mount settings give: none."},
      {image, "", "C:\\SETUP.EXE", P::DriveNotMounted, "C", "give: D: (the image D:\\keen.iso)."},
      {games, "", "C:\\GAMES\\KEEN4EGA.EXE", P::OutsideMount, "C",
       "outside the folder its drive C: is mounted from:\n\nC:\\GAMES\\KEEN4EGA.EXE\n\nUnder Mount, drive C: is the "
       "folder C:\\GAMES; inside DOSBox this file is C:\\KEEN4EGA.EXE."},
      {games, "", "C:\\..\\KEEN4EGA.EXE", P::OutsideMount, "C", "drive C: is the folder C:\\GAMES."},
      {games + "<m type=\"hdd\" iso=\"no\" local=\"C:\\\" remote=\"c:\"/>", "", "C:\\KEEN4EGA.EXE", P::DriveTaken, "C",
       "Drive C: is mounted twice by this game:\n\nC:\\GAMES\nC:\\\n\nDOSBox refuses the second mount."},
      {"<m type=\"hdd\" iso=\"no\" local=\"C:\\\" remote=\"Z\"/>", "", "Z:\\GAMES\\KEEN4EGA.EXE", P::None, "", ""},
      {"<m type=\"hdd\" iso=\"no\" local=\"C:\\\" remote=\"CD\"/>", "", "A.EXE", P::NotADrive, "CD", "(\"CD\")"},
      // Drives mounted by commands are taken on trust; DOSBox's own drive,
      // a program without a drive and ".." that stays inside all pass.
      {"", "<Pre_Commands><![CDATA[REM\r\n@MOUNT d C:\\]]></Pre_Commands>", "D:\\X.EXE", P::None, "", ""},
      {"", "<Command_Line_Parameters><![CDATA[-c \"imgmount e C:\\x.iso -t iso\"]]></Command_Line_Parameters>",
       "E:\\X.EXE", P::None, "", ""},
      {"", "", "Z:\\COMMAND.COM", P::None, "", ""},
      {"", "", "KEEN.EXE", P::None, "", ""},
      {games, "", "c:\\games\\..\\KEEN4EGA.EXE", P::None, "", ""},
      {image, "", "D:\\GAME\\PLAY.EXE", P::None, "", ""},
  };
  for (const Case& c : cases) {
    std::unique_ptr<XmlDocument> doc;
    XmlElement* entry = EntryOf(doc, "<Main Run=\"" + c.run + "\"/><Mount>" + c.mounts + "</Mount>" + c.more);
    const LaunchProblem problem = CheckLaunch(entry, LaunchMode::Run, kFakeHost);
    EXPECT_EQ(c.kind, problem.kind) << c.run << " " << c.mounts;
    EXPECT_EQ(c.drive, problem.drive) << c.run;
    EXPECT_NE(std::string::npos, LaunchProblemText(problem, true).find(c.said)) << LaunchProblemText(problem, true);
  }
}
