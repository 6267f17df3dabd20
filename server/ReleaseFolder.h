// The release folder: ROOT/<product id>/<file name>, the SHA-1 of its files
// (cached while a file's size and time stay the same) and zip archives of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantle_server {

// A product id or file name that may be joined to a folder: not empty, not
// ".", and free of '/', '\\', NUL and "..", so that it can only name an entry
// of that folder itself.
bool IsPlainName(const std::string& name);

class ReleaseFolder {
 public:
  explicit ReleaseFolder(std::string root);

  const std::string& Root() const { return root_; }

  // The product's folder, or empty when the id is not a plain name or no such
  // folder exists.
  std::string ProductFolder(const std::string& productId) const;

  // The path of a regular file of the product folder, or empty when the name
  // is not a plain name or is not a regular file there.
  static std::string ReleaseFile(const std::string& productFolder, const std::string& name);

  // SHA-1 of a file as 40 upper-case hex digits; empty when it cannot be read.
  // Safe to call from many threads at once.
  std::string FileHash(const std::string& path);

  // How many times a file was actually read for hashing (the rest came from
  // the cache).
  std::uint64_t HashComputations() const;

  // A release file's delta signatures: the stream the updater's own engine
  // makes for the same bytes, with its SHA-1. Made on first use and again
  // whenever the file's size or time has changed; false when the file cannot
  // be read. Safe to call from many threads at once.
  struct Signature {
    std::shared_ptr<const std::string> bytes;
    std::string hash;      // 40 upper-case hex digits
    std::time_t when = 0;  // the file's time
  };
  bool FileSignature(const std::string& path, Signature& out);
  std::uint64_t SignatureComputations() const;

  // Hashes and signs every regular file of every product folder that is new
  // or has changed since it was last done, so that clients do not wait for
  // it; returns how many files were looked at. Files already in step cost
  // one stat each.
  std::size_t Refresh();

 private:
  struct CachedHash {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::string hash;
  };

  std::string root_;
  mutable std::mutex mutex_;
  struct CachedSignature {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    Signature signature;
  };

  std::unordered_map<std::string, CachedHash> hashes_;
  std::uint64_t computations_ = 0;
  std::unordered_map<std::string, CachedSignature> signatures_;
  std::uint64_t signatureComputations_ = 0;
};

// One entry of an archive: a file on disk or bytes in memory (when bytes is
// set), whole or only size bytes from offset from.
struct ZipSource {
  std::string entryName;
  std::string path;
  std::shared_ptr<const std::string> bytes;
  std::time_t when = 0;  // the entry's time for bytes; a file's is its own
  bool ranged = false;
  std::uint64_t from = 0;
  std::uint64_t size = 0;
};

// A zip archive in memory with one deflated entry per source, in the given
// order, each named by its entry name. False with a reason when a file cannot
// be read, a range is no longer inside its file, or the archive cannot be
// written.
bool BuildZip(const std::vector<ZipSource>& sources, std::string& archive, std::string& error);

}  // namespace vantle_server
