// The node classes and the element and attribute operations.
#include "xml/XmlInternal.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace xml_detail {

std::uint32_t NextCapacity(std::uint32_t capacity, std::uint32_t wanted) {
  // The top bit of a capacity marks arena memory.
  constexpr std::uint32_t kLimit = 0x7FFFFFFFu;
  if (capacity >= kLimit) throw std::bad_alloc();
  // Most lists stay short (one CDATA section, a few children): start small.
  std::uint64_t next = capacity < 2 ? capacity + 1 : capacity < 4 ? 4 : capacity + capacity / 2;
  if (next < wanted) next = wanted;
  return next > kLimit ? kLimit : static_cast<std::uint32_t>(next);
}

// --- Arena ------------------------------------------------------------------

Arena::~Arena() {
  while (chunks_) {
    Chunk* next = chunks_->next;
    ::operator delete(chunks_);
    chunks_ = next;
  }
}

void Arena::Absorb(Arena& other) noexcept {
  if (!other.chunks_) return;
  Chunk* last = other.chunks_;
  while (last->next) last = last->next;
  last->next = chunks_;
  chunks_ = other.chunks_;
  other.chunks_ = nullptr;
  other.cursor_ = other.limit_ = nullptr;
}

void* Arena::NewChunk(std::size_t bytes, bool makeCurrent) {
  const std::size_t size = sizeof(Chunk) + bytes;
  Chunk* chunk = static_cast<Chunk*>(::operator new(size));
  chunk->next = chunks_;
  chunks_ = chunk;
  char* data = reinterpret_cast<char*>(chunk) + sizeof(Chunk);
  if (makeCurrent) {
    cursor_ = data;
    limit_ = data + bytes;
  }
  return data;
}

void* Arena::Allocate(std::size_t bytes) {
  if (bytes > kLargestChunk) return NewChunk(bytes, false);  // a chunk of its own
  bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
  if (bytes > static_cast<std::size_t>(limit_ - cursor_)) {
    // A request that would waste much of a fresh chunk's room gets its own.
    if (bytes > nextChunk_ / 4) return NewChunk(bytes, false);
    NewChunk(nextChunk_, true);
    if (nextChunk_ < kLargestChunk) nextChunk_ *= 2;
  }
  void* p = cursor_;
  cursor_ += bytes;
  return p;
}

char* Arena::CopyString(const char* s, std::size_t length) {
  char* copy = static_cast<char*>(Allocate(length + 1));
  if (length) std::memcpy(copy, s, length);
  copy[length] = '\0';
  return copy;
}

// --- StringPool ---------------------------------------------------------------

namespace {

// Eight bytes a step, the last step overlapping the one before, so that no
// byte outside the string is read; equal hashes are compared in full anyway,
// so speed matters more here than spreading.
std::uint64_t HashBytes(const char* s, std::size_t n) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = n * kMultiplier;
  auto mix = [&h](std::uint64_t word) {
    h = (h ^ word) * kMultiplier;
    h ^= h >> 29;
  };
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) mix(Load64(s + i));
    mix(Load64(s + n - 8));
  } else if (n >= 4) {
    mix(Load32(s) | static_cast<std::uint64_t>(Load32(s + n - 4)) << 32);
  } else {
    const auto byte = [s](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(s[i])); };
    mix(byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16);
  }
  return h;
}

}  // namespace

StringPool::StringPool(Arena& arena) : arena_(arena), slots_(new Slot[1024]()), mask_(1023) {}

const char* StringPool::Intern(const char* s, std::size_t length) {
  if (length == 0) return "";
  const std::uint32_t hash = static_cast<std::uint32_t>(HashBytes(s, length) >> 32);
  // A text made to collide could make every look-up walk the whole table:
  // past a few steps the string is simply copied, so that reading stays
  // linear whatever the text.
  constexpr std::size_t kMaxSteps = 64;
  std::size_t i = hash & mask_;
  for (std::size_t step = 0; step < kMaxSteps; ++step, i = (i + 1) & mask_) {
    Slot& slot = slots_[i];
    // An empty slot has size 0, which no string here has.
    if (slot.hash == hash && slot.size == length && SameBytes(slot.text, s, length)) return slot.text;
    if (!slot.text) {
      char* copy = arena_.CopyString(s, length);
      // The table stops growing at a size that stays small beside any file
      // that needs it; once it is half full, new strings are only copied.
      if (used_ * 2 < mask_) {
        slot = Slot{copy, static_cast<std::uint32_t>(length), hash};
        if (++used_ * 2 > mask_ && mask_ < kMaxSlots - 1) Grow();
      }
      return copy;
    }
  }
  return arena_.CopyString(s, length);
}

