// Finding where an element ends. The reader builds the tree in a single pass;
// these tests hold it to the region parse driven by the plain rule, written
// out here once more, on many random and damaged texts.
#include "TestSupport.h"
#include "xml/XmlInternal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using xml_detail::ElementEnd;
using xmltest::Dump;

namespace {

constexpr auto npos = std::string_view::npos;

// Where a "<?...?>" or "<!...>" that begins at open ends (just after it), or
// npos. A declaration passes over quoted literals and a bracketed subset with
// the comments and instructions in it; either kind without its proper end
// ends at its first ">".
std::size_t SkippedEnd(std::string_view text, std::size_t open) {
  std::size_t end = npos;
  if (text[open + 1] == '?') {
    const std::size_t close = text.find("?>", open + 2);
    end = close == npos ? npos : close + 2;
  } else {
    int brackets = 0;
    for (std::size_t j = open + 2; j < text.size() && end == npos; ++j) {
      const char c = text[j];
      const std::string_view rest = text.substr(j);
      if (c == '"' || c == '\'') {
        j = text.find(c, j + 1);
        if (j == npos) break;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ']' && brackets > 0) {
        --brackets;
      } else if (brackets > 0 && rest.substr(0, 4) == "<!--") {
        j = text.find("-->", j + 2);
        if (j == npos) break;
        j += 2;
      } else if (brackets > 0 && rest.substr(0, 2) == "<?") {
        j = text.find("?>", j + 2);
        if (j == npos) break;
        j += 1;
      } else if (c == '>' && brackets == 0) {
        end = j + 1;
      }
    }
  }
  if (end != npos) return end;
  const std::size_t gt = text.find('>', open + 1);
  return gt == npos ? npos : gt + 1;
}

// The rule, plainly: from the start tag, count depth over everything that
// follows; an end tag that brings it back to 0 ends the element. A tag ends
// at its first ">" outside the values quoted (either way) after an "=".
bool ReferenceEnd(const char* lt, const char* bound, ElementEnd* out) {
  const std::string_view text(lt, static_cast<std::size_t>(bound - lt));
  long depth = 0;
  std::size_t i = 0;
  for (;;) {
    const std::size_t open = text.find('<', i);
    if (open == npos) return false;
    const std::string_view rest = text.substr(open);
    std::size_t next;
    if (rest.size() >= 2 && rest[1] == '/') {
      const std::size_t gt = text.find('>', open + 1);
      if (gt == npos) return false;
      if (--depth == 0) {
        out->endTagStart = lt + open;
        out->end = lt + gt + 1;
        return true;
      }
      next = gt + 1;
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      const std::size_t close = text.find("]]>", open + 9);
      if (close == npos) return false;
      next = close + 3;
    } else if (rest.substr(0, 4) == "<!--") {
      const std::size_t close = text.find("-->", open + 2);
      if (close == npos) return false;
      next = close + 3;
    } else if (rest.size() >= 2 && (rest[1] == '!' || rest[1] == '?')) {
      next = SkippedEnd(text, open);
      if (next == npos) return false;
    } else {
      bool afterEquals = false;
      std::size_t j = open + 1;
      for (; j < text.size() && text[j] != '>'; ++j) {
        const char c = text[j];
        if (afterEquals && (c == '"' || c == '\'')) {
          j = text.find(c, j + 1);
          if (j == npos) return false;
          afterEquals = false;
        } else if (c == '=') {
          afterEquals = true;
        } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
          afterEquals = false;
        }
      }
      if (j == text.size()) return false;
      if (text[j - 1] != '/') ++depth;
      next = j + 1;
    }
    i = next;
  }
}

std::string DumpWith(const std::string& text, xml_detail::ElementEndFinder finder) {
  XmlDocument doc;
  xml_detail::ParseTextWith(doc, text.c_str(), finder);
  return Dump(doc);
}

const std::vector<std::string>& Pieces() {
  static const std::vector<std::string> pieces = {
      "<", ">", "/", "\"", "!", "?", "-", "[", "]", "=", " ", "a", "b", "\r\n", "<a>", "</a>", "<b x=\"1\">",
      "</b>", "<c/>", "<a/ >", "<d y=\"/>\">", "<!--", "-->", "<!-->", "<![CDATA[", "]]>", "<?p?>", "<!D>",
      "</", "/>", "text", "&amp;", "<?xml?>", "\"/\"", "<e\"", "<<f>", "'", "='>'", "<g v='\"/>'>",
      "<?p > q?>", "<!D [<!E \">\">]>", "<!D [", "]>"};
  return pieces;
}

