// The fixed layout Save writes, and reading it back.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

using xmltest::Dump;
using xmltest::Parse;
using xmltest::ReadFile;
using xmltest::SavedForm;
using xmltest::TempDir;

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// The body of the saved file, after the declaration line.
std::string SavedBody(const std::string& text, const TempDir& dir) {
  const std::string saved = SavedForm(kDecl + text, dir);
  EXPECT_EQ(saved.substr(0, kDecl.size() + 2), kDecl + "\r\n");
  return saved.substr(kDecl.size() + 2);
}

std::string WithoutPositions(const std::string& dump) { return std::regex_replace(dump, std::regex("@-?[0-9]+"), ""); }

}  // namespace

TEST(Layout, AGameEntryIsWrittenWithTabsAndCrLf) {
  TempDir dir;
  const std::string body = SavedBody(
      "\n<root>\n <Games>\n  <g>\n   <Main Name=\"Doom\" Run=\"D:\\DOOM.EXE\"><![CDATA[main help]]></Main>"
      "<Mount><![CDATA[mount help]]><m type=\"hdd\"/></Mount></g></Games></root>",
      dir);
  EXPECT_EQ(body,
            "<root>\r\n"
            "\t<Games>\r\n"
            "\t\t<g>\r\n"
            "\t\t\t<Main Name=\"Doom\" Run=\"D:\\DOOM.EXE\">\r\n"
            "\t\t\t\t<![CDATA[main help]]>\r\n"
            "\t\t\t</Main>\r\n"
            "\t\t\t<Mount>\r\n"
            "\t\t\t\t<m type=\"hdd\"/>\r\n"
            "\t\t\t\t<![CDATA[mount help]]>\r\n"
            "\t\t\t</Mount>\r\n"
            "\t\t</g>\r\n"
            "\t</Games>\r\n"
            "</root>\r\n");
}

TEST(Layout, AnEmptyRootIsOneLine) {
  TempDir dir;
  EXPECT_EQ(SavedBody("<root></root>", dir), "<root/>\r\n");
}

TEST(Layout, StoredFormsAndRawTextsAreWrittenAsTheyAre) {
  TempDir dir;
  EXPECT_EQ(SavedBody("<r a=\"x &amp; y\" b=\"&#65;\"><!--&lt;--></r>", dir),
            "<r a=\"x &amp; y\" b=\"&#65;\">\r\n\t<!--&lt;-->\r\n</r>\r\n");
  auto doc = Parse(kDecl + "<r/>");
  doc->GetRoot()->FindAttribute("v", true)->SetValue("<\"'&>");
  const std::string path = dir.File("set.xml");
  doc->SetFileName(path.c_str());
  ASSERT_TRUE(doc->Save());
  EXPECT_EQ(ReadFile(path), kDecl + "\r\n<r v=\"&lt;&quot;&apos;&amp;&gt;\"/>\r\n");
}

TEST(Layout, ATextOnlyElementTakesThreeLines) {
  TempDir dir;
  EXPECT_EQ(SavedBody("<r><t>  some text </t></r>", dir), "<r>\r\n\t<t>\r\n\t\tsome text\r\n\t</t>\r\n</r>\r\n");
}

TEST(Layout, TextsCommentsAndCDataStandAtTheirPositions) {
  TempDir dir;
  EXPECT_EQ(SavedBody("<r><a/>text<!--c--><b/><![CDATA[d]]>tail</r>", dir),
            "<r>\r\n\t<a/>\r\n\t<!--c-->\r\n\ttext\r\n\t<b/>\r\n\t<![CDATA[d]]>\r\n\ttail\r\n</r>\r\n");
}

TEST(Layout, WithoutChildrenCommentsComeFirstThenCDataThenTexts) {
  TempDir dir;
  EXPECT_EQ(SavedBody("<r>t<![CDATA[c]]><!--m--></r>", dir),
            "<r>\r\n\t<!--m-->\r\n\t<![CDATA[c]]>\r\n\tt\r\n</r>\r\n");
}

