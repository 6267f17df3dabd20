#include "launcher/GameFind.h"

#include <algorithm>

#include "launcher/GameSchema.h"
#include "text/TextConvert.h"

namespace {

// The bare letter of each of U+00C0..U+017F; '*' where the letter folds to
// two (Æ æ Þ þ ß Ĳ ĳ Œ œ), ' ' where the character is no letter to fold.
const char kLatinBase[] =
    "aaaaaa*ceeeeiiiidnooooo ouuuuy**"  // U+00C0..U+00DF
    "aaaaaa*ceeeeiiiidnooooo ouuuuy*y"  // U+00E0..U+00FF
    "aaaaaaccccccccddddeeeeeeeeeegggg"  // U+0100..U+011F
    "gggghhhhiiiiiiiiii**jjkkklllllll"  // U+0120..U+013F
    "lllnnnnnnnnnoooooo**rrrrrrssssss"  // U+0140..U+015F
    "ssttttttuuuuuuuuuuuuwwyyyzzzzzzs";  // U+0160..U+017F

const char* TwoLetters(unsigned code) {
  switch (code) {
    case 0xC6: case 0xE6: return "ae";
    case 0xDE: case 0xFE: return "th";
    case 0xDF: return "ss";
    case 0x132: case 0x133: return "ij";
    case 0x152: case 0x153: return "oe";
    default: return nullptr;
  }
}

void AppendFolded(std::wstring& out, unsigned code) {
  if (code >= 'A' && code <= 'Z') code += 'a' - 'A';
  else if (code >= 0x391 && code <= 0x3A9 && code != 0x3A2) code += 0x20;   // Greek capitals
  else if (code >= 0x410 && code <= 0x42F) code += 0x20;                     // Cyrillic capitals
  else if (code >= 0x400 && code <= 0x40F) code += 0x50;                     // Ѐ..Џ
  if (code == 0x451) code = 0x435;                                           // ё as е
  if (code >= 0xC0 && code <= 0x17F) {
    if (const char* two = TwoLetters(code)) {
      out += static_cast<wchar_t>(two[0]);
      out += static_cast<wchar_t>(two[1]);
      return;
    }
    const char base = kLatinBase[code - 0xC0];
    if (base != ' ') code = static_cast<unsigned char>(base);
  }
  out += static_cast<wchar_t>(code);
}

}  // namespace

static_assert(sizeof(kLatinBase) == 0x180 - 0xC0 + 1, "one letter per character of U+00C0..U+017F");

std::string FoldForFind(const std::string& text) {
  // Most names are plain ASCII: those fold byte by byte, which keeps the
  // first key typed into the find box quick in a library of tens of
  // thousands of games.
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    std::string folded = text;
    for (char& c : folded)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
  }
  const std::wstring wide = WideFromUtf8(text);
  std::wstring folded;
  folded.reserve(wide.size());
  for (const wchar_t c : wide) AppendFolded(folded, static_cast<unsigned>(c));
  return Utf8FromWide(folded);
}

std::string FindTextOf(const GameRow& row) {
  // A line break never occurs in what is typed into a one-line box, so text
  // found across two fields is never a match.
  std::string text = row.name + "\n" + row.description + "\n" + CategoryList[row.group];
  // The publisher is looked up without being created: most games have none,
  // and finding must not add an empty one to every game of the library.
  XmlElement* main = row.entry ? row.entry->FindChild("Main") : nullptr;
  if (XmlAttribute* publisher = main ? main->FindAttribute("Publisher") : nullptr) text += "\n" + publisher->GetValue();
  return FoldForFind(text);
}

std::vector<int> MatchingRows(const std::vector<std::string>& findTexts, const std::string& needle) {
  const std::string folded = FoldForFind(needle);
  std::vector<int> matches;
  matches.reserve(findTexts.size());
  for (int i = 0; i < static_cast<int>(findTexts.size()); ++i)
    if (folded.empty() || findTexts[i].find(folded) != std::string::npos) matches.push_back(i);
  return matches;
}
