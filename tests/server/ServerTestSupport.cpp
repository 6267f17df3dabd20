#include "ServerTestSupport.h"

#include <unzip.h>

#include "update/MemoryZip.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace server_test {

ReleaseTree::ReleaseTree() {
  std::random_device rd;
  root_ = fs::temp_directory_path() / ("vantle-server-test-" + std::to_string(rd()) + std::to_string(rd())) / "root";
  fs::create_directories(Product());
}

ReleaseTree::~ReleaseTree() {
  std::error_code ignored;
  fs::remove_all(Outside(), ignored);
}

fs::path ReleaseTree::Write(const std::string& name, const std::string& bytes) const {
  const fs::path p = Product() / fs::u8path(name);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return p;
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RandomText(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

bool ReadZip(const std::string& archive, std::vector<ZipEntry>& entries) {
  entries.clear();
  zlib_filefunc64_def io = VULIBRARY::MemoryZipReader(archive);
  unzFile zip = unzOpen2_64("memory", &io);
  if (!zip) return false;
  bool ok = true;
  unz_global_info64 global;
  if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) ok = false;
  for (ZPOS64_T i = 0; ok && i < global.number_entry; ++i) {
    if (i > 0 && unzGoToNextFile(zip) != UNZ_OK) {
      ok = false;
      break;
    }
    unz_file_info64 info;
    char name[1024];
    if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK ||
        unzOpenCurrentFile(zip) != UNZ_OK) {
      ok = false;
      break;
    }
    ZipEntry entry;
    entry.name = name;
    entry.method = int(info.compression_method);
    char buf[16384];
    int n;
    while ((n = unzReadCurrentFile(zip, buf, sizeof buf)) > 0) entry.bytes.append(buf, std::size_t(n));
    // unzCloseCurrentFile checks the CRC of what was read.
    if (n < 0 || unzCloseCurrentFile(zip) != UNZ_OK || entry.bytes.size() != info.uncompressed_size)
      ok = false;
    entries.push_back(std::move(entry));
  }
  unzClose(zip);
  return ok;
}

}  // namespace server_test
