// Zip archives written as they are sent. A reply holds each distinct piece
// (a whole file, its signatures, a byte range) once, however often the
// request names it: the central directory lists one entry per name asked
// for, and entries that name the same piece point at the same data. Whole
// files come already deflated (made once per release file); ranges are
// deflated a piece at a time as the reply goes out, so that nothing holds a
// whole archive in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantle_server {

// A whole entry deflated ahead of time.
struct PackedEntry {
  std::string deflated;  // raw deflate data
  std::uint32_t crc = 0;
  std::uint64_t size = 0;  // inflated
  std::time_t when = 0;
};

// Deflates bytes as one entry.
std::shared_ptr<const PackedEntry> PackBytes(const std::string& bytes, std::time_t when);

// One distinct piece of an archive, stored once under its entry name.
struct ZipPart {
  std::string name;
  std::shared_ptr<const PackedEntry> packed;  // a whole entry, or a range deflated while sending:
  std::string path;                           //   of a file,
  std::shared_ptr<const std::string> bytes;   //   or of bytes in memory (made at when)
  std::time_t when = 0;
  std::uint64_t from = 0;
  std::uint64_t size = 0;
  // When not empty: the part is these ranges (from, size) of its source one
  // after another, and size is their sum (from is not used).
  std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
  // A range whose pieces each use the source's own window before them as
  // dictionary (not what was sent before), for a client that rebuilds the
  // source in order and so holds that window: the bytes it already had
  // compress what it lacks. Each piece is then a whole deflate stream of its
  // own that never crosses a span, since the dictionary changes with each,
  // so no ordinary inflater can read the entry: it goes out only under a
  // name of its own (kPrimedSuffix) to clients that asked for it.
  bool primed = false;
};

// What a primed entry's name adds to the name of the file its ranges are of.
// '?' is in no published file's name, so a reply from a server that does not
// prime can never be taken for one that does.
constexpr const char* kPrimedSuffix = "?d=1";

// A reply body that is made while it is sent.
class BodyStream {
 public:
  virtual ~BodyStream() = default;
  // Appends the next piece of the body (some tens of kilobytes at most) to
  // out. False with a reason when the body cannot go on (a file changed or
  // vanished while it was sent).
  virtual bool Next(std::string& out, std::string& error) = 0;
  virtual bool Done() const = 0;
  // The whole length, when it is known before the first byte goes out.
  virtual std::optional<std::uint64_t> Length() const = 0;
};

class ZipStream : public BodyStream {
 public:
  // More entries than this need the zip64 extensions, which no client of
  // ours needs.
  static constexpr std::size_t kMaxEntries = 65535;
  // Deflated a piece at a time, each piece a deflate stream of its own flushed
  // to a byte boundary, so that no deflate state outlives one call; each
  // piece may refer back to the last window of the range sent before it.
  static constexpr std::size_t kRangePiece = 64 * 1024;

  // entries: for each archive entry in order, the index of its part.
  ZipStream(std::vector<ZipPart> parts, std::vector<std::size_t> entries);
  ~ZipStream() override;

  bool Next(std::string& out, std::string& error) override;
  bool Done() const override { return stage_ == Stage::kDone; }
  std::optional<std::uint64_t> Length() const override;

 private:
  enum class Stage { kParts, kDirectory, kDone };
  struct Written {
    std::uint32_t crc = 0;
    std::uint64_t packedSize = 0, size = 0, offset = 0;
    std::uint16_t time = 0, date = 0, flags = 0;
  };
  bool NextPart(std::string& out, std::string& error);
  bool NextRangePiece(std::string& out, std::string& error);
  // count bytes of the current range's source from offset source.
  bool ReadSource(std::uint64_t source, std::size_t count, char* into, std::string& error);

  std::vector<ZipPart> parts_;
  std::vector<std::size_t> entries_;
  std::vector<Written> written_;
  Stage stage_ = Stage::kParts;
  std::size_t part_ = 0;       // the part being sent
  bool inPart_ = false;        // its local header has gone out
  std::uint64_t done_ = 0;     // bytes of it sent (packed) or read (range)
  int file_ = -1;              // the open file of a range
  std::string seen_;           // the last window of the range's bytes sent
  std::size_t entry_ = 0;      // next central directory entry
  std::uint64_t offset_ = 0;   // bytes of the archive so far
  std::uint64_t directoryStart_ = 0;
};

}  // namespace vantle_server
