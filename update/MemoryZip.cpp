#include "update/MemoryZip.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <unzip.h>

namespace VULIBRARY {
namespace {

struct MemoryStream {
  std::string* data;
  bool writable;
  std::uint64_t position;
};

MemoryStream* Stream(voidpf stream) { return static_cast<MemoryStream*>(stream); }

voidpf ZCALLBACK OpenForReading(voidpf opaque, const void*, int) {
  return new MemoryStream{static_cast<std::string*>(opaque), false, 0};
}
voidpf ZCALLBACK OpenForWriting(voidpf opaque, const void*, int) {
  return new MemoryStream{static_cast<std::string*>(opaque), true, 0};
}

uLong ZCALLBACK Read(voidpf, voidpf stream, void* buffer, uLong size) {
  MemoryStream* s = Stream(stream);
  if (s->position >= s->data->size()) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(size, s->data->size() - s->position);
  std::memcpy(buffer, s->data->data() + s->position, n);
  s->position += n;
  return static_cast<uLong>(n);
}

uLong ZCALLBACK Write(voidpf, voidpf stream, const void* buffer, uLong size) {
  MemoryStream* s = Stream(stream);
  if (!s->writable) return 0;
  if (s->position + size > s->data->size()) s->data->resize(s->position + size);
  std::memcpy(&(*s->data)[s->position], buffer, size);
  s->position += size;
  return size;
}

ZPOS64_T ZCALLBACK Tell(voidpf, voidpf stream) { return Stream(stream)->position; }

long ZCALLBACK Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  MemoryStream* s = Stream(stream);
  const std::uint64_t base = origin == ZLIB_FILEFUNC_SEEK_SET   ? 0
                             : origin == ZLIB_FILEFUNC_SEEK_CUR ? s->position
                                                                : s->data->size();
  if (!s->writable && base + offset > s->data->size()) return -1;
  s->position = base + offset;
  return 0;
}

int ZCALLBACK Close(voidpf, voidpf stream) {
  delete Stream(stream);
  return 0;
}

int ZCALLBACK Error(voidpf, voidpf) { return 0; }

zlib_filefunc64_def Functions(open64_file_func open, std::string* archive) {
  zlib_filefunc64_def io{};
  io.zopen64_file = open;
  io.zread_file = Read;
  io.zwrite_file = Write;
  io.ztell64_file = Tell;
  io.zseek64_file = Seek;
  io.zclose_file = Close;
  io.zerror_file = Error;
  io.opaque = archive;
  return io;
}

}  // namespace

zlib_filefunc64_def MemoryZipReader(const std::string& archive) {
  // The stream never writes through the pointer: its writes are refused.
  return Functions(OpenForReading, const_cast<std::string*>(&archive));
}

zlib_filefunc64_def MemoryZipWriter(std::string& archive) { return Functions(OpenForWriting, &archive); }

MemoryZipArchive::MemoryZipArchive(const std::string& bytes) {
  if (bytes.empty()) return;
  zlib_filefunc64_def io = MemoryZipReader(bytes);
  unzFile archive = unzOpen2_64(nullptr, &io);
  if (!archive) return;
  unz_global_info64 info{};
  if (unzGetGlobalInfo64(archive, &info) != UNZ_OK) {
    unzClose(archive);
    return;
  }
  archive_ = archive;
  entries_ = info.number_entry;
}

MemoryZipArchive::~MemoryZipArchive() {
  if (archive_) unzClose(static_cast<unzFile>(archive_));
}

bool MemoryZipArchive::GoTo(std::uint64_t index) {
  if (!archive_ || index >= entries_) return false;
  unzFile archive = static_cast<unzFile>(archive_);
  // Entries are mostly read in order: walk on from the last one rather than
  // from the start, which would make reading every entry quadratic.
  if (!hasCurrent_ || index < current_) {
    hasCurrent_ = false;
    if (unzGoToFirstFile(archive) != UNZ_OK) return false;
    current_ = 0;
    hasCurrent_ = true;
  }
  for (; current_ < index; ++current_) {
    if (unzGoToNextFile(archive) != UNZ_OK) {
      hasCurrent_ = false;
      return false;
    }
  }
  return true;
}

bool MemoryZipArchive::ReadRawEntry(std::uint64_t index, std::uint64_t maxStoredBytes, RawEntry* entry) {
  if (!GoTo(index)) return false;
  unzFile archive = static_cast<unzFile>(archive_);
  unz_file_info64 info{};
  char name[1024];
  if (unzGetCurrentFileInfo64(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK ||
      info.size_filename >= sizeof name || info.compressed_size > maxStoredBytes)
    return false;
  entry->name.assign(name, info.size_filename);
  entry->crc = static_cast<std::uint32_t>(info.crc);
  entry->size = info.uncompressed_size;
  entry->stored.clear();
  int method = 0, level = 0;
  if (unzOpenCurrentFile2(archive, &method, &level, 1) != UNZ_OK) return false;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const int got = unzReadCurrentFile(archive, buffer, sizeof buffer);
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    entry->stored.append(buffer, static_cast<std::size_t>(got));
    if (entry->stored.size() > maxStoredBytes) {
      ok = false;
      break;
    }
  }
  const int closed = unzCloseCurrentFile(archive);
  return ok && closed == UNZ_OK && entry->stored.size() == info.compressed_size;
}

bool MemoryZipArchive::ReadEntry(std::uint64_t index, std::uint64_t maxBytes, const Sink& sink) {
  if (!GoTo(index)) return false;
  unzFile archive = static_cast<unzFile>(archive_);
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  // The header's size is only a first test: the count below is what holds.
  if (info.uncompressed_size > maxBytes) return false;
  if (unzOpenCurrentFile(archive) != UNZ_OK) return false;

  char buffer[65536];
  std::uint64_t total = 0;
  uLong crc = crc32(0, nullptr, 0);
  bool ok = true;
  for (;;) {
    const int got = unzReadCurrentFile(archive, buffer, sizeof buffer);
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0) break;
    total += static_cast<unsigned>(got);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer), static_cast<uInt>(got));
    if (total > maxBytes || !sink(buffer, static_cast<std::size_t>(got))) {
      ok = false;
      break;
    }
  }
  // minizip tests the CRC only when the data ran as long as the header said;
  // an entry that ends early, or whose bytes do not match, is refused here
  // whatever it does.
  const int closed = unzCloseCurrentFile(archive);
  return ok && closed == UNZ_OK && total == info.uncompressed_size && crc == info.crc;
}

bool MemoryZipArchive::ReadEntry(std::uint64_t index, std::uint64_t maxBytes, std::string* bytes) {
  bytes->clear();
  return ReadEntry(index, maxBytes, [bytes](const char* data, std::size_t size) {
    bytes->append(data, size);
    return true;
  });
}

}  // namespace VULIBRARY
