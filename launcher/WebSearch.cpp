#include "launcher/WebSearch.h"

#include <cstring>

namespace {

bool KeptAsIs(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c != 0 && std::strchr("-._~!$'()*,;:@/", c) != nullptr;
}

}  // namespace

std::string SearchAddress(SearchSite site, const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string address = site == SearchSite::DosBoxCompatibility
                            ? "https://www.dosbox.com/comp_list.php?&search="
                            : "https://www.google.com/search?q=";
  for (const char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (KeptAsIs(c)) {
      address += ch;
    } else if (c == ' ') {
      address += site == SearchSite::DosBoxCompatibility ? '+' : ' ';
    } else {
      address += '%';
      address += kHex[c >> 4];
      address += kHex[c & 15];
    }
  }
  return address;
}
