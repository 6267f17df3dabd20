#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace xmltest {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() /
                         ("vantle-xml-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
}

std::string TempDir::File(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::string TempDir::Listing() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& n : names) out += n + ";";
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::unique_ptr<XmlDocument> Parse(const std::string& text) {
  auto doc = std::make_unique<XmlDocument>();
  doc->ParseText(text.c_str());
  return doc;
}

namespace {

template <class Item>
void DumpItems(std::ostringstream& out, const std::string& indent, const char* kind, Item** items, unsigned count,
               const XmlElement* parent) {
  for (unsigned i = 0; i < count; ++i)
    out << indent << kind << '@' << items[i]->GetPosition() << " [" << items[i]->GetText() << "]"
        << (items[i]->GetParent() == parent ? "\n" : " (wrong parent)\n");
}

void DumpTree(std::ostringstream& out, XmlElement& top) {
  // Explicit stack: some tests hold very deep trees.
  std::vector<std::pair<XmlElement*, std::size_t>> work{{&top, 0}};
  while (!work.empty()) {
    XmlElement* e = work.back().first;
    const std::string indent(work.back().second, ' ');
    const std::size_t depth = work.back().second;
    work.pop_back();
    out << indent << "<" << e->GetStoredName();
    for (unsigned i = 0; i < e->GetAttributeCount(); ++i)
      out << " [" << e->GetAttributes()[i]->GetStoredName() << "]=[" << e->GetAttributes()[i]->GetStoredValue() << "]";
    out << ">\n";
    for (unsigned i = 0; i < e->GetContentCount(); ++i)
      out << indent << " text@" << e->GetContents()[i]->GetPosition() << " [" << e->GetContents()[i]->GetStoredText()
          << "]" << (e->GetContents()[i]->GetParent() == e ? "\n" : " (wrong parent)\n");
    DumpItems(out, indent + " ", "comment", e->GetComments(), e->GetCommentCount(), e);
    DumpItems(out, indent + " ", "cdata", e->GetCDatas(), e->GetCDataCount(), e);
    for (unsigned i = e->GetChildCount(); i-- > 0;) {
      if (e->GetChildren()[i]->GetParent() != e) out << indent << " (child " << i << " has a wrong parent)\n";
      work.emplace_back(e->GetChildren()[i], depth + 1);
    }
  }
}

}  // namespace

std::string Dump(XmlElement& element) {
  std::ostringstream out;
  DumpTree(out, element);
  return out.str();
}

std::string Dump(const XmlDocument& doc) {
  std::ostringstream out;
  out << "status " << doc.GetParseStatus() << (doc.GetFileName() ? " named\n" : " unnamed\n");
  if (XmlHeader* header = doc.GetHeader()) {
    out << "declaration [" << header->GetDeclaration() << "] doctype [" << header->GetDoctype() << "]\n";
    DumpItems(out, "", "header comment", header->GetComments(), header->GetCommentCount(), nullptr);
  } else {
    out << "no header\n";
  }
  if (XmlElement* root = doc.GetRoot())
    DumpTree(out, *root);
  else
    out << "no root\n";
  return out.str();
}

std::string SavedForm(const std::string& text, const TempDir& dir) {
  const std::string path = dir.File("saved-form.xml");
  auto doc = Parse(text);
  doc->SetFileName(path.c_str());
  if (!doc->Save()) return "(save failed)";
  return ReadFile(path);
}

}  // namespace xmltest