void StringPool::Grow() {
  const std::size_t size = (mask_ + 1) * 2;
  std::unique_ptr<Slot[]> old(new Slot[size]());
  old.swap(slots_);
  const std::size_t oldSize = mask_ + 1;
  mask_ = size - 1;
  for (std::size_t k = 0; k < oldSize; ++k) {
    const Slot& slot = old[k];
    if (!slot.text) continue;
    std::size_t i = slot.hash & mask_;
    while (slots_[i].text) i = (i + 1) & mask_;
    slots_[i] = slot;
  }
}

// --- node lists ---------------------------------------------------------------

namespace {

template <class Node>
void Destroy(Node* node) noexcept {
  if (!node) return;
  if (Access::InArena(*node))
    node->~Node();
  else
    delete node;
}

}  // namespace

void DestroyNode(XmlElement* node) noexcept { Destroy(node); }
void DestroyNode(XmlComment* node) noexcept { Destroy(node); }
void DestroyNode(XmlContent* node) noexcept { Destroy(node); }
void DestroyNode(XmlCData* node) noexcept { Destroy(node); }

AttributeList::~AttributeList() {
  const std::uint32_t blockCount = BlockCount();
  if (items_) {
    for (std::uint32_t i = blockCount; i < count_; ++i) delete items_[i];
    delete[] items_;
  }
  if (blockCount) {
    if (blockCount_ & kInArena) {
      for (std::uint32_t i = 0; i < blockCount; ++i) block_[i].~XmlAttribute();
    } else {
      delete[] block_;
    }
  }
}

std::uint32_t AttributeList::Room(std::uint32_t count) noexcept {
  std::uint32_t room = 4;
  while (room < count) room *= 2;
  return room;
}

void AttributeList::MakeItems(std::uint32_t room) {
  XmlAttribute** items = new XmlAttribute*[room];
  for (std::uint32_t i = 0; i < count_; ++i) items[i] = At(i);
  delete[] items_;
  items_ = items;
}

XmlAttribute** AttributeList::Data() {
  if (!items_ && count_) MakeItems(Room(count_));
  return items_;
}

XmlAttribute* AttributeList::AllocateBlock(std::uint32_t count, Arena* arena) {
  if (count == 0 || count_ != 0) return nullptr;
  if (count >= kInArena) throw std::bad_alloc();
  XmlAttribute* block;
  if (arena) {
    block = static_cast<XmlAttribute*>(arena->Allocate(sizeof(XmlAttribute) * count));
    for (std::uint32_t i = 0; i < count; ++i) new (block + i) XmlAttribute();
  } else {
    block = new XmlAttribute[count];
  }
  delete[] items_;
  items_ = nullptr;
  block_ = block;
  count_ = count;
  blockCount_ = arena ? count | kInArena : count;
  return block;
}

XmlAttribute* AttributeList::Append(std::unique_ptr<XmlAttribute> attribute) {
  if (count_ >= kInArena - 1) throw std::bad_alloc();
  if (!items_ || count_ == Room(count_)) MakeItems(Room(count_ + 1));
  items_[count_++] = attribute.get();
  return attribute.release();
}

