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
  std::string utf8 = ToUtf8(body);
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
                     const std::atomic<Result>& status, const HashFunction& hashFile) {
  XmlDocument document;
  document.ParseText(reply.c_str());
  if (document.GetParseStatus() == 2) return kResultFail;
  XmlElement* root = document.GetRoot();

  Result result = kResultOk;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Result now = status.load();
    if (now != kResultRunning) return now;
    if (!root) return kResultFail;
    const std::string name = "f" + std::to_string(i + 1);
    const XmlElement* element = root->FindChild(name.c_str());
    if (!element) return kResultFail;
    std::string serverHash = element->GetText();
    if (serverHash.empty()) return kResultFail;

    UpdateFile& file = files[i];
    file.serverHash = std::move(serverHash);
    file.localHash = hashFile(file.localPath);
    // Every record gets both hashes, so keep going after a difference.
    if (!SameHash(file.serverHash, file.localHash)) result = kResultDifferent;
  }
  return result;
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
