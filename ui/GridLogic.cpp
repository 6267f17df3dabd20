#include "ui/GridLogic.h"

const wchar_t kFreeTextChoice[] = L"???";

BeginEditAnswer ClassifyBeginEditAnswer(std::intptr_t answer) {
  if (answer == 1) return BeginEditAnswer::NoEditor;
  if (answer > 1000) return BeginEditAnswer::Callback;
  return BeginEditAnswer::OpenEditor;
}

DropDownSetup MakeDropDownSetup(const ChoiceList& list) {
  DropDownSetup setup;
  for (const std::wstring& item : list.items) {
    if (item == kFreeTextChoice) {
      setup.editable = true;
    } else {
      setup.entries.push_back(item);
    }
  }
  return setup;
}

const ChoiceList* FindChoiceList(const std::vector<ChoiceList>& lists, int row, int column) {
  for (const ChoiceList& list : lists) {
    if (list.row == row && list.column == column) return &list;
  }
  return nullptr;
}

ImagePlacement PlaceImageInCell(int cellLeft, int cellTop, int cellWidth, int cellHeight, int width,
                                int height) {
  ImagePlacement placement;
  placement.fits = width > 0 && height > 0 && width <= cellWidth && height <= cellHeight;
  if (placement.fits) {
    placement.x = cellLeft + (cellWidth - width) / 2;
    placement.y = cellTop + (cellHeight - height) / 2;
  }
  return placement;
}

std::size_t FitTextUnits(const wchar_t* text, std::size_t length, std::size_t capacity) {
  if (capacity == 0) return 0;
  if (length < capacity) return length;
  std::size_t units = capacity - 1;
  // A high surrogate as the last unit kept would lose its partner.
  if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) --units;
  return units;
}

EditorKey ClassifyEditorKey(unsigned virtualKey) {
  if (virtualKey == 13 || virtualKey == 10) return EditorKey::Commit;
  if (virtualKey == 27) return EditorKey::Cancel;
  return EditorKey::Other;
}