namespace {

// Stores plain text in its encoded form.
void SetEncoded(Text& target, const char* plain, std::size_t length) {
  std::size_t encodedLength = EncodeRange(plain, length, nullptr);
  if (encodedLength > kMaxTextSize) {
    length = Utf8PrefixLength(plain, length, kMaxTextSize / 6);
    encodedLength = EncodeRange(plain, length, nullptr);
  }
  char* stored = new char[encodedLength + 1];
  EncodeRange(plain, length, stored);
  target.Adopt(stored, static_cast<std::uint32_t>(encodedLength));
}

// Names lose their trailing blanks whenever they are set.
std::size_t WithoutTrailingSpaces(const char* s, std::size_t length) {
  while (length > 0 && s[length - 1] == ' ') --length;
  return length;
}

void Reencode(Text& target, const Text& stored, bool isName) {
  // Most stored texts hold nothing that decoding or encoding changes; those
  // are copied as they stand (a template cloned for every one of thousands
  // of new games is made of them).
  const char* text = stored.Get();
  const std::size_t size = stored.Size();
  if (size <= kMaxTextSize && std::find_if(text, text + size, [](char c) {
                                return c == '&' || c == '<' || c == '>' || c == '"' || c == '\'';
                              }) == text + size) {
    target.Copy(text, isName ? WithoutTrailingSpaces(text, size) : size);
    return;
  }
  std::string plain = DecodeToString(stored.Get(), stored.Size());
  std::size_t length = isName ? WithoutTrailingSpaces(plain.data(), plain.size()) : plain.size();
  SetEncoded(target, plain.data(), length);
}

std::size_t PlainLength(const char* s) { return s ? std::strlen(s) : 0; }

// Comments and CDATA sections are copied raw, with their positions.
template <class Item>
void CopyRawItems(const OwningArray<Item>& from, OwningArray<Item>& to, XmlElement* parent) {
  to.Reserve(from.Count());
  for (std::uint32_t i = 0; i < from.Count(); ++i) {
    const Text& text = Access::TextOf(*from.At(i));
    auto item = Access::NewItem<Item>(parent, from.At(i)->GetPosition());
    Access::TextOf(*item).Copy(text.Get(), text.Size());
    to.Append(std::move(item));
  }
}

// The copy of one element without its children (Clone's single step).
std::unique_ptr<XmlElement> CopyWithoutChildren(const XmlElement& source) {
  std::unique_ptr<XmlElement> copy = Access::NewElement();
  XmlElement* self = copy.get();
  Reencode(Access::Name(*copy), Access::Name(source), false);

  const AttributeList& attributes = Access::Attributes(source);
  XmlAttribute* block = Access::Attributes(*copy).AllocateBlock(attributes.Count());
  for (std::uint32_t i = 0; i < attributes.Count(); ++i) {
    const XmlAttribute& from = *attributes.At(i);
    Reencode(Access::Name(block[i]), Access::Name(from), true);
    Reencode(Access::Value(block[i]), Access::Value(from), false);
    Access::SetParent(block[i], self);
  }

  const OwningArray<XmlContent>& contents = Access::Contents(source);
  Access::Contents(*copy).Reserve(contents.Count());
  for (std::uint32_t i = 0; i < contents.Count(); ++i) {
    auto content = Access::NewItem<XmlContent>(self, contents.At(i)->GetPosition());
    Reencode(Access::TextOf(*content), Access::TextOf(*contents.At(i)), false);
    Access::Contents(*copy).Append(std::move(content));
  }
  CopyRawItems(Access::Comments(source), Access::Comments(*copy), self);
  CopyRawItems(Access::CDatas(source), Access::CDatas(*copy), self);
  return copy;
}

constexpr std::size_t kMaxPath = 4999;

}  // namespace

}  // namespace xml_detail

using namespace xml_detail;

// --- XmlCData, XmlContent, XmlAttribute ---------------------------------------

void XmlCData::SetText(const char* raw) {
  Text text;  // built first: raw may be this section's own text
  text.Copy(raw ? raw : "", PlainLength(raw));
  text_.Swap(text);
}

std::string XmlContent::GetText() const { return DecodeToString(text_.Get(), text_.Size()); }

std::size_t XmlAttribute::GetName(char* buffer, std::size_t bufferSize) const {
  return buffer ? WritePlain(name_, buffer, bufferSize) : name_.Size();
}

std::size_t XmlAttribute::GetValue(char* buffer, std::size_t bufferSize) const {
  return buffer ? WritePlain(value_, buffer, bufferSize) : value_.Size();
}

std::string XmlAttribute::GetName() const { return DecodeToString(name_.Get(), name_.Size()); }

std::string XmlAttribute::GetValue() const { return DecodeToString(value_.Get(), value_.Size()); }

