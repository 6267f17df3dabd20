// What the main window's list shows and how it sorts, the web search
// addresses, the games the new game wizard builds, and the names handed to
// the shell.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/GameFind.h"
#include "launcher/GameListRows.h"
#include "launcher/ImportScan.h"
#include "launcher/GameSchema.h"
#include "launcher/NewGameEntry.h"
#include "launcher/ShellNames.h"
#include "launcher/WebSearch.h"

TEST(GameRows, ShowNumbersCategoriesOrNothingInColumnZeroAndCompleteEntries) {
  auto db = xmltest::Parse(
      "<?xml version=\"1.0\"?>\r\n<root><Games>"
      "<g><Main Name=\"Doom\" Description=\"id\" Category=\"action\" Year=\"1993\" Developer=\"id Software\"/></g>"
      "<g/>"
      "<g><Main Name=\"M\xC3\xB6tley\" Category=\"Racing\"/></g>"
      "</Games></root>");
  const auto numbered = GameRows(*db, FirstColumn::Number);
  ASSERT_EQ(3u, numbered.size());
  EXPECT_EQ("1", numbered[0].first);
  EXPECT_EQ("3", numbered[2].first);
  EXPECT_EQ("Doom", numbered[0].name);
  EXPECT_EQ("id", numbered[0].description);
  EXPECT_EQ("1993", CellOf(numbered[0], kYearColumn));
  EXPECT_EQ("id Software", CellOf(numbered[0], kDeveloperColumn));
  EXPECT_EQ("M\xC3\xB6tley", CellOf(numbered[2], kNameColumn));
  EXPECT_EQ(1, numbered[0].group);
  EXPECT_EQ(0, numbered[2].group) << "an unknown category is listed as No Category";
  EXPECT_EQ("M\xC3\xB6tley", numbered[2].name);
  EXPECT_EQ(GamesOf(*db)->GetChildren()[1], numbered[1].entry);
  // The empty game was completed the way every reader completes it.
  EXPECT_NE(nullptr, numbered[1].entry->FindChild("Main")->FindAttribute("Category"));
  EXPECT_EQ(nullptr, numbered[1].entry->FindChild("Main")->FindAttribute("Year")) << "no empty year is added";
  EXPECT_EQ(nullptr, numbered[2].entry->FindChild("Main")->FindAttribute("Developer"));

  // Where column 0 names the category, a category's games stay together, in
  // library order.
  const auto categories = GameRows(*db, FirstColumn::Category);
  EXPECT_EQ("No Category", categories[0].first);
  EXPECT_EQ(GamesOf(*db)->GetChildren()[1], categories[0].entry);
  EXPECT_EQ("M\xC3\xB6tley", categories[1].name);
  EXPECT_EQ("Action", categories[2].first);
  EXPECT_EQ("", GameRows(*db, FirstColumn::Empty)[0].first);

  // A library large enough to be read in two halves: every row in its place,
  // games without Main completed in either half.
  std::string big = "<?xml version=\"1.0\"?>\r\n<root><Games>";
  constexpr int kBig = 9001;
  for (int i = 0; i < kBig; ++i)
    big += i % 1000 == 999 ? std::string("<g/>") : "<g><Main Name=\"G" + std::to_string(i) + "\" Category=\"RPG\"/></g>";
  auto large = xmltest::Parse((big + "</Games></root>").c_str());
  const auto rows = GameRows(*large, FirstColumn::Number);
  ASSERT_EQ(static_cast<std::size_t>(kBig), rows.size());
  for (int i = 0; i < kBig; ++i) {
    const bool bare = i % 1000 == 999;
    ASSERT_EQ(GamesOf(*large)->GetChildren()[i], rows[i].entry) << i;
    ASSERT_EQ(std::to_string(i + 1), rows[i].first) << i;
    ASSERT_EQ(bare ? std::string() : "G" + std::to_string(i), rows[i].name) << i;
    ASSERT_EQ(bare ? 0 : CategoryIndex("RPG"), rows[i].group) << i;
    ASSERT_NE(nullptr, rows[i].entry->FindChild("Main")->FindAttribute("Name")) << i;
  }
  // By category: the nine bare games (No Category) first, then the rest, each
  // in library order across both halves.
  const auto grouped = GameRows(*large, FirstColumn::Category);
  ASSERT_EQ(rows.size(), grouped.size());
  for (int k = 0; k < kBig; ++k) {
    const int game = k < 9 ? 1000 * k + 999 : (k - 9) + (k - 9) / 999;
    ASSERT_EQ(GamesOf(*large)->GetChildren()[game], grouped[k].entry) << k;
  }
}

