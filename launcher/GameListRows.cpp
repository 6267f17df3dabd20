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

// The columns that come from the game itself; column 0 is left to
// SetFirstColumn. With complete, a missing Main, Category, Name or
// Description is created, as every reader of a game does; without, the game
// is left as it is and *whole cleared when one is missing.
GameRow RowOf(XmlElement* entry, bool complete = true, bool* whole = nullptr) {
  GameRow row;
  row.entry = entry;
  XmlElement* main = entry->FindChild("Main", complete);
  const auto read = [main, complete, whole](const char* name, std::string& into) {
    if (XmlAttribute* attribute = main ? main->FindAttribute(name, complete) : nullptr)
      into = attribute->GetValue();
    else if (whole)
      *whole = false;
  };
  std::string category;
  read("Category", category);
  row.group = CategoryIndex(category.c_str());
  read("Name", row.name);
  read("Description", row.description);
  // Read without being created: most games have neither, and the list
  // must not add empty ones to every game of the library.
  if (main) {
    if (XmlAttribute* year = main->FindAttribute("Year")) row.year = year->GetValue();
    if (XmlAttribute* developer = main->FindAttribute("Developer")) row.developer = developer->GetValue();
  }
  return row;
}

// Column 0 of rows in library order, which grouping by category then
// follows where column 0 names the category in place of drawn groups: the
// games of a category stay together, in the categories' order and library
// order within each, so that the list reads as the groups do. Each row is
// moved once, straight to its place: a sort would move each of them many
// times.
std::vector<GameRow> SetFirstColumn(std::vector<GameRow> rows, FirstColumn first) {
  if (first == FirstColumn::Number)
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].first = std::to_string(i + 1);
  if (first != FirstColumn::Category) return rows;
  std::vector<unsigned char> groupOf;
  groupOf.reserve(rows.size());
  for (GameRow& row : rows) {
    row.first = CategoryList[row.group];
    groupOf.push_back(static_cast<unsigned char>(row.group));
  }
  std::vector<GameRow> grouped;
  grouped.reserve(rows.size());
  for (int group = 0; group < kCategoryCount; ++group)
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (groupOf[i] == group) grouped.push_back(std::move(rows[i]));
  return grouped;
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
  const auto readRows = [games](unsigned from, unsigned to, std::vector<GameRow>& rows) {
    for (unsigned i = from; i < to; ++i) rows.push_back(RowOf(games->GetChildren()[i]));
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
  return SetFirstColumn(std::move(rows), first);
}

XmlReadWatch GameRowsAsRead::Watch() {
  Forget();
  XmlReadWatch watch;
  watch.depth = 2;  // the games, under "Games" under the root
  watch.read = &GameRowsAsRead::Read;
  watch.context = this;
  return watch;
}

void GameRowsAsRead::Read(XmlElement* element, XmlElement* parent, void* self) {
  auto& made = *static_cast<GameRowsAsRead*>(self);
  // The games of one "Games" element only: rows of any other are of no use,
  // and Take finds them out.
  if (parent != made.games_) {
    if (std::strcmp(parent->GetStoredName(), "Games") != 0) return;
    made.Forget();
    made.games_ = parent;
  }
  // A game is completed when the list takes its row, not here: the games
  // read may not be the ones it shows.
  bool whole = true;
  made.rows_.push_back(RowOf(element, false, &whole));
  if (!whole) made.incomplete_.push_back(made.rows_.size() - 1);
}

void GameRowsAsRead::Forget() {
  games_ = nullptr;
  rows_.clear();
  incomplete_.clear();
}

std::vector<GameRow> GameRowsAsRead::Take(const XmlDocument& library, FirstColumn first) {
  std::vector<GameRow> rows = std::move(rows_);
  const std::vector<std::size_t> incomplete = std::move(incomplete_);
  Forget();
  // Its games in order, one by one: rows of another "Games", or of a game
  // since removed, never stand for its own.
  XmlElement* games = GamesOf(library);
  bool theirs = games && games->GetChildCount() == rows.size();
  for (std::size_t i = 0; theirs && i < rows.size(); ++i) theirs = rows[i].entry == games->GetChildren()[i];
  if (!theirs) return GameRows(library, first);
  for (std::size_t i : incomplete) rows[i] = RowOf(rows[i].entry);
  return SetFirstColumn(std::move(rows), first);
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
