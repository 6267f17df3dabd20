#include "server/ReleaseFolder.h"

#include "update/Sha1.h"
#include "update/rdc/RdcEngine.h"

#include <sys/stat.h>

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

}  // namespace

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
         name.find("..") == std::string::npos;
}

namespace {

// The folder a path leads to, links followed; the path itself when it leads
// nowhere (the caller finds out soon enough).
std::string Followed(const std::string& path) {
  std::error_code error;
  const std::filesystem::path real = std::filesystem::canonical(path, error);
  return error ? path : real.string();
}

}  // namespace

ReleaseFolder::ReleaseFolder(std::string root) : configured_(std::move(root)), root_(Followed(configured_)) {}

std::string ReleaseFolder::Root() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return root_;
}

std::string ReleaseFolder::Prepare() {
  std::error_code error;
  const std::string next = std::filesystem::canonical(configured_, error).string();
  if (error || !std::filesystem::is_directory(next, error)) return {};
  RefreshFolder(next);
  std::lock_guard<std::mutex> lock(mutex_);
  prepared_ = next;
  return next;
}

std::string ReleaseFolder::Prepared() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return prepared_;
}

bool ReleaseFolder::Reload() {
  std::error_code error;
  const std::string next = std::filesystem::canonical(configured_, error).string();
  if (error || !std::filesystem::is_directory(next, error)) return false;
  if (next == Root()) return true;
  // Whole before it is served: no client waits for a digest of it, and none
  // sees half of it.
  RefreshFolder(next);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    root_ = next;
  }
  ForgetOutside(next);
  return true;
}

void ReleaseFolder::ForgetOutside(const std::string& root) {
  const std::string prefix = root + "/";
  auto inside = [&prefix](const std::string& path) { return path.compare(0, prefix.size(), prefix) == 0; };
  auto forget = [&inside](auto& cache) {
    for (auto it = cache.begin(); it != cache.end();) it = inside(it->first) ? std::next(it) : cache.erase(it);
  };
  std::lock_guard<std::mutex> lock(mutex_);
  forget(hashes_);
  forget(signatures_);
  forget(packs_);
}

std::string ReleaseFolder::ProductFolder(const std::string& productId) const {
  return ProductFolderIn(Root(), productId);
}

std::string ReleaseFolder::ProductFolderIn(const std::string& root, const std::string& productId) {
  if (!IsPlainName(productId)) return {};
  std::string folder = root + "/" + productId;
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

std::string ReleaseFolder::KnownFileHash(const std::string& path) const {
  struct stat info;
  if (!StatFile(path, info) || !S_ISREG(info.st_mode)) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = hashes_.find(path);
  if (it == hashes_.end() || it->second.size != std::uint64_t(info.st_size) || it->second.mtimeNs != MtimeNs(info))
    return {};
  return it->second.hash;
}

std::string ReleaseFolder::KnownSignatureHash(const std::string& path) const {
  struct stat info;
  if (!StatFile(path, info) || !S_ISREG(info.st_mode)) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = signatures_.find(path);
  if (it == signatures_.end() || it->second.size != std::uint64_t(info.st_size) || it->second.mtimeNs != MtimeNs(info))
    return {};
  return it->second.signature.hash;
}

std::uint64_t ReleaseFolder::HashComputations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return computations_;
}

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
  auto sign = [&](const std::vector<std::uint8_t>& bytes, Signature& made) {
    made.bytes = std::make_shared<const std::string>(bytes.begin(), bytes.end());
    made.when = info.st_mtim.tv_sec;
    made.hash = Sha1Text(*made.bytes);
    made.packed = PackBytes(*made.bytes, made.when);
    return made.packed != nullptr;
  };
  Signature made;
  auto secondLevel = std::make_shared<Signature>();
  if (!sign(stream, made) || !sign(DIFF::MakeSecondLevelStream(stream.data(), stream.size()), *secondLevel))
    return false;
  made.secondLevel = std::move(secondLevel);

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

std::shared_ptr<const PackedEntry> ReleaseFolder::PackedFile(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  struct stat info;
  if (!file || ::fstat(fileno(file.get()), &info) != 0 || std::uint64_t(info.st_size) > kMaxPackedBytes) return nullptr;
  const std::uint64_t size = std::uint64_t(info.st_size);
  const std::int64_t mtime = MtimeNs(info);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = packs_.find(path);
    if (it != packs_.end() && it->second.size == size && it->second.mtimeNs == mtime) return it->second.packed;
  }
  std::string bytes(std::size_t(size), '\0');
  if (size > 0 && std::fread(&bytes[0], 1, bytes.size(), file.get()) != bytes.size()) return nullptr;
  std::shared_ptr<const PackedEntry> packed = PackBytes(bytes, info.st_mtim.tv_sec);
  if (!packed) return nullptr;

  std::lock_guard<std::mutex> lock(mutex_);
  packs_[path] = CachedPack{size, mtime, packed};
  ++packComputations_;
  return packed;
}

std::uint64_t ReleaseFolder::PackComputations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return packComputations_;
}

std::size_t ReleaseFolder::Refresh() { return RefreshFolder(Root()); }

std::size_t ReleaseFolder::RefreshFolder(const std::string& root) {
  std::size_t seen = 0;
  for (const std::string& product : NamesIn(root)) {
    const std::string folder = ProductFolderIn(root, product);
    if (folder.empty()) continue;
    for (const std::string& name : NamesIn(folder)) {
      const std::string path = ReleaseFile(folder, name);
      if (path.empty()) continue;
      ++seen;
      FileHash(path);
      Signature ignored;
      FileSignature(path, ignored);
      PackedFile(path);
    }
  }
  return seen;
}

std::uint64_t ReleaseFolder::SignatureComputations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signatureComputations_;
}

}  // namespace vantle_server
