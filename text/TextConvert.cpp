#include "text/TextConvert.h"

#include <cstring>

namespace {

// Windows-1252 at 0x80..0x9F; the five holes of the code page keep their
// byte value, like the system's own conversion.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::uint32_t Cp1252(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

// The length of the well-formed UTF-8 sequence at text (0 when there is
// none) and its code point.
std::size_t DecodeSequence(const unsigned char* text, std::size_t available, std::uint32_t& code) {
  const unsigned char lead = text[0];
  std::size_t length;
  std::uint32_t minimum;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (length > available) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (text[i] & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendWide(std::wstring& out, std::uint32_t code) {
  if (sizeof(wchar_t) == 2 && code >= 0x10000) {
    code -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (code >> 10));
    out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
  } else {
    out += static_cast<wchar_t>(code);
  }
}

}  // namespace

std::wstring WideFromUtf8(const char* text, std::size_t length) {
  std::wstring out;
  WideFromUtf8(text, length, out);
  return out;
}

void WideFromUtf8(const char* text, std::size_t length, std::wstring& out) {
  out.clear();
  if (!text) return;
  out.reserve(length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < length;) {
    std::uint32_t code = 0;
    std::size_t used = DecodeSequence(bytes + i, length - i, code);
    if (used == 0) {
      code = Cp1252(bytes[i]);
      used = 1;
    }
    AppendWide(out, code);
    i += used;
  }
}

std::wstring WideFromUtf8(const std::string& text) { return WideFromUtf8(text.data(), text.size()); }

std::wstring WideFromUtf8(const char* text) { return text ? WideFromUtf8(text, std::strlen(text)) : std::wstring(); }

std::size_t PutUtf8(std::uint32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

std::string Utf8FromWide(const std::wstring& text) {
  constexpr std::uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(text.size());
  char bytes[4];
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(text[i]);
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(static_cast<std::uint32_t>(text[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) {
      c = kReplacement;
    }
    out.append(bytes, PutUtf8(c, bytes));
  }
  return out;
}

std::string Utf8FromWide(const wchar_t* text) { return text ? Utf8FromWide(std::wstring(text)) : std::string(); }

std::size_t Utf8PrefixLength(const char* text, std::size_t length, std::size_t maxBytes) {
  if (length <= maxBytes) return length;
  std::size_t cut = maxBytes;
  // Step back over continuation bytes to the start of the sequence that the
  // cut would split; a sequence that fits entirely is kept.
  std::size_t start = cut;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && cut - start < 3) --start;
  if (start < cut) {
    std::uint32_t code = 0;
    const std::size_t sequence =
        DecodeSequence(reinterpret_cast<const unsigned char*>(text) + start, length - start, code);
    if (sequence > 0 && start + sequence > cut) cut = start;
  }
  return cut;
}

std::size_t CopyToBuffer(const std::string& text, char* buffer, std::size_t size) {
  if (!buffer || size == 0) return 0;
  const std::size_t length = Utf8PrefixLength(text.data(), text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

std::string TextInBuffer(const char* buffer, std::size_t size) {
  if (!buffer || size == 0) return std::string();
  const void* zero = std::memchr(buffer, '\0', size);
  const std::size_t length = zero ? static_cast<const char*>(zero) - buffer
                                  : Utf8PrefixLength(buffer, size, size - 1);
  return std::string(buffer, length);
}
