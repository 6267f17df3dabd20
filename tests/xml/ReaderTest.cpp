// Reading files and texts: declaration, encodings, status codes and the
// forgiving tree-building rules.
#include "TestSupport.h"
#include "xml/XmlInternal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using xmltest::Dump;
using xmltest::Parse;
using xmltest::ReadFile;
using xmltest::TempDir;
using xmltest::WriteFile;

namespace {

const std::string kDefaultDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";
const std::string kBom = "\xEF\xBB\xBF";

// The UTF-16LE form of a text (with byte-order mark) built from UTF-8.
std::string Utf16Le(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp;
    std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    auto unit = [&out](std::uint32_t u) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    };
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

}  // namespace

TEST(Declaration, IsKeptVerbatimWithItsByteOrderMark) {
  auto doc = Parse(kBom + "<?xml version=\"1.0\" ?>  <r/>");
  EXPECT_EQ(doc->GetParseStatus(), 0);
  EXPECT_EQ(doc->GetHeader()->GetDeclaration(), kBom + "<?xml version=\"1.0\" ?>");
  auto odd = Parse("junk before ?> and after ?><r/>");
  EXPECT_STREQ(odd->GetHeader()->GetDeclaration(), "junk before ?>");
}

TEST(Declaration, MissingOneGivesStatus1AndTheDefaultButTheTreeIsRead) {
  TempDir dir;
  const std::string path = dir.File("plain.xml");
  WriteFile(path, "<root><a x=\"1\"><b/></a></root>");
  XmlDocument doc(path.c_str());
  EXPECT_EQ(doc.GetParseStatus(), 1);
  EXPECT_EQ(doc.GetFileName(), nullptr);
  EXPECT_EQ(doc.GetHeader()->GetDeclaration(), kBom + kDefaultDeclaration);
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_EQ(doc.GetRoot()->FindByPath("a\\b")->GetName(), "b");
  EXPECT_FALSE(doc.Save());
}

TEST(Status, EmptyFileIsNotXmlAndIsNeverOverwritten) {
  TempDir dir;
  const std::string path = dir.File("empty.xml");
  WriteFile(path, "");
  XmlDocument doc(path.c_str());
  EXPECT_EQ(doc.GetParseStatus(), 1);
  EXPECT_EQ(doc.GetFileName(), nullptr);
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_EQ(doc.GetRoot()->GetName(), "root");
  EXPECT_FALSE(doc.Save());
  EXPECT_EQ(ReadFile(path), "");
}

TEST(Status, MissingFileGivesTheDefaultDocumentAndKeepsTheName) {
  TempDir dir;
  const std::string path = dir.File("new.xml");
  XmlDocument doc(path.c_str());
  EXPECT_EQ(doc.GetParseStatus(), 0);
  ASSERT_NE(doc.GetFileName(), nullptr);
  EXPECT_EQ(doc.GetFileName(), path);
  EXPECT_EQ(doc.GetHeader()->GetDeclaration(), kDefaultDeclaration);
  EXPECT_EQ(doc.GetRoot()->GetName(), "root");
  EXPECT_TRUE(doc.Save());
  EXPECT_EQ(ReadFile(path), kDefaultDeclaration + "\r\n<root/>\r\n");
}

TEST(Status, AFileThatCannotBeReadIsNeverReplaced) {
  TempDir dir;
  // A folder stands for a file that is there but cannot be read.
  XmlDocument doc(dir.Path().c_str());
  EXPECT_EQ(doc.GetParseStatus(), 1);
  EXPECT_EQ(doc.GetFileName(), nullptr);
  EXPECT_FALSE(doc.Save());
}

// Whoever waits for a reading to be under way is told once, before the tree
// is there, whatever the file: missing, a folder, empty, small, or large
// enough to read in pieces.
TEST(Status, TheReadingTellsOnceThatItIsUnderWay) {
  TempDir dir;
  std::string large = "<?xml?><root><Games>";
  while (large.size() < 2 * xml_detail::kLeastPiece + 1000) large += "<g><Main Name=\"A\"/></g>\r\n";
  large += "</Games></root>";
  WriteFile(dir.File("empty.xml"), "");
  WriteFile(dir.File("small.xml"), "<?xml?><root/>");
  WriteFile(dir.File("large.xml"), large);
  for (const std::string& path : {dir.File("missing.xml"), dir.Path(), dir.File("empty.xml"), dir.File("small.xml"),
                                   dir.File("large.xml")}) {
    int told = 0;
    bool treeThen = true;
    XmlDocument doc(path.c_str(), [&] {
      ++told;
      treeThen = doc.GetRoot() != nullptr;
    });
    EXPECT_EQ(told, 1) << path;
    EXPECT_FALSE(treeThen && path == dir.File("large.xml")) << "told only after the reading";
    EXPECT_EQ(Dump(doc), Dump(XmlDocument(path.c_str()))) << path;
  }
}

