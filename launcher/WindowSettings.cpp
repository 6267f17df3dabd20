#include "launcher/WindowSettings.h"

#include <cstdlib>

#include "launcher/GameSchema.h"
#include "launcher/Storage.h"
#include "xml/Xml.h"

namespace {

// Screens are not larger than this in any direction, nor placed further out.
constexpr long kFarthest = 100000;

bool ReadNumber(XmlElement* element, const char* name, long low, long high, int& value) {
  XmlAttribute* attribute = element ? element->FindAttribute(name) : nullptr;
  if (!attribute) return false;
  const std::string text = attribute->GetValue();
  char* end = nullptr;
  const long read = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || read < low || read > high) return false;
  value = static_cast<int>(read);
  return true;
}

void WriteNumber(XmlElement* element, const char* name, int value) {
  SetAttributeText(element, name, std::to_string(value).c_str());
}

}  // namespace

WindowSettings ReadWindowSettings(const std::string& path) {
  WindowSettings settings;
  if (!FileExists(path)) return settings;
  XmlDocument document(path.c_str());
  XmlElement* root = document.GetRoot();
  if (!root || document.GetParseStatus() != 0) return settings;

  XmlElement* window = root->FindChild("Window");
  WindowSettings place;
  if (ReadNumber(window, "Left", -kFarthest, kFarthest, place.left) &&
      ReadNumber(window, "Top", -kFarthest, kFarthest, place.top) &&
      ReadNumber(window, "Width", 1, kFarthest, place.width) &&
      ReadNumber(window, "Height", 1, kFarthest, place.height)) {
    settings.placed = true;
    settings.left = place.left, settings.top = place.top;
    settings.width = place.width, settings.height = place.height;
    settings.maximized = AttributeText(window, "Maximized") == "1";
  }

  XmlElement* list = root->FindChild("List");
  for (int column = 0;; ++column) {
    int width = 0;
    if (!ReadNumber(list, ("Column" + std::to_string(column)).c_str(), 0, kFarthest, width)) break;
    settings.columnWidths.push_back(width);
  }
  int sortColumn = -1, direction = 0;
  if (ReadNumber(list, "SortColumn", 0, 63, sortColumn) && ReadNumber(list, "SortDirection", -1, 1, direction) &&
      direction != 0) {
    settings.sortColumn = sortColumn;
    settings.sortDirection = direction;
  }

  if (XmlElement* import = root->FindChild("Import")) settings.importFolder = AttributeText(import, "Folder");
  return settings;
}

bool WriteWindowSettings(const std::string& path, const WindowSettings& settings) {
  XmlDocument document;
  document.ParseText("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root/>\r\n");
  XmlElement* root = document.GetRoot();
  if (!root) return false;
  if (settings.placed) {
    XmlElement* window = root->FindChild("Window", true);
    WriteNumber(window, "Left", settings.left);
    WriteNumber(window, "Top", settings.top);
    WriteNumber(window, "Width", settings.width);
    WriteNumber(window, "Height", settings.height);
    WriteNumber(window, "Maximized", settings.maximized ? 1 : 0);
  }
  XmlElement* list = root->FindChild("List", true);
  for (std::size_t column = 0; column < settings.columnWidths.size(); ++column)
    WriteNumber(list, ("Column" + std::to_string(column)).c_str(), settings.columnWidths[column]);
  if (settings.sortColumn >= 0) {
    WriteNumber(list, "SortColumn", settings.sortColumn);
    WriteNumber(list, "SortDirection", settings.sortDirection < 0 ? -1 : 1);
  }
  if (!settings.importFolder.empty())
    SetAttributeText(root->FindChild("Import", true), "Folder", settings.importFolder.c_str());
  document.SetFileName(path.c_str());
  return document.Save();
}

std::string WindowSettingsPath() { return JoinPath(ProfileFolder, "vtlui.xml"); }
