// Reading a file or a text into the tree.
//
// The reader is forgiving: it never rejects a text, it keeps what it could read
// and lowers the parse status. An element's extent is found by counting tag
// depth over the text that follows its start tag, never by matching names.
//
// A file is read in a single pass over the text, which is only read (a large
// file is seen in place, not copied): the strings the tree keeps are copied
// into the document's arena, each distinct one once. The region parse, which
// finds each element's end first and then reads its body, is kept as the
// plain statement of the rules that the single pass must match; it borrows
// its strings from the document's own copy of the text, overwriting the byte
// after each one (a closing quote, "=", a blank, the first "-" of "-->" ...)
// with a NUL once it has passed it. Every search looks only ahead of the point
// reached, so those NULs are never seen again.
#include "xml/FileNames.h"
#include "xml/ByteFind.h"
#include "xml/FileView.h"
#include "xml/XmlInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace xml_detail {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The characters a plain name is made of: none that ends a name or a tag,
// starts a value, or would have to be encoded.
struct NameChars {
  bool table[256];
  constexpr NameChars() : table() {
    for (int c = 0; c < 256; ++c)
      table[c] = !(c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'' ||
                   c == '/' || c == '>' || c == '<' || c == '=' || c == '&');
  }
};
constexpr NameChars kNameChars;
bool IsNameChar(char c) { return kNameChars.table[static_cast<unsigned char>(c)]; }

const char* FindChar(const char* from, const char* bound, char c) {
  return FindByte(from, bound, c);
}

// The first "ab>" that starts at or after from and ends before bound.
const char* FindClosing(const char* from, const char* bound, char a, char b) {
  if (bound - from < 3) return nullptr;
  for (const char* p = from + 2; p < bound;) {
    const char* gt = FindChar(p, bound, '>');
    if (!gt) return nullptr;
    if (gt[-2] == a && gt[-1] == b) return gt - 2;
    p = gt + 1;
  }
  return nullptr;
}

bool StartsWith(const char* p, const char* bound, const char* literal, std::size_t length) {
  return static_cast<std::size_t>(bound - p) >= length && std::memcmp(p, literal, length) == 0;
}

// What the "<" at lt opens. Processing instructions and "<!...>" declarations
// other than comments and CDATA (a late DOCTYPE) are skipped as a whole, by the
// depth scan and the body parse alike; the program's files hold none.
enum class Construct { kCData, kComment, kEndTag, kInstruction, kDeclaration, kTag };

