// Internals of the XML library shared by its sources and its tests; not for the
// rest of the program.
#pragma once

#include "text/TextConvert.h"
#include "xml/Xml.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace xml_detail {

// Texts longer than this are not read (the file format keeps 32-bit lengths).
constexpr std::size_t kMaxTextSize = 0x7FFFFFFF;

constexpr std::size_t kDefaultDeclarationLength = 56;
extern const char kDefaultDeclaration[kDefaultDeclarationLength + 1];
extern const char kByteOrderMark[];       // EF BB BF

// Memory for everything a parse builds: nodes, exact-size pointer arrays and
// the few strings that cannot point into the text. Handed out in order from
// large chunks and freed all at once with the document.
class Arena {
 public:
  explicit Arena(std::size_t firstChunk) : nextChunk_(firstChunk < 4096 ? 4096 : firstChunk) {}
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // Aligned for any node type of the library.
  void* Allocate(std::size_t bytes);
  template <class T>
  T** NewPointerArray(std::size_t count) {
    return static_cast<T**>(Allocate(count * sizeof(T*)));
  }
  char* CopyString(const char* s, std::size_t length);
  // Takes over everything other holds, which then holds nothing.
  void Absorb(Arena& other) noexcept;

 private:
  static constexpr std::size_t kAlign = 8;
  static constexpr std::size_t kLargestChunk = 4 << 20;
  struct Chunk {
    Chunk* next;
  };
  void* NewChunk(std::size_t bytes, bool makeCurrent);

  Chunk* chunks_ = nullptr;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  std::size_t nextChunk_;
};

inline std::uint64_t Load64(const char* s) {
  std::uint64_t word;
  std::memcpy(&word, s, 8);
  return word;
}

inline std::uint32_t Load32(const char* s) {
  std::uint32_t word;
  std::memcpy(&word, s, 4);
  return word;
}

// Whether the first n bytes (n > 0) of a and b are equal; short strings, the
// common case, take two loads each.
inline bool SameBytes(const char* a, const char* b, std::size_t n) {
  if (n >= 8) {
    if (n > 16) return std::memcmp(a, b, n) == 0;
    return Load64(a) == Load64(b) && Load64(a + n - 8) == Load64(b + n - 8);
  }
  if (n >= 4) return Load32(a) == Load32(b) && Load32(a + n - 4) == Load32(b + n - 4);
  return a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1];
}

// Copies of the strings a parse keeps, in an arena, each kept once: the games
// of a database are made from one template, so most of their values, their
// help texts and every name repeat thousands of times. Equal strings share one
// copy, which is safe because a stored string is never changed in place (a
// node that gets a new text gets a new string).
class StringPool {
 public:
  explicit StringPool(Arena& arena);
  StringPool(const StringPool&) = delete;
  StringPool& operator=(const StringPool&) = delete;

  // A NUL-terminated copy of s[0, length) that lives as long as the arena.
  const char* Intern(const char* s, std::size_t length);

  // A string kept before, as a guess at the next one in the same place.
  struct Guess {
    const char* text = nullptr;
    std::size_t size = 0;
  };
  // As Intern, but first tries guess, which is set to the result: the
  // strings in one place of one kind of tag mostly repeat, and comparing
  // costs less than looking up.
  const char* Intern(const char* s, std::size_t length, Guess& guess) {
    if (length == 0) return "";
    if (!(guess.text && guess.size == length && SameBytes(guess.text, s, length)))
      guess = Guess{Intern(s, length), length};
    return guess.text;
  }

 private:
  struct Slot {
    const char* text;
    std::uint32_t size;
    std::uint32_t hash;
  };
  void Grow();
  static constexpr std::size_t kMaxSlots = std::size_t(1) << 20;

  Arena& arena_;
  std::unique_ptr<Slot[]> slots_;  // open addressing; mask_ + 1 of them, a power of two
  std::size_t mask_;
  std::size_t used_ = 0;
};

// The private parts of the nodes, for the reader, the writer and Clone.
struct Access {
  template <class Node>
  static Node* NewIn(Arena& arena) {
    static_assert(alignof(Node) <= 8, "arena alignment");
    Node* node = new (arena.Allocate(sizeof(Node))) Node();
    node->inArena_ = true;
    return node;
  }
  template <class Node>
  static bool InArena(const Node& node) {
    return node.InArena();
  }
  template <class Node>
  static void SetPlace(Node& item, XmlElement* parent, int position) {
    item.parent_ = parent;
    item.position_ = position;
  }
  static std::unique_ptr<XmlElement> NewElement() { return std::unique_ptr<XmlElement>(new XmlElement()); }
  static std::unique_ptr<XmlAttribute> NewAttribute() { return std::unique_ptr<XmlAttribute>(new XmlAttribute()); }
  static std::unique_ptr<XmlHeader> NewHeader() { return std::unique_ptr<XmlHeader>(new XmlHeader()); }
  template <class Node>
  static std::unique_ptr<Node> NewItem(XmlElement* parent, int position) {
    std::unique_ptr<Node> item(new Node());
    item->parent_ = parent;
    item->position_ = position;
    return item;
  }

  static Text& Name(XmlElement& e) { return e.name_; }
  static const Text& Name(const XmlElement& e) { return e.name_; }
  static Text& Name(XmlAttribute& a) { return a.name_; }
  static const Text& Name(const XmlAttribute& a) { return a.name_; }
  static Text& Value(XmlAttribute& a) { return a.value_; }
  static const Text& Value(const XmlAttribute& a) { return a.value_; }
  template <class Item>
  static Text& TextOf(Item& item) { return item.text_; }
  template <class Item>
  static const Text& TextOf(const Item& item) { return item.text_; }

