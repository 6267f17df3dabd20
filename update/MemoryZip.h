// minizip's file functions over a byte string in memory: zip archives are read
// straight from a reply, or built for one, without touching the disk.
#pragma once

#include <ioapi.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace VULIBRARY {

// Reads archive, which must outlive every handle opened with the result.
// Writes fail and a seek past the end is refused.
zlib_filefunc64_def MemoryZipReader(const std::string& archive);

// Builds an archive in archive. minizip seeks back to patch each local header
// once an entry's sizes are known, so writes may land anywhere in what has
// been written so far.
zlib_filefunc64_def MemoryZipWriter(std::string& archive);

// An archive held in memory, read entry by entry in the archive's own order.
// A reply's entries are matched to its request by position; a name is looked
// at only where it tells which form of reply came back.
class MemoryZipArchive {
 public:
  // bytes must outlive the archive. An empty or damaged archive is not open.
  explicit MemoryZipArchive(const std::string& bytes);
  ~MemoryZipArchive();
  MemoryZipArchive(const MemoryZipArchive&) = delete;
  MemoryZipArchive& operator=(const MemoryZipArchive&) = delete;

  bool IsOpen() const { return archive_ != nullptr; }
  std::uint64_t EntryCount() const { return entries_; }

  using Sink = std::function<bool(const char* data, std::size_t size)>;
  // Hands the inflated bytes of entry index (0-based) to sink, piece by
  // piece. False when there is no such entry, when it is damaged (its
  // length and CRC must be what its header says), when it would inflate to
  // more than maxBytes (whatever its header claims), or when sink refuses a
  // piece. A refused entry may have handed some bytes to sink already.
  bool ReadEntry(std::uint64_t index, std::uint64_t maxBytes, const Sink& sink);
  // The same into a string.
  bool ReadEntry(std::uint64_t index, std::uint64_t maxBytes, std::string* bytes);

  // An entry's name, and its data as stored (not inflated) with the CRC and
  // inflated length its directory record gives, for entries whose data is
  // not one plain deflate stream. False when there is no such entry or its
  // stored data is over maxStoredBytes; the caller checks CRC and length.
  struct RawEntry {
    std::string name;
    std::string stored;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
  };
  bool ReadRawEntry(std::uint64_t index, std::uint64_t maxStoredBytes, RawEntry* entry);

 private:
  bool GoTo(std::uint64_t index);

  void* archive_ = nullptr;
  std::uint64_t entries_ = 0;
  std::uint64_t current_ = 0;  // the entry minizip stands on, when hasCurrent_
  bool hasCurrent_ = false;
};

}  // namespace VULIBRARY
