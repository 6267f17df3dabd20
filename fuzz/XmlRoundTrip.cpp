#include "XmlRoundTrip.h"

#include "xml/Xml.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace xmlcheck {
namespace {

class Failures {
public:
  void Add(const std::string& what) { list_.push_back(what); }
  void Check(bool ok, const std::string& what) {
    if (!ok) Add(what);
  }
  std::vector<std::string> Take() { return std::move(list_); }

private:
  std::vector<std::string> list_;
};

bool Contains(const std::string& s, const char* piece) {
  return s.find(piece) != std::string::npos;
}

bool ContainsAnyOf(const std::string& s, const char* chars) {
  return s.find_first_of(chars) != std::string::npos;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out + "\"";
}

std::string Decode(const char* src, std::size_t length) {
  std::vector<char> out(length + 1);
  std::size_t n = XmlDecodeEntities(src, out.data(), length);
  return std::string(out.data(), n);
}

// The encoder and decoder on the raw input. The source of the decoder is an
// exact-size copy without a terminator: the caller hands over a length, so
// nothing past it may be read.
void CheckEntities(const std::string& text, Failures& f) {
  std::size_t predicted = XmlEncodeEntities(text.c_str(), nullptr);
  std::vector<char> encoded(predicted + 1, '\x7f');
  std::size_t written = XmlEncodeEntities(text.c_str(), encoded.data());
  f.Check(written == predicted, "XmlEncodeEntities: length with and without a buffer differ");
  f.Check(std::strlen(encoded.data()) == written, "XmlEncodeEntities: result not terminated at its length");

  std::unique_ptr<char[]> exact(new char[text.size() ? text.size() : 1]);
  std::memcpy(exact.get(), text.data(), text.size());
  std::vector<char> decoded(text.size() + 1, '\x7f');
  std::size_t n = XmlDecodeEntities(exact.get(), decoded.data(), text.size());
  f.Check(n <= text.size(), "XmlDecodeEntities: result longer than its source");
  if (n <= text.size())
    f.Check(std::strlen(decoded.data()) == n, "XmlDecodeEntities: result not terminated at its length");

  // Character references are the one thing the encoder lets through on
  // purpose, so only texts without "&#" must come back unchanged.
  if (!Contains(text, "&#")) {
    std::string back = Decode(encoded.data(), written);
    f.Check(back == text, "decode(encode(x)) != x for x = " + Quote(text));
  }
}

std::string Name(XmlElement* e) { return e->GetName(); }

// Visits every element of the subtree in document order with its depth. An
// explicit stack: the reader takes documents nested far deeper than the
// call stack would.
template <class Visit>
void ForEachElement(XmlElement* top, Visit visit) {
  std::vector<std::pair<XmlElement*, int>> stack{{top, 0}};
  while (!stack.empty()) {
    auto [e, depth] = stack.back();
    stack.pop_back();
    if (!visit(e, depth)) continue;
    XmlElement** kids = e->GetChildren();
    for (unsigned i = e->GetChildCount(); i-- > 0;)
      if (kids[i]) stack.emplace_back(kids[i], depth + 1);
  }
}

// A tree whose Save output must read back into a tree that saves to the very
// same bytes. Beyond the escaped names and CDATA holding "]]>" that the format
// itself cannot carry, this leaves out what no writer output can look like
// and still read back as the same thing: a nameless element ("</>" is an end
// tag), a name that starts a comment, declaration or processing instruction,
// and attribute names holding a quote or a slash (the element-end scan reacts to
// both outside values). Values may hold anything: they are passed over whole.
bool IsRoundTripSafeNode(XmlElement* e) {
  std::string name = e->GetStoredName();
  if (name.empty() || Contains(name, "&") || name[0] == '!' || name[0] == '?') return false;
  XmlAttribute** attrs = e->GetAttributes();
  for (unsigned i = 0; i < e->GetAttributeCount(); ++i) {
    if (ContainsAnyOf(attrs[i]->GetStoredName(), "\"/<>")) return false;
  }
  XmlCData** cdatas = e->GetCDatas();
  for (unsigned i = 0; i < e->GetCDataCount(); ++i)
    if (Contains(cdatas[i]->GetText(), "]]>")) return false;
  XmlComment** comments = e->GetComments();
  for (unsigned i = 0; i < e->GetCommentCount(); ++i)
    if (Contains(comments[i]->GetText(), "-->")) return false;
  return true;
}

bool IsRoundTripSafe(XmlElement* root) {
  bool safe = true;
  ForEachElement(root, [&](XmlElement* e, int) { return safe = safe && IsRoundTripSafeNode(e); });
  return safe;
}

// A plain, order-preserving dump of everything the public interface shows,
// used to compare two trees that must be the same.
template <class Item>
void DescribeItems(const char* kind, Item** items, unsigned count, std::ostringstream& out) {
  for (unsigned i = 0; i < count; ++i) out << ' ' << kind << '@' << items[i]->GetPosition() << Quote(items[i]->GetText());
}

void DescribeNode(XmlElement* e, std::ostringstream& out, int depth) {
  out << depth << ' ' << Quote(e->GetStoredName());
  XmlAttribute** attrs = e->GetAttributes();
  for (unsigned i = 0; i < e->GetAttributeCount(); ++i)
    out << ' ' << Quote(attrs[i]->GetStoredName()) << '=' << Quote(attrs[i]->GetStoredValue());
  DescribeItems("cdata", e->GetCDatas(), e->GetCDataCount(), out);
  DescribeItems("comment", e->GetComments(), e->GetCommentCount(), out);
  XmlContent** contents = e->GetContents();
  for (unsigned i = 0; i < e->GetContentCount(); ++i)
    out << " text@" << contents[i]->GetPosition() << Quote(contents[i]->GetStoredText());
  out << '\n';
}

std::string Describe(const XmlDocument& doc) {
  std::ostringstream out;
  out << "status " << doc.GetParseStatus() << '\n';
  if (XmlHeader* header = doc.GetHeader()) {
    out << "declaration " << Quote(header->GetDeclaration()) << " doctype " << Quote(header->GetDoctype());
    DescribeItems("comment", header->GetComments(), header->GetCommentCount(), out);
    out << '\n';
  }
  if (XmlElement* root = doc.GetRoot())
    ForEachElement(root, [&](XmlElement* e, int depth) {
      DescribeNode(e, out, depth);
      return true;
    });
  else out << "no root\n";
  return out.str();
}

// Mirrors GetValueInt's rule where it is unambiguous: blanks, an optional
// minus, at most nine digits (so that the number fits any int).
bool ExpectedInt(const std::string& v, int& expected) {
  std::size_t i = 0;
  while (i < v.size() && v[i] == ' ') ++i;
  if (i == v.size()) return false;
  unsigned char first = static_cast<unsigned char>(v[i]);
  if (first != '-' && (first < '0' || first > '9')) {
    // A value that starts with a visible character other than a sign is no
    // number; which other blanks may lead and whether '+' counts is left open.
    if (i != 0 || first < 0x21 || first > 0x7e || first == '+') return false;
    expected = 0;
    return true;
  }
  bool negative = first == '-';
  if (negative) ++i;
  std::size_t start = i;
  long value = 0;
  while (i < v.size() && v[i] >= '0' && v[i] <= '9' && i - start < 10) value = value * 10 + (v[i++] - '0');
  std::size_t digits = i - start;
  if (digits == 0 || digits > 9) return false;
  expected = static_cast<int>(negative ? -value : value);
  return true;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if (!IsContinuationByte(s[i + k])) return false;
    i += n;
  }
  return true;
}

