// What the XML editor shows of an element and what it writes back into it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "ui/EditorModel.h"
#include "xml/Xml.h"

namespace {

std::unique_ptr<XmlDocument> Parse(const char* body) {
  auto document = std::make_unique<XmlDocument>();
  document->ParseText((std::string("<?xml version=\"1.0\"?>\n") + body).c_str());
  return document;
}

TEST(EditorModel, TreeLabelsPreferNameThenNameThenTheElement) {
  auto document = Parse(
      "<g><Main Name=\"Comm&amp;nder_Keen\"/><Mixer name=\"low\" Name=\"high\"/>"
      "<Command_Line_Parameters/><Empty name=\"\"/></g>");
  XmlElement* g = document->GetRoot();
  EXPECT_EQ("g", TreeLabel(g));
  std::vector<std::string> labels;
  for (unsigned i = 0; i < g->GetChildCount(); ++i) labels.push_back(TreeLabel(g->GetChildren()[i]));
  EXPECT_EQ((std::vector<std::string>{"Comm&nder Keen", "low", "Command Line Parameters", ""}), labels);
}

TEST(EditorModel, RowsLeaveOutChoiceAttributesAndSplitTheirLists) {
  auto document = Parse(
      "<Main Name=\"New Game\" Category=\"Category\" __Category=\"No Category|||Action|||Arcade\" "
      "cycle_up=\"500\" __cycle_up=\"|||a||||||b|||\" __orphan=\"x|||y\" sbtype=\"sb16\" "
      "__sbtype=\"none|||sb&amp;16\" bare=\"b\" __bare=\"|||\" free=\"f\" __free=\"\"/>");
  const std::vector<AttributeRow> rows = AttributeRows(document->GetRoot());
  ASSERT_EQ(6u, rows.size());
  const struct {
    const char* name;
    bool offered;
    std::vector<std::string> choices;
    const char* value;
  } expected[] = {
      {"Name", false, {}, "New Game"},
      {"Category", true, {"No Category", "Action", "Arcade"}, "Category"},
      {"cycle up", true, {"a", "b"}, "500"},  // no empty entries from doubled or outer separators
      {"sbtype", true, {"none", "sb&16"}, "sb16"},
      {"bare", true, {}, "b"},  // separators only: an empty list, not free text
      {"free", false, {}, "f"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(expected[i].name, rows[i].name);
    EXPECT_EQ(expected[i].offered, rows[i].offersChoices) << expected[i].name;
    EXPECT_EQ(expected[i].choices, rows[i].choices) << expected[i].name;
    EXPECT_EQ(expected[i].value, rows[i].attribute->GetValue());
  }
}

TEST(EditorModel, TypedTextGoesIntoTheFirstCDataSection) {
  auto document = Parse("<g><A><![CDATA[old]]><![CDATA[second]]></A><B/><C><![CDATA[keep\nme]]></C></g>");
  XmlElement* g = document->GetRoot();
  XmlElement* a = g->FindChild("A");
  XmlElement* b = g->FindChild("B");
  XmlElement* c = g->FindChild("C");

  StoreEditorText(a, "new");
  StoreEditorText(b, "added");
  StoreEditorText(c, "");  // an emptied text area
  EXPECT_EQ("new", EditorText(a));
  EXPECT_STREQ("second", a->GetCDatas()[1]->GetText());
  EXPECT_EQ("added", EditorText(b));
  EXPECT_EQ("keep\nme", EditorText(c));

  // The control hands over "\r\n": kept unless the element breaks its lines
  // with plain "\n" only, and kept where it held no line at all.
  EXPECT_EQ("1\n2", StoredLineBreaks("1\r\n2", c));
  EXPECT_EQ("1\r\n2", StoredLineBreaks("1\r\n2", b));
  EXPECT_EQ("1\r\n2", StoredLineBreaks("1\r\n2", g));
  StoreEditorText(c, "x\r\ny\nz");
  EXPECT_EQ("1\r\n2", StoredLineBreaks("1\r\n2", c));
}

TEST(EditorModel, TextHoldingTheSectionEndStillReadsBack) {
  auto document = Parse("<g><A/></g>");
  StoreEditorText(document->GetRoot()->FindChild("A"), "echo ]]> and ]]]>");
  xmltest::TempDir dir;
  const std::string path = dir.File("library.xml");
  document->SetFileName(path.c_str());
  ASSERT_TRUE(document->Save());
  XmlDocument reread(path.c_str());
  EXPECT_EQ(0, reread.GetParseStatus());
  EXPECT_EQ("echo ]] > and ]]] >", EditorText(reread.GetRoot()->FindChild("A")));
}

TEST(EditorModel, PanesSplitAtOneFifthAndHalfHeight) {
  const struct {
    int width, height;
    bool text;
    EditorLayout layout;
  } cases[] = {
      {1000, 600, true, {{0, 0, 200, 600}, {200, 0, 800, 300}, {200, 300, 800, 300}}},
      {1000, 600, false, {{0, 0, 200, 600}, {200, 0, 800, 600}, {200, 600, 800, 0}}},
      {999, 501, true, {{0, 0, 199, 501}, {199, 0, 799, 250}, {199, 250, 799, 250}}},
  };
  for (const auto& c : cases) {
    const EditorLayout got = LayOutEditor(c.width, c.height, c.text);
    for (const auto& [want, have] : {std::pair{c.layout.tree, got.tree}, std::pair{c.layout.grid, got.grid},
                                     std::pair{c.layout.text, got.text}}) {
      EXPECT_EQ((std::vector<int>{want.x, want.y, want.width, want.height}),
                (std::vector<int>{have.x, have.y, have.width, have.height}))
          << c.width << "x" << c.height;
    }
  }
}

}  // namespace
