// UTF-8 in the files, UTF-16 in the windows: what crosses between them must
// come back byte for byte, and nothing may be cut inside a character.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text/TextConvert.h"


namespace {

TEST(TextConvert, WellFormedTextSurvivesTheRoundTrip) {
  for (const char* text : {"", "plain ASCII", "M\xC3\xB6tley Cr\xC3\xBC" "e", "\xE6\x97\xA5\xE6\x9C\xAC",
                           "\xF0\x9F\x98\x80 beyond the basic plane", "\xEF\xBF\xBF\xF4\x8F\xBF\xBF"}) {
    EXPECT_EQ(text, Utf8FromWide(WideFromUtf8(text))) << text;
  }
  EXPECT_EQ(L"M\u00F6tley Cr\u00FCe", WideFromUtf8("M\xC3\xB6tley Cr\xC3\xBC" "e"));
  // Outside the basic plane a 16-bit wchar_t holds a surrogate pair.
  EXPECT_EQ(sizeof(wchar_t) == 2 ? 2u : 1u, WideFromUtf8("\xF0\x9F\x98\x80").size());
}

TEST(TextConvert, BytesThatAreNotUtf8ReadAsTheWindowsCodePage) {
  const struct {
    const char* bytes;
    std::wstring shown;
  } cases[] = {
      {"M\xF6tley", L"M\u00F6tley"},               // Latin-1 letter
      {"\x80 \x99 \x9F", L"\u20AC \u2122 \u0178"},  // the code page's own block
      {"\x81", L"\u0081"},                         // a hole keeps its value
      {"\xC0\xAF", L"\u00C0\u00AF"},               // overlong form
      {"\xED\xA0\x80", L"\u00ED\u00A0\u20AC"},     // an encoded surrogate
      {"ab\xE2\x82", L"ab\u00E2\u201A"},           // sequence cut short at the end
      {"\xF5\x80\x80\x80", L"\u00F5\u20AC\u20AC\u20AC"},  // past U+10FFFF
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.shown, WideFromUtf8(c.bytes)) << c.bytes;
    // Once shown, the text is stored as UTF-8.
    EXPECT_EQ(c.shown, WideFromUtf8(Utf8FromWide(c.shown))) << c.bytes;
  }
}

TEST(TextConvert, CutsFallBetweenCharacters) {
  const struct {
    const char* text;
    std::size_t max, expected;
  } cases[] = {
      {"a\xC3\xA9", 2, 1},  {"a\xC3\xA9", 3, 3},  {"\xE2\x82\xAC", 2, 0},
      {"\xF0\x9F\x98\x80x", 3, 0}, {"\xF0\x9F\x98\x80x", 4, 4},
      {"ab\x80\x80\x80\x80", 4, 4},  // stray continuation bytes: any cut will do
      {"short", 999, 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, Utf8PrefixLength(c.text, std::strlen(c.text), c.max)) << c.text << " " << c.max;
  }

  const std::string mixed = "a\xC3\xA9\xE2\x98\xBA\xF0\x9F\x98\x80";  // 1 + 2 + 3 + 4 bytes
  const std::size_t atLimit[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
  for (std::size_t limit = 0; limit <= 11; ++limit)
    EXPECT_EQ(atLimit[limit], Utf8PrefixLength(mixed.data(), mixed.size(), limit)) << "limit " << limit;

  char buffer[6];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(4u, CopyToBuffer("aa\xC3\xA9\xC3\xA9", buffer, 5));  // "aa", "é" and the zero
  EXPECT_STREQ("aa\xC3\xA9", buffer);
  EXPECT_EQ(2u, CopyToBuffer("aa\xC3\xA9", buffer, 4));  // "é" would leave no room for the zero
  EXPECT_STREQ("aa", buffer);
  EXPECT_EQ('#', buffer[5]);  // nothing written past the size given

  const char unterminated[4] = {'a', 'b', '\xC3', '\xA9'};
  EXPECT_EQ("ab", TextInBuffer(unterminated, sizeof unterminated));
  EXPECT_EQ("ab", TextInBuffer("ab\0cd", 5));
}

}  // namespace

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include "text/AnsiText.h"

// A command line with nothing after the program's name is read without the
// shell, as the shell reads it.
TEST(CommandLine, AProgramNameAloneReadsAsTheShellReadsIt) {
  for (const wchar_t* line : {L"v.exe", L"C:\\G\\v.exe\t ", L"\"C:\\P F\\v.exe\"  ", L"\"C:\\no end", L"\"\"",
                              L"v.exe -import C:\\G", L"\"C:\\a\"b", L"v.exe \"\"", L"C:\\x\\v.exe\"a b\"", L"\"v\"\t-run"}) {
    int count = 0;
    wchar_t** shell = CommandLineToArgvW(line, &count);
    std::wstring name;
    EXPECT_EQ(count == 1, ProgramNameAlone(line, name)) << Utf8FromWide(line);
    EXPECT_TRUE(count != 1 || name == shell[0]) << Utf8FromWide(line);
    LocalFree(shell);
  }
}
#endif