// The fixed-size buffers the launcher reads names, values and paths into:
// whatever the size, the result is a terminated prefix of the plain text that
// fits, and a valid UTF-8 text is never cut inside a character.
template <class Get>
void CheckBufferGetter(const char* what, const std::string& full, Get get, Failures& f) {
  const std::size_t sizes[] = {1, 2, 7, full.size(), full.size() + 1, 1000};
  for (std::size_t size : sizes) {
    if (size == 0) continue;
    std::vector<char> buffer(size + 1, '\x7f');
    std::size_t n = get(buffer.data(), size);
    if (n >= size || buffer[n] != '\0' || buffer[size] != '\x7f') {
      f.Add(std::string(what) + ": buffer of " + std::to_string(size) + " overrun or not terminated");
      continue;
    }
    std::string got(buffer.data(), n);
    f.Check(full.compare(0, n, got) == 0, std::string(what) + ": not a prefix of the whole text");
    if (n < full.size() && IsValidUtf8(full)) {
      f.Check(!IsContinuationByte(full[n]), std::string(what) + ": cut inside a UTF-8 sequence");
      f.Check(n + 4 >= size, std::string(what) + ": cut shorter than the buffer needs");
    }
  }
}

void CheckAttributes(XmlElement* e, Failures& f) {
  XmlAttribute** attrs = e->GetAttributes();
  unsigned count = e->GetAttributeCount();
  for (unsigned i = 0; i < count; ++i) {
    std::string name = attrs[i]->GetName();
    XmlAttribute* found = e->FindAttribute(name.c_str());
    unsigned first = 0;
    while (attrs[first]->GetName() != name) ++first;
    f.Check(found == attrs[first], "FindAttribute does not return the first attribute named " + Quote(name));

    std::string value = attrs[i]->GetValue();
    f.Check(attrs[i]->GetValue(nullptr) >= value.size(), "GetValue: plain value longer than the stored one");
    XmlAttribute* a = attrs[i];
    CheckBufferGetter("XmlAttribute::GetValue", value, [a](char* b, std::size_t n) { return a->GetValue(b, n); }, f);
    CheckBufferGetter("XmlAttribute::GetName", name, [a](char* b, std::size_t n) { return a->GetName(b, n); }, f);
    int expected = 0;
    if (ExpectedInt(value, expected))
      f.Check(attrs[i]->GetValueInt() == expected, "GetValueInt of " + Quote(value));
    else
      (void)attrs[i]->GetValueInt();
  }
}

