// The grid's window-free decisions: what a parent's begin-edit answer means,
// which drop-down a choice list makes, where images go and how the image
// table follows a deleted row.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ui/GridLogic.h"

namespace {

struct Entry {
  int row;
  int column;
};

std::vector<int> Rows(const std::vector<Entry>& table) {
  std::vector<int> rows;
  for (const Entry& entry : table) rows.push_back(entry.row);
  return rows;
}

}  // namespace

TEST(GridLogic, BeginEditAnswers) {
  struct Case {
    std::intptr_t answer;
    BeginEditAnswer expected;
  } cases[] = {
      {0, BeginEditAnswer::OpenEditor},     {-1, BeginEditAnswer::OpenEditor},
      {INTPTR_MIN, BeginEditAnswer::OpenEditor}, {1, BeginEditAnswer::NoEditor},
      {2, BeginEditAnswer::OpenEditor},     {1000, BeginEditAnswer::OpenEditor},
      {1001, BeginEditAnswer::Callback},    {INTPTR_MAX, BeginEditAnswer::Callback},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, ClassifyBeginEditAnswer(c.answer)) << c.answer;
}

TEST(GridLogic, ChoiceListsMakeDropDowns) {
  struct Case {
    std::vector<std::wstring> items;
    bool editable;
    std::vector<std::wstring> entries;
  } cases[] = {
      {{L"a", L"???", L"b"}, true, {L"a", L"b"}},
      {{L"a", L"b"}, false, {L"a", L"b"}},
      {{}, false, {}},
      {{L"???"}, true, {}},
      // Only the exact marker counts; look-alikes are ordinary entries.
      {{L"??", L"???x", L" ???"}, false, {L"??", L"???x", L" ???"}},
      {{L"b", L"???", L"a", L"???"}, true, {L"b", L"a"}},
  };
  for (const Case& c : cases) {
    const DropDownSetup setup = MakeDropDownSetup(ChoiceList{0, 1, c.items});
    EXPECT_EQ(c.editable, setup.editable);
    EXPECT_EQ(c.entries, setup.entries);
  }
}

TEST(GridLogic, FirstChoiceListOfACellWins) {
  const std::vector<ChoiceList> lists = {
      {1, 0, {L"name"}}, {2, 1, {L"first"}}, {1, 1, {L"row one"}}, {2, 1, {L"second"}}};
  ASSERT_NE(nullptr, FindChoiceList(lists, 2, 1));
  EXPECT_EQ(L"first", FindChoiceList(lists, 2, 1)->items[0]);
  EXPECT_EQ(L"row one", FindChoiceList(lists, 1, 1)->items[0]);
  EXPECT_EQ(nullptr, FindChoiceList(lists, 2, 0));
  EXPECT_EQ(nullptr, FindChoiceList({}, 0, 0));
}

TEST(GridLogic, ImagesAreCentredWhenTheyFit) {
  struct Case {
    int width, height;
    bool fits;
    int x, y;
  } cases[] = {
      // Cell at (10, 40), 100 wide and 20 high.
      {8, 8, true, 56, 46},     {100, 20, true, 10, 40}, {9, 7, true, 55, 46},
      {32, 32, false, 0, 0},    {101, 10, false, 0, 0},  {0, 10, false, 0, 0},
      {10, 0, false, 0, 0},     {-4, 4, false, 0, 0},
  };
  for (const Case& c : cases) {
    const ImagePlacement placed = PlaceImageInCell(10, 40, 100, 20, c.width, c.height);
    EXPECT_EQ(c.fits, placed.fits) << c.width << "x" << c.height;
    if (c.fits) {
      EXPECT_EQ(std::make_pair(c.x, c.y), std::make_pair(placed.x, placed.y));
    }
  }
}

TEST(GridLogic, DeletedRowTakesItsImagesAndLaterRowsMoveUp) {
  std::vector<Entry> table = {{0, 1}, {2, 1}, {3, 0}, {1, 1}, {2, 0}, {5, 1}, {2, 1}};
  AdjustTableForDeletedRow(table, 2);
  EXPECT_EQ((std::vector<int>{0, 2, 1, 4}), Rows(table));
  EXPECT_EQ(0, table[1].column) << "entries keep their columns and their order";

  std::vector<Entry> last = {{0, 0}, {1, 0}};
  AdjustTableForDeletedRow(last, 7);
  EXPECT_EQ((std::vector<int>{0, 1}), Rows(last));
  AdjustTableForDeletedRow(last, 0);
  EXPECT_EQ((std::vector<int>{0}), Rows(last));
}

TEST(GridLogic, TextIsCutOnlyBetweenCharacters) {
  const std::wstring plain(1500, L'x');
  EXPECT_EQ(999u, FitTextUnits(plain.c_str(), plain.size(), 1000));
  EXPECT_EQ(5u, FitTextUnits(plain.c_str(), 5, 1000));
  EXPECT_EQ(999u, FitTextUnits(plain.c_str(), 999, 1000));
  EXPECT_EQ(0u, FitTextUnits(plain.c_str(), 5, 0));

  // A pair (U+1F600 in UTF-16) across the cut goes whole to the part left out.
  std::wstring paired(998, L'y');
  paired += static_cast<wchar_t>(0xD83D);
  paired += static_cast<wchar_t>(0xDE00);
  EXPECT_EQ(998u, FitTextUnits(paired.c_str(), paired.size(), 1000));
  EXPECT_EQ(1000u, FitTextUnits(paired.c_str(), paired.size(), 1001));
}

TEST(GridLogic, EditorKeys) {
  EXPECT_EQ(EditorKey::Commit, ClassifyEditorKey(13));
  EXPECT_EQ(EditorKey::Commit, ClassifyEditorKey(10));
  EXPECT_EQ(EditorKey::Cancel, ClassifyEditorKey(27));
  for (unsigned other : {0u, 9u, 32u, 65u, 0x0Du + 256u}) {
    EXPECT_EQ(EditorKey::Other, ClassifyEditorKey(other)) << other;
  }
}
