#include "launcher/ForeignIni.h"
#include "launcher/ForeignText.h"

#include "launcher/ForeignFiles.h"

#include <algorithm>

const IniSection* IniFile::Find(const std::string& name) const {
  for (const IniSection& section : sections)
    if (SameTextIgnoringCase(section.name, name)) return &section;
  return nullptr;
}

std::string IniFile::Value(const std::string& section, const std::string& key) const {
  if (const IniSection* found = Find(section))
    for (const auto& value : found->values)
      if (SameTextIgnoringCase(value.first, key)) return value.second;
  return std::string();
}

IniFile ParseIni(const std::string& text) {
  IniFile ini;
  // Room for every section at once: thousands of profiles read one after
  // another would otherwise leave a trail of outgrown arrays behind.
  ini.sections.reserve(1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '[')));
  ini.sections.emplace_back();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = Trimmed(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
    if (trimmed[0] == '[' && trimmed.back() == ']') {
      IniSection section;
      section.name = Trimmed(trimmed.substr(1, trimmed.size() - 2));
      ini.sections.push_back(section);
      continue;
    }
    IniSection& section = ini.sections.back();
    section.lines.push_back(line);
    const std::size_t equals = trimmed.find('=');
    if (equals != std::string::npos)
      section.values.emplace_back(Trimmed(trimmed.substr(0, equals)), Trimmed(trimmed.substr(equals + 1)));
  }
  return ini;
}
