// What the main window's list shows and how it sorts, the web search
// addresses, the games the new game wizard builds, and the names handed to
// the shell.
#include <gtest/gtest.h>

#include <string>

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/GameListRows.h"
#include "launcher/GameSchema.h"
#include "launcher/NewGameEntry.h"
#include "launcher/ShellNames.h"
#include "launcher/WebSearch.h"

TEST(GameRows, ShowNumbersCategoriesOrNothingInColumnZeroAndCompleteEntries) {
  auto db = xmltest::Parse(
      "<?xml version=\"1.0\"?>\r\n<root><Games>"
      "<g><Main Name=\"Doom\" Description=\"id\" Category=\"action\"/></g>"
      "<g/>"
      "<g><Main Name=\"M\xC3\xB6tley\" Category=\"Racing\"/></g>"
      "</Games></root>");
  const auto numbered = GameRows(*db, FirstColumn::Number);
  ASSERT_EQ(3u, numbered.size());
  EXPECT_EQ("1", numbered[0].first);
  EXPECT_EQ("3", numbered[2].first);
  EXPECT_EQ("Doom", numbered[0].name);
  EXPECT_EQ("id", numbered[0].description);
  EXPECT_EQ(1, numbered[0].group);
  EXPECT_EQ(0, numbered[2].group) << "an unknown category is listed as No Category";
  EXPECT_EQ("M\xC3\xB6tley", numbered[2].name);
  EXPECT_EQ(GamesOf(*db)->GetChildren()[1], numbered[1].entry);
  // The empty game was completed the way every reader completes it.
  EXPECT_NE(nullptr, numbered[1].entry->FindChild("Main")->FindAttribute("Category"));

  const auto categories = GameRows(*db, FirstColumn::Category);
  EXPECT_EQ("Action", categories[0].first);
  EXPECT_EQ("No Category", categories[1].first);
  EXPECT_EQ("", GameRows(*db, FirstColumn::Empty)[0].first);
}

TEST(GameRows, CompareNumbersNumericallyAndTextsByteWiseInTheSharedDirection) {
  struct Case {
    int column;
    const char *a, *b;
    int ascending;
  } cases[] = {
      {0, "10", "9", 1},     {0, "2", "2", 0},       {0, "", "", 0},  // groups on: all equal
      {0, "", "1", -1},      {0, "x", "3", -1},      {0, "Action", "Arcade", -1},
      {1, "Zork", "alpha", -1}, {1, "abc", "abd", -1}, {2, "same", "same", 0},
      {1, "\xC3\xA4", "z", 1},  // bytes are unsigned
      {0, "99999999999999999999", "1", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.ascending, CompareCells(c.column, c.a, c.b, +1)) << c.a << " vs " << c.b;
    EXPECT_EQ(-c.ascending, CompareCells(c.column, c.a, c.b, -1)) << c.a << " vs " << c.b;
  }
}

TEST(WebSearch, KeepsTheNameWhatItIs) {
  const std::string list = "https://www.dosbox.com/comp_list.php?&search=";
  const std::string web = "https://www.google.com/search?q=";
  EXPECT_EQ(list + "Prince+of+Persia", SearchAddress(SearchSite::DosBoxCompatibility, "Prince of Persia"));
  EXPECT_EQ(web + "Prince of Persia", SearchAddress(SearchSite::WebSearch, "Prince of Persia"));
  EXPECT_EQ(list + "Doom+%26+Co", SearchAddress(SearchSite::DosBoxCompatibility, "Doom & Co"));
  EXPECT_EQ(web + "Lemmings %232 %2B %3F %3D %25", SearchAddress(SearchSite::WebSearch, "Lemmings #2 + ? = %"));
  EXPECT_EQ(web + "M%C3%B6tley%0A%22x%22", SearchAddress(SearchSite::WebSearch, "M\xC3\xB6tley\n\"x\""));
}

namespace {

struct NewGame : ::testing::Test {
  void SetUp() override {
    profile = std::make_unique<XmlDocument>(HostPath(VANTLE_DEFAULT_PROFILE).c_str());
    ASSERT_EQ(0, profile->GetParseStatus());
  }
  // type/local/remote of every mount, one "type local remote;" per mount.
  std::string Mounts(NewGameAnswers answers) {
    answers.systemDrive = 'C';
    entry = MakeNewGameEntry(*TemplateEntry(*profile), answers);
    std::string text;
    XmlElement* mount = entry->FindChild("Mount");
    for (unsigned i = 0; i < mount->GetChildCount(); ++i) {
      XmlElement* m = mount->GetChildren()[i];
      if (m->GetAttributeCount() != 7) return "wrong attributes";
      text += AttributeText(m, "type") + " " + AttributeText(m, "local") + " " +
              AttributeText(m, "remote") + ";";
    }
    return text;
  }
  std::unique_ptr<XmlDocument> profile;
  std::unique_ptr<XmlElement> entry;
};

}  // namespace

