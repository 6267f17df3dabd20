#include "update/UpdateProtocol.h"

#include <limits>

#include "update/Sha1.h"
#include "xml/Xml.h"

namespace VULIBRARY {

std::wstring MakeRequestUrl(const std::wstring& endpoint, const wchar_t* function,
                            const std::wstring& productId) {
  return endpoint + L"?f=" + function + L"&e=" + productId;
}

std::wstring FieldName(const wchar_t* prefix, unsigned n) {
  return prefix + std::to_wstring(n);
}

std::vector<FormField> MakeHashQueryFields(const std::vector<UpdateFile>& files) {
  std::vector<FormField> fields;
  fields.reserve(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    fields.push_back(FormField{FieldName(L"f", static_cast<unsigned>(i + 1)), files[i].remoteName,
                               static_cast<int>(i)});
  }
  return fields;
}

bool BuildFormBody(const std::vector<FormField>& fields, std::string* utf8Body) {
  utf8Body->clear();
  std::wstring body;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const bool last = i + 1 == fields.size();
    const std::size_t fieldLength = fields[i].name.size() + 1 + fields[i].value.size() + (last ? 0 : 1);
    // A cut body would ask the server for something else than we meant.
    if (fieldLength > kMaxFormattedField || body.size() + fieldLength > kMaxBodyChars) return false;
    body += fields[i].name;
    body += L'=';
    body += fields[i].value;
    if (!last) body += L'&';
  }
  std::string utf8 = Utf8FromWide(body);
  if (utf8.size() > kMaxBodyBytes) return false;
  *utf8Body = std::move(utf8);
  return true;
}

