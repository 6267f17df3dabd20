#include "launcher/GameSchema.h"

#include "launcher/Storage.h"

const char* const CategoryList[kCategoryCount] = {
    "No Category", "Action",   "Arcade",    "Adventure",  "Puzzle", "RPG",
    "Platform",    "Shootemup", "Strategy", "Simulation", "Sport",
};

std::string Unquoted(const std::string& path) {
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') return path.substr(1, path.size() - 2);
  return path;
}

namespace {
// ASCII letters only, as the C locale folds them: the runtime's tolower asks
// for the locale at every byte, and the list folds a category name for
// every game it shows.
char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (FoldAscii(*a) != FoldAscii(*b)) return false;
  }
  return *a == *b;
}

int CategoryIndex(const char* name) {
  if (!name) return 0;
  for (int i = 0; i < kCategoryCount; ++i) {
    if (EqualIgnoringCase(CategoryList[i], name)) return i;
  }
  return 0;
}

XmlElement* Section(XmlElement* element, const char* name) {
  return element ? element->FindChild(name, true) : nullptr;
}

std::string AttributeText(XmlElement* element, const char* name) {
  if (!element) return std::string();
  XmlAttribute* attribute = element->FindAttribute(name, true);
  return attribute ? attribute->GetValue() : std::string();
}

void SetAttributeText(XmlElement* element, const char* name, const char* plainValue) {
  if (!element) return;
  if (XmlAttribute* attribute = element->FindAttribute(name, true)) attribute->SetValue(plainValue);
}

XmlElement* GamesOf(const XmlDocument& document) {
  return Section(document.GetRoot(), "Games");
}

XmlElement* TemplateEntry(const XmlDocument& profile) {
  return Section(GamesOf(profile), "g");
}

const char* FirstCDataText(const XmlElement* element) {
  if (!element || element->GetCDataCount() == 0) return nullptr;
  return const_cast<XmlElement*>(element)->GetCDatas()[0]->GetText();
}

bool ReadGameLinkName(const std::string& path, std::string& name) {
  // A missing file would read as an empty document.
  if (!CanOpenForReading(path)) return false;
  XmlDocument link(path.c_str());
  if (link.GetParseStatus() != 0 || !link.GetRoot()) return false;
  XmlAttribute* attribute = link.GetRoot()->FindAttribute("n");
  name = attribute ? attribute->GetValue() : std::string();
  return true;
}
