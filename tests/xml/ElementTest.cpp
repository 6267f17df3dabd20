// Element and attribute operations of the tree.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

using xmltest::Dump;
using xmltest::Parse;

namespace {

const char kGame[] =
    "<?xml version=\"1.0\"?><root><Games><g><Main Name=\"Doom\" Run=\"C:\\doom.exe\">"
    "<![CDATA[help]]></Main><Mount><m type=\"hdd\"/></Mount></g><g><Mount/></g></Games></root>";

std::string ChildNames(XmlElement* e) {
  std::string names;
  for (unsigned i = 0; i < e->GetChildCount(); ++i) names += e->GetChildren()[i]->GetName() + ",";
  return names;
}

}  // namespace

TEST(FindChild, CreatesOnceThenFindsTheSameElement) {
  auto doc = Parse("<?xml?><root><a/></root>");
  XmlElement* root = doc->GetRoot();
  EXPECT_EQ(root->FindChild("Games"), nullptr);
  XmlElement* games = root->FindChild("Games", true);
  ASSERT_NE(games, nullptr);
  EXPECT_EQ(games->GetName(), "Games");
  EXPECT_EQ(games->GetAttributeCount(), 0u);
  EXPECT_EQ(games->GetParent(), root);
  EXPECT_EQ(root->FindChild("Games", true), games);
  EXPECT_EQ(ChildNames(root), "a,Games,");
}

TEST(FindChild, CreatesFromTheStartTagAndAlwaysReturnsTheNewElement) {
  auto doc = Parse("<?xml?><root/>");
  XmlElement* root = doc->GetRoot();
  XmlElement* m = root->FindChild("m", true, "<m type=\"hdd\" letter=\"C\"/>");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->FindAttribute("letter")->GetValue(), "C");
  // A tag that names something else still yields the element it made.
  XmlElement* other = root->FindChild("x", true, "<y/>");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->GetName(), "y");
  EXPECT_EQ(root->FindChildIndex("y"), 1);
  EXPECT_EQ(root->FindChild(nullptr, true), nullptr);
}

TEST(FindChild, ComparesPlainNamesExactly) {
  auto doc = Parse("<?xml?><root><A/><a/><a/></root>");
  XmlElement* root = doc->GetRoot();
  XmlElement* amp = root->AddChildFromText("a&b");
  EXPECT_EQ(root->GetChildren()[3], amp);
  EXPECT_STREQ(root->GetChildren()[3]->GetStoredName(), "a&amp;b");
  EXPECT_EQ(root->FindChildIndex("a&b"), 3);
  EXPECT_EQ(root->FindChildIndex("a&amp;b"), -1);
  EXPECT_EQ(root->FindChildIndex("a"), 1);  // the first of two, and not "A"
  EXPECT_EQ(root->FindChildIndex("b"), -1);
  EXPECT_EQ(root->IndexOfChild(root->GetChildren()[3]), 3);
  EXPECT_EQ(root->IndexOfChild(root), -1);
}

TEST(FindAttribute, IsCaseSensitiveAndCreatesWithAnEmptyValue) {
  auto doc = Parse("<?xml?><root name=\"x\"/>");
  XmlElement* root = doc->GetRoot();
  EXPECT_EQ(root->FindAttribute("Name"), nullptr);
  XmlAttribute* created = root->FindAttribute("Name", true);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->GetValue(), "");
  EXPECT_EQ(created->GetParent(), root);
  EXPECT_EQ(root->FindAttribute("Name", true), created);
  EXPECT_EQ(root->GetAttributeCount(), 2u);
  EXPECT_EQ(root->FindAttribute("name")->GetValue(), "x");
}

TEST(FindAttribute, AttributesKeepTheirAddressWhenMoreAreAdded) {
  auto doc = Parse("<?xml?><root a=\"1\" b=\"2\"/>");
  XmlElement* root = doc->GetRoot();
  XmlAttribute* a = root->FindAttribute("a");
  XmlAttribute* c = root->FindAttribute("c", true);
  for (int i = 0; i < 100; ++i) root->FindAttribute(("n" + std::to_string(i)).c_str(), true);
  a->SetValue("one");
  c->SetValue("three");
  EXPECT_EQ(root->GetAttributes()[0]->GetValue(), "one");
  EXPECT_EQ(root->GetAttributes()[2]->GetValue(), "three");
}