Construct Classify(const char* lt, const char* bound) {
  if (lt + 1 >= bound) return Construct::kTag;
  switch (lt[1]) {
    case '/':
      return Construct::kEndTag;
    case '?':
      return Construct::kInstruction;
    case '!':
      if (StartsWith(lt, bound, "<![CDATA[", 9)) return Construct::kCData;
      if (StartsWith(lt, bound, "<!--", 4)) return Construct::kComment;
      return Construct::kDeclaration;
    default:
      return Construct::kTag;
  }
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// The ">" that ends the tag whose text goes on at from, or null. Attribute
// values are passed over whole, so a ">" or "/>" inside one ends nothing; a
// value is the quoted text (double or single quotes) that follows an "=".
const char* FindTagEnd(const char* from, const char* bound) {
  const char* gt = FindChar(from, bound, '>');
  for (const char* p = from; gt;) {
    const char* equals = FindChar(p, gt, '=');
    if (!equals) return gt;
    p = equals + 1;
    while (p < gt && IsBlank(*p)) ++p;
    if (p < gt && IsQuote(*p)) {
      const char* close = FindChar(p + 1, bound, *p);
      if (!close) return nullptr;
      p = close + 1;
      if (close > gt) gt = FindChar(p, bound, '>');
    }
  }
  return nullptr;
}

// Just after the "?>" that ends the processing instruction at lt, or null.
const char* InstructionEnd(const char* lt, const char* bound) {
  for (const char* gt = FindChar(lt + 3, bound, '>'); gt; gt = FindChar(gt + 1, bound, '>'))
    if (gt[-1] == '?') return gt + 1;
  return nullptr;
}

// Just after the ">" that ends the declaration at lt ("<!DOCTYPE ...>"), or
// null. Quoted literals and an internal subset in brackets, with the
// declarations, comments and instructions inside it, are passed over whole.
const char* DeclarationEnd(const char* lt, const char* bound) {
  int brackets = 0;
  for (const char* p = lt + 2; p < bound; ++p) {
    switch (*p) {
      case '"':
      case '\'':
        p = FindChar(p + 1, bound, *p);
        if (!p) return nullptr;
        break;
      case '[':
        ++brackets;
        break;
      case ']':
        if (brackets > 0) --brackets;
        break;
      case '<':
        if (brackets > 0 && StartsWith(p, bound, "<!--", 4)) {
          const char* close = FindClosing(p + 2, bound, '-', '-');
          if (!close) return nullptr;
          p = close + 2;
        } else if (brackets > 0 && StartsWith(p, bound, "<?", 2)) {
          const char* end = InstructionEnd(p, bound);
          if (!end) return nullptr;
          p = end - 1;
        }
        break;
      case '>':
        if (brackets == 0) return p + 1;
        break;
      default:
        break;
    }
  }
  return nullptr;
}

// Just after the end of a skipped construct. One whose proper end is missing
// ends at its first ">", as it always has, so that a text read before stays
// read the same way.
const char* SkippedEnd(Construct kind, const char* lt, const char* bound) {
  const char* end = kind == Construct::kInstruction ? InstructionEnd(lt, bound) : DeclarationEnd(lt, bound);
  if (end) return end;
  const char* gt = FindChar(lt + 1, bound, '>');
  return gt ? gt + 1 : nullptr;
}

// The depth-counting scan for an element's end.
bool ScanElementEnd(const char* lt, const char* bound, ElementEnd* out) {
  std::ptrdiff_t depth = 0;
  const char* p = lt;
  for (;;) {
    p = FindChar(p, bound, '<');
    if (!p) return false;
    const Construct kind = Classify(p, bound);
    switch (kind) {
      case Construct::kEndTag: {
        const char* gt = FindChar(p + 1, bound, '>');
        if (!gt) return false;
        if (--depth == 0) {
          out->endTagStart = p;
          out->end = gt + 1;
          return true;
        }
        p = gt + 1;
        break;
      }
      case Construct::kComment: {
        const char* close = FindClosing(p + 2, bound, '-', '-');
        if (!close) return false;
        p = close + 3;
        break;
      }
      case Construct::kCData: {
        const char* close = FindClosing(p + 9, bound, ']', ']');
        if (!close) return false;
        p = close + 3;
        break;
      }
      case Construct::kInstruction:
      case Construct::kDeclaration: {
        const char* end = SkippedEnd(kind, p, bound);
        if (!end) return false;
        p = end;
        break;
      }
      case Construct::kTag: {
        const char* gt = FindTagEnd(p + 1, bound);
        if (!gt) return false;
        if (gt[-1] != '/') ++depth;
        p = gt + 1;
        break;
      }
    }
  }
}

// Builds an element from the text of one tag: the name (every "<" left out, up
// to a blank, a quote, "/" or ">"), then name="value" pairs up to ">" or "/".
class ElementBuilder {
 public:
  // With an arena (parsing) the element and its attributes live there, and
  // the strings are either borrowed from writable, the same text in the
  // document's buffer, and NUL-terminated in place, or (writable null) kept in
  // pool. Without an arena everything is copied and the caller owns the
  // element.
  XmlElement* Build(const char* text, std::size_t length, char* writable, Arena* arena,
                    StringPool* pool = nullptr) {
    pool_ = pool;
    const char* const end = text + length;
    const char* p = text;
    while (p < end && *p == '<') ++p;
    const char* const nameBegin = p;
    bool holdsLessThan = false;
    for (; p < end; ++p) {
      const char c = *p;
      if (c == '\0' || IsBlank(c) || c == '"' || c == '/' || c == '>') break;
      if (c == '<') holdsLessThan = true;
    }
    const char* const nameEnd = p;

    spans_.clear();
    for (;;) {
      while (p < end && IsBlank(*p)) ++p;
      if (p >= end || *p == '>' || *p == '/' || *p == '\0') break;
      const char* equals = FindChar(p, end, '=');
      if (!equals) break;
      const char* nameStop = equals;
      while (nameStop > p && nameStop[-1] == ' ') --nameStop;
      // The value is quoted in either style right after "="; anything else
      // there is skipped up to the next double quote, as it always was.
      const char* open = equals + 1;
      while (open < end && IsBlank(*open)) ++open;
      if (open == end || !IsQuote(*open)) open = FindChar(open, end, '"');
      if (!open) break;
      const char* close = FindChar(open + 1, end, *open);
      if (!close) break;
      spans_.push_back(AttributeSpans{p, nameStop, open + 1, close, *open});
      p = close + 1;
    }

    XmlElement* element = arena ? Access::NewIn<XmlElement>(*arena) : Access::NewElement().release();
    SetName(Access::Name(*element), nameBegin, nameEnd, holdsLessThan, end, text, writable, arena);
    XmlAttribute* block =
        Access::Attributes(*element).AllocateBlock(static_cast<std::uint32_t>(spans_.size()), arena);
    for (std::size_t i = 0; i < spans_.size(); ++i) {
      const AttributeSpans& s = spans_[i];
      Access::SetParent(block[i], element);
      Store(Access::Name(block[i]), s.nameBegin, s.nameEnd, text, writable);
      if (s.quote == '\'' && FindChar(s.valueBegin, s.valueEnd, '"'))
        StoreDoubleQuotable(Access::Value(block[i]), s.valueBegin, s.valueEnd);
      else
        Store(Access::Value(block[i]), s.valueBegin, s.valueEnd, text, writable);
    }
    return element;
  }

 private:
  struct AttributeSpans {
    const char* nameBegin;
    const char* nameEnd;
    const char* valueBegin;
    const char* valueEnd;
    char quote;
  };

  void Store(Text& target, const char* begin, const char* end, const char* text, char* writable) {
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (!writable) {
      if (pool_)
        target.Borrow(pool_->Intern(begin, length), static_cast<std::uint32_t>(length));
      else
        target.Copy(begin, length);
      return;
    }
    writable[end - text] = '\0';
    target.Borrow(writable + (begin - text), static_cast<std::uint32_t>(length));
  }

  // A value that was written in single quotes and holds a double quote is
  // stored with that quote as "&quot;": the stored form is what stands
  // between the double quotes the writer puts around every value.
  void StoreDoubleQuotable(Text& target, const char* begin, const char* end) {
    std::string stored;
    for (const char* p = begin; p < end; ++p) {
      if (*p == '"')
        stored += "&quot;";
      else
        stored += *p;
    }
    Store(target, stored.data(), stored.data() + stored.size(), nullptr, nullptr);
  }

  // Element names are always stored encoded.
  void SetName(Text& target, const char* begin, const char* end, bool holdsLessThan, const char* textEnd,
               const char* text, char* writable, Arena* arena) {
    const char* raw = begin;
    std::size_t length = static_cast<std::size_t>(end - begin);
    if (holdsLessThan) {
      scratch_.clear();
      for (const char* p = begin; p < end; ++p)
        if (*p != '<') scratch_ += *p;
      raw = scratch_.data();
      length = scratch_.size();
    }
    bool needsEncoding = false;
    for (std::size_t i = 0; i < length && !needsEncoding; ++i)
      needsEncoding = raw[i] == '\'' || (raw[i] == '&' && (i + 1 >= length || raw[i + 1] != '#'));
    // A quote right after the name may begin the first attribute's name, so
    // its place cannot take the name's terminator.
    if (writable && !holdsLessThan && !needsEncoding && (end == textEnd || *end != '"')) {
      Store(target, begin, end, text, writable);
      return;
    }
    const std::size_t encodedLength = EncodeRange(raw, length, nullptr);
    char* stored = arena ? static_cast<char*>(arena->Allocate(encodedLength + 1)) : new char[encodedLength + 1];
    EncodeRange(raw, length, stored);
    if (arena)
      target.Borrow(stored, static_cast<std::uint32_t>(encodedLength));
    else
      target.Adopt(stored, static_cast<std::uint32_t>(encodedLength));
  }

  std::vector<AttributeSpans> spans_;
  std::string scratch_;
  StringPool* pool_ = nullptr;
};

XmlElement* DefaultRoot() {
  XmlElement* root = Access::NewElement().release();
  Access::Name(*root).Borrow("root", 4);
  return root;
}

std::unique_ptr<XmlHeader> DefaultHeader() {
  std::unique_ptr<XmlHeader> header = Access::NewHeader();
  Access::Declaration(*header).Borrow(kDefaultDeclaration, kDefaultDeclarationLength);
  return header;
}

void SetDefaults(XmlDocument& doc) {
  Access::Header(doc) = DefaultHeader();
  Access::Root(doc).reset(DefaultRoot());
}

// A file that exists but cannot be read in full: keep nothing of it, and
// forget its name so that Save can never write over it.
void SetUnreadable(XmlDocument& doc) {
  SetDefaults(doc);
  Access::SetStatus(doc, 1);
  Access::DropFileName(doc);
}

class Reader {
 public:
  // With writable (the text itself, which the document keeps) the strings
  // are borrowed from it and NUL-terminated in place, and the ends of
  // elements come from finder, region by region. Without it the text is only
  // read, in a single pass, and the strings are kept in the arena.
  Reader(XmlDocument& doc, const char* text, std::size_t length, char* writable, ElementEndFinder finder,
         Arena& arena)
      : doc_(doc), text_(text), end_(text + length), writable_(writable), finder_(finder), arena_(arena),
        pool_(arena) {}

  // The single pass lets go of the pages of view behind it.
  void SetView(FileView* view) {
    view_ = view;
    released_ = text_;
  }

  // Readers of the text from later points on (in order), which read while
  // this one reads what comes before; the single pass takes them in.
  struct Piece;
  void SetPieces(std::vector<Piece*> pieces) {
    pieces_ = std::move(pieces);
    joinAt_ = pieces_.empty() ? nullptr : PieceStart(0);
  }
  // How many pieces the reading took in.
  std::size_t PiecesJoined() const { return joined_; }

  void Run() {
    std::unique_ptr<XmlHeader> header = Access::NewHeader();
    const char* pos = text_;
    if (const char* declEnd = FindDeclarationEnd()) {
      Access::Declaration(*header).Copy(text_, static_cast<std::size_t>(declEnd - text_));
      pos = declEnd;
    } else {
      Lower(1);
      std::string declaration = std::string(kByteOrderMark) + kDefaultDeclaration;
      Access::Declaration(*header).Copy(declaration.data(), declaration.size());
    }

    XmlElement* root = nullptr;
    if (const char* lt = FindChar(pos, end_, '<')) {
      pos = lt;
      if (lt + 1 < end_ && lt[1] == '!' && !StartsWith(lt, end_, "<!--", 4)) {
        // Only a declaration that ends properly is kept to be written back.
        // One cut short at its first ">" (an open quote or bracket) would,
        // written back, run on past that ">" and swallow the elements after
        // it on the next read.
        if (const char* end = DeclarationEnd(lt, end_)) {
          Access::Doctype(*header).Copy(lt + 2, static_cast<std::size_t>(end - 1 - (lt + 2)));
          pos = end;
        } else if (const char* skipped = SkippedEnd(Construct::kDeclaration, lt, end_)) {
          pos = skipped;
        }
      }
      root = writable_ ? ParseBody(Mutable(pos), Mutable(end_)) : ParseStream(pos);
      Adopt(Access::Comments(*header), headerComments_, 0);
    } else {
      Lower(1);
    }
    // A text without any element gets the default root and counts as not
    // being XML, so that its file is never overwritten with that root.
    if (!root && status_ != 2) {
      Lower(1);
      root = DefaultRoot();
    }
    Access::Header(doc_) = std::move(header);
    Access::Root(doc_).reset(root);
    Access::SetStatus(doc_, status_);
  }

 private:
  // One region being parsed: the body of an element, or the top level.
  struct Frame {
    XmlElement* element;  // whose body this is; null at the top level
    char* cur;
    char* end;
    XmlElement* pending;
    bool pendingAppended;
    // Where parent's items begin in the lists below; they become parent's
    // arrays, exactly sized, when its region is done.
    std::size_t children, comments, contents, cdatas;
  };

  // An element of the single pass whose end tag has not been read yet, with
  // where its items begin in the lists below.
  struct Open {
    XmlElement* element;
    std::size_t children, comments, contents, cdatas;
    StringPool::Guess* cdata;  // the guess for its CDATA sections, if any
  };

  // What the last tag of one name held, as guesses for the next one: the
  // name and the value of each attribute in order, and its CDATA section.
  struct TagMemory {
    std::vector<StringPool::Guess> strings;
    StringPool::Guess cdata;
  };

  // One name="value" pair of a start tag, as found in the text.
  struct TagSpans {
    const char* nameBegin;
    const char* nameEnd;
    const char* valueBegin;
    const char* valueEnd;
  };

  // The writable place of a point of the text (region parse only).
  char* Mutable(const char* p) const { return p ? writable_ + (p - text_) : nullptr; }

  // Just after the first "?>", or null.
  const char* FindDeclarationEnd() const {
    for (const char* p = text_ + 1; p < end_;) {
      const char* gt = FindChar(p, end_, '>');
      if (!gt) return nullptr;
      if (gt[-1] == '?') return gt + 1;
      p = gt + 1;
    }
    return nullptr;
  }

  // Status 1 (not XML) drops the file name; status 2 stays once set.
  void Lower(int status) {
    if (status == 1) Access::DropFileName(doc_);
    if (status > status_) status_ = status;
  }

  bool FindEnd(const char* lt, const char* bound, ElementEnd* out) { return finder_(lt, bound, out); }

  int PositionIn(const Frame& f) const {
    const std::size_t count = children_.size() - f.children;
    return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
  }

  // A comment, CDATA section or text. In the region parse it borrows
  // [begin, end) and terminates it there (that byte has been read for the
  // last time) unless end must stay; otherwise it keeps a copy.
  template <class Item>
  void AddItem(std::vector<Item*>& list, XmlElement* parent, int position, const char* begin, const char* end,
               bool terminate = true, StringPool::Guess* guess = nullptr) {
    Item* item = Access::NewIn<Item>(arena_);
    Access::SetPlace(*item, parent, position);
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (writable_ && terminate) {
      *Mutable(end) = '\0';
      Access::TextOf(*item).Borrow(Mutable(begin), static_cast<std::uint32_t>(length));
    } else {
      const char* kept = guess ? pool_.Intern(begin, length, *guess) : pool_.Intern(begin, length);
      Access::TextOf(*item).Borrow(kept, static_cast<std::uint32_t>(length));
    }
    list.push_back(item);
  }

  template <class Node>
  void Adopt(OwningArray<Node>& target, std::vector<Node*>& list, std::size_t from) {
    const std::size_t count = list.size() - from;
    if (count == 0) return;
    Node** items = arena_.NewPointerArray<Node>(count);
    for (std::size_t i = 0; i < count; ++i) items[i] = list[from + i];
    target.Adopt(items, static_cast<std::uint32_t>(count));
    list.resize(from);
  }

  // Text between constructs, without its blanks at either end; ignored at the
  // top level. Directly followed by the "<" still to be read, it is copied.
  template <class Region>
  void AddContent(const Region& f, const char* from, const char* to) {
    if (!f.element) return;
    while (from < to && IsBlank(*from)) ++from;
    const char* stop = to;
    while (stop > from && IsBlank(stop[-1])) --stop;
    if (stop == from) return;
    AddItem(contents_, f.element, PositionIn(f), from, stop, stop < to);
  }

  void Finish(std::vector<Frame>& frames, XmlElement*& result) {
    Frame& f = frames.back();
    if (f.element) {
      Adopt(Access::Children(*f.element), children_, f.children);
      Adopt(Access::Comments(*f.element), comments_, f.comments);
      Adopt(Access::Contents(*f.element), contents_, f.contents);
      Adopt(Access::CDatas(*f.element), cdatas_, f.cdatas);
      if (f.pending && !f.pendingAppended) DestroyNode(f.pending);  // cannot happen: see StartTag
    } else {
      result = f.pending;
    }
    frames.pop_back();
  }

  // The single pass: every construct is read once, in order, while a stack
  // holds the elements whose end tag is still to come. An end tag closes the
  // innermost of them whatever its name, which is the depth rule itself, and
  // a construct is passed over exactly as the depth scan passes over it, so
  // the tree is the one the region parse builds. Returns the root.
  XmlElement* ParseStream(const char* p) {
    XmlElement* top = nullptr;
    int headerCommentPosition = 0;
    open_.clear();
    Pass(p, top, headerCommentPosition);
    // A text that ends inside an element loses that element: the root stays
    // the last top-level element that was read whole. What was built of it
    // lies in the arena and owns nothing else.
    if (!open_.empty()) {
      Lower(2);
      open_.clear();
    }
    children_.clear();
    comments_.clear();
    contents_.clear();
    cdatas_.clear();
    return top;
  }

  // A piece: reads from start on as the body of whatever element is open
  // there, up to that element's end tag, or up to stop if it gets there with
  // only that body open. The body's items stay in the lists, placed as if the
  // body began at start. Returns where it ended; null when the text ended
  // first, or a construct ran into its end.
  const char* ReadPiece(const char* start, const char* stop) {
    released_ = start;
    inPiece_ = true;
    stop_ = stop;
    open_.push_back(Open{Access::NewIn<XmlElement>(arena_), 0, 0, 0, 0, nullptr});
    XmlElement* top = nullptr;
    int headerCommentPosition = 0;
    return Pass(start, top, headerCommentPosition);
  }

  // The constructs from p on; see ReadPiece for what a piece returns.
  const char* Pass(const char* p, XmlElement*& top, int& headerCommentPosition) {
    for (;;) {
      // Blanks between tags are the common case: step over them by hand.
      const char* q = p;
      while (q < end_ && IsBlank(*q)) ++q;
      const char* lt = q < end_ && *q == '<' ? q : FindChar(q, end_, '<');
      if (!lt) return nullptr;
      if (!open_.empty()) AddContent(Current(), p, lt);
      const Construct kind = Classify(lt, end_);
      if (inPiece_ && open_.size() == 1 && (lt == stop_ || kind == Construct::kEndTag)) return lt;
      const char* next = joinAt_ && lt >= joinAt_ ? Join(lt) : nullptr;
      if (!next) next = Read(kind, lt, top, headerCommentPosition);
      if (!next) return nullptr;
      p = next;
      if (view_ && p - released_ >= kReleaseStep) {
        view_->Release(released_, p);
        released_ = p;
      }
    }
  }

  // Reads the construct at lt; returns just after it, or null when it runs
  // into the end of the text.
  const char* Read(Construct kind, const char* lt, XmlElement*& top, int& headerCommentPosition) {
    const char* next = nullptr;
    switch (kind) {
      case Construct::kCData:
        if (const char* close = FindClosing(lt + 9, end_, ']', ']')) {
          // A CDATA section outside every element has nothing to belong to.
          if (!open_.empty())
            AddItem(cdatas_, Current().element, PositionIn(Current()), lt + 9, close, false, Current().cdata);
          next = close + 3;
        }
        break;
      case Construct::kComment:
        if (const char* close = FindClosing(lt + 2, end_, '-', '-')) {
          const char* textBegin = close >= lt + 4 ? lt + 4 : close;  // "<!-->": empty
          if (!open_.empty())
            AddItem(comments_, Current().element, PositionIn(Current()), textBegin, close);
          else
            AddItem(headerComments_, nullptr, headerCommentPosition, textBegin, close);
          next = close + 3;
        }
        break;
      case Construct::kEndTag:
        if (const char* gt = FindChar(lt + 1, end_, '>')) {
          if (!open_.empty()) Close(top);
          next = gt + 1;
        }
        break;
      case Construct::kInstruction:
      case Construct::kDeclaration:
        next = SkippedEnd(kind, lt, end_);
        break;
      case Construct::kTag: {
        bool empty = false;
        TagMemory* memory = nullptr;
        XmlElement* element = ReadTag(lt, &next, &empty, &memory);
        if (!element) break;
        if (open_.empty()) headerCommentPosition = 1;
        if (!empty) {
          Access::SetParent(*element, open_.empty() ? nullptr : Current().element);
          open_.push_back(Open{element, children_.size(), comments_.size(), contents_.size(), cdatas_.size(),
                               memory ? &memory->cdata : nullptr});
        } else if (!open_.empty()) {
          Access::SetParent(*element, Current().element);
          children_.push_back(element);
        } else if (!top) {
          top = element;
        } else {
          DestroyNode(element);  // at the top level only the first one counts
        }
        break;
      }
    }
    return next;
  }

  const char* PieceStart(std::size_t i) const;
  const char* Join(const char* lt);
  void Splice(Reader& piece);
  // Items of a piece's body join the list of the element open where it
  // began, behind the base children already read there.
  template <class Item>
  static void Move(std::vector<Item*>& into, const std::vector<Item*>& from, XmlElement* parent, std::size_t base) {
    for (Item* item : from) {
      const std::size_t position = base + static_cast<std::size_t>(item->GetPosition());
      Access::SetPlace(*item, parent, position > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(position));
      into.push_back(item);
    }
  }

  Open& Current() { return open_.back(); }
  int PositionIn(const Open& o) const {
    const std::size_t count = children_.size() - o.children;
    return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
  }

  // The end tag of the innermost open element: its items become its arrays
  // and it joins its parent; at the top level it becomes the root, replacing
  // any before it (the last element with an end tag is the root).
  void Close(XmlElement*& top) {
    const Open o = open_.back();
    open_.pop_back();
    Adopt(Access::Children(*o.element), children_, o.children);
    Adopt(Access::Comments(*o.element), comments_, o.comments);
    Adopt(Access::Contents(*o.element), contents_, o.contents);
    Adopt(Access::CDatas(*o.element), cdatas_, o.cdatas);
    if (!open_.empty()) {
      children_.push_back(o.element);
    } else {
      if (top) DestroyNode(top);
      top = o.element;
    }
  }

  // The start tag at lt as an element in the arena, with *next set just
  // after it; null when the tag has no end.
  XmlElement* ReadTag(const char* lt, const char** next, bool* empty, TagMemory** memory) {
    if (XmlElement* element = ReadPlainTag(lt, next, empty, memory)) return element;
    const char* gt = FindTagEnd(lt + 1, end_);
    if (!gt) return nullptr;
    *empty = gt[-1] == '/';
    *next = gt + 1;
    return builder_.Build(lt, static_cast<std::size_t>(gt - lt), nullptr, &arena_, &pool_);
  }

  // The tags the program writes, read in one go: a name, then name="value"
  // pairs after blanks, then ">" or "/>". Anything else in a tag (other
  // quotes, blanks around "=", characters that need encoding ...) is left to
  // the general reading, which reads such a tag the same way; so is a tag
  // that runs into the end of the text.
  XmlElement* ReadPlainTag(const char* lt, const char** next, bool* empty, TagMemory** memory) {
    const char* p = lt + 1;
    const char* const nameBegin = p;
    while (p < end_ && IsNameChar(*p)) ++p;
    const char* const nameEnd = p;
    if (nameEnd == nameBegin) return nullptr;
    spans_.clear();
    for (;;) {
      if (p == end_) return nullptr;
      if (*p == '>') {
        *empty = false;
        break;
      }
      if (*p == '/') {
        if (p + 1 == end_ || p[1] != '>') return nullptr;
        *empty = true;
        ++p;
        break;
      }
      if (!IsBlank(*p)) return nullptr;
      do ++p;
      while (p < end_ && IsBlank(*p));
      if (p == end_ || *p == '>' || *p == '/') continue;
      const char* const attributeName = p;
      while (p < end_ && IsNameChar(*p)) ++p;
      if (p == attributeName || end_ - p < 2 || p[0] != '=' || p[1] != '"') return nullptr;
      const char* const valueBegin = p + 2;
      const char* const valueEnd = FindChar(valueBegin, end_, '"');
      if (!valueEnd) return nullptr;
      spans_.push_back(TagSpans{attributeName, p, valueBegin, valueEnd});
      p = valueEnd + 1;
    }
    *next = p + 1;

    XmlElement* element = Access::NewIn<XmlElement>(arena_);
    const std::size_t nameLength = static_cast<std::size_t>(nameEnd - nameBegin);
    const char* name = pool_.Intern(nameBegin, nameLength);
    Access::Name(*element).Borrow(name, static_cast<std::uint32_t>(nameLength));
    TagMemory& remembered = memory_[name];  // equal names are one string
    *memory = &remembered;
    if (spans_.empty()) return element;
    if (remembered.strings.size() < 2 * spans_.size()) remembered.strings.resize(2 * spans_.size());
    StringPool::Guess* guess = remembered.strings.data();
    XmlAttribute* block =
        Access::Attributes(*element).AllocateBlock(static_cast<std::uint32_t>(spans_.size()), &arena_);
    for (std::size_t i = 0; i < spans_.size(); ++i) {
      const TagSpans& s = spans_[i];
      Access::SetParent(block[i], element);
      Keep(Access::Name(block[i]), s.nameBegin, s.nameEnd, guess[2 * i]);
      Keep(Access::Value(block[i]), s.valueBegin, s.valueEnd, guess[2 * i + 1]);
    }
    return element;
  }

  void Keep(Text& target, const char* begin, const char* end, StringPool::Guess& guess) {
    const std::size_t length = static_cast<std::size_t>(end - begin);
    target.Borrow(pool_.Intern(begin, length, guess), static_cast<std::uint32_t>(length));
  }

  // The body parse of one region, with an explicit stack of regions instead of
  // recursion so that no nesting depth can exhaust the stack. Returns the
  // top level's pending element: the root.
  XmlElement* ParseBody(char* from, char* to) {
    std::vector<Frame> frames;
    frames.push_back(Frame{nullptr, from, to, nullptr, false, 0, 0, 0, 0});
    XmlElement* result = nullptr;
    int headerCommentPosition = 0;
    while (!frames.empty()) {
      Frame& f = frames.back();
      bool done = false;
      char* lt = Mutable(FindChar(f.cur, f.end, '<'));
      if (!lt) {
        AddContent(f, f.cur, f.end);
        done = true;
      } else {
        AddContent(f, f.cur, lt);
        const Construct kind = Classify(lt, f.end);
        switch (kind) {
          case Construct::kCData: {
            char* close = Mutable(FindClosing(lt + 9, f.end, ']', ']'));
            if (!close) {
              done = true;
              break;
            }
            // A CDATA section outside every element has nothing to belong to.
            if (f.element) AddItem(cdatas_, f.element, PositionIn(f), lt + 9, close);
            f.cur = close + 3;
            break;
          }
          case Construct::kComment: {
            char* close = Mutable(FindClosing(lt + 2, f.end, '-', '-'));
            if (!close) {
              done = true;
              break;
            }
            char* textBegin = close >= lt + 4 ? lt + 4 : close;  // "<!-->": empty
            if (f.element)
              AddItem(comments_, f.element, PositionIn(f), textBegin, close);
            else
              AddItem(headerComments_, nullptr, headerCommentPosition, textBegin, close);
            f.cur = close + 3;
            break;
          }
          case Construct::kEndTag: {
            char* gt = Mutable(FindChar(lt + 1, f.end, '>'));
            if (!gt) {
              done = true;
              break;
            }
            if (f.element && f.pending && !f.pendingAppended) {
              children_.push_back(f.pending);
              f.pendingAppended = true;
            }
            f.cur = gt + 1;
            break;
          }
          case Construct::kInstruction:
          case Construct::kDeclaration: {
            char* end = Mutable(SkippedEnd(kind, lt, f.end));
            if (!end) {
              done = true;
              break;
            }
            f.cur = end;
            break;
          }
          case Construct::kTag:
            done = StartTag(frames, lt, headerCommentPosition);
            break;
        }
      }
      if (done) Finish(frames, result);
    }
    return result;
  }

  // Returns true when the region ends here. May push the region of a new
  // element, which invalidates references into frames.
  bool StartTag(std::vector<Frame>& frames, char* lt, int& headerCommentPosition) {
    Frame& f = frames.back();
    char* gt = Mutable(FindTagEnd(lt + 1, f.end));
    if (!gt) return true;
    if (!f.element) headerCommentPosition = 1;
    const std::size_t tagLength = static_cast<std::size_t>(gt - lt);

    if (gt[-1] == '/') {  // an empty-element tag
      XmlElement* element = builder_.Build(lt, tagLength, lt, &arena_, &pool_);
      Access::SetParent(*element, f.element);
      if (f.element) {
        children_.push_back(element);
        if (!f.pending) {
          f.pending = element;
          f.pendingAppended = true;
        }
      } else if (!f.pending) {
        f.pending = element;
        f.pendingAppended = false;
      } else {
        DestroyNode(element);  // at the top level only the first one counts
      }
      f.cur = gt + 1;
      return false;
    }

    ElementEnd found;
    if (!FindEnd(lt, f.end, &found)) {
      Lower(2);
      return true;
    }
    XmlElement* element = builder_.Build(lt, tagLength, lt, &arena_, &pool_);
    Access::SetParent(*element, f.element);
    // A nested region's previous pending element was appended at its end tag,
    // which is always read before the next start tag; a top-level one is
    // replaced: the last element with an end tag is the root.
    if (f.pending && !f.pendingAppended) DestroyNode(f.pending);
    f.pending = element;
    f.pendingAppended = false;  // appended when its end tag is read
    char* bodyBegin = gt + 1;
    // The closing end tag always lies beyond the start tag's first ">"; the
    // guard only keeps the reader moving forward whatever happens.
    char* endTag = Mutable(found.endTagStart);
    if (endTag < bodyBegin) endTag = bodyBegin;
    f.cur = endTag;
    frames.push_back(
        Frame{element, bodyBegin, endTag, nullptr, false, children_.size(), comments_.size(), contents_.size(),
              cdatas_.size()});
    return false;
  }

  XmlDocument& doc_;
  const char* const text_;
  const char* const end_;
  char* const writable_;
  const ElementEndFinder finder_;
  Arena& arena_;
  StringPool pool_;
  int status_ = 0;
  // Nothing behind the point reached is read again: its pages can go.
  static constexpr std::ptrdiff_t kReleaseStep = 4 << 20;
  FileView* view_ = nullptr;
  const char* released_ = nullptr;
  // Reading in pieces: where they start, the readers, the next one's start;
  // in a piece, whether this is one and where the next begins.
  std::vector<Piece*> pieces_;
  std::size_t nextPiece_ = 0, joined_ = 0;
  const char* joinAt_ = nullptr;
  bool inPiece_ = false;
  const char* stop_ = nullptr;
  std::vector<Open> open_;
  std::vector<TagSpans> spans_;
  std::unordered_map<const char*, TagMemory> memory_;
  ElementBuilder builder_;
  std::vector<XmlElement*> children_;
  std::vector<XmlComment*> comments_;
  std::vector<XmlContent*> contents_;
  std::vector<XmlCData*> cdatas_;
  std::vector<XmlComment*> headerComments_;
};

// A reader of the text from start on (see ReadPiece) that first looks for a
// NUL, which ends the text, in its share: up to the next piece's start.
struct Reader::Piece {
  Piece(XmlDocument& doc, const char* text, const char* end, const char* start, const char* stop, FileView* view)
      : arena(std::min<std::size_t>(static_cast<std::size_t>(end - start), 1u << 20)),
        reader(doc, text, static_cast<std::size_t>(end - text), nullptr, nullptr, arena),
        start(start),
        stop(stop),
        shareEnd(stop ? stop : end) {
    reader.SetView(view);
  }
  ~Piece() { Wait(); }
  // A piece that fails (no memory left) is read again by the reader that
  // comes to its start.
  void Run() noexcept {
    started.set_value();
    nul = FindByte(start, shareEnd, '\0');
    scanned.set_value();
    try {
      end = reader.ReadPiece(start, stop);
    } catch (...) {
      end = nullptr;
    }
  }
  void Start(bool onThread) {
    if (onThread) {
      try {
        thread = std::thread([this] { Run(); });
        return;
      } catch (const std::system_error&) {
        // No thread to be had: read here.
      }
    }
    Run();
  }
  // The first NUL of the share, or null.
  const char* Nul() {
    scan.wait();
    return nul;
  }
  void Wait() {
    if (thread.joinable()) thread.join();
  }
  void WaitRunning() { running.wait(); }

  Arena arena;
  Reader reader;
  const char* const start;
  const char* const stop;
  const char* const shareEnd;
  const char* nul = nullptr;
  std::promise<void> started, scanned;
  std::future<void> running = started.get_future();
  std::future<void> scan = scanned.get_future();
  const char* end = nullptr;
  std::thread thread;
};

const char* Reader::PieceStart(std::size_t i) const { return pieces_[i]->start; }

// The reading has come to lt, at or past the next piece's start. A piece is
// taken in only where the reading stands exactly at its start with an
// element open: from there on, it read what this reader would have read.
// One passed over (its start lay inside a comment, a tag, ...) is dropped.
// Returns where to read on after the piece taken in, or null.
const char* Reader::Join(const char* lt) {
  while (joinAt_ && lt >= joinAt_) {
    Piece& piece = *pieces_[nextPiece_++];
    joinAt_ = nextPiece_ < pieces_.size() ? PieceStart(nextPiece_) : nullptr;
    if (lt != piece.start || open_.empty()) continue;
    piece.Wait();
    // One that ran into the end of the text is read again from here. One
    // that read on past the end (a NUL in a later share) ended beyond it,
    // where the element open here ends: that element and every one around
    // it are lost whatever the piece read, and nothing past the end is read
    // after it, so it is taken in as it is.
    if (!piece.end) return nullptr;
    Splice(piece.reader);
    arena_.Absorb(piece.arena);
    if (view_) {
      view_->Release(released_, lt);
      released_ = piece.reader.released_;
    }
    ++joined_;
    return piece.end;
  }
  return nullptr;
}

void Reader::Splice(Reader& piece) {
  const Open& o = Current();
  const std::size_t base = children_.size() - o.children;
  for (XmlElement* child : piece.children_) Access::SetParent(*child, o.element);
  children_.insert(children_.end(), piece.children_.begin(), piece.children_.end());
  Move(comments_, piece.comments_, o.element, base);
  Move(contents_, piece.contents_, o.element, base);
  Move(cdatas_, piece.cdatas_, o.element, base);
}

// The first start tag from from on, before bound, that follows (past blanks)
// the end tag of an element of its own name: most likely one of a run of
// siblings, as the games of a library are, where a piece can begin.
const char* FindPieceStart(const char* from, const char* bound) {
  for (const char* p = FindChar(from, bound, '<'); p; p = FindChar(p + 1, bound, '<')) {
    if (bound - p < 4 || p[1] != '/') continue;
    const char* name = p + 2;
    const char* q = name;
    while (q < bound && IsNameChar(*q)) ++q;
    const std::size_t length = static_cast<std::size_t>(q - name);
    if (length == 0 || q == bound || *q != '>') continue;
    ++q;
    while (q < bound && IsBlank(*q)) ++q;
    if (bound - q < static_cast<std::ptrdiff_t>(length + 2) || *q != '<' || std::memcmp(q + 1, name, length) != 0)
      continue;
    const char after = q[1 + length];
    if (IsBlank(after) || after == '>' || after == '/') return q;
  }
  return nullptr;
}

// The text ends at its first NUL.
std::size_t TextLength(const char* text, std::size_t length) {
  const char* nul = FindByte(text, text + length, '\0');
  return nul ? static_cast<std::size_t>(nul - text) : length;
}

// Parsed nodes take about as much room as the text; start there.
Arena& NewArena(XmlDocument& doc, std::size_t length) {
  auto& arena = Access::ArenaOf(doc);
  arena.reset(new Arena(length < (1u << 20) ? length : (1u << 20)));
  return *arena;
}


// Parses the buffer region by region, which the document keeps: its strings
// point into it.
void ParseInPlace(XmlDocument& doc, std::unique_ptr<char[]> buffer, std::size_t length, ElementEndFinder finder) {
  char* text = buffer.get();
  length = TextLength(text, length);
  Access::Buffer(doc) = std::move(buffer);
  Reader(doc, text, length, text, finder, NewArena(doc, length)).Run();
}

// Reads a whole file; null when reading fails or the file is too big.
std::unique_ptr<char[]> ReadWholeFile(std::FILE* file, std::size_t* size) {
  std::size_t capacity = 64 * 1024;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long end = std::ftell(file);
    if (end >= 0 && static_cast<unsigned long>(end) <= kMaxTextSize) capacity = static_cast<std::size_t>(end) + 2;
    if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
  }
  // One byte beyond the expected length tells the end of the file from a file
  // that has grown, and one more for the terminating NUL.
  std::unique_ptr<char[]> data(new char[capacity]);
  std::size_t used = 0;
  for (;;) {
    if (capacity - used < 2) {
      if (capacity > kMaxTextSize) return nullptr;
      std::size_t grown = capacity * 2;
      std::unique_ptr<char[]> bigger(new char[grown]);
      std::memcpy(bigger.get(), data.get(), used);
      data = std::move(bigger);
      capacity = grown;
    }
    const std::size_t wanted = capacity - 1 - used;
    const std::size_t got = std::fread(data.get() + used, 1, wanted, file);
    used += got;
    if (got < wanted) break;
  }
  if (std::ferror(file) || used > kMaxTextSize) return nullptr;
  data[used] = '\0';
  *size = used;
  return data;
}

