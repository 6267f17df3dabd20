#include "ui/EditorModel.h"

#include "launcher/GameSchema.h"
#include "launcher/LaunchPlan.h"

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
      row.choices = SplitText(choices->GetValue().c_str(), "|||");
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
  if (old && std::string(old).find("\r\n") != std::string::npos) return typed;
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
