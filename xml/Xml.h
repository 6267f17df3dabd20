// The XML document library: an in-memory tree of elements, attributes, texts,
// comments and CDATA sections, read from and written to the program's own files.
//
// Names, attribute values and texts are kept in their stored form (escaped, the
// way they stand in the file) and handed out in their plain form (decoded).
// Comment and CDATA texts are raw: never escaped, never decoded.
//
// Ownership: a document owns its header and root, an element owns everything in
// its arrays. Pointers handed out by getters stay valid until the node itself is
// removed (RemoveChild, a new parse, or the document's end); growing an array
// never moves the nodes, but it does move the array that GetChildren() and its
// siblings return, so fetch that again after a change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class XmlDocument;
class XmlHeader;
class XmlElement;
class XmlAttribute;
class XmlContent;
class XmlComment;
class XmlCData;

// Escapes "&" (unless a "#" follows, so that character references survive), "<",
// ">", the double quote and "'". With dst null only the length is computed;
// otherwise dst receives the text and a terminating NUL.
std::size_t XmlEncodeEntities(const char* src, char* dst);
// Turns the five named references and character references of the first
// srcLength bytes of src back into text (references as UTF-8). Never reads past
// srcLength, never writes more than srcLength bytes plus the terminating NUL.
std::size_t XmlDecodeEntities(const char* src, char* dst, std::size_t srcLength);
std::string XmlEncode(const std::string& plain);
std::string XmlDecode(const std::string& stored);

namespace xml_detail {

struct Access;
class Arena;

// Ends a node's life whether it was allocated on its own or in a document's
// arena (where only its destructor runs; the arena frees the memory).
void DestroyNode(XmlElement* node) noexcept;
void DestroyNode(XmlComment* node) noexcept;
void DestroyNode(XmlContent* node) noexcept;
void DestroyNode(XmlCData* node) noexcept;

struct NodeDeleter {
  void operator()(XmlElement* node) const noexcept { DestroyNode(node); }
};

// A stored string: borrowed (from the text a document was parsed from, or from
// its arena, both of which the document keeps) or owned. Always
// NUL-terminated, never null. Packed into twelve bytes, the size sharing its
// word with the owned flag (sizes stay below 2 GiB): a large database holds
// millions of them, two in every attribute.
#pragma pack(push, 4)
class Text {
 public:
  Text() noexcept = default;
  ~Text() { Release(); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  const char* Get() const noexcept { return data_; }
  std::uint32_t Size() const noexcept { return bits_ & kSizeMask; }
  // data[size] must be a NUL that lives as long as this Text.
  void Borrow(const char* data, std::uint32_t size) noexcept {
    Release();
    data_ = data;
    bits_ = size & kSizeMask;
  }
  // Copies size bytes (cut at a character boundary if absurdly long).
  void Copy(const char* data, std::size_t size);
  // Takes over a buffer from new char[] holding size bytes and a NUL.
  void Adopt(char* data, std::uint32_t size) noexcept;
  void Swap(Text& other) noexcept;

 private:
  static constexpr std::uint32_t kOwned = 0x80000000u;
  static constexpr std::uint32_t kSizeMask = 0x7FFFFFFFu;
  void Release() noexcept {
    if (bits_ & kOwned) FreeOwned();
  }
  void FreeOwned() noexcept;
  const char* data_ = "";
  std::uint32_t bits_ = 0;
};
#pragma pack(pop)

// The capacity after growing from capacity (at least wanted when given).
std::uint32_t NextCapacity(std::uint32_t capacity, std::uint32_t wanted);

// A counted array of owned node pointers. Nodes never move; the pointer array
// itself is reallocated when it grows. An array read from a file sits in the
// document's arena, exactly as long as needed, until it has to grow.
template <class T>
class OwningArray {
 public:
  OwningArray() noexcept = default;
  ~OwningArray() { Clear(); }
  OwningArray(const OwningArray&) = delete;
  OwningArray& operator=(const OwningArray&) = delete;

  T** Data() const noexcept { return items_; }
  std::uint32_t Count() const noexcept { return count_; }
  T* At(std::uint32_t i) const noexcept { return items_[i]; }

