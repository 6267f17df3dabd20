// Stored strings, the two entity routines and the UTF-8/UTF-16 helpers.
#include "xml/XmlInternal.h"

#include "xml/ByteFind.h"

#include <cstring>
#include <limits>
#include <new>

namespace xml_detail {

const char kDefaultDeclaration[kDefaultDeclarationLength + 1] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";
const char kByteOrderMark[] = "\xEF\xBB\xBF";

// --- Text -------------------------------------------------------------------

void Text::FreeOwned() noexcept {
  delete[] const_cast<char*>(data_);
  data_ = "";
  bits_ = 0;
}

void Text::Copy(const char* data, std::size_t size) {
  if (size > kMaxTextSize) size = Utf8PrefixLength(data, size, kMaxTextSize);
  char* copy = new char[size + 1];
  if (size) std::memcpy(copy, data, size);
  copy[size] = '\0';
  Adopt(copy, static_cast<std::uint32_t>(size));
}

void Text::Adopt(char* data, std::uint32_t size) noexcept {
  Release();
  data_ = data;
  bits_ = (size & kSizeMask) | kOwned;
}

void Text::Swap(Text& other) noexcept {
  // By hand: the packed fields cannot be bound to references.
  const char* data = data_;
  const std::uint32_t bits = bits_;
  data_ = other.data_;
  bits_ = other.bits_;
  other.data_ = data;
  other.bits_ = bits;
}

// --- UTF-16 files --------------------------------------------------------------

std::size_t Utf16LeToUtf8(const unsigned char* src, std::size_t byteCount, char* dst) {
  std::wstring units;
  units.reserve(byteCount / 2);
  for (std::size_t i = 0; i + 1 < byteCount; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(src[i] | (src[i + 1] << 8));
    if (unit == 0) break;
    units += unit;
  }
  const std::string utf8 = Utf8FromWide(units);
  std::memcpy(dst, utf8.data(), utf8.size());
  return utf8.size();
}

// --- entities ---------------------------------------------------------------

namespace {

// Character references may spell a character beyond the first plane as a
// UTF-16 pair, as some writers do.
constexpr std::uint32_t kReplacement = 0xFFFD;
bool IsHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
std::uint32_t CombineSurrogates(std::uint32_t high, std::uint32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace

std::size_t EncodeRange(const char* src, std::size_t length, char* dst) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = src[i];
    const char* piece = nullptr;
    std::size_t pieceLength = 0;
    switch (c) {
      case '&':
        if (i + 1 >= length || src[i + 1] != '#') {
          piece = "&amp;";
          pieceLength = 5;
        }
        break;
      case '<':
        piece = "&lt;";
        pieceLength = 4;
        break;
      case '>':
        piece = "&gt;";
        pieceLength = 4;
        break;
      case '"':
        piece = "&quot;";
        pieceLength = 6;
        break;
      case '\'':
        piece = "&apos;";
        pieceLength = 6;
        break;
      default:
        break;
    }
    if (piece) {
      if (dst) std::memcpy(dst + out, piece, pieceLength);
      out += pieceLength;
    } else {
      if (dst) dst[out] = c;
      ++out;
    }
  }
  if (dst) dst[out] = '\0';
  return out;
}

namespace {

// Reads a character reference "&#digits" or "&#xhexdigits" at src[at] plus the
// one character after the digits (normally ";"). False when no digit follows.
// Values beyond U+10FFFF come back as 0x110000, whatever their length.
bool ReadCharReference(const char* src, std::size_t length, std::size_t at, std::uint32_t* value,
                       std::size_t* next) {
  std::size_t i = at + 2;
  unsigned base = 10;
  if (i < length && (src[i] == 'x' || src[i] == 'X')) {
    base = 16;
    ++i;
  }
  std::uint32_t v = 0;
  const std::size_t first = i;
  for (; i < length; ++i) {
    const char c = src[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      break;
    v = v * base + digit;
    if (v > 0x10FFFF) v = 0x110000;  // stays out of range, never overflows
  }
  if (i == first) return false;
  *value = v;
  *next = i < length ? i + 1 : length;
  return true;
}

struct NamedEntity {
  const char* text;
  std::size_t length;
  char value;
};

const NamedEntity kNamedEntities[] = {
    {"&amp;", 5, '&'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'},
};

}  // namespace

}  // namespace xml_detail

using namespace xml_detail;

std::size_t XmlEncodeEntities(const char* src, char* dst) {
  if (!src) {
    if (dst) *dst = '\0';
    return 0;
  }
  return EncodeRange(src, std::strlen(src), dst);
}

std::size_t XmlDecodeEntities(const char* src, char* dst, std::size_t srcLength) {
  if (!dst) return 0;
  if (!src) srcLength = 0;
  std::size_t i = 0;
  std::size_t out = 0;
  while (i < srcLength) {
    const char* found = FindByte(src + i, src + srcLength, '&');
    const std::size_t amp = found ? static_cast<std::size_t>(found - src) : srcLength;
    if (amp > i) {
      std::memmove(dst + out, src + i, amp - i);
      out += amp - i;
      i = amp;
    }
    if (i >= srcLength) break;

    if (i + 1 < srcLength && src[i + 1] == '#') {
      std::uint32_t value;
      std::size_t next;
      if (ReadCharReference(src, srcLength, i, &value, &next)) {
        // A high surrogate directly followed by a low one, as a UTF-16 writer
        // spells a character beyond the first plane, is that one character.
        if (IsHighSurrogate(value) && next + 1 < srcLength && src[next] == '&' && src[next + 1] == '#') {
          std::uint32_t low;
          std::size_t afterLow;
          if (ReadCharReference(src, srcLength, next, &low, &afterLow) && IsLowSurrogate(low)) {
            value = CombineSurrogates(value, low);
            next = afterLow;
          }
        }
        if (value != 0) {
          if (value > 0x10FFFF || IsHighSurrogate(value) || IsLowSurrogate(value)) value = kReplacement;
          out += PutUtf8(value, dst + out);
        }
        i = next;
        continue;
      }
      // "&#" without digits is not a reference: the ampersand stays text.
    } else {
      bool named = false;
      for (const NamedEntity& entity : kNamedEntities) {
        if (srcLength - i >= entity.length && std::memcmp(src + i, entity.text, entity.length) == 0) {
          dst[out++] = entity.value;
          i += entity.length;
          named = true;
          break;
        }
      }
      if (named) continue;
    }
    dst[out++] = '&';
    ++i;
  }
  dst[out] = '\0';
  return out;
}

std::string XmlEncode(const std::string& plain) {
  // The encoder ends with a NUL, which lands on the string's own terminator.
  std::string stored(EncodeRange(plain.data(), plain.size(), nullptr), '\0');
  EncodeRange(plain.data(), plain.size(), &stored[0]);
  return stored;
}

std::string XmlDecode(const std::string& stored) { return DecodeToString(stored.data(), stored.size()); }

namespace xml_detail {

std::string DecodeToString(const char* stored, std::size_t length) {
  // At most length bytes plus the NUL, which lands at or before the string's
  // own terminator.
  std::string plain(length, '\0');
  plain.resize(XmlDecodeEntities(stored, &plain[0], length));
  return plain;
}

std::size_t WritePlain(const Text& stored, char* buffer, std::size_t bufferSize) {
  if (bufferSize == 0) return 0;
  // Decoding never lengthens a text, so a buffer longer than the stored form
  // takes the plain form whole.
  if (stored.Size() < bufferSize) return XmlDecodeEntities(stored.Get(), buffer, stored.Size());
  std::string plain = DecodeToString(stored.Get(), stored.Size());
  std::size_t n = Utf8PrefixLength(plain.data(), plain.size(), bufferSize - 1);
  std::memcpy(buffer, plain.data(), n);
  buffer[n] = '\0';
  return n;
}

bool PlainEquals(const Text& stored, const char* plain, std::size_t length) {
  const char* s = stored.Get();
  const std::size_t n = stored.Size();
  // Decoding only shortens, and only where a '&' stands: a stored text of
  // the same length is equal as it stands or not at all, and a longer one
  // without a '&' never. Names are looked up among many that differ in
  // length or at once, so most answers come before any byte is searched.
  if (n < length) return false;
  if (n == length) {
    for (std::size_t i = 0; i < n; ++i)
      if (s[i] != plain[i]) return false;
    return !FindByte(s, s + n, '&');
  }
  if (!FindByte(s, s + n, '&')) return false;
  char small[256];
  if (n < sizeof small) {
    std::size_t m = XmlDecodeEntities(s, small, n);
    return m == length && std::memcmp(small, plain, m) == 0;
  }
  std::string decoded = DecodeToString(s, n);
  return decoded.size() == length && std::memcmp(decoded.data(), plain, length) == 0;
}

}  // namespace xml_detail
