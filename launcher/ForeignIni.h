// The INI files other front ends keep their games in, and the DOSBox
// configurations they write: "[section]" headers, "key=value" lines, and for
// DOSBox's "[autoexec]" the raw lines of a batch file.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct IniSection {
  std::string name;  // as written, without brackets
  std::vector<std::pair<std::string, std::string>> values;  // key and value, trimmed, in order
  std::vector<std::string> lines;  // every line of the section but comments, as written
};

struct IniFile {
  std::vector<IniSection> sections;

  // The section of that name, case aside; null when there is none.
  const IniSection* Find(const std::string& name) const;
  // The value of key in section, case aside; "" when there is none.
  std::string Value(const std::string& section, const std::string& key) const;
};

// Lines starting with ";" or "#" are comments; lines before the first header
// belong to a section with an empty name.
IniFile ParseIni(const std::string& text);