TEST(AttributeValue, EqualTextsReadFromAFileChangeOneAtATime) {
  auto doc = Parse("<?xml?><root><g a=\"x\" b=\"x\"><![CDATA[t]]></g><g a=\"x\" b=\"x\"><![CDATA[t]]></g></root>");
  XmlElement** games = doc->GetRoot()->GetChildren();
  games[0]->FindAttribute("a")->SetValue("y");
  games[1]->GetCDatas()[0]->SetText("u");
  EXPECT_EQ(games[0]->GetAttributes()[0]->GetValue() + games[0]->GetAttributes()[1]->GetValue() +
                games[1]->GetAttributes()[0]->GetValue() + games[1]->GetAttributes()[1]->GetValue(),
            "yxxx");
  EXPECT_STREQ(games[0]->GetCDatas()[0]->GetText(), "t");
  EXPECT_STREQ(games[1]->GetCDatas()[0]->GetText(), "u");
}

TEST(AttributeValue, SetValueStoresEscapedAndGetValueGivesItBack) {
  auto doc = Parse("<?xml?><root/>");
  XmlAttribute* a = doc->GetRoot()->FindAttribute("v", true);
  a->SetValue("a<b & \"c\"");
  EXPECT_STREQ(a->GetStoredValue(), "a&lt;b &amp; &quot;c&quot;");
  EXPECT_EQ(a->GetValue(), "a<b & \"c\"");
  a->SetValue("&#65;");
  EXPECT_STREQ(a->GetStoredValue(), "&#65;");
  EXPECT_EQ(a->GetValue(), "A");
  a->SetValue(a->GetStoredValue());  // its own text as the new value
  EXPECT_STREQ(a->GetStoredValue(), "&#65;");
  a->SetValue(nullptr);
  EXPECT_EQ(a->GetValue(), "");
}

