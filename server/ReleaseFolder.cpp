#include "server/ReleaseFolder.h"

#include "update/MemoryZip.h"
#include "update/Sha1.h"
#include "update/rdc/RdcEngine.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

namespace vantle_server {
namespace {

bool StatFile(const std::string& path, struct stat& info) { return ::stat(path.c_str(), &info) == 0; }

std::int64_t MtimeNs(const struct stat& info) {
  return std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool HasNonAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return true;
  return false;
}

}  // namespace

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
         name.find("..") == std::string::npos;
}

ReleaseFolder::ReleaseFolder(std::string root) : root_(std::move(root)) {}

std::string ReleaseFolder::ProductFolder(const std::string& productId) const {
  if (!IsPlainName(productId)) return {};
  std::string folder = root_ + "/" + productId;
  struct stat info;
  if (!StatFile(folder, info) || !S_ISDIR(info.st_mode)) return {};
  return folder;
}

std::string ReleaseFolder::ReleaseFile(const std::string& productFolder, const std::string& name) {
  if (!IsPlainName(name)) return {};
  std::string path = productFolder + "/" + name;
  struct stat info;
  if (!StatFile(path, info) || !S_ISREG(info.st_mode)) return {};
  return path;
}

std::string ReleaseFolder::FileHash(const std::string& path) {
  struct stat info;
  if (!StatFile(path, info)) return {};
  const std::uint64_t size = std::uint64_t(info.st_size);
  const std::int64_t mtime = MtimeNs(info);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = hashes_.find(path);
    if (it != hashes_.end() && it->second.size == size && it->second.mtimeNs == mtime)
      return it->second.hash;
  }
  // Hashed outside the lock: a large file must not hold up answers for others.
  // Two threads may both hash the same new file; they agree on the result.
  Sha1Context sha;
  sha.Reset();
  if (!sha.HashFile(path.c_str())) return {};
  sha.Final();
  char text[Sha1Context::kHexSize + 1] = "";
  sha.ReportHash(text, sizeof text);

  std::lock_guard<std::mutex> lock(mutex_);
  // Stored under the time and size seen before reading: if the file changed
  // while it was read, the next request sees other values and hashes again.
  hashes_[path] = CachedHash{size, mtime, text};
  ++computations_;
  return text;
}

std::uint64_t ReleaseFolder::HashComputations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return computations_;
}

namespace {

// Hands out a source's bytes piece by piece, from a file or from memory.
class SourceReader {
 public:
  bool Open(const ZipSource& source, std::time_t& when, std::uint64_t& length, std::string& error) {
    if (source.bytes) {
      data_ = source.bytes.get();
      when = source.when;
      total_ = data_->size();
    } else {
      file_.reset(std::fopen(source.path.c_str(), "rb"));
      struct stat info;
      if (!file_ || ::fstat(fileno(file_.get()), &info) != 0) {
        error = "cannot read " + source.entryName;
        return false;
      }
      when = info.st_mtim.tv_sec;
      total_ = std::uint64_t(info.st_size);
    }
    offset_ = 0;
    left_ = total_;
    if (source.ranged) {
      // The file may have changed since the request was checked.
      if (source.from > total_ || source.size > total_ - source.from) {
        error = "the range of " + source.entryName + " is no longer inside it";
        return false;
      }
      offset_ = source.from;
      left_ = source.size;
      if (file_ && ::fseeko(file_.get(), off_t(offset_), SEEK_SET) != 0) {
        error = "cannot read " + source.entryName;
        return false;
      }
    }
    length = left_;
    return true;
  }

  // Up to capacity bytes into buffer; 0 at the end. False when the file ends
  // early or cannot be read.
  bool Next(char* buffer, std::size_t capacity, std::size_t& got) {
    got = std::size_t(std::min<std::uint64_t>(capacity, left_));
    if (got == 0) return true;
    if (data_) {
      std::memcpy(buffer, data_->data() + offset_, got);
    } else if (std::fread(buffer, 1, got, file_.get()) != got) {
      return false;
    }
    offset_ += got;
    left_ -= got;
    return true;
  }

 private:
  const std::string* data_ = nullptr;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::uint64_t total_ = 0, offset_ = 0, left_ = 0;
};

}  // namespace

