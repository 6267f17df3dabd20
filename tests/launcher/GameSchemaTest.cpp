// The game vocabulary: categories, lookups that complete an entry, the
// template entry, command texts and link files.
#include <gtest/gtest.h>

#include <string>

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/GameSchema.h"

TEST(Categories, AreMatchedWithoutRegardToCaseAndUnknownNamesMeanNoCategory) {
  EXPECT_EQ(1, CategoryIndex("ACTION"));
  EXPECT_EQ(1, CategoryIndex("action"));
  EXPECT_EQ(5, CategoryIndex("rpg"));
  EXPECT_EQ(4, CategoryIndex("PUZZLE"));  // both ends of the alphabet
  EXPECT_EQ(10, CategoryIndex("Sport"));
  EXPECT_EQ(0, CategoryIndex("No Category"));
  EXPECT_EQ(0, CategoryIndex("Category"));  // the template's default
  EXPECT_EQ(0, CategoryIndex("Actio"));
  EXPECT_EQ(0, CategoryIndex("Action "));
  EXPECT_EQ(0, CategoryIndex("Sports"));
  EXPECT_EQ(0, CategoryIndex(""));
  EXPECT_EQ(0, CategoryIndex(nullptr));
}

// The wizard's list and the editor's drop-down must offer the same names.
TEST(Categories, MatchTheCategoryChoicesOfTheShippedProfile) {
  XmlDocument profile(HostPath(VANTLE_DEFAULT_PROFILE).c_str());
  ASSERT_EQ(0, profile.GetParseStatus());
  const std::string choices =
      AttributeText(Section(TemplateEntry(profile), "Main"), "__Category");
  std::string joined;
  for (int i = 0; i < kCategoryCount; ++i) joined += (i ? "|||" : "") + std::string(CategoryList[i]);
  EXPECT_EQ(choices, joined);
}

TEST(Lookups, CompleteWhatAnEntryLacksAndFindTheFirstOfEqualNames) {
  auto db = xmltest::Parse(
      "<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Name=\"A\" Name=\"B\"/><Main Name=\"C\"/>"
      "</g></Games></root>");
  XmlElement* game = Section(GamesOf(*db), "g");
  ASSERT_NE(nullptr, game);
  EXPECT_EQ("A", AttributeText(Section(game, "Main"), "Name"));

  XmlElement* sound = Section(game, "Sound");
  ASSERT_NE(nullptr, sound);
  EXPECT_EQ(3u, game->GetChildCount());
  EXPECT_EQ(sound, Section(Section(game, "Sound"), "Mixer")->GetParent());
  EXPECT_EQ("", AttributeText(Section(sound, "Mixer"), "rate"));
  EXPECT_NE(nullptr, Section(sound, "Mixer")->FindAttribute("rate")) << "reading created the attribute";

  SetAttributeText(Section(game, "Main"), "Category", "R&D <1>");
  EXPECT_EQ("R&D <1>", AttributeText(Section(game, "Main"), "Category"));

  EXPECT_EQ(nullptr, Section(nullptr, "Main"));
  EXPECT_EQ("", AttributeText(nullptr, "Name"));
}

TEST(Template, IsTheFirstGameOfTheProfileAndIsCreatedWhenMissing) {
  auto two = xmltest::Parse(
      "<?xml version=\"1.0\"?>\r\n<root><Games><g><Main Name=\"first\"/></g><g><Main Name=\"second\"/></g>"
      "</Games></root>");
  EXPECT_EQ("first", AttributeText(Section(TemplateEntry(*two), "Main"), "Name"));

  auto bare = xmltest::Parse("<?xml version=\"1.0\"?>\r\n<root/>");
  XmlElement* made = TemplateEntry(*bare);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ("Games\\g", made->GetPath());
  EXPECT_EQ(bare->GetRoot(), made->GetParent()->GetParent());

  XmlDocument none;
  EXPECT_EQ(nullptr, TemplateEntry(none));
  EXPECT_EQ(nullptr, GamesOf(none));
}

TEST(CommandTexts, AreTheFirstCDataSectionVerbatim) {
  auto db = xmltest::Parse(
      "<?xml version=\"1.0\"?>\r\n<root><Pre_Commands>ignored text<![CDATA[cd games\r\n\t\t]]>"
      "<![CDATA[second]]></Pre_Commands><Post_Commands>only text</Post_Commands></root>");
  EXPECT_STREQ("cd games\r\n\t\t", FirstCDataText(db->GetRoot()->FindChild("Pre_Commands")));
  EXPECT_EQ(nullptr, FirstCDataText(db->GetRoot()->FindChild("Post_Commands")));
  EXPECT_EQ(nullptr, FirstCDataText(nullptr));
}

TEST(LinkFiles, NameTheirGameInTheRootAttributeN) {
  xmltest::TempDir dir;
  xmltest::WriteFile(dir.File("a.vtl"), "<?xml version=\"1.0\"?>\r\n<root n=\"Tom &amp; Jerry\"/>\r\n");
  xmltest::WriteFile(dir.File("b.vtl"), "MZ this is a program, not a link");
  xmltest::WriteFile(dir.File("c.vtl"), "<?xml version=\"1.0\"?>\r\n<root name=\"x\"/>\r\n");
  std::string name = "untouched";
  EXPECT_FALSE(ReadGameLinkName(dir.File("b.vtl"), name));
  EXPECT_FALSE(ReadGameLinkName(dir.File("missing.vtl"), name));
  EXPECT_EQ("untouched", name);
  ASSERT_TRUE(ReadGameLinkName(dir.File("a.vtl"), name));
  EXPECT_EQ("Tom & Jerry", name);
  // A link without a name still is a link: it names the game called "".
  ASSERT_TRUE(ReadGameLinkName(dir.File("c.vtl"), name));
  EXPECT_EQ("", name);
}