TEST(AttributeValue, BufferGettersCutToFitAtCharacterBoundaries) {
  auto doc = Parse("<?xml?><root v=\"a&amp;b&#xE9;cdef\" w=\"\xC3\xA9\xC3\xA9\"/>");
  XmlAttribute* v = doc->GetRoot()->FindAttribute("v");
  EXPECT_EQ(v->GetValue(nullptr, 0), std::strlen("a&amp;b&#xE9;cdef"));
  char buffer[64];
  EXPECT_EQ(v->GetValue(buffer, sizeof buffer), 9u);
  EXPECT_STREQ(buffer, "a&b\xC3\xA9" "cdef");
  EXPECT_EQ(v->GetValue(buffer, 5), 3u);  // "a&b" + half of the é would be 4 bytes
  EXPECT_STREQ(buffer, "a&b");
  EXPECT_EQ(v->GetValue(buffer, 6), 5u);
  EXPECT_STREQ(buffer, "a&b\xC3\xA9");
  XmlAttribute* w = doc->GetRoot()->FindAttribute("w");
  EXPECT_EQ(w->GetValue(buffer, 4), 2u);
  EXPECT_STREQ(buffer, "\xC3\xA9");
  std::memset(buffer, 'z', sizeof buffer);
  EXPECT_EQ(w->GetValue(buffer, 0), 0u);
  EXPECT_EQ(buffer[0], 'z');
  EXPECT_EQ(w->GetName(buffer, 1), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST(AttributeValue, GetValueIntReadsALeadingSignedNumber) {
  auto doc = Parse("<?xml?><root/>");
  XmlAttribute* a = doc->GetRoot()->FindAttribute("n", true);
  auto read = [a](const char* plain) {
    a->SetValue(plain);
    return a->GetValueInt();
  };
  EXPECT_EQ(read("  42abc"), 42);
  EXPECT_EQ(read("abc"), 0);
  EXPECT_EQ(read("-7"), -7);
  EXPECT_EQ(read("\t+5"), 5);
  EXPECT_EQ(read(""), 0);
  EXPECT_EQ(read("- 5"), 0);
  EXPECT_EQ(read("2147483647"), INT_MAX);
  EXPECT_EQ(read("-2147483648"), INT_MIN);
  EXPECT_EQ(read("99999999999999999999"), INT_MAX);
  EXPECT_EQ(read("-99999999999999999999"), INT_MIN);
  EXPECT_EQ(read("&#52;2"), 42);  // the plain value counts
}

TEST(Path, JoinsPlainNamesBelowTheRootAndFindsThemAgain) {
  auto doc = Parse(kGame);
  XmlElement* root = doc->GetRoot();
  XmlElement* mount = root->FindByPath("Games\\g\\Mount");
  ASSERT_NE(mount, nullptr);
  EXPECT_EQ(mount, root->FindChild("Games")->GetChildren()[0]->FindChild("Mount"));
  EXPECT_EQ(mount->GetPath(), "Games\\g\\Mount");
  char buffer[100];
  EXPECT_EQ(mount->GetPath(buffer, sizeof buffer), 13u);
  EXPECT_STREQ(buffer, "Games\\g\\Mount");
  EXPECT_EQ(mount->GetPath(nullptr, 0), 13u);
  EXPECT_EQ(mount->GetPath(buffer, 6), 5u);
  EXPECT_STREQ(buffer, "Games");

  std::strcpy(buffer, "untouched");
  EXPECT_EQ(root->GetPath(buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(root->FindByPath(""), root);
  EXPECT_EQ(root->FindByPath("Games\\nothing"), nullptr);
  EXPECT_EQ(root->FindByPath(nullptr), nullptr);
  EXPECT_EQ(mount->FindByPath("m")->GetName(), "m");
}

TEST(Path, DecodesNamesAndStopsAt4999Bytes) {
  auto doc = Parse("<?xml?><root/>");
  doc->GetRoot()->AddChildFromText("a&b")->AddChildFromText("c");
  XmlElement* c = doc->GetRoot()->FindByPath("a&b\\c");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetPath(), "a&b\\c");

  XmlElement* at = doc->GetRoot();
  const std::string name(99, 'n');  // 100 bytes a level with the backslash
  for (int i = 0; i < 60; ++i) at = at->AddChildFromText(name.c_str());
  EXPECT_EQ(at->GetPath().size(), 4999u);
  std::string buffer(6000, 'z');
  EXPECT_EQ(at->GetPath(&buffer[0], buffer.size()), 4999u);
  EXPECT_EQ(buffer[4999], '\0');
}

TEST(RemoveChild, ShiftsLaterChildrenAndLeavesPositionsAlone) {
  auto doc = Parse("<?xml?><root><A/><!--before B--><B/><C/></root>");
  XmlElement* root = doc->GetRoot();
  EXPECT_EQ(root->RemoveChild(3), 3u);
  EXPECT_EQ(root->RemoveChild(0), 2u);
  EXPECT_EQ(ChildNames(root), "B,C,");
  ASSERT_EQ(root->GetCommentCount(), 1u);
  EXPECT_EQ(root->GetComments()[0]->GetPosition(), 1);  // now it stands after B
  EXPECT_EQ(root->RemoveChild(1), 1u);
  EXPECT_EQ(root->RemoveChild(0), 0u);
  EXPECT_EQ(root->RemoveChild(0), 0u);
}

TEST(Clone, CopiesEverythingInOrderWithoutParentOrUserValue) {
  auto doc = Parse(
      "<?xml?><root><e b=\"2\" a=\"&#65;&amp;\" c='say \"hi\"'>t1<!--c0--><k x=\"1\"><![CDATA[deep]]></k>t2"
      "<![CDATA[cd]]><!--c1--><k/></e></root>");
  XmlElement* e = doc->GetRoot()->GetChildren()[0];
  e->SetUserValue(77);
  std::unique_ptr<XmlElement> copy = e->Clone();
  EXPECT_EQ(copy->GetParent(), nullptr);
  EXPECT_EQ(copy->GetUserValue(), 0u);
  EXPECT_EQ(e->GetUserValue(), 77u);
  EXPECT_STREQ(copy->GetAttributes()[0]->GetStoredName(), "b");
  EXPECT_STREQ(copy->GetAttributes()[1]->GetStoredValue(), "A&amp;");  // re-encoded from the plain form
  EXPECT_STREQ(copy->GetAttributes()[2]->GetStoredValue(), "say &quot;hi&quot;");  // written in double quotes
  // Apart from those re-encoded values, the copy is the same tree.
  e->GetAttributes()[1]->SetValue("A&");
  e->GetAttributes()[2]->SetValue("say \"hi\"");
  EXPECT_EQ(Dump(*copy), Dump(*e));

  // The copy owns all its strings: it outlives the document it came from.
  doc.reset();
  EXPECT_EQ(copy->GetChildren()[0]->GetCDatas()[0]->GetText(), std::string("deep"));
  EXPECT_EQ(copy->GetChildren()[0]->GetParent(), copy.get());
  EXPECT_EQ(copy->GetText(), "t1");
}

TEST(AddChild, TakesOwnershipAndSetsTheParent) {
  auto doc = Parse(kGame);
  XmlElement* games = doc->GetRoot()->FindChild("Games");
  std::unique_ptr<XmlElement> entry = games->GetChildren()[0]->Clone();
  entry->FindChild("Main")->FindAttribute("Name")->SetValue("Doom II");
  XmlElement* added = games->AddChild(std::move(entry));
  EXPECT_EQ(added->GetParent(), games);
  EXPECT_EQ(games->GetChildren()[2], added);
  EXPECT_EQ(games->GetChildren()[0]->FindChild("Main")->FindAttribute("Name")->GetValue(), "Doom");
  EXPECT_EQ(games->AddChild(nullptr), nullptr);
  EXPECT_EQ(games->GetChildCount(), 3u);

  std::unique_ptr<XmlElement> fresh = XmlElement::FromText("<Extra a=\"1\"/>");
  EXPECT_EQ(fresh->GetParent(), nullptr);
  EXPECT_EQ(doc->GetRoot()->AddChild(std::move(fresh))->GetName(), "Extra");
}

TEST(AddChildFromText, ReadsNameAndAttributesOnlyAndIgnoresTheRest) {
  auto doc = Parse("<?xml?><root/>");
  XmlElement* m = doc->GetRoot()->AddChildFromText("<m type=\"hdd\" path=\"C:\\games\\\"/> <n x=\"2\"/>");
  EXPECT_EQ(m->GetName(), "m");
  ASSERT_EQ(m->GetAttributeCount(), 2u);
  EXPECT_EQ(m->GetAttributes()[1]->GetValue(), "C:\\games\\");
  EXPECT_EQ(m->GetChildCount() + m->GetContentCount(), 0u);
  EXPECT_EQ(doc->GetRoot()->AddChildFromText("Bare")->GetName(), "Bare");
  EXPECT_EQ(doc->GetRoot()->AddChildFromText("")->GetName(), "");
  EXPECT_EQ(doc->GetRoot()->AddChildFromText(nullptr), nullptr);
  EXPECT_EQ(doc->GetRoot()->GetChildCount(), 3u);
}

TEST(AddCData, AppendsRawTextAndSetTextReplacesIt) {
  auto doc = Parse("<?xml?><root/>");
  XmlElement* root = doc->GetRoot();
  EXPECT_EQ(root->AddCData("a &amp; <b>", 0), 1u);
  EXPECT_EQ(root->AddCData(nullptr, 5), 2u);
  XmlCData* first = root->GetCDatas()[0];
  EXPECT_STREQ(first->GetText(), "a &amp; <b>");
  EXPECT_EQ(first->GetParent(), root);
  first->SetText(first->GetText() + 2);  // part of its own text
  EXPECT_STREQ(first->GetText(), "&amp; <b>");
  EXPECT_STREQ(root->GetCDatas()[1]->GetText(), "");
  EXPECT_EQ(root->GetCDatas()[1]->GetPosition(), 5);
}

TEST(GetText, GivesTheFirstContentDecoded) {
  auto doc = Parse("<?xml?><root><a> x &lt; y <b/> second </a><c/></root>");
  XmlElement* a = doc->GetRoot()->GetChildren()[0];
  EXPECT_EQ(a->GetText(), "x < y");
  EXPECT_STREQ(a->GetContents()[0]->GetStoredText(), "x &lt; y");
  EXPECT_EQ(a->GetContents()[1]->GetText(), "second");
  EXPECT_EQ(doc->GetRoot()->GetChildren()[1]->GetText(), "");
}

TEST(IsIntact, NeedsHeaderAndRoot) {
  XmlDocument empty;
  EXPECT_FALSE(empty.IsIntact());
  EXPECT_EQ(empty.GetHeader(), nullptr);
  EXPECT_EQ(empty.GetRoot(), nullptr);
  EXPECT_TRUE(Parse(kGame)->IsIntact());
  auto broken = Parse("<?xml?><root><a></root>");
  EXPECT_EQ(broken->GetRoot(), nullptr);
  EXPECT_FALSE(broken->IsIntact());
}