TEST(GameRows, SortsNumbersNumericallyAndTextsAsTheFindBoxComparesThemInTheSharedDirection) {
  struct Case {
    int column;
    const char *a, *b;
    int ascending;
  } cases[] = {
      {0, "10", "9", 1},     {0, "2", "2", 0},       {0, "", "", 0},  // groups on: all equal
      {0, "", "1", -1},      {0, "x", "3", -1},      {0, "Action", "Arcade", -1},
      {0, "99999999999999999999", "1", 1},
      {1, "DOOM", "Day of the Tentacle", 1}, {1, "Zork", "alpha", 1}, {1, "abc", "abd", -1},
      {1, "\xC3\x84rger", "Zw\xC3\xB6lf", -1}, {1, "\xC3\x84rger", "arger", 0}, {2, "same", "SAME", 0},
      {1, "Game 2", "Game 10", -1}, {1, "Game 007", "Game 7", 0}, {1, "Game 10b", "Game 10a", 1},
      {1, "Game", "Game 1", -1}, {1, "9", "10", -1}, {1, "\xC3\xA9", "z", -1},
      {1, "\xD0\x96", "\xD0\xB0", 1},
      {3, "1993", "1987", 1}, {3, "987", "1987", -1}, {3, "1990", "1990", 0}, {3, "1994", "1994 (CD)", -1},
      {4, "Westwood", "id Software", 1}, {4, "Team 17", "Team 7", 1},
  };
  for (const Case& c : cases) {
    const std::string a = c.column == 0 ? c.a : SortKeyOf(c.a), b = c.column == 0 ? c.b : SortKeyOf(c.b);
    EXPECT_EQ(c.ascending, CompareCells(c.column, a.c_str(), b.c_str(), +1)) << c.a << " vs " << c.b;
    EXPECT_EQ(-c.ascending, CompareCells(c.column, a.c_str(), b.c_str(), -1)) << c.a << " vs " << c.b;
  }
  // Games of no known year wait at the end whichever way the years run;
  // a year that is not a number comes after the numbered ones.
  const struct {
    const char *a, *b;
    int ascending, descending;
  } years[] = {{"", "1990", 1, 1}, {"1990", "", -1, -1}, {"", "", 0, 0}, {"unknown", "2001", 1, -1},
               {"", "unknown", 1, 1}};
  for (const auto& c : years) {
    EXPECT_EQ(c.ascending, CompareCells(kYearColumn, c.a, c.b, +1)) << c.a << " vs " << c.b;
    EXPECT_EQ(c.descending, CompareCells(kYearColumn, c.a, c.b, -1)) << c.a << " vs " << c.b;
  }
}