std::string RandomText(std::mt19937& rng) {
  std::string text = rng() % 4 ? "<?xml?>" : "";
  const int count = static_cast<int>(rng() % 60);
  for (int i = 0; i < count; ++i) text += Pieces()[rng() % Pieces().size()];
  return text;
}

// A well-formed entry of the kind the program writes, then damaged in a few
// random places.
std::string DamagedDocument(std::mt19937& rng) {
  std::string text =
      "<?xml version=\"1.0\"?>\r\n<!--db-->\r\n<root>\r\n\t<Games>\r\n\t\t<g>\r\n\t\t\t<Main Name=\"A/B\" "
      "Run=\"C:\\R.EXE\">\r\n\t\t\t\t<![CDATA[help <b> \"]]>\r\n\t\t\t</Main>\r\n\t\t\t<Mount>\r\n\t\t\t\t<m "
      "type=\"hdd\"/>\r\n\t\t\t\t<!-- \" -->\r\n\t\t\t\ttext\r\n\t\t\t</Mount>\r\n\t\t</g>\r\n\t\t<g/>\r\n\t</Games>"
      "\r\n</root>\r\n";
  const std::string inserts = "<>/\"!-[]?= a";
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits && !text.empty(); ++e) {
    const std::size_t at = rng() % text.size();
    switch (rng() % 3) {
      case 0:
        text.erase(at, 1 + rng() % 3);
        break;
      case 1:
        text.insert(at, 1, inserts[rng() % inserts.size()]);
        break;
      default:
        text.insert(at, text.substr(rng() % text.size(), 1 + rng() % 20));
        break;
    }
  }
  return text;
}

}  // namespace

TEST(ElementEnd, TheScanFollowsTheRuleAtEveryTagAndBound) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = round % 2 ? RandomText(rng) : DamagedDocument(rng);
    const char* begin = text.data();
    for (std::size_t lt = text.find('<'); lt != std::string::npos; lt = text.find('<', lt + 1)) {
      const char* bound = begin + lt + rng() % (text.size() - lt + 1);
      ElementEnd expected{nullptr, nullptr};
      ElementEnd actual{nullptr, nullptr};
      const bool found = ReferenceEnd(begin + lt, bound, &expected);
      ASSERT_EQ(xml_detail::FindElementEnd(begin + lt, bound, &actual), found) << text << " at " << lt;
      if (found) {
        ASSERT_EQ(actual.endTagStart, expected.endTagStart) << text << " at " << lt;
        ASSERT_EQ(actual.end, expected.end) << text << " at " << lt;
      }
    }
  }
}

TEST(ElementEnd, TheSinglePassGivesTheSameTreeAsThePlainRule) {
  std::mt19937 rng(12);
  for (int round = 0; round < 20000; ++round) {
    const std::string text = round % 2 ? RandomText(rng) : DamagedDocument(rng);
    ASSERT_EQ(DumpWith(text, nullptr), DumpWith(text, ReferenceEnd)) << text;
  }
}

TEST(ElementEnd, TheSinglePassMatchesOnNestedRealisticTexts) {
  // Deeper and wider than the damaged entry, with tags that repeat.
  std::mt19937 rng(13);
  for (int round = 0; round < 300; ++round) {
    std::string text = "<?xml?><root>";
    int depth = 1;
    for (int i = 0; i < 400; ++i) {
      switch (rng() % 6) {
        case 0:
        case 1:
          text += "<e a=\"" + std::to_string(i) + "\">";
          ++depth;
          break;
        case 2:
          if (depth > 1) {
            text += "</e>";
            --depth;
          }
          break;
        case 3:
          text += "<v x=\"/>\"/>";
          break;
        case 4:
          text += "<![CDATA[</e>]]><!--</e>-->";
          break;
        default:
          text += Pieces()[rng() % Pieces().size()];
          break;
      }
    }
    while (depth-- > 0) text += "</e>";
    ASSERT_EQ(DumpWith(text, nullptr), DumpWith(text, ReferenceEnd)) << text;
  }
}

