// Writing the tree back to its file in the fixed layout: CR LF line ends, one
// TAB per level (up to a fixed depth), stored strings written as they are.
#include "xml/FileNames.h"
#include "xml/FileReplace.h"
#include "xml/XmlInternal.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace xml_detail {
namespace {

// Collects the output in one large block and hands it to the stream in big
// writes; remembers whether any write failed.
constexpr std::size_t kMaxIndent = 8;

class Output {
 public:
  explicit Output(std::FILE* file) : file_(file), data_(new char[kSize]) {}

  void Put(const char* s, std::size_t n) {
    if (n > kSize - used_) {
      Flush();
      if (n >= kSize) {
        Write(s, n);
        return;
      }
    }
    std::memcpy(data_.get() + used_, s, n);
    used_ += n;
  }
  void Put(const Text& text) { Put(text.Get(), text.Size()); }
  void Put(const char* literal) { Put(literal, std::strlen(literal)); }

  // One TAB per level, up to kMaxIndent: indenting every line by its full
  // depth would make the file grow with the square of the nesting, and a
  // deeply nested file would save to more than can ever be read back.
  void Tabs(std::size_t count) {
    static const char kTabs[kMaxIndent + 1] = "\t\t\t\t\t\t\t\t";
    Put(kTabs, count < kMaxIndent ? count : kMaxIndent);
  }

  bool Finish() {
    Flush();
    return ok_;
  }

 private:
  static constexpr std::size_t kSize = 1 << 20;

  void Flush() {
    if (used_) Write(data_.get(), used_);
    used_ = 0;
  }
  void Write(const char* s, std::size_t n) {
    if (ok_ && std::fwrite(s, 1, n, file_) != n) ok_ = false;
  }

  std::FILE* file_;
  std::unique_ptr<char[]> data_;
  std::size_t used_ = 0;
  bool ok_ = true;
};

void PutComment(Output& out, std::size_t depth, const XmlComment& comment) {
  out.Tabs(depth);
  out.Put("<!--", 4);
  out.Put(Access::TextOf(comment));
  out.Put("-->\r\n", 5);
}

void PutCData(Output& out, std::size_t depth, const XmlCData& cdata) {
  out.Tabs(depth);
  out.Put("<![CDATA[", 9);
  out.Put(Access::TextOf(cdata));
  out.Put("]]>\r\n", 5);
}

void PutContent(Output& out, std::size_t depth, const XmlContent& content) {
  out.Tabs(depth);
  out.Put(Access::TextOf(content));
  out.Put("\r\n", 2);
}

// One element in the middle of being written.
struct Open {
  const XmlElement* element;
  std::size_t depth;
  std::uint32_t child = 0;  // the next child to write
  std::uint32_t comment = 0, content = 0, cdata = 0;  // how many are written
};

bool IsEmpty(const XmlElement& e) {
  return Access::Children(e).Count() == 0 && Access::Contents(e).Count() == 0 &&
         Access::Comments(e).Count() == 0 && Access::CDatas(e).Count() == 0;
}

// Writes the start tag; true when the element needs a body and an end tag.
bool PutStartTag(Output& out, const XmlElement& e, std::size_t depth) {
  out.Tabs(depth);
  out.Put("<", 1);
  out.Put(Access::Name(e));
  const AttributeList& attributes = Access::Attributes(e);
  for (std::uint32_t i = 0; i < attributes.Count(); ++i) {
    const XmlAttribute& a = *attributes.At(i);
    out.Put(" ", 1);
    out.Put(Access::Name(a));
    out.Put("=\"", 2);
    out.Put(Access::Value(a));
    out.Put("\"", 1);
  }
  if (IsEmpty(e)) {
    out.Put("/>\r\n", 4);
    return false;
  }
  out.Put(">\r\n", 3);
  return true;
}

// Items are written in array order while their position has been reached.
template <class Item, class Writer>
void PutWhileAt(Output& out, const OwningArray<Item>& items, std::uint32_t& written, long long child,
                std::size_t depth, Writer write) {
  while (written < items.Count() && items.At(written)->GetPosition() <= child) write(out, depth, *items.At(written++));
}

template <class Item, class Writer>
void PutRest(Output& out, const OwningArray<Item>& items, std::uint32_t& written, std::size_t depth,
             Writer write) {
  while (written < items.Count()) write(out, depth, *items.At(written++));
}

// Depth first with an explicit stack: nesting depth is the file's business.
void PutElement(Output& out, const XmlElement& root) {
  std::vector<Open> open;
  if (PutStartTag(out, root, 0)) open.push_back(Open{&root, 0});
  while (!open.empty()) {
    Open& o = open.back();
    const XmlElement& e = *o.element;
    const std::size_t inner = o.depth + 1;
    const OwningArray<XmlElement>& children = Access::Children(e);
    if (o.child < children.Count()) {
      const long long k = o.child;
      PutWhileAt(out, Access::Comments(e), o.comment, k, inner, PutComment);
      // CDATA sections come along only while texts are still to be written;
      // otherwise they wait until after the last child.
      if (o.content < Access::Contents(e).Count()) {
        PutWhileAt(out, Access::Contents(e), o.content, k, inner, PutContent);
        PutWhileAt(out, Access::CDatas(e), o.cdata, k, inner, PutCData);
      }
      const XmlElement& child = *children.At(o.child++);
      if (PutStartTag(out, child, inner)) open.push_back(Open{&child, inner});  // o is invalid from here
      continue;
    }
    PutRest(out, Access::Comments(e), o.comment, inner, PutComment);
    PutRest(out, Access::CDatas(e), o.cdata, inner, PutCData);
    PutRest(out, Access::Contents(e), o.content, inner, PutContent);
    out.Tabs(o.depth);
    out.Put("</", 2);
    out.Put(Access::Name(e));
    out.Put(">\r\n", 3);
    open.pop_back();
  }
}

}  // namespace

bool WriteDocument(const XmlHeader& header, const XmlElement& root, std::FILE* file) {
  Output out(file);
  out.Put(header.GetDeclaration());
  out.Put("\r\n", 2);
  if (*header.GetDoctype()) {
    out.Put("<!", 2);
    out.Put(header.GetDoctype());
    out.Put(">\r\n", 3);
  }
  const OwningArray<XmlComment>& comments = Access::Comments(header);
  for (std::uint32_t i = 0; i < comments.Count(); ++i)
    if (comments.At(i)->GetPosition() <= 0) PutComment(out, 0, *comments.At(i));
  PutElement(out, root);
  for (std::uint32_t i = 0; i < comments.Count(); ++i)
    if (comments.At(i)->GetPosition() > 0) PutComment(out, 0, *comments.At(i));
  return out.Finish();
}

}  // namespace xml_detail

bool XmlDocument::Save() const {
  // Without a root there is nothing to write; writing the header alone would
  // wipe out whatever the file held that failed to read.
  if (!hasFileName_ || !header_ || !root_) return false;
  const std::string target = xml_detail::ResolveSaveTarget(fileName_);
  std::string temp;
  std::FILE* file = xml_detail::OpenTempBeside(target, temp);
  if (!file) return false;
  bool ok = xml_detail::WriteDocument(*header_, *root_, file);
  ok = xml_detail::FlushToDisk(file) && ok;
  ok = std::fclose(file) == 0 && ok;
  ok = ok && xml_detail::MoveOver(temp, target);
  if (!ok) RemoveFileUtf8(temp);
  return ok;
}