void CheckChildLookups(XmlElement* e, Failures& f) {
  XmlElement** kids = e->GetChildren();
  unsigned count = e->GetChildCount();
  for (unsigned i = 0; i < count; ++i) {
    f.Check(kids[i] != nullptr, "null child slot below the count");
    if (!kids[i]) return;
    std::string name = Name(kids[i]);
    unsigned first = 0;
    while (Name(kids[first]) != name) ++first;
    f.Check(e->FindChild(name.c_str()) == kids[first], "FindChild does not return the first child named " + Quote(name));
  }
}

// FindByPath from the root undoes GetPath as long as no element on the way
// has an earlier sibling of the same name and no name holds a backslash.
bool PathIsUnambiguous(XmlElement* e, XmlElement* root) {
  for (XmlElement* at = e; at != root; at = at->GetParent()) {
    XmlElement* parent = at->GetParent();
    if (!parent) return false;
    std::string name = Name(at);
    if (name.empty() || Contains(name, "\\")) return false;
    XmlElement** kids = parent->GetChildren();
    for (unsigned i = 0; kids[i] != at; ++i)
      if (Name(kids[i]) == name) return false;
  }
  return true;
}

void CheckPath(XmlElement* e, XmlElement* root, int depth, Failures& f) {
  std::string path = e->GetPath();
  f.Check(path.size() <= 4999, "a path longer than 4,999 bytes");
  if (e != root)
    CheckBufferGetter("XmlElement::GetPath", path, [e](char* b, std::size_t n) { return e->GetPath(b, n); }, f);
  const std::string name = Name(e);
  CheckBufferGetter("XmlElement::GetName", name, [e](char* b, std::size_t n) { return e->GetName(b, n); }, f);
  if (e == root) {
    f.Check(path.empty(), "GetPath of the root is not empty");
    f.Check(root->FindByPath("") == root, "FindByPath(\"\") does not yield the element itself");
  } else if (depth < 200 && PathIsUnambiguous(e, root)) {
    f.Check(root->FindByPath(path.c_str()) == e, "FindByPath(GetPath()) misses " + Quote(path));
  }
}

void CheckElementNode(XmlElement* e, XmlElement* root, int depth, Failures& f) {
  // A path costs its depth to build, so deep chains only check their ends.
  if (depth < 200 || e->GetChildCount() == 0) CheckPath(e, root, depth, f);

  // A parsed item's position is the number of children read before it.
  int children = static_cast<int>(e->GetChildCount());
  for (unsigned i = 0; i < e->GetCDataCount(); ++i)
    f.Check(e->GetCDatas()[i]->GetPosition() >= 0 && e->GetCDatas()[i]->GetPosition() <= children,
            "CDATA position outside 0..child count");
  for (unsigned i = 0; i < e->GetCommentCount(); ++i)
    f.Check(e->GetComments()[i]->GetPosition() >= 0 && e->GetComments()[i]->GetPosition() <= children,
            "comment position outside 0..child count");
  for (unsigned i = 0; i < e->GetContentCount(); ++i) {
    XmlContent* content = e->GetContents()[i];
    f.Check(content->GetPosition() >= 0 && content->GetPosition() <= children, "text position outside 0..child count");
    f.Check(content->GetParent() == e, "text whose parent is not its holder");
  }
  f.Check(e->GetText() == (e->GetContentCount() ? e->GetContents()[0]->GetText() : std::string()),
          "GetText is not the plain text of the first content");
  CheckAttributes(e, f);
  CheckChildLookups(e, f);
  XmlElement** kids = e->GetChildren();
  for (unsigned i = 0; i < e->GetChildCount(); ++i)
    if (kids[i]) f.Check(kids[i]->GetParent() == e, "child whose parent pointer is not its holder");
}

