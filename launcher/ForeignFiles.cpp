#include "launcher/ForeignFiles.h"

#include <cstdio>
#include <memory>

#include "text/TextConvert.h"
#include "xml/FileNames.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

char PathSeparator() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Read in one piece into a string of the file's size: a library of other
// front ends is thousands of small files, and a stream's buffer for each
// leaves the heap full of holes (under Wine every later allocation searches
// them).
bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
#ifdef _WIN32
  HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool read = GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 31);
  if (read) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    std::size_t done = 0;
    while (read && done < bytes.size()) {
      read = ReadFile(file, &bytes[done], static_cast<DWORD>(bytes.size() - done), &got, nullptr) != 0;
      if (got == 0) break;  // the file got shorter meanwhile
      done += got;
    }
    bytes.resize(done);
  }
  CloseHandle(file);
  return read;
#else
  std::unique_ptr<std::FILE, FileCloser> file(OpenFileUtf8(path, "rb"));
  if (!file) return false;
  char buffer[64 * 1024];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, got);
  return !std::ferror(file.get());
#endif
}

bool ListSystemFolder(const std::string& folder, std::vector<FolderItem>& items) {
  items.clear();
#ifdef _WIN32
  std::wstring pattern = WideFromUtf8(folder);
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    FolderItem item;
    item.name = Utf8FromWide(name);
    item.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    item.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    items.push_back(item);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
#else
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    FolderItem item;
    item.name = name;
    struct stat info;
    const std::string full = folder + (folder.empty() || folder.back() != '/' ? "/" : "") + name;
    if (stat(full.c_str(), &info) == 0) {
      item.folder = S_ISDIR(info.st_mode);
      item.size = static_cast<std::uint64_t>(info.st_size);
    }
    items.push_back(item);
  }
  closedir(dir);
  return true;
#endif
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ValidUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) extra = 1, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) extra = 2, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) extra = 3, cp = c & 0x07;
    else return false;
    if (n - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

#ifdef _WIN32
using UnixNameFunction = char*(CDECL*)(LPCWSTR);

// Only Wine's kernel32 has it: the host path of a Windows path, each name
// spelt as stored, found without a call to Wine's server.
UnixNameFunction WineUnixName() {
  static const auto function = reinterpret_cast<UnixNameFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  return function;
}

// The last names of path replaced by the stored spelling of the host path's
// last names: the same names, as the file system holds them.
bool SpellUnderWine(const std::string& path, std::string& spelt) {
  const std::wstring wide = WideFromUtf8(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return false;
  char* host = WineUnixName()(wide.c_str());
  if (!host) return false;
  std::string stored = host;
  HeapFree(GetProcessHeap(), 0, host);
  spelt = path;
  std::size_t end = spelt.size(), hostEnd = stored.size();
  while (end > 0 && hostEnd > 0) {
    const std::size_t cut = spelt.find_last_of("\\/", end - 1), hostCut = stored.rfind('/', hostEnd - 1);
    const std::size_t from = cut == std::string::npos ? 0 : cut + 1, hostFrom = hostCut == std::string::npos ? 0 : hostCut + 1;
    if (cut == std::string::npos || (cut == 2 && spelt[1] == ':')) break;  // the drive is Wine's, not the disk's
    const std::string name = stored.substr(hostFrom, hostEnd - hostFrom);
    if (!SameTextIgnoringCase(name, spelt.substr(from, end - from))) break;
    spelt.replace(from, end - from, name);
    end = cut;
    hostEnd = hostCut == std::string::npos ? 0 : hostCut;
  }
  return true;
}
#else
bool SpellPosix(const std::string& path, std::string& spelt) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  spelt = path;  // names match as written, so they are spelt as stored
  return true;
}
#endif

}  // namespace

ForeignFiles SystemForeignFiles() {
#ifdef _WIN32
  // On Windows itself a listing is cheap, and names match without regard to
  // case: only Wine tells the stored spelling without one.
  return ForeignFiles{ListSystemFolder, ReadWholeFile, WineUnixName() ? SpellUnderWine : nullptr};
#else
  return ForeignFiles{ListSystemFolder, ReadWholeFile, SpellPosix};
#endif
}

std::string TextAsUtf8(const std::string& bytes) {
  std::string text = bytes;
  MakeTextUtf8(text);
  return text;
}

