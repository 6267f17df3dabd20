// Small text helpers shared by the readers of other front ends' files.
#pragma once

#include <string>

// text with A-Z as a-z; other bytes (UTF-8 included) as they are.
inline std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// text without the blanks, tabs and line breaks at either end.
inline std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}
