#include "launcher/LibraryHandOver.h"

#include <cstdint>
#include <cstring>

#include "launcher/Storage.h"

std::string LibraryObjectName(const std::string& identity) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char c : identity) hash = (hash ^ c) * 0x100000001B3ull;
  static const char kDigits[] = "0123456789ABCDEF";
  std::string name = "Local\\Vantle.Library.";
  for (int shift = 60; shift >= 0; shift -= 4) name += kDigits[(hash >> shift) & 0xF];
  return name;
}

bool ReadHandedFolder(const char* data, std::size_t size, std::string& folder) {
  // A path of the program's longest in characters, each at most four bytes.
  if (!data || size == 0 || size > 4 * (kPathBufferSize - 1)) return false;
  if (std::memchr(data, '\0', size)) return false;
  folder.assign(data, size);
  return true;
}