TEST_F(NewGame, MountsEachModeSoTheChosenPathsAreValidInsideDosBox) {
  const size_t templateMounts = TemplateEntry(*profile)->FindChild("Mount", true)->GetChildCount();
  ASSERT_EQ(0u, templateMounts) << "the cases below assume a template without mounts";
  struct Case {
    MountMode mode;
    const char *installer, *executable, *expected;
  } cases[] = {
      {MountMode::CD, "e:\\SETUP.EXE", "", "hdd C:\\ C;cdrom E:\\ E;"},
      {MountMode::CD, "", "", "hdd C:\\ C;cdrom D:\\ D;"},
      {MountMode::Floppy, "", "", "hdd C:\\ C;floppy A:\\ A;"},
      {MountMode::Floppy, "B:\\INSTALL.BAT", "", "hdd C:\\ C;floppy B:\\ B;"},
      {MountMode::Disk, "", "", "hdd C:\\ D;"},
      {MountMode::Disk, "", "d:\\games\\KEEN.EXE", "hdd D:\\ D;"},
      {MountMode::Manual, "", "", "  ;  ;  ;  ;  ;  ;"},
  };
  for (const Case& c : cases) {
    NewGameAnswers answers{"Keen & \xC3\x84rger", "<4>", "Platform", c.mode, c.installer, c.executable};
    EXPECT_EQ(c.expected, Mounts(answers)) << c.installer << c.executable;
    XmlElement* main = entry->FindChild("Main");
    EXPECT_EQ("Keen & \xC3\x84rger", AttributeText(main, "Name"));
    EXPECT_EQ("<4>", AttributeText(main, "Description"));
    EXPECT_EQ(c.installer, AttributeText(main, "Install"));
    EXPECT_EQ(c.executable, AttributeText(main, "Run"));
  }
  // The exact start tag, and the template itself untouched.
  EXPECT_EQ(
      "<m type=\"hdd\" __type=\"floppy|||cdrom|||hdd\" iso=\"no\" __iso=\"yes|||no\" local=\"C:\\\" "
      "remote=\"D\" __remote=\"A|||B|||C|||D|||E|||F|||G|||H|||I|||J|||K|||L|||M|||N|||O|||P|||Q|||R|||"
      "S|||T|||U|||V|||W|||X|||Y\" />",
      MountStartTag("hdd", "C:\\", "D"));
  EXPECT_EQ(templateMounts, TemplateEntry(*profile)->FindChild("Mount")->GetChildCount());
}

TEST(NewGameMode, PresetMeansDiskAndNoChoiceMeansManual) {
  EXPECT_EQ(MountMode::Disk, DecideMountMode(true, false, true, false));
  EXPECT_EQ(MountMode::Disk, DecideMountMode(false, true, false, false));
  EXPECT_EQ(MountMode::CD, DecideMountMode(false, false, true, false));
  EXPECT_EQ(MountMode::Floppy, DecideMountMode(false, false, false, true));
  EXPECT_EQ(MountMode::Manual, DecideMountMode(false, false, false, false));
  EXPECT_EQ('\0', DriveLetterOf("\\\\server\\share\\GAME.EXE"));
  EXPECT_EQ('Q', DriveLetterOf("q:"));
}

TEST(ShellNames, GameNamesBecomeSafeFileNamesAndArgumentsThatParseBack) {
  struct Stem {
    const char *name, *stem;
  };
  for (const Stem& c : std::initializer_list<Stem>{
           {"Commander Keen", "Commander Keen"},
           {"AC/DC: \"Live\" <1991> | a\\b*?", "AC_DC_ _Live_ _1991_ _ a_b__"},
           {"Tab\there\x7F", "Tab_here_"},
           {"M\xC3\xB6tley Cr\xC3\xBC""e", "M\xC3\xB6tley Cr\xC3\xBC""e"},
           {"Dots... ", "Dots"},
           {"..", "Game"},
           {"", "Game"},
           {"con", "con_"},
           {"LPT1.txt", "LPT1_.txt"},
           {"COM10", "COM10"},
           {"Console", "Console"}})
    EXPECT_EQ(c.stem, FileNameStem(c.name)) << c.name;

  // Each quoted argument is read back whole by the C runtime's rules: a
  // quote is escaped, backslashes double only before a quote.
  struct Quote {
    const char *argument, *quoted;
  };
  for (const Quote& c : std::initializer_list<Quote>{
           {"New Game", "\"New Game\""},
           {"Say \"Hi\"", "\"Say \\\"Hi\\\"\""},
           {"C:\\Games\\", "\"C:\\Games\\\\\""},
           {"a\\\"b", "\"a\\\\\\\"b\""},
           {"a\\b", "\"a\\b\""}})
    EXPECT_EQ(c.quoted, QuoteArgument(c.argument)) << c.argument;

  EXPECT_EQ("C:\\GAMES\\KEEN", FolderOfRunPath("C:\\GAMES\\KEEN\\KEEN4.EXE"));
  EXPECT_EQ("KEEN4.EXE", FolderOfRunPath("KEEN4.EXE"));
  EXPECT_EQ("\"C:\\Program Files\\V\\vtl64.exe\" -run \"%1\"",
            ShellVerbCommand("C:\\Program Files\\V\\vtl64.exe", false));
  EXPECT_EQ("\"C:\\V\\vtl64.exe\" -conf \"%1\"", ShellVerbCommand("C:\\V\\vtl64.exe", true));
  EXPECT_EQ("\"C:\\V\\vtl64.exe\" -shortcut \"%1\"", LinkOpenCommand("C:\\V\\vtl64.exe"));
}