TEST(Layout, CDataWithoutTextsWaitsForTheLastChildAndStaysThere) {
  TempDir dir;
  const std::string first = SavedBody("<r><![CDATA[help]]><m/><m/></r>", dir);
  EXPECT_EQ(first, "<r>\r\n\t<m/>\r\n\t<m/>\r\n\t<![CDATA[help]]>\r\n</r>\r\n");
  auto again = Parse(kDecl + first);
  EXPECT_EQ(again->GetRoot()->GetCDatas()[0]->GetPosition(), 2);
  EXPECT_EQ(SavedBody(first, dir), first);
}

TEST(Layout, HeaderPartsSurroundTheRoot) {
  TempDir dir;
  EXPECT_EQ(SavedBody("<!DOCTYPE r><!--one--><r/><!--two--><!--three-->", dir),
            "<!DOCTYPE r>\r\n<!--one-->\r\n<r/>\r\n<!--two-->\r\n<!--three-->\r\n");
}

TEST(Save, ADocumentFromMemoryHasNoFileToWrite) {
  auto doc = Parse(kDecl + "<r/>");
  EXPECT_EQ(doc->GetFileName(), nullptr);
  EXPECT_FALSE(doc->Save());
  XmlDocument empty;
  empty.SetFileName("never-written.xml");
  EXPECT_FALSE(empty.Save());  // no header, no root
}

TEST(RoundTrip, SavedFilesReadBackAndSaveToTheSameBytes) {
  TempDir dir;
  const std::string path = dir.File("db.xml");
  xmltest::WriteFile(path,
                     "\xEF\xBB\xBF" + kDecl + "<!--head--><root v=\"1\"><Games>intro<g><Main Name=\"A &amp; B\" "
                     "Run=\"&#x263A;\"><![CDATA[two\r\nlines]]></Main><Mount><!--x--><![CDATA[h]]><m type=\"hdd\"/>"
                     "</Mount>after</g><g/></Games></root><!--tail-->");
  XmlDocument doc(path.c_str());
  ASSERT_EQ(doc.GetParseStatus(), 0);
  ASSERT_TRUE(doc.Save());
  const std::string first = ReadFile(path);
  ASSERT_TRUE(doc.Save());
  EXPECT_EQ(ReadFile(path), first);

  XmlDocument reread(path.c_str());
  EXPECT_EQ(reread.GetParseStatus(), 0);
  EXPECT_EQ(WithoutPositions(Dump(reread)), WithoutPositions(Dump(doc)));
  ASSERT_TRUE(reread.Save());
  EXPECT_EQ(ReadFile(path), first);
}

TEST(RoundTrip, RandomTreesSurviveSaveAndLoad) {
  TempDir dir;
  const std::string path = dir.File("random.xml");
  const char* names[] = {"a", "Main", "g", "x.y", "n-1", "\xC3\xA9l\xC3\xA9ment", "_"};
  const char* values[] = {"", "plain", "<&>\"'", "&#65;", "C:\\dos\\", "\xE2\x98\xBA", " two  blanks "};
  const char* texts[] = {"", "help", "<tag> & stuff", "line\r\nline", "]]", "-- -"};
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    XmlDocument doc;
    doc.ParseText((kDecl + "<root/>").c_str());
    std::vector<XmlElement*> elements{doc.GetRoot()};
    const int count = static_cast<int>(rng() % 30);
    for (int i = 0; i < count; ++i) {
      XmlElement* parent = elements[rng() % elements.size()];
      switch (rng() % 3) {
        case 0:
          elements.push_back(parent->AddChildFromText(names[rng() % 7]));
          break;
        case 1:
          parent->FindAttribute(names[rng() % 7], true)->SetValue(values[rng() % 7]);
          break;
        default:
          parent->AddCData(texts[rng() % 6], static_cast<int>(rng() % 4) - 1);
          break;
      }
    }
    doc.SetFileName(path.c_str());
    ASSERT_TRUE(doc.Save());
    const std::string first = ReadFile(path);
    XmlDocument reread(path.c_str());
    ASSERT_EQ(reread.GetParseStatus(), 0) << first;
    ASSERT_EQ(WithoutPositions(Dump(reread)), WithoutPositions(Dump(doc))) << first;
    ASSERT_TRUE(reread.Save());
    ASSERT_EQ(ReadFile(path), first);
  }
}
