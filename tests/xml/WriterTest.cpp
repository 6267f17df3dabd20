// The fixed layout Save writes, and reading it back.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#ifdef VANTLE_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

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

// What a tree holds as any XML reader sees it: each element with its depth,
// name, attributes in order and texts (sorted, since the layout may move
// them), in document order; walked without recursion.
template <class Node, class Describe>
std::string Shape(Node top, Describe describe) {
  std::string out;
  std::vector<std::pair<Node, int>> stack{{top, 0}};
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    std::vector<std::string> texts;
    std::vector<Node> children;
    out += std::to_string(depth) + describe(node, texts, children);
    std::sort(texts.begin(), texts.end());
    for (const std::string& t : texts) out += " [" + t + "]";
    out += "\n";
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(*it, depth + 1);
  }
  return out;
}

std::string Shape(XmlElement* root) {
  return Shape(root, [](XmlElement* e, std::vector<std::string>& texts, std::vector<XmlElement*>& children) {
    std::string line = " " + e->GetName();
    for (unsigned i = 0; i < e->GetAttributeCount(); ++i)
      line += " " + e->GetAttributes()[i]->GetName() + "=" + e->GetAttributes()[i]->GetValue();
    for (unsigned i = 0; i < e->GetContentCount(); ++i) texts.push_back(e->GetContents()[i]->GetText());
    for (unsigned i = 0; i < e->GetCDataCount(); ++i) texts.push_back(e->GetCDatas()[i]->GetText());
    children.assign(e->GetChildren(), e->GetChildren() + e->GetChildCount());
    return line;
  });
}

#ifdef VANTLE_HAVE_PUGIXML
// The reference reader's view of a text: its DOCTYPE and its root's shape.
std::string Reference(const std::string& text) {
  pugi::xml_document doc;
  const unsigned options = pugi::parse_default | pugi::parse_doctype | pugi::parse_trim_pcdata;
  if (!doc.load_buffer(text.data(), text.size(), options)) return "not XML";
  const pugi::xml_node doctype = doc.find_child([](pugi::xml_node n) { return n.type() == pugi::node_doctype; });
  return std::string(doctype.value()) + "\n" +
         Shape(doc.document_element(), [](pugi::xml_node n, std::vector<std::string>& texts,
                                           std::vector<pugi::xml_node>& children) {
           std::string line = std::string(" ") + n.name();
           for (pugi::xml_attribute a : n.attributes()) line += std::string(" ") + a.name() + "=" + a.value();
           for (pugi::xml_node c : n.children()) {
             if (c.type() == pugi::node_element) children.push_back(c);
             if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) texts.push_back(c.value());
           }
           return line;
         });
}
#endif

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

// Well-formed XML comes back as it went in: each construct in an open and a
// self-closing tag, the saved file is XML again and reads back the same.
TEST(RoundTrip, WellFormedFilesKeepEverythingAnyReaderSees) {
  TempDir dir;
  const std::string path = dir.File("wellformed.xml");
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  const std::string cases[] = {
      "<g Name=\"Lemmings 2 > Lemmings 1\" Run=\"L.EXE\"><d>about</d></g>",
      "<g Name=\"Lemmings 2 > Lemmings 1\" Run=\"L.EXE\"/>",
      "<g v=\"a/>b\" w=\"/\">t<c v=\"/>\"/></g>",
      "<g x='1' v='say \"hi\"' w = 'it&apos;s'>t</g>",
      "<g x='1' v='say \"hi\" />' y=\"'\"/>",
      "<?pi a > b?><g><?pi c > d?>text<i/><?pi ?>tail</g>",
      "<?pi a > b?><g a='>'/><?pi e > f?>",
      "<!DOCTYPE g [<!ENTITY a \"b>\"><!-- ]> --><?p ]>?>]><g n='1'>x</g>",
      "<!DOCTYPE g SYSTEM \"g>.dtd\"><g/>",
      deep,
  };
  for (const std::string& body : cases) {
    const std::string text = kDecl + "\r\n" + body;
    const std::string label = text.substr(0, 120);
    xmltest::WriteFile(path, text);
    XmlDocument doc(path.c_str());
    ASSERT_EQ(doc.GetParseStatus(), 0) << label;
#ifdef VANTLE_HAVE_PUGIXML
    const std::string reference = Reference(text);
    ASSERT_NE(reference, "not XML") << label;
    EXPECT_EQ(reference.substr(reference.find('\n') + 1), Shape(doc.GetRoot())) << label;
#endif
    ASSERT_TRUE(doc.Save()) << label;
    const std::string saved = ReadFile(path);
    EXPECT_LE(saved.size(), 4 * text.size()) << label;  // linear, however deep
#ifdef VANTLE_HAVE_PUGIXML
    EXPECT_EQ(Reference(saved), reference) << saved.substr(0, 400);
#endif
    XmlDocument reread(path.c_str());
    ASSERT_EQ(reread.GetParseStatus(), 0) << label;
    EXPECT_STREQ(reread.GetHeader()->GetDoctype(), doc.GetHeader()->GetDoctype()) << label;
    EXPECT_EQ(Shape(reread.GetRoot()), Shape(doc.GetRoot())) << label;
  }
}