  void Reserve(std::uint32_t capacity);
  T* Append(std::unique_ptr<T> item);
  // Only on an empty array: takes over count nodes listed in an arena array.
  void Adopt(T** items, std::uint32_t count) noexcept;
  // Puts item at index (at the end when index is past it); later items move up.
  T* InsertAt(std::uint32_t index, std::unique_ptr<T> item);
  void RemoveAt(std::uint32_t index) noexcept;
  void RemoveLast() noexcept;
  void Clear() noexcept;

 private:
  static constexpr std::uint32_t kInArena = 0x80000000u;  // flag in capacity_
  std::uint32_t Capacity() const noexcept { return capacity_ & ~kInArena; }
  void FreeItems() noexcept {
    if (!(capacity_ & kInArena)) delete[] items_;
  }

  T** items_ = nullptr;
  std::uint32_t count_ = 0;
  std::uint32_t capacity_ = 0;
};

// The attributes of an element. Those read from a file sit in one block per
// element (a big database has millions of them), and the list of pointers to
// them that GetAttributes() hands out is only made when asked for; those
// added later are allocated one by one, and the pointer list holds them too.
// Attributes are only ever appended, so the first BlockCount() are the
// block's.
class AttributeList {
 public:
  AttributeList() noexcept = default;
  ~AttributeList();
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;

  // Makes the pointer list if there is none yet.
  XmlAttribute** Data();
  XmlAttribute* At(std::uint32_t i) const noexcept;
  std::uint32_t Count() const noexcept { return count_; }
  // Only on an empty list: makes count default attributes in one block (in
  // the arena when given) and returns it.
  XmlAttribute* AllocateBlock(std::uint32_t count, Arena* arena = nullptr);
  XmlAttribute* Append(std::unique_ptr<XmlAttribute> attribute);

 private:
  static constexpr std::uint32_t kInArena = 0x80000000u;  // flag in blockCount_
  // The room of a pointer list holding count pointers: a function of the
  // count alone, so that it needs no field.
  static std::uint32_t Room(std::uint32_t count) noexcept;
  std::uint32_t BlockCount() const noexcept { return blockCount_ & ~kInArena; }
  void MakeItems(std::uint32_t room);

  XmlAttribute* block_ = nullptr;
  XmlAttribute** items_ = nullptr;  // null, or every attribute's pointer
  std::uint32_t count_ = 0;
  std::uint32_t blockCount_ = 0;
};

}  // namespace xml_detail

namespace xml_detail {

// What comments, CDATA sections and texts share: a parent, a stored text and a
// position (the number of the parent's child elements that precede the item).
class PositionedText {
 public:
  int GetPosition() const { return position_; }
  XmlElement* GetParent() const { return parent_; }

 protected:
  friend struct Access;
  PositionedText() = default;
  bool InArena() const noexcept { return inArena_; }

  XmlElement* parent_ = nullptr;
  Text text_;
  int position_ = 0;
  bool inArena_ = false;
};

}  // namespace xml_detail

class XmlComment : public xml_detail::PositionedText {
 public:
  const char* GetText() const { return text_.Get(); }  // raw

 private:
  friend struct xml_detail::Access;
  XmlComment() = default;
};

class XmlCData : public xml_detail::PositionedText {
 public:
  const char* GetText() const { return text_.Get(); }  // raw
  void SetText(const char* raw);

 private:
  friend struct xml_detail::Access;
  XmlCData() = default;
};

class XmlContent : public xml_detail::PositionedText {
 public:
  std::string GetText() const;  // plain
  const char* GetStoredText() const { return text_.Get(); }

 private:
  friend struct xml_detail::Access;
  XmlContent() = default;
};

class XmlAttribute {
 public:
  // Buffer getters write the plain text cut to fit bufferSize: always
  // NUL-terminated, never cut inside a UTF-8 sequence; they return the length
  // written. With buffer null they return the length of the stored text, which
  // plus one is always enough room for the plain text.
  std::size_t GetName(char* buffer, std::size_t bufferSize) const;
  std::size_t GetValue(char* buffer, std::size_t bufferSize = 0) const;
  std::string GetName() const;
  std::string GetValue() const;
  const char* GetStoredName() const { return name_.Get(); }
  const char* GetStoredValue() const { return value_.Get(); }
  // The plain value as a signed decimal number: leading blanks skipped, reading
  // stops at the first non-digit, 0 without digits, clamped to the int range.
  int GetValueInt() const;
  void SetValue(const char* plain);
  XmlElement* GetParent() const { return parent_; }

