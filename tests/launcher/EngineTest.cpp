// The engines a game can choose: each kind's names for the template's
// settings, the list's file, and which DOSBox a launch starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/DosBoxReport.h"
#include "launcher/EngineList.h"
#include "launcher/GameSchema.h"
#include "launcher/LaunchPlan.h"
#include "launcher/PlayRecord.h"

namespace {

// A file as the writer makes it: two sections and the autoexec.
const std::string kConf =
    "[sdl]\r\nfullscreen=false\r\nfulldouble=true\r\noutput=surface\r\nautolock=true\r\nsensitivity=100\r\n"
    "[dosbox]\r\nmachine=vga\r\nmemsize=63\r\n[render]\r\nscale=normal2x\r\n[midi]\r\ndevice=win32\r\n"
    "[sblaster]\r\nmixer=true\r\n[gus]\r\nirq1=5\r\nirq2=5\r\nmysetting=kept\r\n"
    "[autoexec]\r\nmount C C:\\\r\nscale=stays\r\n[render]\r\n";

}  // namespace

TEST(ConfForEngine, EachKindGetsItsOwnNamesAndKeepsWhatItDoesNotKnow) {
  struct Case {
    EngineKind kind;
    const char* present;  // a piece of the translated file
    const char* absent;   // a line (with its neighbours) that must be gone
  } const cases[] = {
      {EngineKind::Classic, "[dosbox]\r\nmachine=svga_s3\r\nmemsize=63\r\n", "\r\nirq2="},
      {EngineKind::Classic, "[render]\r\nscaler=normal2x\r\n[midi]\r\nmididevice=win32\r\n", "\r\nscale=normal2x"},
      {EngineKind::Classic, "[sblaster]\r\nsbmixer=true\r\n[gus]\r\ngusirq=5\r\nmysetting=kept\r\n", "\r\nmixer="},
      {EngineKind::Classic, "fulldouble=true\r\noutput=surface\r\nautolock=true\r\n", "[mouse]"},
      {EngineKind::DosBoxX, "[render]\r\nscaler=normal2x\r\n", "\r\nirq1="},
      {EngineKind::DosBoxX, "output=surface\r\n", "\r\ndevice="},
      {EngineKind::Staging, "[sdl]\r\nfullscreen=false\r\noutput=texture\r\n[dosbox]\r\nmachine=svga_s3\r\n",
       "fulldouble"},
      {EngineKind::Staging, "[render]\r\n[midi]\r\nmididevice=port\r\n", "normal2x"},
      {EngineKind::Staging, "mysetting=kept\r\n[mouse]\r\nmouse_capture=onclick\r\nmouse_sensitivity=100\r\n[autoexec]",
       "\r\nautolock="},
      // Only the values a row names change.
      {EngineKind::Staging, "[sdl]\r\nfullscreen=false\r\noutput=opengl\r\n[mouse]\r\nmouse_capture=seamless\r\n",
       "output=texture"},
      // The autoexec is never touched, even where a line looks like a setting.
      {EngineKind::Staging, "[autoexec]\r\nmount C C:\\\r\nscale=stays\r\n[render]\r\n", "\r\nsensitivity="},
  };
  for (const Case& c : cases) {
    std::string conf = kConf;
    if (std::string(c.present).find("seamless") != std::string::npos)
      conf = "[sdl]\r\nfullscreen=false\r\noutput=openglnb\r\nautolock=false\r\n[autoexec]\r\n";
    const std::string out = ConfForEngine(conf, c.kind);
    EXPECT_NE(std::string::npos, out.find(c.present)) << EngineKindName(c.kind) << "\n" << out;
    EXPECT_EQ(std::string::npos, out.find(c.absent)) << EngineKindName(c.kind) << "\n" << out;
  }
}

TEST(EngineKinds, AreToldByWhatTheProgramSaysAndStartStagingWithoutOtherFiles) {
  EXPECT_EQ(EngineKind::Staging, EngineKindFromDescription("dosbox-staging, version 0.81.0"));
  EXPECT_EQ(EngineKind::Staging, EngineKindFromDescription("DOSBox Staging"));
  EXPECT_EQ(EngineKind::DosBoxX, EngineKindFromDescription("DOSBox-X version 2024.10.01 SDL2"));
  EXPECT_EQ(EngineKind::Classic, EngineKindFromDescription("DOSBox version 0.74-3"));
  EngineKind kind = EngineKind::Classic;
  // What the programs print for -version; a program that is no DOSBox says nothing.
  for (const auto& [output, said] : {std::pair<const char*, const char*>{"\nDOSBox-X version 2025.02.01 SDL2", "DOSBox-X"},
                                     {"dosbox-staging, version 0.81.0\n", "Staging"},
                                     {"DOSBox version 0.74-3, copyright 2002-2019 DOSBox Team.", "0.74"},
                                     {"GNU nano, version 7.2", "none"}, {"", "none"}})
    EXPECT_EQ(said, EngineKindFromVersionOutput(output, kind) ? EngineKindName(kind) : std::string("none")) << output;
  EXPECT_TRUE(ParseEngineKind("dosbox-x", kind));
  EXPECT_EQ(EngineKind::DosBoxX, kind);
  EXPECT_FALSE(ParseEngineKind("0.75", kind));
  EXPECT_EQ("--noprimaryconf --nolocalconf ", EngineSwitches(EngineKind::Staging));
  EXPECT_EQ("", EngineSwitches(EngineKind::DosBoxX));
  EXPECT_EQ("\"C:\\S\\dosbox.exe\" --noprimaryconf --nolocalconf -noconsole  -conf \"C:\\V\\woa1.tmp\"",
            EngineLaunchCommandLine("C:\\S\\dosbox.exe", EngineSwitches(EngineKind::Staging), "-noconsole ",
                                    "C:\\V\\woa1.tmp"));
}