// A text read in pieces gives the tree of a single reader wherever the pieces
// begin: at a tag inside a comment, a CDATA section, a value or another tag,
// at the top level, inside a damaged element, one after another, before or
// after a NUL that ends the text.
TEST(Pieces, TheTreeIsTheSingleReadersWhereverPiecesBegin) {
  std::mt19937 rng(14);
  std::size_t tried = 0, joined = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string text = round % 2 ? RandomText(rng) : DamagedDocument(rng);
    if (text.empty()) continue;
    if (round % 5 == 0) text[rng() % text.size()] = '\0';  // the text ends there
    XmlDocument whole;
    xml_detail::ParseInPieces(whole, text.data(), text.size(), {}, false);
    const std::string expected = Dump(whole);
    std::vector<std::size_t> tags;
    for (std::size_t lt = text.find('<'); lt != npos; lt = text.find('<', lt + 1)) tags.push_back(lt);
    for (std::size_t i = 0; i < tags.size() + 2; ++i) {
      std::vector<std::size_t> starts;  // one at each tag, then a few at random
      for (std::size_t k = i < tags.size() ? 1 : 2 + rng() % 3; k-- > 0;)
        starts.push_back(i < tags.size()                    ? tags[i]
                         : rng() % 2 && !tags.empty() ? tags[rng() % tags.size()]
                                                      : rng() % text.size());
      std::sort(starts.begin(), starts.end());
      XmlDocument pieces;
      joined += xml_detail::ParseInPieces(pieces, text.data(), text.size(), starts, false);
      ++tried;
      ASSERT_EQ(Dump(pieces), expected) << text << " from " << ::testing::PrintToString(starts);
    }
  }
  EXPECT_GT(joined, tried / 4) << "too few pieces were taken in to say anything";
}

// A large library cut where a processor's share ends, read on threads: every
// cut falls between two games and is taken in.
TEST(Pieces, ALargeLibraryIsCutBetweenGamesAndReadOnThreads) {
  std::string text = "<?xml version=\"1.0\"?>\r\n<!--db-->\r\n<root>\r\n\t<Games>\r\n";
  for (int i = 0; text.size() < 3 * xml_detail::kLeastPiece + 1000; ++i)
    text += "\t\t<g>\r\n\t\t\t<Main Name=\"Game " + std::to_string(i) +
            "\" Run=\"C:\\R.EXE\">\r\n\t\t\t\t<![CDATA[help <g> \"]]>\r\n\t\t\t</Main>\r\n\t\t\t<!-- " +
            std::to_string(i % 7) + " -->\r\n\t\t\t<Mount><m type=\"hdd\"/>text</Mount>\r\n\t\t</g>\r\n" +
            (i % 50 == 0 ? "\t\tbetween\r\n\t\t<!-- a comment among games -->\r\n" : "");
  text += "\t</Games>\r\n\t<Engines/>\r\n</root>\r\n";
  XmlDocument whole;
  xml_detail::ParseInPieces(whole, text.data(), text.size(), {}, false);
  for (unsigned processors : {1u, 2u, 3u, 8u}) {
    const std::vector<std::size_t> starts = xml_detail::PieceStarts(text.data(), text.size(), processors);
    EXPECT_EQ(starts.size(), std::min(processors, 3u) - 1) << processors;
    for (std::size_t start : starts) EXPECT_EQ(text.compare(start, 4, "<g>\r"), 0) << start;
    XmlDocument pieces;
    EXPECT_EQ(xml_detail::ParseInPieces(pieces, text.data(), text.size(), starts, true), starts.size());
    EXPECT_EQ(Dump(pieces), Dump(whole)) << processors;
  }
}

TEST(Depth, VeryDeepNestingIsReadCopiedAndFreedWithoutRecursion) {
  const int levels = 100000;
  std::string text = "<?xml?>";
  for (int i = 0; i < levels; ++i) text += "<a>";
  for (int i = 0; i < levels; ++i) text += "</a>";
  XmlDocument doc;
  doc.ParseText(text.c_str());
  ASSERT_EQ(doc.GetParseStatus(), 0);
  int depth = 1;
  for (XmlElement* e = doc.GetRoot(); e->GetChildCount() == 1; e = e->GetChildren()[0]) ++depth;
  EXPECT_EQ(depth, levels);
  EXPECT_TRUE(doc.IsIntact());
  std::unique_ptr<XmlElement> copy = doc.GetRoot()->Clone();
  EXPECT_EQ(copy->GetChildCount(), 1u);
  doc.ParseText(text.c_str());  // frees the first tree
  EXPECT_EQ(doc.GetParseStatus(), 0);
}

TEST(Depth, DeepDocumentsAreSavedAndReadBack) {
  xmltest::TempDir dir;
  const int levels = 3000;  // every level adds a TAB to each line below it
  std::string text = "<?xml?><root>";
  for (int i = 0; i < levels; ++i) text += "<a i=\"" + std::to_string(i) + "\">";
  for (int i = 0; i < levels; ++i) text += "</a>";
  text += "</root>";
  auto doc = xmltest::Parse(text);
  const std::string path = dir.File("deep.xml");
  doc->SetFileName(path.c_str());
  ASSERT_TRUE(doc->Save());
  XmlDocument reread(path.c_str());
  EXPECT_EQ(reread.GetParseStatus(), 0);
  EXPECT_EQ(Dump(reread), Dump(*doc));
}