 private:
  friend struct xml_detail::Access;
  friend class xml_detail::AttributeList;
  XmlAttribute() = default;
  xml_detail::Text name_;
  xml_detail::Text value_;
  XmlElement* parent_ = nullptr;
};

class XmlElement {
 public:
  ~XmlElement();
  XmlElement(const XmlElement&) = delete;
  XmlElement& operator=(const XmlElement&) = delete;

  // A new element without parent, built from the text of one start tag or
  // empty-element tag (name and attributes; the rest is ignored), or from a
  // bare name.
  static std::unique_ptr<XmlElement> FromText(const char* startTag);

  std::size_t GetName(char* buffer, std::size_t bufferSize) const;  // buffer null: stored length
  std::string GetName() const;
  const char* GetStoredName() const { return name_.Get(); }

  // The plain names from below the root down to this element, joined by
  // backslashes; at most 4,999 bytes. For the root (no parent) the buffer is
  // left untouched and 0 returned; with buffer null the length is returned.
  std::size_t GetPath(char* buffer, std::size_t bufferSize) const;
  std::string GetPath() const;
  XmlElement* FindByPath(const char* path);

  unsigned GetChildCount() const { return children_.Count(); }
  XmlElement** GetChildren() { return children_.Data(); }
  // First child whose plain name is name; with create, a missing one is built
  // from startTag (or from name) and appended.
  XmlElement* FindChild(const char* name, bool create = false, const char* startTag = nullptr);
  int FindChildIndex(const char* name) const;
  int IndexOfChild(const XmlElement* child) const;
  // Destroys child index with its subtree; returns the new count (the old one
  // when index is out of range). Positions of texts, comments and CDATA
  // sections are not renumbered.
  unsigned RemoveChild(unsigned index);
  XmlElement* AddChild(std::unique_ptr<XmlElement> element);
  // As AddChild, but at index (at the end when index is past the last child).
  // Positions of texts, comments and CDATA sections are not renumbered.
  XmlElement* InsertChild(unsigned index, std::unique_ptr<XmlElement> element);
  XmlElement* AddChildFromText(const char* startTag);
  // Deep copy without parent and with user value 0; names, values and texts
  // are re-encoded from their plain form.
  std::unique_ptr<XmlElement> Clone() const;

  unsigned GetAttributeCount() const { return attributes_.Count(); }
  // Attributes read from a file have no pointer list until the first call,
  // which makes it: a change to the element, not a plain read.
  XmlAttribute** GetAttributes() { return attributes_.Data(); }
  XmlAttribute* FindAttribute(const char* name, bool create = false);
  // Attribute index (below GetAttributeCount) without making the pointer
  // list: reading every attribute of a large library stays a plain read.
  const XmlAttribute* GetAttribute(unsigned index) const { return attributes_.At(index); }

  unsigned GetCDataCount() const { return cdatas_.Count(); }
  XmlCData** GetCDatas() { return cdatas_.Data(); }
  unsigned AddCData(const char* text, int position);

  unsigned GetCommentCount() const { return comments_.Count(); }
  XmlComment** GetComments() { return comments_.Data(); }

  unsigned GetContentCount() const { return contents_.Count(); }
  XmlContent** GetContents() { return contents_.Data(); }

  std::string GetText() const;  // plain text of the first content, or empty

  void SetUserValue(std::uint64_t value) { userValue_ = value; }
  std::uint64_t GetUserValue() const { return userValue_; }

  XmlElement* GetParent() const { return parent_; }

 private:
  friend struct xml_detail::Access;
  XmlElement() = default;

  bool InArena() const noexcept { return inArena_; }

  std::uint64_t userValue_ = 0;
  XmlElement* parent_ = nullptr;
  xml_detail::Text name_;
  bool inArena_ = false;  // allocated in its document's arena; fills the Text's padding
  xml_detail::OwningArray<XmlElement> children_;
  xml_detail::AttributeList attributes_;
  xml_detail::OwningArray<XmlComment> comments_;
  xml_detail::OwningArray<XmlContent> contents_;
  xml_detail::OwningArray<XmlCData> cdatas_;
};

class XmlHeader {
 public:
  ~XmlHeader();
  XmlHeader(const XmlHeader&) = delete;
  XmlHeader& operator=(const XmlHeader&) = delete;