namespace {

PathKind OnlyStagingExists(const std::string& path) {
  if (path == "C:\\GAMES") return PathKind::Folder;
  return path == "C:\\Staging\\dosbox.exe" || path == "C:\\GAMES\\GO.EXE" ? PathKind::File : PathKind::Missing;
}

}  // namespace

TEST(EngineList, IsSavedAndReadBackAndAGameFindsItsEngineOrIsToldWhy) {
  const std::string path = ::testing::TempDir() + "vantle-engines.xml";
  EngineList list;
  list.defaultName = "Staging";
  list.engines = {{"Staging", "C:\\Staging\\dosbox.exe", EngineKind::Staging},
                  {"X & Co \"2\"", "C:\\X\\dosbox-x.exe", EngineKind::DosBoxX},
                  {"STAGING", "C:\\Other\\dosbox.exe", EngineKind::Classic},  // a name twice: the first counts
                  {"", "C:\\Nameless\\dosbox.exe", EngineKind::Classic}};
  ASSERT_TRUE(SaveEngineList(list, path));
  const EngineList read = ReadEngineList(path);
  std::remove(path.c_str());
  ASSERT_EQ(2u, read.engines.size());
  EXPECT_EQ("Staging", read.defaultName);
  EXPECT_EQ("X & Co \"2\"", read.engines[1].name);
  EXPECT_EQ(EngineKind::DosBoxX, read.engines[1].kind);
  EXPECT_EQ(0u, ReadEngineList(path).engines.size()) << "a missing file is an empty list";

  const HostPathServices host{nullptr, nullptr, OnlyStagingExists};
  const std::string mount = "<DosBox machine=\"vga\"/><Mount><m type=\"hdd\" iso=\"no\" local=\"C:\\GAMES\" remote=\"C\"/></Mount>";
  struct Case {
    const char* engine;  // null: no attribute
    bool builtIn;
    LaunchProblem::Kind kind;
    const char* said;
  } const cases[] = {
      {nullptr, true, LaunchProblem::None, ""},
      {"", true, LaunchProblem::None, ""},
      {"staging", false, LaunchProblem::None, ""},
      {"Gone", false, LaunchProblem::EngineUnknown, "runs on a DOSBox called \"Gone\", which the list"},
      {"X &amp; Co", false, LaunchProblem::EngineUnknown, "\"X & Co\""},
      {"X &amp; Co &quot;2&quot;", false, LaunchProblem::Missing,
       "The DOSBox this game runs on (X & Co \"2\") cannot be found:\n\nC:\\X\\dosbox-x.exe"},
  };
  for (const Case& c : cases) {
    auto doc = xmltest::Parse(std::string("<?xml version=\"1.0\"?><root><Games><g><Main Run=\"C:\\GO.EXE\"") +
                              (c.engine ? std::string(" Engine=\"") + c.engine + "\"" : "") + "/>" + mount +
                              "</g></Games></root>");
    XmlElement* entry = TemplateEntry(*doc);
    const PreparedLaunch launch = PrepareLaunch(entry, LaunchMode::Run, host, &read);
    EXPECT_EQ(c.builtIn, launch.engine.builtIn) << (c.engine ? c.engine : "none");
    EXPECT_EQ(c.kind, launch.problem.kind) << (c.engine ? c.engine : "none");
    EXPECT_NE(std::string::npos, LaunchProblemText(launch.problem, true).find(c.said))
        << LaunchProblemText(launch.problem, true);
    // The built-in DOSBox gets the file exactly as the writer makes it.
    std::string written;
    MakeDosBoxConf(entry, LaunchMode::Run, written, nullptr, nullptr);
    EXPECT_EQ(c.builtIn, written == launch.conf) << (c.engine ? c.engine : "none");
    if (!c.engine) {
      EXPECT_EQ(nullptr, entry->FindChild("Main")->FindAttribute("Engine")) << "never added";
    }
  }
}