TEST(GameFind, IgnoresCaseAndAccentsInNameDescriptionCategoryAndPublisher) {
  auto db = xmltest::Parse("<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Publisher=\"Sierra On-Line\"/></g>"
                           "<g><Main Name=\"X\"/></g></Games></root>");
  std::vector<GameRow> rows(5);
  rows[4].entry = GamesOf(*db)->GetChildren()[0];
  rows[0].entry = GamesOf(*db)->GetChildren()[1];
  rows[0].name = "Zw\xC3\xB6lf Boxk\xC3\xA4mpfer";
  rows[1].name = "Duke Nukem", rows[1].description = "3D Realms";
  rows[2].name = "\xD0\x81\xD0\xB6\xD0\xB8\xD0\xBA", rows[2].group = CategoryIndex("Simulation");  // Ёжик
  rows[2].description = "\xD0\xAF\xD0\xB1\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE";  // Яблоко: Я ends the capitals
  rows[3].name = "Stra\xC3\x9F" "e \xC3\x86on", rows[3].description = "Lemmings 2 > Lemmings 1";
  std::vector<std::string> texts;
  for (const GameRow& row : rows) texts.push_back(FindTextOf(row));
  const struct {
    const char* typed;
    std::vector<int> found;
  } cases[] = {
      {"bo", {0}}, {"ZWOLF", {0}}, {"K\xC3\x84MPF", {0}}, {"duke", {1}}, {"realms", {1}},
      {"sim", {2}}, {"\xD0\xB5\xD0\xB6", {2}},  // "еж" finds "Ёжик"
      {"\xD1\x8F\xD0\xB1", {2}},  // "яб"
      {"strasse", {3}}, {"aeon", {3}}, {"> lem", {3}}, {"", {0, 1, 2, 3, 4}}, {"SIERRA", {4}},
      {"nukem 3d", {}},  // never across two fields
      {"zz", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.found, MatchingRows(texts, c.typed)) << c.typed;
  EXPECT_EQ(nullptr, rows[0].entry->FindChild("Main")->FindAttribute("Publisher")) << "finding adds nothing";
}

namespace {

// A folder tree in memory: path -> items; a path missing from it cannot be read.
// identities: what the system tells of a path's identity.
struct FakeFolders {
  std::map<std::string, std::vector<FolderItem>> folders;
  std::map<std::string, std::string> identities;
  IdentifyFunction Identify() { return [this](const std::string& f) { return identities.count(f) ? identities[f] : ""; }; }
  ListFolderFunction Lister() {
    return [this](const std::string& folder, std::vector<FolderItem>& items) {
      auto found = folders.find(folder);
      if (found == folders.end()) return false;
      items = found->second;
      return true;
    };
  }
};

FolderItem File(const char* name, std::uint64_t size = 1000) { return FolderItem{name, false, size, ""}; }
FolderItem Dir(const char* name, const char* identity = "") { return FolderItem{name, true, 0, identity}; }

}  // namespace

TEST(ImportScan, ChoosesTheProgramThatStartsTheGame) {
  const struct {
    const char* folder;
    std::vector<const char*> names;
    std::vector<std::uint64_t> sizes;
    const char *run, *install;
  } cases[] = {
      {"Commander Keen 4", {"INSTALL.EXE", "KEEN4E.EXE", "HUGE.EXE"}, {90000, 300000, 900000}, "KEEN4E.EXE", "INSTALL.EXE"},
      {"Doom", {"SETUP.EXE", "DOOM.EXE", "DOS4GW.EXE", "UNINSTAL.EXE"}, {1, 2, 3, 4}, "DOOM.EXE", "SETUP.EXE"},
      {"Stuff", {"a.com", "B.BAT", "c.exe"}, {10, 30, 20}, "B.BAT", ""},
      {"Lemmings", {"VGALEMMI.EXE", "LEMMINGS.BAT"}, {50000, 100}, "LEMMINGS.BAT", ""},
      {"Setup only", {"Install.exe", "SETSOUND.EXE", "CONFIG.EXE"}, {1, 2, 3}, "", "Install.exe"},
      {"X", {"SETUP.EXE", "INSTALL.BAT"}, {1, 2}, "", "INSTALL.BAT"},
      // Uninstallers, whatever their size, never start the game.
      {"Ultima Underworld", {"UINSTALL.EXE", "UW.EXE"}, {90000, 20000}, "UW.EXE", ""},
      {"Q", {"UNWISE.EXE", "DEINSTAL.EXE", "REMOVE.EXE", "KQUNINST.EXE", "UNINS000.EXE", "Q1.EXE"}, {9, 9, 9, 9, 9, 1}, "Q1.EXE", ""},
      // A launcher batch file beats the largest program and one named like the folder.
      {"X-COM", {"GEOSCAPE.EXE", "TACTICAL.EXE", "GO.BAT"}, {900000, 800000, 90}, "GO.BAT", ""},
      {"Doom", {"DOOM.EXE", "PLAY.BAT"}, {900000, 90}, "PLAY.BAT", ""},
      {"Doom", {"DOOM.BAT", "RUN.BAT", "DOOM.EXE"}, {10, 90, 900}, "DOOM.BAT", ""},
      {"Keen", {"KEEN4E.EXE", "CLEAN.BAT"}, {300, 10}, "KEEN4E.EXE", ""},
      {"Removed", {"REMOVED2.EXE", "REMOVE.EXE"}, {1, 9}, "REMOVED2.EXE", ""},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> names(c.names.begin(), c.names.end());
    EXPECT_EQ(c.run, ChooseProgram(c.folder, names, c.sizes)) << c.folder;
    EXPECT_EQ(c.install, ChooseInstaller(names)) << c.folder;
  }
}

TEST(ImportScan, FindsGamesTwoLevelsDownAndSkipsWhatItCannotTake) {
  FakeFolders tree;
  tree.folders["/g"] = {Dir("Keen"), Dir("Collections"), Dir("Locked"), Dir("Loop", "id-g"), Dir("Bad\nName"),
                        Dir("Empty"), File("readme.txt"), Dir("Odd")};
  tree.folders["/g/Odd"] = {File("GO\x7F.EXE"), File("SETUP.EXE")};  // a program DOS cannot name
  tree.folders["/g/Keen"] = {File("KEEN4.EXE"), File("INSTALL.EXE"), Dir("SAVES")};
  tree.folders["/g/Keen/SAVES"] = {File("OTHER.EXE")};
  tree.folders["/g/Collections"] = {Dir("Lemmings", "id-l"), Dir("Quest CD"), Dir("Only Setup"), Dir("Zlink", "id-l")};
  tree.folders["/g/Collections/Lemmings"] = {File("LEMMINGS.EXE")};
  tree.folders["/g/Collections/Zlink"] = {File("LEMMINGS.EXE")};
  tree.folders["/g/Collections/Quest CD"] = {File("quest.bin"), File("quest.cue"), File("quest.iso")};
  tree.folders["/g/Collections/Only Setup"] = {File("SETUP.EXE")};
  tree.folders["/g/Empty"] = {};
  tree.folders["/g/Loop"] = {Dir("Loop", "id-g"), Dir("Keen")};
  int progress = 0;
  tree.identities["/g"] = "id-g";
  ImportScan scan = ScanForGames("/g", tree.Lister(), {}, [&](int n) { progress = n; }, nullptr, tree.Identify());
  ASSERT_EQ(4u, scan.games.size());
  EXPECT_EQ("Lemmings", scan.games[0].name);
  EXPECT_EQ("/g/Collections/Lemmings/LEMMINGS.EXE", scan.games[0].run);
  EXPECT_EQ("Only Setup", scan.games[1].name);
  EXPECT_EQ("", scan.games[1].run);
  EXPECT_EQ("/g/Collections/Only Setup/SETUP.EXE", scan.games[1].install);
  EXPECT_EQ("/g/Collections/Quest CD/quest.cue", scan.games[2].image);
  EXPECT_EQ("/g/Keen/KEEN4.EXE", scan.games[3].run);
  EXPECT_EQ("/g/Keen/INSTALL.EXE", scan.games[3].install);
  EXPECT_EQ(1, scan.unreadable);  // Locked
  EXPECT_EQ(2, scan.badNames);
  EXPECT_EQ(2, scan.loops);  // Zlink is Lemmings through a link, Loop the chosen folder
  EXPECT_EQ(9, progress);
  EXPECT_FALSE(scan.cancelled);

  // Importing again finds every folder in the library already.
  auto library = xmltest::Parse("<?xml version=\"1.0\"?>\r\n<root><Games/></root>");
  XmlDocument profile(HostPath(VANTLE_DEFAULT_PROFILE).c_str());
  for (const FoundGame& game : scan.games) GamesOf(*library)->AddChild(MakeImportedEntry(*TemplateEntry(profile), game, 'C'));
  const ImportScan again = ScanForGames("/g", tree.Lister(), LibraryRunFolders(*library));
  EXPECT_TRUE(again.games.empty());
  EXPECT_EQ(4, again.alreadyKnown);

  std::atomic<bool> cancel{true};
  EXPECT_TRUE(ScanForGames("/g", tree.Lister(), {}, nullptr, &cancel).cancelled);
}

TEST(ImportScan, KnowsFoldersByIdentityAndKeepsPublishersAndCdImages) {
  FakeFolders tree;
  tree.folders["/g"] = {Dir("Sierra", "s"), Dir("X-COM", "x"), Dir("Alias", "k"), Dir("Old copy", "o")};
  tree.folders["/g/Sierra"] = {Dir("King's Quest", "kq"), Dir("Space Quest", "sq"), Dir("Keen", "k")};
  tree.folders["/g/Sierra/King's Quest"] = {File("KQ.EXE"), File("KQ.BIN"), File("KQ.CUE"), File("KQ.ISO")};
  tree.folders["/g/Sierra/Space Quest"] = {File("SQ.EXE"), File("MUSIC.IMG"), File("DATA.BIN")};
  tree.folders["/g/X-COM"] = {File("GEOSCAPE.EXE", 90000), File("GO.BAT", 10), File("XCOM.iso")};
  tree.folders["/g/Alias"] = tree.folders["/g/Sierra/Keen"] = {File("KEEN4.EXE")};
  tree.folders["/g/Old copy"] = {File("INSTALL.EXE")};
  // The library runs Keen from C: (a folder of three paths) and a game from a subfolder of its own.
  tree.identities = {{"C:\\Keen", "k"}, {"C:\\Old\\BIN", "ob"}, {"C:\\Old", "o"}, {"/g", "g"}};
  const ImportScan scan = ScanForGames("/g", tree.Lister(), {"C:\\Keen", "C:\\Old\\BIN"}, nullptr, nullptr, tree.Identify());
  std::string found;  // name, program, image and publisher of each
  for (const FoundGame& g : scan.games) found += g.name + "|" + g.run + "|" + g.image + "|" + g.publisher + ";";
  EXPECT_EQ("King's Quest|/g/Sierra/King's Quest/KQ.EXE|/g/Sierra/King's Quest/KQ.CUE|Sierra;"
            "Space Quest|/g/Sierra/Space Quest/SQ.EXE||Sierra;X-COM|/g/X-COM/GO.BAT|/g/X-COM/XCOM.iso|;",
            found);
  // Old copy and Alias are known; Sierra/Keen after Alias is a link to a folder seen already.
  EXPECT_EQ(std::make_pair(2, 1), std::make_pair(scan.alreadyKnown, scan.loops));
  // A file system without file numbers tells nothing: no two folders become one.
  EXPECT_EQ("|00000001:0000000000000007|00000002:0000000000000007",
            FolderIdentityText(3, 0) + "|" + FolderIdentityText(1, 7) + "|" + FolderIdentityText(2, 7));
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

TEST_F(NewGame, ImportedGamesAreMadeAsTheWizardMakesAGameOnDisk) {
  XmlElement& templateEntry = *TemplateEntry(*profile);
  const struct {
    FoundGame found;
    const char *run, *install, *mounts;
  } cases[] = {
      {{"e:\\K", "Keen", "e:\\K\\KEEN4.EXE", "e:\\K\\INSTALL.EXE", "", ""}, "e:\\K\\KEEN4.EXE", "e:\\K\\INSTALL.EXE", "hdd E:\\ E no;"},
      {{"f:\\S", "S", "", "f:\\S\\SETUP.EXE", "", ""}, "", "f:\\S\\SETUP.EXE", "hdd F:\\ F no;"},
      {{"g:\\Q", "Q", "", "", "g:\\Q\\q.cue", ""}, "", "", "hdd C:\\ C no;cdrom g:\\Q\\q.cue D yes;"},
      // A CD image beside the program or installer: the first letter from D the program's drive leaves free.
      {{"e:\\K", "KQ", "e:\\K\\KQ.EXE", "", "e:\\K\\KQ.CUE", "Sierra"}, "e:\\K\\KQ.EXE", "", "hdd E:\\ E no;cdrom e:\\K\\KQ.CUE D yes;"},
      {{"d:\\X", "X", "", "d:\\X\\INSTALL.EXE", "d:\\X\\X.iso", "Sierra"}, "", "d:\\X\\INSTALL.EXE", "hdd D:\\ D no;cdrom d:\\X\\X.iso E yes;"},
  };
  for (const auto& c : cases) {
    auto entry = MakeImportedEntry(templateEntry, c.found, 'C');
    XmlElement* main = entry->FindChild("Main");
    EXPECT_EQ(c.found.name, AttributeText(main, "Name"));
    const XmlAttribute* publisher = main->FindAttribute("Publisher");  // none made when there is none
    EXPECT_EQ(c.found.publisher.empty() ? "<none>" : c.found.publisher, publisher ? publisher->GetValue() : "<none>");
    EXPECT_EQ(c.run, AttributeText(main, "Run"));
    EXPECT_EQ(c.install, AttributeText(main, "Install"));
    std::string mounts;
    XmlElement* mount = entry->FindChild("Mount");
    for (unsigned i = 0; i < mount->GetChildCount(); ++i) {
      XmlElement* m = mount->GetChildren()[i];
      mounts += AttributeText(m, "type") + " " + AttributeText(m, "local") + " " + AttributeText(m, "remote") + " " +
                AttributeText(m, "iso") + ";";
    }
    EXPECT_EQ(c.mounts, mounts) << c.found.name;
  }
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