  const char* GetDeclaration() const { return declaration_.Get(); }
  const char* GetDoctype() const { return doctype_.Get(); }
  // Comments outside the root: position 0 before it, 1 after it.
  unsigned GetCommentCount() const { return comments_.Count(); }
  XmlComment** GetComments() { return comments_.Data(); }

 private:
  friend struct xml_detail::Access;
  XmlHeader() = default;
  xml_detail::Text declaration_;
  xml_detail::Text doctype_;
  xml_detail::OwningArray<XmlComment> comments_;
};

class XmlDocument {
 public:
  XmlDocument();                                // no header, no root, no file name, status 0
  // Loads and parses the file, calling underWay (if given) once, on this
  // thread, when every thread the reading takes runs, before it reads (or on
  // the way out when there is nothing to read). A new thread may have to
  // wait for other threads of the process (the system's loader) to start:
  // one who waits for this knows the reading needs nothing more from them.
  explicit XmlDocument(const char* fileName, const std::function<void()>& underWay = {});
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Replaces the contents with the parse of text; the file name is dropped.
  void ParseText(const char* text);

  XmlElement* GetRoot() const { return root_.get(); }
  XmlHeader* GetHeader() const { return header_.get(); }
  // 0 parsed; 1 no declaration or no element (the file name was dropped, so
  // that file is never overwritten); 2 the end of an element was not found.
  int GetParseStatus() const { return status_; }
  const char* GetFileName() const { return hasFileName_ ? fileName_.c_str() : nullptr; }
  // The file that Save writes; null forgets it, so that Save refuses.
  void SetFileName(const char* fileName);

  bool IsIntact() const;
  // Writes the whole document to its file through a temporary file in the same
  // folder that then replaces it, so the old file survives any failure. False
  // when there is no file name, no header or no root, or any step fails.
  bool Save() const;

 private:
  friend struct xml_detail::Access;
  void Clear();

  // Declared first so that they are released last: parsed nodes point into
  // the text and live in the arena.
  std::unique_ptr<char[]> text_;
  std::unique_ptr<xml_detail::Arena> arena_;
  std::unique_ptr<XmlHeader> header_;
  std::unique_ptr<XmlElement, xml_detail::NodeDeleter> root_;
  std::string fileName_;
  bool hasFileName_ = false;
  int status_ = 0;
};

// ---------------------------------------------------------------------------
// Template members.

namespace xml_detail {

inline XmlAttribute* AttributeList::At(std::uint32_t i) const noexcept { return items_ ? items_[i] : block_ + i; }

template <class T>
void OwningArray<T>::Reserve(std::uint32_t capacity) {
  if (capacity <= Capacity()) return;
  T** grown = new T*[capacity];
  for (std::uint32_t i = 0; i < count_; ++i) grown[i] = items_[i];
  FreeItems();
  items_ = grown;
  capacity_ = capacity;
}

template <class T>
T* OwningArray<T>::Append(std::unique_ptr<T> item) {
  if (count_ == Capacity()) Reserve(NextCapacity(Capacity(), 0));
  items_[count_++] = item.get();
  return item.release();
}

template <class T>
void OwningArray<T>::Adopt(T** items, std::uint32_t count) noexcept {
  if (count_ != 0 || count == 0) return;
  FreeItems();
  items_ = items;
  count_ = count;
  capacity_ = count | kInArena;
}

template <class T>
T* OwningArray<T>::InsertAt(std::uint32_t index, std::unique_ptr<T> item) {
  Append(std::move(item));
  T* inserted = items_[count_ - 1];
  for (std::uint32_t i = count_ - 1; i > index; --i) items_[i] = items_[i - 1];
  if (index < count_) items_[index] = inserted;
  return inserted;
}

template <class T>
void OwningArray<T>::RemoveAt(std::uint32_t index) noexcept {
  if (index >= count_) return;
  T* doomed = items_[index];
  for (std::uint32_t i = index + 1; i < count_; ++i) items_[i - 1] = items_[i];
  items_[--count_] = nullptr;
  DestroyNode(doomed);
}

template <class T>
void OwningArray<T>::RemoveLast() noexcept {
  if (count_ > 0) RemoveAt(count_ - 1);
}

template <class T>
void OwningArray<T>::Clear() noexcept {
  while (count_ > 0) RemoveLast();
  FreeItems();
  items_ = nullptr;
  capacity_ = 0;
}

}  // namespace xml_detail