// Clone copies every attribute, CDATA section and child in order; names and
// values are re-encoded from their plain form, so they only compare when the
// plain form survives encoding and holds nothing a tag would stop at.
void CheckCloneNode(XmlElement* original, XmlElement* copy, Failures& f) {
  std::string name = Name(original);
  if (!Contains(name, "&#") && !ContainsAnyOf(name, " \t\r\n\"/<>"))
    f.Check(Name(copy) == name, "Clone changed the name " + Quote(name));
  XmlAttribute** a = original->GetAttributes();
  XmlAttribute** b = copy->GetAttributes();
  for (unsigned i = 0; i < original->GetAttributeCount(); ++i) {
    std::string value = a[i]->GetValue();
    if (!Contains(value, "&#"))
      f.Check(b[i]->GetValue() == value, "Clone changed the value " + Quote(value));
  }
  XmlCData** ca = original->GetCDatas();
  XmlCData** cb = copy->GetCDatas();
  for (unsigned i = 0; i < original->GetCDataCount(); ++i) {
    f.Check(std::string(ca[i]->GetText()) == cb[i]->GetText(), "Clone changed a CDATA text");
    f.Check(ca[i]->GetPosition() == cb[i]->GetPosition(), "Clone changed a CDATA position");
  }
}

void CheckClone(XmlElement* original, XmlElement* copy, Failures& f) {
  std::vector<std::pair<XmlElement*, XmlElement*>> stack{{original, copy}};
  while (!stack.empty()) {
    auto [a, b] = stack.back();
    stack.pop_back();
    if (b->GetChildCount() != a->GetChildCount() || b->GetAttributeCount() != a->GetAttributeCount() ||
        b->GetCDataCount() != a->GetCDataCount()) {
      f.Add("Clone of " + Quote(Name(a)) + " has a different number of children, attributes or CDATA sections");
      continue;
    }
    CheckCloneNode(a, b, f);
    for (unsigned i = 0; i < a->GetChildCount(); ++i) {
      f.Check(b->GetChildren()[i]->GetParent() == b, "Clone: child parent pointer not set");
      stack.emplace_back(a->GetChildren()[i], b->GetChildren()[i]);
    }
  }
}

// Edits on a private copy of the root: setting a value stores its encoded
// form and hands the plain text back; removing children shifts the rest.
void CheckEdits(XmlElement* root, const std::string& text, Failures& f) {
  std::unique_ptr<XmlElement> copy = root->Clone();
  CheckClone(root, copy.get(), f);

  XmlAttribute* attr = copy->FindAttribute("fuzz", true);
  f.Check(attr != nullptr && attr->GetName() == "fuzz", "FindAttribute with create did not give the attribute");
  if (attr) {
    attr->SetValue(text.c_str());
    if (!Contains(text, "&#")) f.Check(attr->GetValue() == text, "SetValue/GetValue changed " + Quote(text));
    (void)attr->GetValueInt();
  }

  unsigned before = copy->GetChildCount();
  XmlElement* added = copy->AddChildFromText(text.c_str());
  f.Check(added != nullptr && copy->GetChildCount() == before + 1 && copy->GetChildren()[before] == added,
          "AddChildFromText did not append one element");
  unsigned count = copy->GetChildCount();
  f.Check(copy->RemoveChild(count) == count, "RemoveChild past the end changed the count");
  if (count >= 2) {
    XmlElement* second = copy->GetChildren()[1];
    f.Check(copy->RemoveChild(0) == count - 1 && copy->GetChildren()[0] == second,
            "RemoveChild(0) did not shift the later children down");
  }
  copy->AddCData(text.c_str(), 0);
  XmlCData* cdata = copy->GetCDatas()[copy->GetCDataCount() - 1];
  f.Check(cdata->GetText() == text, "AddCData did not keep the raw text");
  cdata->SetText(cdata->GetText());  // its own text: the old one must outlive the copy
  f.Check(cdata->GetText() == text, "SetText with the section's own text changed it");

  // With create, a missing child is appended, and asking again finds it.
  bool simpleName = !text.empty() && text.size() < 64 &&
                    text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-:") ==
                        std::string::npos;
  XmlElement* created = copy->FindChild(text.c_str(), true);
  if (simpleName) {
    f.Check(created != nullptr && Name(created) == text, "FindChild with create gave another name");
    f.Check(copy->FindChild(text.c_str()) == created, "FindChild does not find what it created");
  }
}

