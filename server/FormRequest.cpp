#include "server/FormRequest.h"

#include <map>

namespace vantle_server {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decimal digits without a sign or leading zeros, fitting 64 bits.
bool ParseDecimal(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = std::uint64_t(c - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

// "f12" -> kind "f", number 12. Field numbers start at 1.
bool SplitFieldName(const std::string& name, std::string& kind, std::uint64_t& number) {
  std::size_t digits = name.find_first_of("0123456789");
  if (digits == std::string::npos || digits == 0) return false;
  kind = name.substr(0, digits);
  if (kind != "f" && kind != "from" && kind != "size") return false;
  return ParseDecimal(std::string_view(name).substr(digits), number) && number != 0;
}

}  // namespace

std::string Quote(std::string_view text) {
  constexpr std::size_t kMax = 60;
  return "\"" + std::string(text.substr(0, kMax)) + (text.size() > kMax ? "...\"" : "\"");
}

bool PercentDecode(std::string_view text, bool plusIsSpace, std::string& out) {
  out.clear();
  out.reserve(text.size());
  // Plain runs are copied whole; only escapes (and '+') are looked at.
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t next = i;
    while (next < text.size() && text[next] != '%' && !(plusIsSpace && text[next] == '+')) ++next;
    out.append(text.data() + i, next - i);
    if (next == text.size()) break;
    i = next;
    if (text[i] == '+') {
      out += ' ';
      ++i;
      continue;
    }
    if (text.size() - i < 3) return false;
    const int h = HexValue(text[i + 1]);
    const int l = HexValue(text[i + 2]);
    if (h < 0 || l < 0) return false;
    out += char(h * 16 + l);
    i += 3;
  }
  return true;
}

bool ParseFormText(std::string_view text, FormFields& out, std::string& error) {
  out.clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view segment = text.substr(start, end - start);
    if (!segment.empty()) {
      const std::size_t eq = segment.find('=');
      const std::string_view rawName = segment.substr(0, eq);
      const std::string_view rawValue =
          eq == std::string_view::npos ? std::string_view() : segment.substr(eq + 1);
      std::string name, value;
      if (!PercentDecode(rawName, true, name) || !PercentDecode(rawValue, true, value)) {
        error = "undecodable percent escape in " + Quote(segment);
        return false;
      }
      out.emplace_back(std::move(name), std::move(value));
    }
    start = end + 1;
  }
  return true;
}

Target SplitTarget(std::string_view target) {
  Target t;
  const std::size_t q = target.find('?');
  t.path = std::string(target.substr(0, q));
  if (q != std::string_view::npos) t.query = std::string(target.substr(q + 1));
  return t;
}

bool ParseItems(const FormFields& fields, std::vector<RequestedItem>& out, std::string& error) {
  out.clear();
  // number -> the three possible fields of that number
  struct Slot {
    const std::string* name = nullptr;
    const std::string* from = nullptr;
    const std::string* size = nullptr;
  };
  std::map<std::uint64_t, Slot> slots;
  for (const auto& field : fields) {
    std::string kind;
    std::uint64_t number = 0;
    if (!SplitFieldName(field.first, kind, number)) {
      error = "unexpected field " + Quote(field.first);
      return false;
    }
    Slot& slot = slots[number];
    const std::string** place = kind == "f" ? &slot.name : kind == "from" ? &slot.from : &slot.size;
    if (*place) {
      error = "field " + Quote(field.first) + " appears twice";
      return false;
    }
    *place = &field.second;
  }
  if (slots.empty()) {
    error = "no fields: f1 is missing";
    return false;
  }
  std::uint64_t expected = 1;
  for (const auto& [number, slot] : slots) {
    if (number != expected || !slot.name) {
      error = "field f" + std::to_string(expected) + " is missing";
      return false;
    }
    RequestedItem item;
    item.name = *slot.name;
    if (slot.from || slot.size) {
      if (!slot.from || !slot.size) {
        error = "field " + std::string(slot.from ? "size" : "from") + std::to_string(number) +
                " is missing";
        return false;
      }
      if (!ParseDecimal(*slot.from, item.from) || !ParseDecimal(*slot.size, item.size)) {
        error = "fields from" + std::to_string(number) + "/size" + std::to_string(number) +
                " are not decimal numbers";
        return false;
      }
      item.ranged = true;
    }
    out.push_back(std::move(item));
    ++expected;
  }
  return true;
}

}  // namespace vantle_server
