#include "update/MemoryZip.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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

}  // namespace VULIBRARY