TEST(Status, NoElementAfterTheDeclarationGivesStatus1AndTheDefaultRoot) {
  for (const char* text : {"<?xml?>  just text", "<?xml?><!-- only a comment -->", "<?xml?></end>"}) {
    auto doc = Parse(text);
    EXPECT_EQ(doc->GetParseStatus(), 1) << text;
    ASSERT_NE(doc->GetRoot(), nullptr) << text;
    EXPECT_EQ(doc->GetRoot()->GetName(), "root");
    EXPECT_EQ(doc->GetRoot()->GetChildCount(), 0u);
  }
}

TEST(Status, UnclosedChildLosesTheRootWithStatus2) {
  auto doc = Parse("<?xml?><root><a><b/></root>");
  EXPECT_EQ(doc->GetParseStatus(), 2);
  EXPECT_EQ(doc->GetRoot(), nullptr);
  // Without a declaration too: 2 overrides 1.
  EXPECT_EQ(Parse("<root><a></root>")->GetParseStatus(), 2);
  // An element read before the broken one stays the root.
  auto earlier = Parse("<?xml?><first><x/></first><second><open></second>");
  EXPECT_EQ(earlier->GetParseStatus(), 2);
  ASSERT_NE(earlier->GetRoot(), nullptr);
  EXPECT_EQ(earlier->GetRoot()->GetName(), "first");
  EXPECT_EQ(earlier->GetRoot()->GetChildCount(), 1u);
}

TEST(Status, EmptyOrNullTextGivesTheDefaultDocumentWithStatus0) {
  for (const char* text : {"", static_cast<const char*>(nullptr)}) {
    XmlDocument doc;
    doc.ParseText(text);
    EXPECT_EQ(doc.GetParseStatus(), 0);
    EXPECT_EQ(doc.GetRoot()->GetName(), "root");
    EXPECT_EQ(doc.GetHeader()->GetDeclaration(), kDefaultDeclaration);
    EXPECT_EQ(doc.GetFileName(), nullptr);
  }
}

