// The release folder: ROOT/<product id>/<file name>, the SHA-1 of its files,
// their delta signatures and their deflated forms (each cached while a file's
// size and time stay the same).
#pragma once

#include "server/ZipStream.h"

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
  // root may be a link to the folder of one release: it is followed once
  // here and again at each Reload, never between, so that publishing a
  // release by swapping the link switches every request over at one moment.
  explicit ReleaseFolder(std::string root);

  // The folder served now (the link followed). A request takes it once and
  // finds all its files there.
  std::string Root() const;

  // Follows the root link again; when it leads to another folder, hashes,
  // signs and packs that whole release first (Refresh) and then serves it,
  // forgetting what was kept of the one before. False when the link leads to
  // no folder (the present release stays).
  bool Reload();
  // The first half of a switch over several instances: follows the link and
  // prepares the release it leads to as Reload does, but goes on serving the
  // present one, so that the Reload that follows switches at once. Returns
  // the name of the folder prepared (empty when the link leads to none).
  std::string Prepare();
  std::string Prepared() const;

  // The product's folder under root (by default the one served now), or
  // empty when the id is not a plain name or no such folder exists.
  std::string ProductFolder(const std::string& productId) const;
  static std::string ProductFolderIn(const std::string& root, const std::string& productId);

  // The path of a regular file of the product folder, or empty when the name
  // is not a plain name or is not a regular file there.
  static std::string ReleaseFile(const std::string& productFolder, const std::string& name);

  // SHA-1 of a file as 40 upper-case hex digits; empty when it cannot be read.
  // Safe to call from many threads at once.
  std::string FileHash(const std::string& path);

  // The digest of a regular file, or of its signatures, when one was made
  // for the file's present size and time; empty otherwise. Reads no file.
  std::string KnownFileHash(const std::string& path) const;
  std::string KnownSignatureHash(const std::string& path) const;

  // How many times a file was actually read for hashing (the rest came from
  // the cache).
  std::uint64_t HashComputations() const;

  // A release file's delta signatures: the stream the updater's own engine
  // makes for the same bytes, with its SHA-1 and its second level. Made on
  // first use and again whenever the file's size or time has changed; false
  // when the file cannot be read. Safe to call from many threads at once.
  struct Signature {
    std::shared_ptr<const std::string> bytes;
    std::string hash;      // 40 upper-case hex digits
    std::time_t when = 0;  // the file's time
    std::shared_ptr<const PackedEntry> packed;  // the stream deflated
    // The signatures of this stream, made with it (null inside them), so
    // that a client holding an older stream fetches only what changed.
    std::shared_ptr<const Signature> secondLevel;
  };
  bool FileSignature(const std::string& path, Signature& out);
  std::uint64_t SignatureComputations() const;

  // A release file deflated as a whole zip entry: made once for each
  // version of the file (at refresh, or on first use after a change), not
  // for every request. Null when the file cannot be read or is larger than
  // any reply may hold (it is then not read at all).
  static constexpr std::uint64_t kMaxPackedBytes = std::uint64_t(64) << 20;
  std::shared_ptr<const PackedEntry> PackedFile(const std::string& path);
  std::uint64_t PackComputations() const;

  // Hashes, signs and packs every regular file of every product folder that is new
  // or has changed since it was last done, so that clients do not wait for
  // it; returns how many files were looked at. Files already in step cost
  // one stat each.
  std::size_t Refresh();

 private:
  std::size_t RefreshFolder(const std::string& root);
  // Drops what is kept for files outside root.
  void ForgetOutside(const std::string& root);

  struct CachedHash {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::string hash;
  };

  const std::string configured_;  // as given: perhaps a link
  std::string root_;              // the folder served; under mutex_
  std::string prepared_;          // the last folder Prepare made ready; under mutex_
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
  struct CachedPack {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::shared_ptr<const PackedEntry> packed;
  };
  std::unordered_map<std::string, CachedPack> packs_;
  std::uint64_t packComputations_ = 0;
};

}  // namespace vantle_server