void LoadFile(XmlDocument& doc, const char* fileName, const std::function<void()>& underWay) {
  // underWay is told once: by the reading once it runs, or on the way out.
  bool told = !underWay;
  const std::function<void()> tell = [&] {
    if (told) return;
    told = true;
    underWay();
  };
  struct TellOnExit {
    const std::function<void()>& tell;
    ~TellOnExit() { tell(); }
  } onExit{tell};
  if (!fileName) {
    SetDefaults(doc);
    return;
  }
  doc.SetFileName(fileName);
  errno = 0;
  std::FILE* file = OpenFileUtf8(fileName, "rb");
  if (!file) {
    // Only a file that is not there may be created by the first save. One
    // that is there but cannot be opened (locked, no rights) is never
    // replaced by an empty document.
    if (errno == ENOENT)
      SetDefaults(doc);
    else
      SetUnreadable(doc);
    return;
  }
  // The file is seen in place where the system allows, else read whole.
  FileView view;
  std::size_t size = 0;
  std::unique_ptr<char[]> bytes;
  const char* data = nullptr;
  if (view.Open(file, kMaxTextSize)) {
    data = view.Data();
    size = view.Size();
  } else {
    bytes = ReadWholeFile(file, &size);
    data = bytes.get();
  }
  std::fclose(file);
  if (!data) {
    SetUnreadable(doc);
    return;
  }
  const unsigned char* raw = reinterpret_cast<const unsigned char*>(data);
  if (size >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
    // UTF-16LE: the byte-order mark turns into the UTF-8 one.
    const std::size_t units = (size - 2) / 2;
    std::unique_ptr<char[]> text(new char[3 + 3 * units + 1]);
    std::memcpy(text.get(), kByteOrderMark, 3);
    const std::size_t length = 3 + Utf16LeToUtf8(raw + 2, size - 2, text.get() + 3);
    text[length] = '\0';
    if (length > kMaxTextSize) {
      SetUnreadable(doc);
      return;
    }
    bytes = std::move(text);
    data = bytes.get();
    size = length;
  }
  ParseInPieces(doc, data, size, PieceStarts(data, size, std::thread::hardware_concurrency()), true,
                bytes ? nullptr : &view, tell);
}

}  // namespace

