// The two entity routines and the text helpers every string passes through.
#include "xml/XmlInternal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace xml_detail;

namespace {

std::string Decode(const std::string& stored) { return XmlDecode(stored); }

// Decodes from a heap block of exactly the given bytes, without a terminator,
// so that AddressSanitizer sees any read past the length.
std::string DecodeExact(const std::string& stored) {
  std::unique_ptr<char[]> exact(new char[stored.size() ? stored.size() : 1]);
  std::memcpy(exact.get(), stored.data(), stored.size());
  std::vector<char> out(stored.size() + 1, '\x7f');
  const std::size_t n = XmlDecodeEntities(exact.get(), out.data(), stored.size());
  EXPECT_LE(n, stored.size());
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

}  // namespace

TEST(Encode, EscapesTheFiveCharactersButLetsCharacterReferencesThrough) {
  EXPECT_EQ(XmlEncode("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
  EXPECT_EQ(XmlEncode("&#65; & &"), "&#65; &amp; &amp;");
  EXPECT_EQ(XmlEncode(std::string("\x01\xC3\xA9\t", 4)), std::string("\x01\xC3\xA9\t", 4));
}

TEST(Encode, LengthWithoutBufferMatchesTheWrittenText) {
  const char* text = "&<>\"'x&#";
  EXPECT_EQ(XmlEncodeEntities(text, nullptr), 5u + 4 + 4 + 6 + 6 + 1 + 2);
  std::vector<char> out(XmlEncodeEntities(text, nullptr) + 1, '\x7f');
  EXPECT_EQ(XmlEncodeEntities(text, out.data()), out.size() - 1);
  EXPECT_STREQ(out.data(), "&amp;&lt;&gt;&quot;&apos;x&#");
  EXPECT_EQ(XmlEncodeEntities(nullptr, nullptr), 0u);
}

TEST(Decode, NamedReferencesAreCaseSensitiveAndUnknownOnesStayText) {
  EXPECT_EQ(Decode("&amp;&quot;&apos;&lt;&gt;"), "&\"'<>");
  EXPECT_EQ(Decode("&AMP; &lt &nbsp; & x &"), "&AMP; &lt &nbsp; & x &");
  EXPECT_EQ(Decode("&amp;lt;"), "&lt;");  // decoded once, not twice
}

TEST(Decode, CharacterReferencesBecomeUtf8) {
  EXPECT_EQ(Decode("&#x263A;"), "\xE2\x98\xBA");
  EXPECT_EQ(Decode("&#X41;&#66;&#xe9;"), "AB\xC3\xA9");
  // The character after the digits is taken whatever it is.
  EXPECT_EQ(Decode("&#65xyz"), "Ayz");
  EXPECT_EQ(Decode("&#0;end"), "end");
}

TEST(Decode, AmpersandHashWithoutDigitsStaysText) {
  EXPECT_EQ(Decode("Tom&#Jerry"), "Tom&#Jerry");
  EXPECT_EQ(Decode("&#;&#x;"), "&#;&#x;");
}

TEST(Decode, CharactersBeyondTheFirstPlaneAndSurrogates) {
  const std::string grin = "\xF0\x9F\x98\x80";
  EXPECT_EQ(Decode("&#x1F600;"), grin);
  EXPECT_EQ(Decode("&#128512;"), grin);
  EXPECT_EQ(Decode("&#xD83D;&#xDE00;"), grin);  // a pair spelt as two references
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(Decode("&#xD83D;x"), replacement + "x");
  EXPECT_EQ(Decode("&#xDE00;&#xD83D;"), replacement + replacement);
  EXPECT_EQ(Decode("&#x110000;"), replacement);
  EXPECT_EQ(Decode("&#99999999999999999999999;"), replacement);
}

TEST(Decode, NeverReadsPastTheGivenLength) {
  EXPECT_EQ(DecodeExact("&#65"), "A");
  EXPECT_EQ(DecodeExact("&#x1F60"), "\xE1\xBD\xA0");
  EXPECT_EQ(DecodeExact("&am"), "&am");
  EXPECT_EQ(DecodeExact("&#xD83D;&#"), "\xEF\xBF\xBD&#");
  EXPECT_EQ(DecodeExact("&"), "&");
  EXPECT_EQ(DecodeExact(""), "");
  char out[8];
  EXPECT_EQ(XmlDecodeEntities("&amp;", out, 3), 3u);  // only "&am" is the text
  EXPECT_STREQ(out, "&am");
}

TEST(Decode, RandomTextsNeverGrowAndEncodedTextsComeBack) {
  // Built from the pieces that matter to the decoder, so that references,
  // near-references and pairs turn up often.
  const std::vector<std::string> pieces = {"&", "#", "x", "X", ";", "0", "1", "9", "a", "F", "D8", "DC", "amp",
                                           "lt", "quot", "&#xD83D;", "&#xDE00;", "\xC3\xA9", "<", "\"", " "};
  std::mt19937 rng(20240601);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int count = static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) text += pieces[rng() % pieces.size()];
    DecodeExact(text);  // checks the length bound and the terminator
    if (text.find("&#") == std::string::npos) {
      ASSERT_EQ(XmlDecode(XmlEncode(text)), text);
    }
  }
}

TEST(Utf16, PairsCombineLoneSurrogatesAreReplacedAndZeroEnds) {
  auto convert = [](const std::vector<unsigned char>& bytes) {
    std::vector<char> out(bytes.size() * 3 / 2 + 4);
    return std::string(out.data(), Utf16LeToUtf8(bytes.data(), bytes.size(), out.data()));
  };
  EXPECT_EQ(convert({'A', 0, 0xE9, 0, 0x3A, 0x26}), "A\xC3\xA9\xE2\x98\xBA");
  EXPECT_EQ(convert({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(convert({0x3D, 0xD8, 'x', 0}), "\xEF\xBF\xBDx");
  EXPECT_EQ(convert({0x00, 0xDE, 0x3D, 0xD8}), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(convert({'a', 0, 0, 0, 'b', 0}), "a");
  EXPECT_EQ(convert({'a', 0, 'b'}), "a");  // an odd last byte is no code unit
}