void MakeTextUtf8(std::string& text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (ValidUtf8(text)) return;
  // The wide conversion reads every byte outside a UTF-8 sequence as
  // Windows-1252; handing it one byte at a time makes that hold for all.
  std::string utf8;
  utf8.reserve(text.size() * 2);
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x80) utf8 += c;
    else utf8 += Utf8FromWide(WideFromUtf8(&c, 1));
  }
  text.swap(utf8);
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string FolderPart(const std::string& path) {
  std::size_t end = path.size();
  while (end > 1 && IsSeparator(path[end - 1])) --end;
  const std::size_t cut = path.find_last_of("\\/", end - 1);
  if (cut == std::string::npos) return std::string();
  if (cut == 0 || (cut == 2 && path[1] == ':')) return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

std::string NamePart(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  const std::size_t cut = path.find_last_of("\\/", end == 0 ? 0 : end - 1);
  const std::size_t start = cut == std::string::npos ? 0 : cut + 1;
  return path.substr(start, end - start);
}

const PathFinder::Listing& PathFinder::Listed(const std::string& folder) {
  auto it = listings_.find(folder);
  if (it != listings_.end()) return it->second;
  Listing listing;
  if (!files_.list || !files_.list(folder, listing.items)) listing.items.clear();
  for (std::size_t i = 0; i < listing.items.size(); ++i) {
    const std::string& name = listing.items[i].name;
    listing.exact.emplace(name, i);
    std::string lower = name;
    for (char& c : lower) c = LowerAscii(c);
    listing.folded.emplace(std::move(lower), i);
  }
  return listings_.emplace(folder, std::move(listing)).first->second;
}

const std::vector<FolderItem>& PathFinder::List(const std::string& folder) { return Listed(folder).items; }

std::string PathFinder::Find(const std::string& base, const std::string& written, bool* found) {
  const char sep = PathSeparator();
  std::string rest = written;
  std::string current;
  // A drive ("C:\"), a share ("\\server\share") or "/" starts an absolute
  // path; anything else starts from base.
  if (rest.size() >= 2 && rest[1] == ':') {
    current = rest.substr(0, 2) + sep;
    rest.erase(0, 2);
  } else if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    const std::size_t server = rest.find_first_of("\\/", 2);
    const std::size_t share = server == std::string::npos ? server : rest.find_first_of("\\/", server + 1);
    current = rest.substr(0, share);
    for (char& c : current)
      if (IsSeparator(c)) c = sep;
    rest = share == std::string::npos ? std::string() : rest.substr(share);
  } else if (!rest.empty() && IsSeparator(rest[0])) {
    current = std::string(1, sep);
  } else {
    current = base;
  }

  std::vector<std::string> names;
  for (std::size_t start = 0; start <= rest.size();) {
    std::size_t end = rest.find_first_of("\\/", start);
    if (end == std::string::npos) end = rest.size();
    if (end > start) names.push_back(rest.substr(start, end - start));
    start = end + 1;
  }

  bool exists = true, probing = static_cast<bool>(files_.spell);
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::string& name = names[k];
    if (probing && exists && listings_.count(current) == 0) {
      // A folder not listed yet (a game's own, most likely) is asked for the
      // rest of the path at once; only a path that is not there that way is
      // looked for name by name.
      std::string whole = current;
      for (std::size_t r = k; r < names.size() && probing; ++r) {
        probing = names[r] != "." && names[r] != "..";
        if (whole.empty() || whole.back() != sep) whole += sep;
        whole += names[r];
      }
      std::string spelt;
      if (probing && files_.spell(whole, spelt)) {
        current = spelt;
        break;
      }
      probing = false;
    }
    if (name == ".") continue;
    if (name == "..") {
      const std::string parent = FolderPart(current);
      if (!parent.empty()) current = parent;
      continue;
    }
    std::string spelt = name;
    if (exists) {
      const Listing& listing = Listed(current);
      const std::size_t* match = nullptr;
      const auto exact = listing.exact.find(name);
      if (exact != listing.exact.end()) {
        match = &exact->second;
      } else {
        std::string lower = name;
        for (char& c : lower) c = LowerAscii(c);
        const auto folded = listing.folded.find(lower);
        if (folded != listing.folded.end()) match = &folded->second;
      }
      if (match) spelt = listing.items[*match].name;
      else exists = false;
    }
    if (current.empty() || current.back() != sep) current += sep;
    current += spelt;
  }
  if (found) *found = exists;
  return current;
}

bool PathFinder::IsFolder(const std::string& path) {
  const std::string name = NamePart(path);
  if (name.empty()) return true;
  for (const FolderItem& item : List(FolderPart(path)))
    if (item.name == name) return item.folder;
  return false;
}

std::string PathFinder::FindNoting(const std::string& base, const std::string& written,
                                   std::vector<std::string>& notCarried, const char* what) {
  bool found = false;
  const std::string path = Find(base, written, &found);
  if (!found) notCarried.push_back(std::string(what) + " " + written + " does not exist");
  return path;
}