void CheckDocument(const XmlDocument& doc, const std::string& text, const char* how, Failures& f) {
  int status = doc.GetParseStatus();
  f.Check(status >= 0 && status <= 2, std::string(how) + ": parse status out of range");
  XmlElement* root = doc.GetRoot();
  f.Check(doc.IsIntact() == (root != nullptr), std::string(how) + ": IsIntact disagrees with the presence of a root");
  if (!root) return;  // a text without any element, or one whose root never ends
  f.Check(root->GetParent() == nullptr, std::string(how) + ": the root has a parent");
  ForEachElement(root, [&](XmlElement* e, int depth) {
    CheckElementNode(e, root, depth, f);
    return true;
  });
  CheckEdits(root, text, f);
}

// What Save will write, give or take the texts themselves: every element
// and item is indented by its depth in TABs, up to eight.
std::uint64_t IndentationBytes(XmlElement* root) {
  std::uint64_t total = 0;
  ForEachElement(root, [&](XmlElement* e, int depth) {
    std::uint64_t d = static_cast<std::uint64_t>(depth < 8 ? depth : 8);
    total += 2 * d + 8;
    total += (d + 1) * (e->GetCDataCount() + e->GetCommentCount() + e->GetContentCount());
    return true;
  });
  return total;
}

// Beyond this the save round trip is skipped; the reader checks still run.
constexpr std::uint64_t kLargestSave = 16u << 20;

}  // namespace

std::vector<std::string> CheckInput(const std::uint8_t* data, std::size_t size, const std::string& workDir) {
  Failures f;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string text(bytes.c_str());  // the reader stops at the first NUL too

  CheckEntities(text, f);

  XmlDocument fromText;
  fromText.ParseText(text.c_str());
  CheckDocument(fromText, text, "ParseText", f);
  f.Check(fromText.GetFileName() == nullptr, "ParseText left a file name");
  f.Check(!fromText.Save(), "a document parsed from memory was saved");

  const std::string path = workDir + "/input.xml";
  if (!WriteFileBytes(path, bytes)) {
    f.Add("cannot write " + path);
    return f.Take();
  }
  XmlDocument fromFile(path.c_str());
  CheckDocument(fromFile, text, "file", f);

  const bool utf16 = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  if (!utf16 && !text.empty())
    f.Check(Describe(fromFile) == Describe(fromText), "the file and ParseText give different trees");

  if (fromFile.GetFileName() == nullptr) {
    // Dropped because the text is not XML (status 1, possibly raised to 2
    // later): such a file is never overwritten.
    f.Check(fromFile.GetParseStatus() != 0, "a file read with status 0 lost its name");
    f.Check(!fromFile.Save(), "a document without a file name was saved");
    f.Check(ReadFileBytes(path) == bytes, "a file that is not XML was changed");
    return f.Take();
  }
  f.Check(fromFile.GetParseStatus() != 1, "status 1 kept the file name");
  if (!fromFile.GetRoot()) {
    // Nothing readable to write: the file must stay as it was.
    f.Check(!fromFile.Save(), "a document without a root was saved");
    f.Check(ReadFileBytes(path) == bytes, "a failed Save changed the file");
    return f.Take();
  }
  if (IndentationBytes(fromFile.GetRoot()) > kLargestSave) return f.Take();
  if (!fromFile.Save()) {
    f.Add("Save of a loaded file failed");
    return f.Take();
  }
  const std::string first = ReadFileBytes(path);
  // However deep the nesting, the saved file stays within a few bytes of
  // layout (a line end, at most eight TABs, an escape) per byte read.
  f.Check(first.size() <= 8 * size + 256, "the saved file grew out of proportion to the input");
  f.Check(fromFile.Save() && ReadFileBytes(path) == first, "saving twice in a row gave different files");

  XmlDocument reread(path.c_str());
  CheckDocument(reread, first, "re-read", f);
  bool promised = IsRoundTripSafe(fromFile.GetRoot());
  if (promised)
    f.Check(reread.GetParseStatus() == 0, "a saved file reads back with status " + std::to_string(reread.GetParseStatus()));
  bool savedAgain = reread.Save();
  if (promised) {
    f.Check(savedAgain, "a saved file could not be saved again");
    if (savedAgain) {
      const std::string second = ReadFileBytes(path);
      if (second != first) f.Add("save/read/save changed the bytes: " + Quote(first) + " became " + Quote(second));
    }
  }
  return f.Take();
}

}  // namespace xmlcheck
