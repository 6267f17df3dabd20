// Helpers shared by the XML library's tests.
#pragma once

#include "xml/Xml.h"

#include <memory>
#include <string>

namespace xmltest {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const;
  // Names of the entries in the folder, sorted.
  std::string Listing() const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);

// A path written with '/' as this system writes it.
inline std::string OnThisSystem(std::string path) {
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}
void WriteFile(const std::string& path, const std::string& bytes);

std::unique_ptr<XmlDocument> Parse(const std::string& text);

// Everything a document holds, one item per line, in stored form with
// positions: two documents with equal dumps hold the same tree.
std::string Dump(const XmlDocument& doc);
std::string Dump(XmlElement& element);

// The bytes Save writes for a document parsed from text.
std::string SavedForm(const std::string& text, const TempDir& dir);

}  // namespace xmltest
