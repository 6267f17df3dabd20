#include "launcher/GameListRows.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "launcher/GameFind.h"
#include "launcher/GameSchema.h"

namespace {

// Below this many games a second thread costs more than it saves.
constexpr unsigned kRowsPerThreadAtLeast = 4096;

GameRow RowOf(XmlElement* entry, unsigned index, FirstColumn first) {
  GameRow row;
  row.entry = entry;
  XmlElement* main = Section(entry, "Main");
  row.group = CategoryIndex(AttributeText(main, "Category").c_str());
  row.name = AttributeText(main, "Name");
  row.description = AttributeText(main, "Description");
  // Read without being created: most games have neither, and the list
  // must not add empty ones to every game of the library.
  if (XmlAttribute* year = main->FindAttribute("Year")) row.year = year->GetValue();
  if (XmlAttribute* developer = main->FindAttribute("Developer")) row.developer = developer->GetValue();
  if (first == FirstColumn::Number)
    row.first = std::to_string(index + 1);
  else if (first == FirstColumn::Category)
    row.first = CategoryList[row.group];
  return row;
}

}  // namespace

std::vector<GameRow> GameRows(const XmlDocument& library, FirstColumn first) {
  XmlElement* games = GamesOf(library);
  if (!games) return {};
  const unsigned count = games->GetChildCount();
  // Each row reads (and completes) its own game only, so the two halves of a
  // large library are read side by side: most of the time goes in waiting
  // for memory, scattered over the whole file. Rows are made where they are
  // kept, never made empty first.
  const auto readRows = [games, first](unsigned from, unsigned to, std::vector<GameRow>& rows) {
    for (unsigned i = from; i < to; ++i) rows.push_back(RowOf(games->GetChildren()[i], i, first));
  };
  std::vector<GameRow> rows, later;
  rows.reserve(count);
  if (count >= 2 * kRowsPerThreadAtLeast) {
    std::thread secondHalf([&] {
      later.reserve(count - count / 2);
      readRows(count / 2, count, later);
    });
    readRows(0, count / 2, rows);
    secondHalf.join();
    rows.insert(rows.end(), std::make_move_iterator(later.begin()), std::make_move_iterator(later.end()));
  } else {
    readRows(0, count, rows);
  }
  if (first != FirstColumn::Category) return rows;
  // Where column 0 names the category in place of drawn groups, the games of
  // a category stay together, in the categories' order and library order
  // within each, so that the list reads as the groups do. Each row is moved
  // once, straight to its place: a sort would move each of them many times.
  std::vector<unsigned char> groupOf;
  groupOf.reserve(count);
  for (const GameRow& row : rows) groupOf.push_back(static_cast<unsigned char>(row.group));
  std::vector<GameRow> grouped;
  grouped.reserve(count);
  for (int group = 0; group < kCategoryCount; ++group)
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (groupOf[i] == group) grouped.push_back(std::move(rows[i]));
  return grouped;
}

namespace {

bool IsNumber(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '+' || *text == '-') ++text;
  return std::isdigit(static_cast<unsigned char>(*text)) != 0;
}

int Sign(int value) { return (value > 0) - (value < 0); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Byte order, with each run of digits read as the number it writes: its
// leading zeros set aside, a longer run is the larger number.
int CompareNatural(const char* a, const char* b) {
  while (*a && *b) {
    if (IsDigit(*a) && IsDigit(*b)) {
      while (*a == '0') ++a;
      while (*b == '0') ++b;
      const char* endA = a;
      const char* endB = b;
      while (IsDigit(*endA)) ++endA;
      while (IsDigit(*endB)) ++endB;
      if (endA - a != endB - b) return endA - a < endB - b ? -1 : 1;
      for (; a < endA; ++a, ++b)
        if (*a != *b) return *a < *b ? -1 : 1;
      continue;
    }
    if (*a != *b) return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b) ? -1 : 1;
    ++a, ++b;
  }
  return Sign(static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b));
}

}  // namespace

const std::string& CellOf(const GameRow& row, int column) {
  switch (column) {
    case kNumberColumn: return row.first;
    case kNameColumn: return row.name;
    case kDescriptionColumn: return row.description;
    case kYearColumn: return row.year;
    default: return row.developer;
  }
}

int CompareCells(int column, const char* a, const char* b, int direction) {
  if (column == kYearColumn) {
    // A game whose year is not known is no older or newer than any other:
    // it waits at the end whichever way the years run.
    const bool emptyA = *a == '\0', emptyB = *b == '\0';
    if (emptyA || emptyB) return emptyA - emptyB;
    const bool numberA = IsNumber(a), numberB = IsNumber(b);
    if (numberA != numberB) return (numberA ? -1 : 1) * direction;
    if (numberA) {
      const long long x = std::strtoll(a, nullptr, 10);
      const long long y = std::strtoll(b, nullptr, 10);
      if (x != y) return (x < y ? -1 : 1) * direction;
    }
    return CompareNatural(a, b) * direction;
  }
  if (column == kNumberColumn && (IsNumber(a) || IsNumber(b))) {
    // strtoll saturates instead of overflowing; non-numbers read as 0.
    const long long x = std::strtoll(a, nullptr, 10);
    const long long y = std::strtoll(b, nullptr, 10);
    return ((x > y) - (x < y)) * direction;
  }
  return CompareNatural(a, b) * direction;
}

std::string SortKeyOf(const std::string& text) { return FoldForFind(text); }
