#include "launcher/ForeignZip.h"

#include <cstdio>
#include <memory>

#include <unzip.h>

#include "launcher/ForeignFiles.h"
#include "xml/FileNames.h"

#ifdef _WIN32
#include <windows.h>

#include "text/TextConvert.h"
#else
#include <sys/stat.h>
#endif

namespace {

std::FILE* File(voidpf stream) { return static_cast<std::FILE*>(stream); }

voidpf ZCALLBACK OpenFile(voidpf, const void* name, int) { return OpenFileUtf8(static_cast<const char*>(name), "rb"); }

uLong ZCALLBACK ReadFile(voidpf, voidpf stream, void* buffer, uLong size) {
  return static_cast<uLong>(std::fread(buffer, 1, size, File(stream)));
}

uLong ZCALLBACK WriteFile(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellFile(voidpf, voidpf stream) {
#ifdef _WIN32
  return static_cast<ZPOS64_T>(_ftelli64(File(stream)));
#else
  return static_cast<ZPOS64_T>(ftello(File(stream)));
#endif
}

long ZCALLBACK SeekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  const int whence = origin == ZLIB_FILEFUNC_SEEK_SET   ? SEEK_SET
                     : origin == ZLIB_FILEFUNC_SEEK_CUR ? SEEK_CUR
                                                        : SEEK_END;
#ifdef _WIN32
  return _fseeki64(File(stream), static_cast<long long>(offset), whence);
#else
  return fseeko(File(stream), static_cast<off_t>(offset), whence);
#endif
}

int ZCALLBACK CloseFile(voidpf, voidpf stream) { return std::fclose(File(stream)); }

int ZCALLBACK ErrorFile(voidpf, voidpf stream) { return std::ferror(File(stream)); }

bool MakeFolder(const std::string& path) {
#ifdef _WIN32
  return CreateDirectoryW(WideFromUtf8(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
#else
  return mkdir(path.c_str(), 0777) == 0 || PathExistsUtf8(path);
#endif
}

// path and every folder on the way to it.
bool MakeFolders(const std::string& path) {
  if (path.empty() || PathExistsUtf8(path)) return true;
  const std::string parent = FolderPart(path);
  return (parent == path || MakeFolders(parent)) && MakeFolder(path);
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& start) {
  return text.size() >= start.size() && SameTextIgnoringCase(text.substr(0, start.size()), start);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool IsSafeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\' || name.find(':') != std::string::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

ForeignZip::ForeignZip(const std::string& path) {
  zlib_filefunc64_def io{};
  io.zopen64_file = OpenFile;
  io.zread_file = ReadFile;
  io.zwrite_file = WriteFile;
  io.ztell64_file = TellFile;
  io.zseek64_file = SeekFile;
  io.zclose_file = CloseFile;
  io.zerror_file = ErrorFile;
  zip_ = unzOpen2_64(path.c_str(), &io);
  if (!zip_) return;
  for (int at = unzGoToFirstFile(zip_); at == UNZ_OK; at = unzGoToNextFile(zip_)) {
    unz_file_info64 info;
    char name[1024];
    if (unzGetCurrentFileInfo64(zip_, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    names_.push_back(name);
  }
}

ForeignZip::~ForeignZip() {
  if (zip_) unzClose(zip_);
}

bool ForeignZip::ReadCurrent(std::uint64_t maxBytes, std::string& bytes) {
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  if (info.uncompressed_size > maxBytes || unzOpenCurrentFile(zip_) != UNZ_OK) return false;
  bytes.clear();
  char buffer[64 * 1024];
  int got;
  while ((got = unzReadCurrentFile(zip_, buffer, sizeof buffer)) > 0) {
    if (bytes.size() + static_cast<std::size_t>(got) > maxBytes) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  // A damaged entry or a false size in its header shows here, in the CRC check.
  const bool whole = got == 0 && bytes.size() == info.uncompressed_size;
  return unzCloseCurrentFile(zip_) == UNZ_OK && whole;
}

bool ForeignZip::WriteCurrent(const std::string& path) {
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
      unzOpenCurrentFile(zip_) != UNZ_OK)
    return false;
  std::unique_ptr<std::FILE, FileCloser> out(OpenFileUtf8(path, "wb"));
  std::uint64_t written = 0;
  char buffer[64 * 1024];
  int got = 0;
  while (out && (got = unzReadCurrentFile(zip_, buffer, sizeof buffer)) > 0) {
    if (std::fwrite(buffer, 1, static_cast<std::size_t>(got), out.get()) != static_cast<std::size_t>(got)) break;
    written += static_cast<std::uint64_t>(got);
  }
  // The CRC is checked when the entry is closed.
  const bool whole = unzCloseCurrentFile(zip_) == UNZ_OK && out && got == 0 && written == info.uncompressed_size;
  const bool closed = out && std::fclose(out.release()) == 0;
  if (whole && closed) return true;
  RemoveFileUtf8(path);
  return false;
}

bool ForeignZip::Read(const std::string& name, std::uint64_t maxBytes, std::string& bytes) {
  if (!zip_) return false;
  for (int at = unzGoToFirstFile(zip_); at == UNZ_OK; at = unzGoToNextFile(zip_)) {
    char stored[1024];
    if (unzGetCurrentFileInfo64(zip_, nullptr, stored, sizeof stored, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    if (SameTextIgnoringCase(stored, name)) return ReadCurrent(maxBytes, bytes);
  }
  return false;
}

bool ForeignZip::Extract(const std::string& prefix, const std::string& folder, std::string& error) {
  if (!zip_) {
    error = "the archive cannot be read";
    return false;
  }
  const char sep = PathSeparator();
  for (int at = unzGoToFirstFile(zip_); at == UNZ_OK; at = unzGoToNextFile(zip_)) {
    char stored[1024];
    if (unzGetCurrentFileInfo64(zip_, nullptr, stored, sizeof stored, nullptr, 0, nullptr, 0) != UNZ_OK) {
      error = "the archive's list of files is damaged";
      return false;
    }
    const std::string name = stored;
    if (!StartsWithIgnoringCase(name, prefix)) continue;
    if (!IsSafeEntryName(name)) {
      error = name + " would land outside " + folder;
      return false;
    }
    // Each folder on the way, then the file.
    std::string path = folder;
    if (!MakeFolders(path)) {
      error = "cannot create " + path;
      return false;
    }
    std::size_t start = prefix.size();
    while (start < name.size()) {
      const std::size_t end = name.find_first_of("/\\", start);
      const std::string part = name.substr(start, (end == std::string::npos ? name.size() : end) - start);
      if (!part.empty()) path += sep + part;
      if (end == std::string::npos) break;
      if (!part.empty() && !MakeFolder(path)) {
        error = "cannot create " + path;
        return false;
      }
      start = end + 1;
    }
    if (name.back() == '/' || name.back() == '\\' || path == folder) continue;
    if (!WriteCurrent(path)) {
      error = "cannot unpack " + name + " into " + path;
      return false;
    }
  }
  return true;
}
