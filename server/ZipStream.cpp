#include "server/ZipStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

namespace vantle_server {
namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndOfDirectory = 0x06054b50;
constexpr std::uint32_t kDataDescriptor = 0x08074b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kSizesFollow = 1u << 3;
constexpr std::uint16_t kUtf8Names = 1u << 11;
constexpr std::size_t kPackedPiece = 64 * 1024;

void Put16(std::string& out, std::uint32_t v) {
  out += char(v & 0xFF);
  out += char((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint64_t v) {
  Put16(out, std::uint32_t(v & 0xFFFF));
  Put16(out, std::uint32_t((v >> 16) & 0xFFFF));
}

void DosTime(std::time_t when, std::uint16_t& time, std::uint16_t& date) {
  std::tm t{};
  gmtime_r(&when, &t);
  if (t.tm_year < 80) t = std::tm{0, 0, 0, 1, 0, 80, 0, 0, 0, 0, nullptr};
  time = std::uint16_t((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
  date = std::uint16_t(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
}

std::uint16_t NameFlags(const std::string& name) {
  for (unsigned char c : name)
    if (c >= 0x80) return kUtf8Names;
  return 0;
}

// One deflate stream over input; finished marks the entry's last piece, the
// others end on a byte boundary without a final block so that the next
// piece's stream continues the same entry. seen: the entry's bytes just
// before input (at most a window's worth), which the inflater already holds,
// so that the piece may refer back to them as one stream would.
bool DeflatePiece(const unsigned char* input, std::size_t size, bool finished, std::string& out,
                  const std::string& seen = std::string()) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  if (!seen.empty() &&
      deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(seen.data()), uInt(seen.size())) != Z_OK) {
    deflateEnd(&z);
    return false;
  }
  const std::size_t start = out.size();
  const std::size_t room = deflateBound(&z, uLong(size)) + 64;
  out.resize(start + room);
  z.next_in = const_cast<unsigned char*>(input);
  z.avail_in = uInt(size);
  z.next_out = reinterpret_cast<unsigned char*>(&out[start]);
  z.avail_out = uInt(room);
  const int result = deflate(&z, finished ? Z_FINISH : Z_SYNC_FLUSH);
  const bool ok = (finished ? result == Z_STREAM_END : result == Z_OK) && z.avail_in == 0 && z.avail_out > 0;
  out.resize(start + (room - z.avail_out));
  deflateEnd(&z);
  return ok;
}

}  // namespace

std::shared_ptr<const PackedEntry> PackBytes(const std::string& bytes, std::time_t when) {
  auto packed = std::make_shared<PackedEntry>();
  packed->when = when;
  packed->size = bytes.size();
  packed->crc = std::uint32_t(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (!DeflatePiece(data, bytes.size(), true, packed->deflated)) return nullptr;
  packed->deflated.shrink_to_fit();
  return packed;
}

ZipStream::ZipStream(std::vector<ZipPart> parts, std::vector<std::size_t> entries)
    : parts_(std::move(parts)), entries_(std::move(entries)), written_(parts_.size()) {
  if (parts_.empty()) stage_ = Stage::kDirectory;
}

ZipStream::~ZipStream() {
  if (file_ >= 0) ::close(file_);
}

std::optional<std::uint64_t> ZipStream::Length() const {
  std::uint64_t total = kEndSize;
  for (const ZipPart& part : parts_) {
    if (!part.packed) return std::nullopt;
    total += kLocalHeaderSize + part.name.size() + part.packed->deflated.size();
  }
  for (std::size_t index : entries_) total += kCentralHeaderSize + parts_[index].name.size();
  return total;
}

bool ZipStream::Next(std::string& out, std::string& error) {
  const std::size_t before = out.size();
  if (stage_ == Stage::kParts && !NextPart(out, error)) return false;
  if (stage_ == Stage::kDirectory) {
    if (entry_ == 0) directoryStart_ = offset_ + (out.size() - before);
    // The directory goes out in pieces too: a request may name thousands.
    while (entry_ < entries_.size() && out.size() - before < kPackedPiece) {
      const ZipPart& part = parts_[entries_[entry_]];
      const Written& w = written_[entries_[entry_]];
      Put32(out, kCentralHeader);
      Put16(out, kVersion);
      Put16(out, kVersion);
      Put16(out, w.flags);
      Put16(out, kDeflated);
      Put16(out, w.time);
      Put16(out, w.date);
      Put32(out, w.crc);
      Put32(out, w.packedSize);
      Put32(out, w.size);
      Put16(out, std::uint32_t(part.name.size()));
      Put16(out, 0);  // extra field
      Put16(out, 0);  // comment
      Put16(out, 0);  // disk
      Put16(out, 0);  // internal attributes
      Put32(out, 0);  // external attributes
      Put32(out, w.offset);
      out += part.name;
      ++entry_;
    }
    if (entry_ == entries_.size()) {
      const std::uint64_t directoryEnd = offset_ + (out.size() - before);
      Put32(out, kEndOfDirectory);
      Put16(out, 0);
      Put16(out, 0);
      Put16(out, std::uint32_t(entries_.size()));
      Put16(out, std::uint32_t(entries_.size()));
      Put32(out, directoryEnd - directoryStart_);
      Put32(out, directoryStart_);
      Put16(out, 0);
      stage_ = Stage::kDone;
    }
  }
  offset_ += out.size() - before;
  return true;
}

bool ZipStream::NextPart(std::string& out, std::string& error) {
  const ZipPart& part = parts_[part_];
  Written& w = written_[part_];
  if (!inPart_) {
    std::time_t when = 0;
    if (part.packed) {
      w.crc = part.packed->crc;
      w.size = part.packed->size;
      w.packedSize = part.packed->deflated.size();
      when = part.packed->when;
    } else if (part.bytes) {
      when = part.when;
      w.flags = kSizesFollow;
      w.size = part.size;
    } else {
      file_ = ::open(part.path.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat info;
      // The file may have been replaced since the request was checked.
      bool inside = file_ >= 0 && ::fstat(file_, &info) == 0;
      const auto within = [&info](std::uint64_t from, std::uint64_t size) {
        return from <= std::uint64_t(info.st_size) && size <= std::uint64_t(info.st_size) - from;
      };
      if (part.spans.empty()) inside = inside && within(part.from, part.size);
      for (const auto& [from, size] : part.spans) inside = inside && within(from, size);
      if (!inside) {
        error = "the range of " + part.name + " is no longer inside it";
        return false;
      }
      when = info.st_mtim.tv_sec;
      w.flags = kSizesFollow;
      w.size = part.size;
    }
    w.flags |= NameFlags(part.name);
    w.offset = offset_;
    DosTime(when, w.time, w.date);
    Put32(out, kLocalHeader);
    Put16(out, kVersion);
    Put16(out, w.flags);
    Put16(out, kDeflated);
    Put16(out, w.time);
    Put16(out, w.date);
    // A range's CRC and sizes are known only once it is sent: they follow it.
    Put32(out, part.packed ? w.crc : 0);
    Put32(out, part.packed ? w.packedSize : 0);
    Put32(out, part.packed ? w.size : 0);
    Put16(out, std::uint32_t(part.name.size()));
    Put16(out, 0);
    out += part.name;
    inPart_ = true;
    done_ = 0;
  }
  bool finished = false;
  if (part.packed) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(kPackedPiece, part.packed->deflated.size() - done_));
    out.append(part.packed->deflated, std::size_t(done_), n);
    done_ += n;
    finished = done_ == part.packed->deflated.size();
  } else {
    if (!NextRangePiece(out, error)) return false;
    finished = done_ == part.size;
    if (finished) {
      if (file_ >= 0) ::close(file_);
      file_ = -1;
      Put32(out, kDataDescriptor);
      Put32(out, w.crc);
      Put32(out, w.packedSize);
      Put32(out, w.size);
    }
  }
  if (finished) {
    inPart_ = false;
    if (++part_ == parts_.size()) stage_ = Stage::kDirectory;
  }
  return true;
}

bool ZipStream::ReadSource(std::uint64_t source, std::size_t count, char* into, std::string& error) {
  const ZipPart& part = parts_[part_];
  if (part.bytes) {
    part.bytes->copy(into, count, std::size_t(source));
    return true;
  }
  for (std::size_t got = 0; got < count;) {
    const ssize_t r = ::pread(file_, into + got, count - got, off_t(source + got));
    if (r <= 0) {
      error = "cannot read " + part.name;
      return false;
    }
    got += std::size_t(r);
  }
  return true;
}

bool ZipStream::NextRangePiece(std::string& out, std::string& error) {
  const ZipPart& part = parts_[part_];
  Written& w = written_[part_];
  constexpr std::size_t kWindow = std::size_t(1) << MAX_WBITS;
  std::size_t n = std::size_t(std::min<std::uint64_t>(kRangePiece, part.size - done_));
  // The piece's bytes, span by span (a plain range is one span).
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> single = {{part.from, part.size}};
  const auto& spans = part.spans.empty() ? single : part.spans;
  std::uint64_t pieceSource = 0;  // where the piece starts in the source
  {
    std::uint64_t spanStart = 0;
    for (const auto& [from, size] : spans) {
      if (done_ < spanStart + size) {
        pieceSource = from + (done_ - spanStart);
        // A primed piece's dictionary is what lies before it in the source,
        // so it must not run on into another span.
        if (part.primed) n = std::size_t(std::min<std::uint64_t>(n, spanStart + size - done_));
        break;
      }
      spanStart += size;
    }
  }
  std::string input(n, '\0');
  std::size_t filled = 0;
  std::uint64_t spanStart = 0;  // where the span lies in the entry
  for (const auto& [from, size] : spans) {
    const std::uint64_t at = done_ + filled;
    if (filled == n) break;
    if (at >= spanStart + size) {
      spanStart += size;
      continue;
    }
    const std::size_t take = std::size_t(std::min<std::uint64_t>(n - filled, spanStart + size - at));
    if (!ReadSource(from + (at - spanStart), take, &input[filled], error)) return false;
    filled += take;
    spanStart += size;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(input.data());
  w.crc = std::uint32_t(crc32_z(w.crc, data, n));
  const std::size_t before = out.size();
  if (part.primed) {
    const std::size_t back = std::size_t(std::min<std::uint64_t>(kWindow, pieceSource));
    seen_.assign(back, '\0');
    if (!ReadSource(pieceSource - back, back, &seen_[0], error)) return false;
  } else if (done_ == 0) {
    seen_.clear();
  }
  if (!DeflatePiece(data, n, part.primed || done_ + n == part.size, out, seen_)) {
    error = "cannot pack " + part.name;
    return false;
  }
  // What the inflater holds when the next piece starts: the last window of
  // this range so far.
  if (!part.primed) {
    seen_.append(input, 0, n);
    if (seen_.size() > kWindow) seen_.erase(0, seen_.size() - kWindow);
  }
  w.packedSize += out.size() - before;
  done_ += n;
  return true;
}

}  // namespace vantle_server