  static void SetParent(XmlElement& e, XmlElement* parent) { e.parent_ = parent; }
  static void SetParent(XmlAttribute& a, XmlElement* parent) { a.parent_ = parent; }

  static OwningArray<XmlElement>& Children(XmlElement& e) { return e.children_; }
  static const OwningArray<XmlElement>& Children(const XmlElement& e) { return e.children_; }
  static AttributeList& Attributes(XmlElement& e) { return e.attributes_; }
  static const AttributeList& Attributes(const XmlElement& e) { return e.attributes_; }
  static OwningArray<XmlComment>& Comments(XmlElement& e) { return e.comments_; }
  static const OwningArray<XmlComment>& Comments(const XmlElement& e) { return e.comments_; }
  static OwningArray<XmlContent>& Contents(XmlElement& e) { return e.contents_; }
  static const OwningArray<XmlContent>& Contents(const XmlElement& e) { return e.contents_; }
  static OwningArray<XmlCData>& CDatas(XmlElement& e) { return e.cdatas_; }
  static const OwningArray<XmlCData>& CDatas(const XmlElement& e) { return e.cdatas_; }

  static Text& Declaration(XmlHeader& h) { return h.declaration_; }
  static Text& Doctype(XmlHeader& h) { return h.doctype_; }
  static OwningArray<XmlComment>& Comments(XmlHeader& h) { return h.comments_; }
  static const OwningArray<XmlComment>& Comments(const XmlHeader& h) { return h.comments_; }

  static std::unique_ptr<char[]>& Buffer(XmlDocument& d) { return d.text_; }
  static std::unique_ptr<Arena>& ArenaOf(XmlDocument& d) { return d.arena_; }
  static std::unique_ptr<XmlHeader>& Header(XmlDocument& d) { return d.header_; }
  static std::unique_ptr<XmlElement, NodeDeleter>& Root(XmlDocument& d) { return d.root_; }
  static void SetStatus(XmlDocument& d, int status) { d.status_ = status; }
  static void DropFileName(XmlDocument& d) { d.SetFileName(nullptr); }
  static void Clear(XmlDocument& d) { d.Clear(); }
};

// --- text -------------------------------------------------------------------

// Converts UTF-16LE bytes (an odd last byte is ignored) up to the first zero
// code unit. Surrogate pairs become one character, a lone surrogate U+FFFD.
// dst needs room for 3 bytes per code unit; no terminator is written.
std::size_t Utf16LeToUtf8(const unsigned char* src, std::size_t byteCount, char* dst);
// XmlEncodeEntities of the first length bytes of src.
std::size_t EncodeRange(const char* src, std::size_t length, char* dst);
std::string DecodeToString(const char* stored, std::size_t length);
// Writes the plain form of a stored text into a caller buffer, cut to fit.
std::size_t WritePlain(const Text& stored, char* buffer, std::size_t bufferSize);
// Whether the plain form of stored equals plain[0, length).
bool PlainEquals(const Text& stored, const char* plain, std::size_t length);

// --- reading ----------------------------------------------------------------

struct ElementEnd {
  const char* endTagStart;  // the "<" of the end tag that closes the element
  const char* end;          // just after that end tag's ">"
};

// Finds the end of the non-empty element whose start tag begins at lt by
// counting tag depth, reading nothing at or after bound.
using ElementEndFinder = bool (*)(const char* lt, const char* bound, ElementEnd* out);
bool FindElementEnd(const char* lt, const char* bound, ElementEnd* out);

// Builds an element from the text of one tag; copies every string.
std::unique_ptr<XmlElement> BuildElementFromText(const char* text, std::size_t length);

// ParseText with a chosen element-end finder, which makes the reader parse
// region by region: each element's body once its end is known. Null: the
// reader's own single pass, which must build the same tree.
void ParseTextWith(XmlDocument& doc, const char* text, ElementEndFinder finder);

class FileView;

// Replaces the contents with the parse of exactly length bytes of text, which
// are only read and need not end with a NUL (a file seen in place, given as
// view, whose pages are let go as the reading passes them); the file name is
// kept.
void ParseBytes(XmlDocument& doc, const char* text, std::size_t length, FileView* view = nullptr);

// A text read in pieces, each on a processor of its own, is cut where a
// piece would have at least this much to read; into this many at most.
constexpr std::size_t kLeastPiece = 2u << 20;
constexpr std::size_t kMostPieces = 4;
// Where each piece past the first begins: the first start tag past its share
// of the text that follows the end tag of an element of its own name. Empty
// for a text too short to gain from it.
std::vector<std::size_t> PieceStarts(const char* text, std::size_t length, unsigned processors);
// ParseBytes that hands the text from each of starts (offsets, in order) on to
// a reader of its own, on a thread of its own when threads is set. A piece is
// taken in only where the reading arrives exactly at its start, so the tree
// is the one a single reader builds. Returns how many were taken in.
// underWay, if given, is called once the pieces run, before the reading.
std::size_t ParseInPieces(XmlDocument& doc, const char* text, std::size_t length,
                          const std::vector<std::size_t>& starts, bool threads, FileView* view = nullptr,
                          const std::function<void()>& underWay = {});

// --- writing ----------------------------------------------------------------

// Writes the document in the file layout; false when a write fails.
bool WriteDocument(const XmlHeader& header, const XmlElement& root, std::FILE* file);

}  // namespace xml_detail