namespace {
wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool SameHash(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsUpToDate(const UpdateFile& file) {
  return !file.serverHash.empty() && SameHash(file.serverHash, file.localHash);
}

std::string LocalFileHash(const std::wstring& path) {
  Sha1Context sha;
  sha.Reset();
  sha.HashFile(path.c_str());  // an unreadable file hashes as empty input
  sha.Final();
  char text[100] = "";
  sha.ReportHash(text, sizeof text);
  return text;
}

Result ReadHashReply(const std::string& reply, std::vector<UpdateFile>& files,
                     const std::atomic<Result>& status, const HashFunction& hashFile,
                     std::wstring* reason) {
  auto fail = [reason](std::wstring why) {
    if (reason) *reason = std::move(why);
    return kResultFail;
  };
  XmlDocument document;
  document.ParseText(reply.c_str());
  if (document.GetParseStatus() == 2) return fail(L"it is not XML");
  XmlElement* root = document.GetRoot();

  Result result = kResultOk;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Result now = status.load();
    if (now != kResultRunning) return now;
    if (reply.empty()) return fail(L"it is empty");
    if (!root) return fail(L"it is not XML");
    const std::string name = "f" + std::to_string(i + 1);
    const XmlElement* element = root->FindChild(name.c_str());
    if (!element) {
      // Plain text parses as a document without elements (status 1).
      return fail(document.GetParseStatus() == 0 ? L"it names no version of " + files[i].remoteName
                                                 : L"it is not XML");
    }
    std::string serverHash = element->GetText();
    if (serverHash.empty()) return fail(L"it gives an empty version of " + files[i].remoteName);

    UpdateFile& file = files[i];
    file.serverHash = std::move(serverHash);
    file.localHash = hashFile(file.localPath);
    // Every record gets both hashes, so keep going after a difference.
    if (!SameHash(file.serverHash, file.localHash)) result = kResultDifferent;
  }
  return result;
}

std::uint64_t ZipReplyLimit(std::size_t entries, std::uint64_t contentBytes) {
  // Stored or deflated, an entry never grows by more than a few bytes per
  // 16 KiB block; 1/64 more is far beyond that.
  return contentBytes + contentBytes / 64 + (std::uint64_t(entries) + 1) * 65536;
}

namespace {
std::vector<FormField> OutOfDateFields(const std::vector<UpdateFile>& files, bool signatures) {
  std::vector<FormField> fields;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (IsUpToDate(files[i])) continue;
    fields.push_back(FormField{FieldName(L"f", static_cast<unsigned>(fields.size() + 1)),
                               signatures ? files[i].signatureName : files[i].remoteName, static_cast<int>(i)});
  }
  return fields;
}

std::uint64_t LoadLittle(const std::uint8_t* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

void StoreLittle(std::uint8_t* bytes, std::uint64_t value, int count) {
  for (int i = 0; i < count; ++i, value >>= 8) bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
}
}  // namespace

std::vector<FormField> MakeFileRequestFields(const std::vector<UpdateFile>& files) {
  return OutOfDateFields(files, false);
}

std::vector<FormField> MakeSignatureRequestFields(const std::vector<UpdateFile>& files) {
  return OutOfDateFields(files, true);
}

void AppendNeed(std::vector<std::uint8_t>& needs, const Need& need) {
  std::uint8_t record[kNeedRecordBytes] = {};
  StoreLittle(record, need.type, 4);
  StoreLittle(record + 8, need.offset, 8);
  StoreLittle(record + 16, need.length, 8);
  needs.insert(needs.end(), record, record + kNeedRecordBytes);
}

bool ReadNeeds(const std::vector<std::uint8_t>& needs, std::uint64_t seedSize, std::vector<Need>* out) {
  out->clear();
  if (needs.size() % kNeedRecordBytes != 0 || needs.size() / kNeedRecordBytes > kMaxNeeds) return false;
  std::uint64_t total = 0;
  std::size_t sources = 0;
  for (std::size_t at = 0; at < needs.size(); at += kNeedRecordBytes) {
    Need need;
    need.type = static_cast<std::uint32_t>(LoadLittle(&needs[at], 4));
    need.offset = LoadLittle(&needs[at + 8], 8);
    need.length = LoadLittle(&needs[at + 16], 8);
    if (need.type != kNeedSource && need.type != kNeedSeed) continue;
    if (need.length > kMaxUpdateFileBytes - total) return false;
    total += need.length;
    if (need.type == kNeedSeed && (need.offset > seedSize || need.length > seedSize - need.offset)) return false;
    if (need.type == kNeedSource && ++sources > kMaxSourceBlocks) return false;
    out->push_back(need);
  }
  return true;
}

void AppendRangeFields(std::vector<FormField>& fields, const std::wstring& name, const std::vector<Need>& needs,
                       int fileIndex, unsigned* n) {
  for (const Need& need : needs) {
    if (need.type != kNeedSource) continue;
    fields.push_back(FormField{FieldName(L"f", *n), name, fileIndex});
    fields.push_back(FormField{FieldName(L"from", *n), std::to_wstring(need.offset), fileIndex});
    fields.push_back(FormField{FieldName(L"size", *n), std::to_wstring(need.length), fileIndex});
    ++*n;
  }
}

std::vector<FormField> MakeBlockRequestFields(std::vector<UpdateFile>& files, const std::vector<int>& fetched,
                                              const std::vector<std::vector<Need>>& needs) {
  std::vector<FormField> fields;
  unsigned n = 1;
  for (std::size_t k = 0; k < fetched.size(); ++k) {
    UpdateFile& file = files[static_cast<std::size_t>(fetched[k])];
    for (const Need& need : needs[k]) {
      if (need.type == kNeedSource) file.sourceBlocks.push_back(SourceBlock{need.offset, need.length, {}});
    }
    AppendRangeFields(fields, file.remoteName, needs[k], fetched[k], &n);
  }
  return fields;
}

void JoinNearSourceRanges(std::vector<Need>& needs, std::uint64_t maxGap) {
  std::vector<Need> joined;
  for (const Need& need : needs) {
    const std::size_t count = joined.size();
    // source, short seed, source: the new version is contiguous across the
    // three, so one source range covers them.
    if (need.type == kNeedSource && count >= 2 && joined[count - 1].type == kNeedSeed &&
        joined[count - 1].length <= maxGap && joined[count - 2].type == kNeedSource) {
      joined[count - 2].length += joined[count - 1].length + need.length;
      joined.pop_back();
      continue;
    }
    joined.push_back(need);
  }
  needs = std::move(joined);
}

bool RebuildFromNeeds(const std::vector<Need>& needs, const std::vector<std::uint8_t>& seed,
                      const std::vector<std::string>& sourceBlocks, std::vector<std::uint8_t>* out) {
  out->clear();
  std::size_t block = 0;
  for (const Need& need : needs) {
    if (need.type == kNeedSeed) {
      if (need.offset > seed.size() || need.length > seed.size() - need.offset) return false;
      out->insert(out->end(), seed.begin() + static_cast<std::ptrdiff_t>(need.offset),
                  seed.begin() + static_cast<std::ptrdiff_t>(need.offset + need.length));
    } else if (need.type == kNeedSource) {
      if (block == sourceBlocks.size() || sourceBlocks[block].size() != need.length) return false;
      out->insert(out->end(), sourceBlocks[block].begin(), sourceBlocks[block].end());
      ++block;
    }
  }
  return block == sourceBlocks.size();
}

bool IsSecureUrl(const std::wstring& url) {
  static const wchar_t kScheme[] = L"https:";
  const std::size_t length = sizeof kScheme / sizeof kScheme[0] - 1;
  if (url.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (AsciiLower(url[i]) != kScheme[i]) return false;
  }
  return true;
}

std::uint32_t RequestFlagsForUrl(const std::wstring& url) {
  std::uint32_t flags = kFlagIgnoreRedirectToHttps;
  if (IsSecureUrl(url)) flags |= kFlagSecure | kFlagKeepConnection;
  return flags;
}

std::optional<std::uint64_t> ParseContentLength(const std::wstring& header) {
  std::size_t i = 0;
  while (i < header.size() && (header[i] == L' ' || header[i] == L'\t')) ++i;
  if (i == header.size() || header[i] < L'0' || header[i] > L'9') return std::nullopt;
  std::uint64_t value = 0;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  for (; i < header.size() && header[i] >= L'0' && header[i] <= L'9'; ++i) {
    const unsigned digit = static_cast<unsigned>(header[i] - L'0');
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  // A zero total would make every percentage a division by zero.
  if (value == 0) return std::nullopt;
  return value;
}

unsigned ProgressPercent(std::uint64_t received, std::uint64_t total) {
  if (total == 0 || received >= total) return 100;
  if (received <= std::numeric_limits<std::uint64_t>::max() / 100) {
    return static_cast<unsigned>(received * 100 / total);
  }
  return static_cast<unsigned>(received / (total / 100));
}

std::wstring ProgressText(std::uint64_t received, std::uint64_t total) {
  return L"Downloading updates ... " + std::to_wstring(received / 1024) + L"/" +
         std::to_wstring(total / 1024) + L" KB";
}

}  // namespace VULIBRARY