TEST(EngineList, ARenameFollowsTheGamesThatChoseTheOldName) {
  auto doc = xmltest::Parse("<?xml version=\"1.0\"?><root><Games><g><Main Engine=\"staging\"/></g><g><Main/></g>"
                            "<g><Main Engine=\"X\"/></g><g/><g><Main Engine=\"Staging\"/></g></Games></root>");
  EXPECT_EQ(2, RenameChosenEngine(GamesOf(*doc), "Staging", "Staging 0.82"));
  EXPECT_EQ(0, RenameChosenEngine(GamesOf(*doc), "staging 0.82", "Staging 0.82")) << "nothing to change";
  std::string chosen;  // never added where there was none
  for (unsigned i = 0; i < GamesOf(*doc)->GetChildCount(); ++i) {
    XmlElement* main = GamesOf(*doc)->GetChildren()[i]->FindChild("Main");
    chosen += (main && main->FindAttribute("Engine") ? main->FindAttribute("Engine")->GetValue() : "-") + ";";
  }
  EXPECT_EQ("Staging 0.82;-;X;-;Staging 0.82;", chosen);
}

TEST(RecordPlay, AddsUpThePlayTimeAndKeepsTheLastPlay) {
  auto doc = xmltest::Parse("<?xml version=\"1.0\"?><root><Games><g><Main/></g><g><Main PlayTime=\"7x\"/></g>"
                            "</Games></root>");
  XmlElement* games = GamesOf(*doc);
  XmlElement* first = games->GetChildren()[0];
  RecordPlay(first, 90, "2026-12-10 12:00:00");
  RecordPlay(first, 30, "2026-12-10 13:00:00");
  EXPECT_EQ("120", AttributeText(Section(first, "Main"), "PlayTime"));
  EXPECT_EQ("2026-12-10 13:00:00", AttributeText(Section(first, "Main"), "LastPlayed"));
  RecordPlay(games->GetChildren()[1], 5, "t");
  EXPECT_EQ("5", AttributeText(Section(games->GetChildren()[1], "Main"), "PlayTime")) << "no number: none";
  EXPECT_TRUE(HoldsGame(games, first));
  EXPECT_FALSE(HoldsGame(games, games)) << "a game deleted meanwhile is not written to";
}

// What 0.74 printed for a bad configuration (measured with Debian's dosbox):
// each report names the game's setting; a clean run reports nothing.
TEST(DosBoxReports, NameTheGamesSettingAndStaySilentForACleanRun) {
  auto doc = xmltest::Parse(xmltest::ReadFile(HostPath(VANTLE_DEFAULT_PROFILE)));
  XmlElement* entry = TemplateEntry(*doc);
  const std::string output =
      "DOSBox version 0.74-3\nCONFIG:Loading primary settings from config file bad.conf\n"
      "\"bogus\" is not a valid value for variable: output.\nIt might now be reset it to default value: surface\n"
      "\"13\" is not a valid value for variable: irq1.\r\n"
      "\"abc\" is not a valid value for variable: type.\nIt might now be reset it to default value: auto\n"
      "MIDI:Opened device:none\n";
  const std::vector<std::string> expected = {
      "The setting output under Screen is \"bogus\", which this DOSBox does not accept; it used surface instead.",
      "The setting irq1 under Gravis is \"13\", which this DOSBox does not accept.",
      "DOSBox does not accept \"abc\" for type; it used auto instead.",
  };
  EXPECT_EQ(expected, DosBoxReports(output, entry));
  // DOSBox-X (measured with Debian's) and Staging (as its log words it).
  const std::string others =
      "LOG: \"vgax\" is not a valid value for variable: machine.\nIt might now be reset to the default value: svga_s3\n"
      "2025-07-20 22:53:54.856 | CONFIG: Invalid 'output' setting: 'overlay', using 'opengl'\n"
      "2025-07-20 22:53:54.856 | CONFIG: Invalid option 'fulldouble'\n"
      "2025-07-20 22:53:54.856 | CONFIG: Deprecated option 'sensitivity'\n"
      "CONFIG: Unknown option autolock\n"
      "CONFIG: '12mb' is an invalid value for 'voodoo_memsize', using the default: '12'\n"
      "CONFIG: Loaded primary config file '/home/me/.config/dosbox/dosbox-staging.conf'\n";
  const std::vector<std::string> reported = {
      "The setting machine under DosBox is \"vgax\", which this DOSBox does not accept; it used svga_s3 instead.",
      "The setting output under Screen is \"overlay\", which this DOSBox does not accept; it used opengl instead.",
      "The setting fulldouble under Screen is one this DOSBox does not know.",
      "The setting sensitivity under Screen is one this DOSBox no longer takes under that name.",
      "The setting autolock under Screen is one this DOSBox does not know.",
      "DOSBox does not accept \"12mb\" for voodoo_memsize; it used 12 instead.",
  };
  EXPECT_EQ(reported, DosBoxReports(others, entry));
  EXPECT_TRUE(DosBoxReports("DOSBox version 0.74-3\nCONFIG:Loading primary settings from config file a.conf\n"
                            "MIDI:Opened device:none\n", entry).empty());
}

