#include "ui/EditorModel.h"

#include <cstring>

namespace {

const char* FirstCDataText(const XmlElement* element) {
  if (!element || element->GetCDataCount() == 0) return nullptr;
  return const_cast<XmlElement*>(element)->GetCDatas()[0]->GetText();  // the model has no const getter
}

// The non-empty pieces of a choice text between its "|||" separators.
std::vector<std::string> ChoicePieces(const std::string& text) {
  static const char kSeparator[] = "|||";
  std::vector<std::string> pieces;
  for (std::size_t from = 0; from <= text.size();) {
    std::size_t at = text.find(kSeparator, from);
    if (at == std::string::npos) at = text.size();
    if (at > from) pieces.push_back(text.substr(from, at - from));
    from = at + std::strlen(kSeparator);
  }
  return pieces;
}

}  // namespace

std::string ShownName(std::string name) {
  for (char& c : name) {
    if (c == '_') c = ' ';
  }
  return name;
}

std::string TreeLabel(XmlElement* element) {
  for (const char* attribute : {"name", "Name"}) {
    if (XmlAttribute* found = element->FindAttribute(attribute)) return ShownName(found->GetValue());
  }
  return ShownName(element->GetName());
}

std::vector<AttributeRow> AttributeRows(XmlElement* element) {
  std::vector<AttributeRow> rows;
  XmlAttribute** attributes = element->GetAttributes();
  for (unsigned i = 0; i < element->GetAttributeCount(); ++i) {
    const std::string name = attributes[i]->GetName();
    if (name.compare(0, 2, "__") == 0) continue;
    AttributeRow row;
    row.attribute = attributes[i];
    row.name = ShownName(name);
    if (XmlAttribute* choices = element->FindAttribute(("__" + name).c_str())) {
      const std::string text = choices->GetValue();
      row.offersChoices = !text.empty();
      row.choices = ChoicePieces(text);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string EditorText(const XmlElement* element) {
  const char* text = FirstCDataText(element);
  return text ? text : "";
}

std::string StoredLineBreaks(const std::string& typed, const XmlElement* element) {
  const char* old = FirstCDataText(element);
  if (!old || !std::strchr(old, '\n') || std::strstr(old, "\r\n")) return typed;
  std::string out;
  out.reserve(typed.size());
  for (std::size_t i = 0; i < typed.size(); ++i) {
    if (typed[i] == '\r' && i + 1 < typed.size() && typed[i + 1] == '\n') continue;
    out += typed[i];
  }
  return out;
}

void StoreEditorText(XmlElement* element, const std::string& text) {
  if (!element || text.empty()) return;
  // A CDATA section cannot hold its own end marker: written as typed, "]]>"
  // would end the section early and leave a file that no longer reads back.
  std::string safe = text;
  for (std::size_t at = safe.find("]]>"); at != std::string::npos; at = safe.find("]]>", at + 3)) {
    safe.insert(at + 2, " ");
  }
  if (element->GetCDataCount() == 0) element->AddCData("", 0);
  element->GetCDatas()[0]->SetText(safe.c_str());
}

EditorLayout LayOutEditor(int width, int height, bool hasText) {
  const double f = hasText ? 0.5 : 1.0;
  const int left = static_cast<int>(0.2 * width);
  const int right = static_cast<int>(0.8 * width);
  const int gridHeight = static_cast<int>(f * height);
  return EditorLayout{{0, 0, left, height},
                      {left, 0, right, gridHeight},
                      {left, gridHeight, right, static_cast<int>((1 - f) * height)}};
}