TEST(Encoding, Utf16FileReadsAsTheSameTreeAsItsUtf8Form) {
  TempDir dir;
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<root a=\"\xC3\xA9\xE2\x98\xBA\xF0\x9F\x98\x80\">"
      "<!--c--><k>t\xC3\xA9xt</k><![CDATA[x]]></root>";
  const std::string path8 = dir.File("utf8.xml");
  const std::string path16 = dir.File("utf16.xml");
  WriteFile(path8, kBom + body);
  WriteFile(path16, Utf16Le(body));
  XmlDocument utf8(path8.c_str());
  XmlDocument utf16(path16.c_str());
  EXPECT_EQ(Dump(utf16), Dump(utf8));
  EXPECT_EQ(utf16.GetHeader()->GetDeclaration(), kBom + "<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
  EXPECT_EQ(utf16.GetRoot()->FindAttribute("a")->GetValue(), "\xC3\xA9\xE2\x98\xBA\xF0\x9F\x98\x80");

  // Saved as UTF-8, with the byte-order mark in front of the declaration.
  ASSERT_TRUE(utf16.Save());
  EXPECT_EQ(ReadFile(path16).substr(0, 5), kBom + "<?");
}

TEST(Encoding, Utf16ReadingStopsAtAZeroUnitAndReplacesLoneSurrogates) {
  TempDir dir;
  const std::string path = dir.File("broken16.xml");
  std::string bytes = Utf16Le("<?xml?><r a=\"");
  bytes += std::string("\x3D\xD8", 2);  // a high surrogate with nothing after it
  bytes += Utf16Le("\"/>").substr(2);
  bytes += std::string("\0\0", 2) + Utf16Le("<ignored/>").substr(2);
  WriteFile(path, bytes);
  XmlDocument doc(path.c_str());
  EXPECT_EQ(doc.GetParseStatus(), 0);
  EXPECT_EQ(doc.GetRoot()->FindAttribute("a")->GetValue(), "\xEF\xBF\xBD");
}

TEST(Encoding, ANulByteEndsTheText) {
  TempDir dir;
  const std::string path = dir.File("zero-byte.xml");
  WriteFile(path, std::string("<?xml?><a/>\0<b></b>", 20));
  XmlDocument doc(path.c_str());
  EXPECT_EQ(doc.GetParseStatus(), 0);
  EXPECT_EQ(doc.GetRoot()->GetName(), "a");
}

TEST(Encoding, ATextEndingAnywhereIsReadWithinItsBytes) {
  // A file read in place has nothing after its last byte: each text is read
  // from a copy of exactly its size (a sanitized build sees any byte read
  // beyond it), and from a file of whole pages.
  TempDir dir;
  const std::string path = dir.File("pages.xml");
  for (const char* ending : {"</r>", "<a b=\"1\"/></r", "<a b=\"1", "<a b=", "<a b", "<a ", "<a/", "<a", "<",
                             "<!--x", "<![CDATA[x]]", "<?p?", "t", "<a b=\"1\">t", "<a b=\"1\" c=\"2\"></a"}) {
    const std::string head = "<?xml?><r><!--";
    const std::string tail = std::string("-->") + ending;
    const std::string text = head + std::string(4096 - head.size() - tail.size(), 'x') + tail;
    const std::string expected = Dump(*Parse(text));
    std::unique_ptr<char[]> exact(new char[text.size()]);
    std::memcpy(exact.get(), text.data(), text.size());
    XmlDocument fromBytes;
    xml_detail::ParseBytes(fromBytes, exact.get(), text.size());
    EXPECT_EQ(Dump(fromBytes), expected) << ending;
    WriteFile(path, text);
    XmlDocument fromFile(path.c_str());
    fromFile.SetFileName(nullptr);
    EXPECT_EQ(Dump(fromFile), expected) << ending;
  }
}

TEST(StartTag, NamesAndAttributesFollowTheTagRules) {
  auto doc = Parse(
      "<?xml?><root><Main\r\n\tName=\"x\" Run = \"y\"/><q a='1' b=\"2\"/><d v=\"1\" v=\"2\"/>"
      "<<n<m/><w\"x\"=\"1\"/></root>");
  XmlElement** kids = doc->GetRoot()->GetChildren();
  EXPECT_EQ(kids[0]->GetName(), "Main");  // a line break ends the name
  EXPECT_EQ(kids[0]->FindAttribute("Run")->GetValue(), "y");
  // Values come in either kind of quotes.
  ASSERT_EQ(kids[1]->GetAttributeCount(), 2u);
  EXPECT_EQ(kids[1]->GetAttributes()[0]->GetValue(), "1");
  EXPECT_EQ(kids[1]->GetAttributes()[1]->GetValue(), "2");
  // Both attributes of one name are kept; the first is found.
  ASSERT_EQ(kids[2]->GetAttributeCount(), 2u);
  EXPECT_EQ(kids[2]->FindAttribute("v")->GetValue(), "1");
  EXPECT_EQ(kids[3]->GetName(), "nm");  // every "<" is left out
  EXPECT_EQ(kids[4]->GetName(), "w");   // a quote ends the name and starts the attribute's
  EXPECT_EQ(kids[4]->GetAttributes()[0]->GetName(), "\"x\"");
}

TEST(StartTag, NamesAreStoredEncodedAndValuesAsWritten) {
  auto doc = Parse("<?xml?><root><it's a=\"&amp; '\"/><x&#65;/></root>");
  XmlElement** kids = doc->GetRoot()->GetChildren();
  EXPECT_STREQ(kids[0]->GetStoredName(), "it&apos;s");
  EXPECT_EQ(kids[0]->GetName(), "it's");
  EXPECT_STREQ(kids[0]->GetAttributes()[0]->GetStoredValue(), "&amp; '");
  EXPECT_STREQ(kids[1]->GetStoredName(), "x&#65;");
  EXPECT_EQ(kids[1]->GetName(), "xA");
}

TEST(Body, TextsAroundChildrenGetTheirPositions) {
  auto doc = Parse("<?xml?><root> first <a/>\r\n\t <b></b> second &amp; more <c/></root>");
  XmlElement* root = doc->GetRoot();
  ASSERT_EQ(root->GetContentCount(), 2u);
  EXPECT_STREQ(root->GetContents()[0]->GetStoredText(), "first");
  EXPECT_EQ(root->GetContents()[0]->GetPosition(), 0);
  EXPECT_STREQ(root->GetContents()[1]->GetStoredText(), "second &amp; more");
  EXPECT_EQ(root->GetContents()[1]->GetPosition(), 2);
  EXPECT_EQ(root->GetContents()[1]->GetText(), "second & more");
}

TEST(Body, CommentsAndCDataKeepRawTextAndPositions) {
  auto doc = Parse(
      "<?xml?>\r\n<!-- before -->\r\n<root><!--a &lt; b--><x/><![CDATA[<raw> &amp; ]]><!-->"
      "<y/></root><!--after-->");
  XmlHeader* header = doc->GetHeader();
  ASSERT_EQ(header->GetCommentCount(), 2u);
  EXPECT_STREQ(header->GetComments()[0]->GetText(), " before ");
  EXPECT_EQ(header->GetComments()[0]->GetPosition(), 0);
  EXPECT_EQ(header->GetComments()[0]->GetParent(), nullptr);
  EXPECT_EQ(header->GetComments()[1]->GetPosition(), 1);
  XmlElement* root = doc->GetRoot();
  ASSERT_EQ(root->GetCommentCount(), 2u);
  EXPECT_STREQ(root->GetComments()[0]->GetText(), "a &lt; b");
  EXPECT_STREQ(root->GetComments()[1]->GetText(), "");  // "<!-->" closes itself
  EXPECT_EQ(root->GetComments()[1]->GetPosition(), 1);
  ASSERT_EQ(root->GetCDataCount(), 1u);
  EXPECT_STREQ(root->GetCDatas()[0]->GetText(), "<raw> &amp; ");
  EXPECT_EQ(root->GetCDatas()[0]->GetPosition(), 1);
}

TEST(Body, DoctypeRightAfterTheDeclarationIsKept) {
  auto doc = Parse("<?xml?>\r\n<!DOCTYPE root>\r\n<root/>");
  EXPECT_STREQ(doc->GetHeader()->GetDoctype(), "DOCTYPE root");
  EXPECT_EQ(doc->GetRoot()->GetName(), "root");
}

TEST(Body, ProcessingInstructionsAndLateDeclarationsAreSkipped) {
  auto doc = Parse("<?xml?><root><?pi x=\"1\"?><!ELEMENT y><a/></root>");
  EXPECT_EQ(doc->GetParseStatus(), 0);
  EXPECT_EQ(doc->GetRoot()->GetChildCount(), 1u);
  EXPECT_EQ(doc->GetRoot()->GetChildren()[0]->GetName(), "a");
}

TEST(Depth, EndTagsCloseByDepthNotByName) {
  auto mismatched = Parse("<?xml?><a><b></c></d>");
  EXPECT_EQ(mismatched->GetParseStatus(), 0);
  EXPECT_EQ(mismatched->GetRoot()->GetName(), "a");
  EXPECT_EQ(mismatched->GetRoot()->GetChildren()[0]->GetName(), "b");

  // An extra end tag ends the root early; what follows is outside it.
  auto early = Parse("<?xml?><root><a/></x><b/></root>");
  EXPECT_EQ(early->GetParseStatus(), 0);
  EXPECT_EQ(early->GetRoot()->GetChildCount(), 1u);
}

TEST(Depth, QuotesHideTagCharactersButNotInComments) {
  auto quoted = Parse("<?xml?><root><a v=\"/x>\"><b/></a></root>");
  EXPECT_EQ(quoted->GetParseStatus(), 0);
  EXPECT_EQ(quoted->GetRoot()->GetChildCount(), 1u);
  // A quote inside a comment opens nothing.
  auto comment = Parse("<?xml?><root><!-- \" --><a></a></root>");
  EXPECT_EQ(comment->GetParseStatus(), 0);
  EXPECT_EQ(comment->GetRoot()->GetChildren()[0]->GetName(), "a");
  // Tags inside CDATA do not count.
  auto cdata = Parse("<?xml?><root><![CDATA[<open>]]></root>");
  EXPECT_EQ(cdata->GetParseStatus(), 0);
  EXPECT_EQ(cdata->GetRoot()->GetCDataCount(), 1u);
}

TEST(TopLevel, TheRootIsTheLastElementWithAnEndTagElseTheFirstEmptyOne) {
  EXPECT_EQ(Parse("<?xml?><x/><y/>")->GetRoot()->GetName(), "x");
  EXPECT_EQ(Parse("<?xml?><x></x><y/><z></z><w/>")->GetRoot()->GetName(), "z");
  auto cdata = Parse("<?xml?><!--c-->text<![CDATA[dropped]]><x/>");
  EXPECT_STREQ(cdata->GetHeader()->GetDoctype(), "");
  EXPECT_EQ(cdata->GetRoot()->GetCDataCount(), 0u);
}

TEST(ParseText, ReplacesTheContentsEvenWhenGivenItsOwnText) {
  auto doc = Parse("<?xml?><root><![CDATA[<?xml?><other a=\"1\"/>]]></root>");
  doc->ParseText(doc->GetRoot()->GetCDatas()[0]->GetText());
  EXPECT_EQ(doc->GetParseStatus(), 0);
  EXPECT_EQ(doc->GetRoot()->GetName(), "other");
  EXPECT_EQ(doc->GetRoot()->FindAttribute("a")->GetValue(), "1");
}