bool ReleaseFolder::FileSignature(const std::string& path, Signature& out) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  struct stat info;
  if (!file || ::fstat(fileno(file.get()), &info) != 0) return false;
  // Keyed by what the open file says, so that a file replaced by a rename
  // since the caller looked is taken as the new file it is.
  const std::uint64_t size = std::uint64_t(info.st_size);
  const std::int64_t mtime = MtimeNs(info);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = signatures_.find(path);
    if (it != signatures_.end() && it->second.size == size && it->second.mtimeNs == mtime) {
      out = it->second.signature;
      return true;
    }
  }
  // Made outside the lock, as hashes are.
  std::vector<std::uint8_t> stream;
  if (!DIFF::MakeSignatureStream(file.get(), &stream)) return false;
  Signature made;
  made.bytes = std::make_shared<const std::string>(stream.begin(), stream.end());
  made.when = info.st_mtim.tv_sec;
  made.hash = Sha1Text(*made.bytes);

  std::lock_guard<std::mutex> lock(mutex_);
  signatures_[path] = CachedSignature{size, mtime, made};
  ++signatureComputations_;
  out = std::move(made);
  return true;
}

namespace {

// The names in a folder, or none when it cannot be read; never throws.
std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error), end;
  while (!error && it != end) {
    names.push_back(it->path().filename().string());
    it.increment(error);
  }
  return names;
}

}  // namespace

std::size_t ReleaseFolder::Refresh() {
  std::size_t seen = 0;
  for (const std::string& product : NamesIn(root_)) {
    const std::string folder = ProductFolder(product);
    if (folder.empty()) continue;
    for (const std::string& name : NamesIn(folder)) {
      const std::string path = ReleaseFile(folder, name);
      if (path.empty()) continue;
      ++seen;
      FileHash(path);
      Signature ignored;
      FileSignature(path, ignored);
    }
  }
  return seen;
}

std::uint64_t ReleaseFolder::SignatureComputations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signatureComputations_;
}

bool BuildZip(const std::vector<ZipSource>& sources, std::string& archive, std::string& error) {
  archive.clear();
  zlib_filefunc64_def io = VULIBRARY::MemoryZipWriter(archive);

  zipFile zip = zipOpen2_64("memory", APPEND_STATUS_CREATE, nullptr, &io);
  if (!zip) {
    error = "cannot start the archive";
    return false;
  }
  bool ok = true;
  constexpr std::size_t kPiece = 1 << 16;
  std::unique_ptr<char[]> buffer(new char[kPiece]);
  for (const ZipSource& source : sources) {
    SourceReader reader;
    std::time_t mtime = 0;
    std::uint64_t length = 0;
    if (!reader.Open(source, mtime, length, error)) {
      ok = false;
      break;
    }
    zip_fileinfo zi{};
    std::tm when{};
    gmtime_r(&mtime, &when);
    zi.tmz_date.tm_sec = uInt(when.tm_sec);
    zi.tmz_date.tm_min = uInt(when.tm_min);
    zi.tmz_date.tm_hour = uInt(when.tm_hour);
    zi.tmz_date.tm_mday = uInt(when.tm_mday);
    zi.tmz_date.tm_mon = uInt(when.tm_mon);
    zi.tmz_date.tm_year = uInt(when.tm_year + 1900);
    const int zip64 = length >= 0xFFFFFFFFu ? 1 : 0;
    const uLong utf8Flag = HasNonAscii(source.entryName) ? (1u << 11) : 0;
    if (zipOpenNewFileInZip4_64(zip, source.entryName.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                Z_DEFAULT_STRATEGY, nullptr, 0, 0, utf8Flag, zip64) != ZIP_OK) {
      error = "cannot add " + source.entryName + " to the archive";
      ok = false;
      break;
    }
    std::size_t got = 0;
    while (ok && (ok = reader.Next(buffer.get(), kPiece, got)) && got > 0)
      ok = zipWriteInFileInZip(zip, buffer.get(), unsigned(got)) == ZIP_OK;
    if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
    if (!ok) {
      error = "cannot pack " + source.entryName;
      break;
    }
  }
  if (zipClose(zip, nullptr) != ZIP_OK && ok) {
    error = "cannot finish the archive";
    ok = false;
  }
  if (!ok) archive.clear();
  return ok;
}

}  // namespace vantle_server