int XmlAttribute::GetValueInt() const {
  const std::string plain = GetValue();
  std::size_t i = 0;
  while (i < plain.size() && (plain[i] == ' ' || plain[i] == '\t' || plain[i] == '\r' || plain[i] == '\n' ||
                              plain[i] == '\v' || plain[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < plain.size() && (plain[i] == '-' || plain[i] == '+')) negative = plain[i++] == '-';
  // Accumulated one past INT_MAX at most, so that INT_MIN itself still reads.
  const long long limit = static_cast<long long>(INT_MAX) + 1;
  long long value = 0;
  for (; i < plain.size() && plain[i] >= '0' && plain[i] <= '9'; ++i) {
    value = value * 10 + (plain[i] - '0');
    if (value > limit) value = limit;
  }
  if (negative) return static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

void XmlAttribute::SetValue(const char* plain) {
  Text value;  // built first: plain may be this attribute's own text
  SetEncoded(value, plain ? plain : "", PlainLength(plain));
  value_.Swap(value);
}

// --- XmlElement ---------------------------------------------------------------

XmlElement::~XmlElement() {
  // Take the subtree apart from its deepest last child upwards instead of
  // recursing, so that no nesting depth can exhaust the stack. Every child's
  // parent pointer names the element whose array holds it.
  XmlElement* node = this;
  for (;;) {
    const std::uint32_t count = node->children_.Count();
    if (count > 0) {
      node = node->children_.At(count - 1);
      continue;
    }
    if (node == this) break;
    XmlElement* up = node->parent_;
    up->children_.RemoveLast();  // node has no children left, so this does not recurse
    node = up;
  }
}

std::unique_ptr<XmlElement> XmlElement::FromText(const char* startTag) {
  if (!startTag) startTag = "";
  return BuildElementFromText(startTag, std::strlen(startTag));
}

std::size_t XmlElement::GetName(char* buffer, std::size_t bufferSize) const {
  return buffer ? WritePlain(name_, buffer, bufferSize) : name_.Size();
}

std::string XmlElement::GetName() const { return DecodeToString(name_.Get(), name_.Size()); }

std::string XmlElement::GetPath() const {
  std::vector<const XmlElement*> chain;
  for (const XmlElement* e = this; e->parent_; e = e->parent_) chain.push_back(e);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend() && path.size() <= kMaxPath; ++it) {
    if (!path.empty()) path += '\\';
    path += (*it)->GetName();
  }
  path.resize(Utf8PrefixLength(path.data(), path.size(), kMaxPath));
  return path;
}

std::size_t XmlElement::GetPath(char* buffer, std::size_t bufferSize) const {
  if (!parent_) return 0;
  const std::string path = GetPath();
  if (!buffer) return path.size();
  if (bufferSize == 0) return 0;
  const std::size_t n = Utf8PrefixLength(path.data(), path.size(), bufferSize - 1);
  std::memcpy(buffer, path.data(), n);
  buffer[n] = '\0';
  return n;
}

namespace {

int FindChildIndexIn(const OwningArray<XmlElement>& children, const char* name, std::size_t length) {
  for (std::uint32_t i = 0; i < children.Count(); ++i)
    if (PlainEquals(Access::Name(*children.At(i)), name, length)) return static_cast<int>(i);
  return -1;
}

}  // namespace

XmlElement* XmlElement::FindByPath(const char* path) {
  if (!path) return nullptr;
  XmlElement* at = this;
  if (*path == '\0') return at;
  for (const char* piece = path;;) {
    const char* slash = std::strchr(piece, '\\');
    const std::size_t length = slash ? static_cast<std::size_t>(slash - piece) : std::strlen(piece);
    const int index = FindChildIndexIn(at->children_, piece, length);
    if (index < 0) return nullptr;
    at = at->children_.At(static_cast<std::uint32_t>(index));
    if (!slash) return at;
    piece = slash + 1;
  }
}

XmlElement* XmlElement::FindChild(const char* name, bool create, const char* startTag) {
  if (!name) return nullptr;
  const int index = FindChildIndex(name);
  if (index >= 0) return children_.At(static_cast<std::uint32_t>(index));
  if (!create) return nullptr;
  // The new element is returned even when its tag names it differently:
  // asking to create must always give a node.
  return AddChildFromText(startTag ? startTag : name);
}

int XmlElement::FindChildIndex(const char* name) const {
  return name ? FindChildIndexIn(children_, name, std::strlen(name)) : -1;
}

int XmlElement::IndexOfChild(const XmlElement* child) const {
  for (std::uint32_t i = 0; i < children_.Count(); ++i)
    if (children_.At(i) == child) return static_cast<int>(i);
  return -1;
}

unsigned XmlElement::RemoveChild(unsigned index) {
  children_.RemoveAt(index);
  return children_.Count();
}

XmlElement* XmlElement::AddChild(std::unique_ptr<XmlElement> element) {
  if (!element) return nullptr;
  element->parent_ = this;
  return children_.Append(std::move(element));
}

XmlElement* XmlElement::InsertChild(unsigned index, std::unique_ptr<XmlElement> element) {
  if (!element) return nullptr;
  element->parent_ = this;
  return children_.InsertAt(index, std::move(element));
}

XmlElement* XmlElement::AddChildFromText(const char* startTag) {
  if (!startTag) return nullptr;
  return AddChild(BuildElementFromText(startTag, std::strlen(startTag)));
}

std::unique_ptr<XmlElement> XmlElement::Clone() const {
  std::unique_ptr<XmlElement> top = CopyWithoutChildren(*this);
  // An explicit work list rather than recursion: depth is the file's business.
  std::vector<std::pair<const XmlElement*, XmlElement*>> work{{this, top.get()}};
  while (!work.empty()) {
    const XmlElement* source = work.back().first;
    XmlElement* copy = work.back().second;
    work.pop_back();
    copy->children_.Reserve(source->children_.Count());
    for (std::uint32_t i = 0; i < source->children_.Count(); ++i) {
      const XmlElement* child = source->children_.At(i);
      work.emplace_back(child, copy->AddChild(CopyWithoutChildren(*child)));
    }
  }
  return top;
}

XmlAttribute* XmlElement::FindAttribute(const char* name, bool create) {
  if (!name) return nullptr;
  const std::size_t length = std::strlen(name);
  for (std::uint32_t i = 0; i < attributes_.Count(); ++i)
    if (PlainEquals(Access::Name(*attributes_.At(i)), name, length)) return attributes_.At(i);
  if (!create) return nullptr;
  std::unique_ptr<XmlAttribute> attribute = Access::NewAttribute();
  SetEncoded(Access::Name(*attribute), name, WithoutTrailingSpaces(name, length));
  Access::SetParent(*attribute, this);
  return attributes_.Append(std::move(attribute));
}

unsigned XmlElement::AddCData(const char* text, int position) {
  auto cdata = Access::NewItem<XmlCData>(this, position);
  Access::TextOf(*cdata).Copy(text ? text : "", PlainLength(text));
  cdatas_.Append(std::move(cdata));
  return cdatas_.Count();
}

std::string XmlElement::GetText() const {
  return contents_.Count() ? contents_.At(0)->GetText() : std::string();
}

// --- XmlHeader, XmlDocument ---------------------------------------------------

XmlHeader::~XmlHeader() = default;

XmlDocument::XmlDocument() = default;

XmlDocument::~XmlDocument() = default;

void XmlDocument::Clear() {
  root_.reset();
  header_.reset();
  arena_.reset();
  text_.reset();
  fileName_.clear();
  hasFileName_ = false;
  status_ = 0;
}

void XmlDocument::SetFileName(const char* fileName) {
  hasFileName_ = fileName != nullptr;
  fileName_ = fileName ? fileName : "";
}

namespace {

bool ItemsIntact(const OwningArray<XmlComment>& comments) {
  for (std::uint32_t i = 0; i < comments.Count(); ++i)
    if (!comments.At(i) || !Access::TextOf(*comments.At(i)).Get()) return false;
  return true;
}

bool ElementIntact(const XmlElement& e) {
  if (!Access::Name(e).Get() || !ItemsIntact(Access::Comments(e))) return false;
  const OwningArray<XmlContent>& contents = Access::Contents(e);
  for (std::uint32_t i = 0; i < contents.Count(); ++i)
    if (!contents.At(i) || !Access::TextOf(*contents.At(i)).Get()) return false;
  const OwningArray<XmlCData>& cdatas = Access::CDatas(e);
  for (std::uint32_t i = 0; i < cdatas.Count(); ++i)
    if (!cdatas.At(i) || !Access::TextOf(*cdatas.At(i)).Get()) return false;
  const AttributeList& attributes = Access::Attributes(e);
  for (std::uint32_t i = 0; i < attributes.Count(); ++i) {
    const XmlAttribute* a = attributes.At(i);
    if (!a || !Access::Name(*a).Get() || !Access::Value(*a).Get()) return false;
  }
  return true;
}

}  // namespace

bool XmlDocument::IsIntact() const {
  // Null checks and the parent links stand in for probing pointers: nodes are
  // owned, so a pointer that is there is a pointer that is valid.
  if (!header_ || !root_ || !header_->GetDeclaration() || !ItemsIntact(Access::Comments(*header_))) return false;
  std::vector<const XmlElement*> work{root_.get()};
  while (!work.empty()) {
    const XmlElement* e = work.back();
    work.pop_back();
    if (!ElementIntact(*e)) return false;
    const OwningArray<XmlElement>& children = Access::Children(*e);
    for (std::uint32_t i = 0; i < children.Count(); ++i) {
      const XmlElement* child = children.At(i);
      if (!child || child->GetParent() != e) return false;
      work.push_back(child);
    }
  }
  return true;
}