std::vector<std::size_t> PieceStarts(const char* text, std::size_t length, unsigned processors) {
  std::vector<std::size_t> starts;
  const std::size_t pieces = std::min<std::size_t>({processors, kMostPieces, length / kLeastPiece});
  for (std::size_t i = 1; i < pieces; ++i) {
    const char* from = text + length / pieces * i;
    const char* start = FindPieceStart(from, text + std::min(length, length / pieces * i + kLeastPiece / 2));
    if (start && (starts.empty() || text + starts.back() < start))
      starts.push_back(static_cast<std::size_t>(start - text));
  }
  return starts;
}

std::size_t ParseInPieces(XmlDocument& doc, const char* text, std::size_t length,
                          const std::vector<std::size_t>& starts, bool threads, FileView* view,
                          const std::function<void()>& underWay) {
  // The old tree goes before the arena it lives in.
  Access::Root(doc).reset();
  Access::Header(doc).reset();
  Access::Buffer(doc).reset();
  std::vector<const char*> points;
  for (std::size_t start : starts)
    if (start < length && (points.empty() || points.back() < text + start)) points.push_back(text + start);
  std::vector<std::unique_ptr<Reader::Piece>> pieces;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const char* stop = i + 1 < points.size() ? points[i + 1] : nullptr;
    pieces.push_back(std::make_unique<Reader::Piece>(doc, text, text + length, points[i], stop, view));
    pieces.back()->Start(threads);
  }
  if (underWay) {
    for (const auto& piece : pieces) piece->WaitRunning();
    underWay();
  }
  // The text ends at its first NUL; each piece looks in its own share
  // while this looks in the first.
  const char* nul = FindByte(text, points.empty() ? text + length : points[0], '\0');
  for (std::size_t i = 0; i < pieces.size() && !nul; ++i) nul = pieces[i]->Nul();
  if (nul) length = static_cast<std::size_t>(nul - text);
  std::vector<Reader::Piece*> readers;
  for (const auto& piece : pieces) readers.push_back(piece.get());
  // The document keeps copies of what it needs.
  Reader reader(doc, text, length, nullptr, nullptr, NewArena(doc, length));
  reader.SetView(view);
  reader.SetPieces(std::move(readers));
  reader.Run();
  return reader.PiecesJoined();
}

void ParseBytes(XmlDocument& doc, const char* text, std::size_t length, FileView* view) {
  ParseInPieces(doc, text, length, PieceStarts(text, length, std::thread::hardware_concurrency()), true, view);
}

bool FindElementEnd(const char* lt, const char* bound, ElementEnd* out) { return ScanElementEnd(lt, bound, out); }

std::unique_ptr<XmlElement> BuildElementFromText(const char* text, std::size_t length) {
  ElementBuilder builder;
  return std::unique_ptr<XmlElement>(builder.Build(text, length, nullptr, nullptr));
}

void ParseTextWith(XmlDocument& doc, const char* text, ElementEndFinder finder) {
  const std::size_t length = text ? std::strlen(text) : 0;
  if (length == 0 || length > kMaxTextSize) {
    Access::Clear(doc);
    SetDefaults(doc);
    if (length) Access::SetStatus(doc, 1);
    return;
  }
  // Copied before clearing: text may point into this very document.
  std::unique_ptr<char[]> copy(new char[length + 1]);
  std::memcpy(copy.get(), text, length + 1);
  Access::Clear(doc);
  if (finder)
    ParseInPlace(doc, std::move(copy), length, finder);
  else
    ParseBytes(doc, copy.get(), length);
}

}  // namespace xml_detail

XmlDocument::XmlDocument(const char* fileName, const std::function<void()>& underWay) {
  xml_detail::LoadFile(*this, fileName, underWay);
}

void XmlDocument::ParseText(const char* text) { xml_detail::ParseTextWith(*this, text, nullptr); }
