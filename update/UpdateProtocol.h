// The updater's records and the parts of the update server protocol that need
// no operating system: request URLs and fields, the form body, the hash reply,
// hash comparison and the progress figures. The Windows transport (WinINet,
// the task dialog) lives in VU.h and uses these.
//
// Text: names, paths and URLs are wide strings, UTF-16 on Windows (where the
// program runs) and UTF-32 elsewhere (where these routines are tested).
// Hashes are narrow: 40 hexadecimal digits.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "text/TextConvert.h"

namespace VULIBRARY {

// Results of every updater operation, with the values of the platform's
// HRESULT codes so that the Windows side can hand them on unchanged.
using Result = std::int32_t;
constexpr Result kResultOk = 0;                                      // S_OK
constexpr Result kResultDifferent = 1;                               // S_FALSE: a file differs / nothing to fetch
constexpr Result kResultRunning = static_cast<Result>(0x8000FFFFu);  // E_UNEXPECTED: step still running
constexpr Result kResultAbort = static_cast<Result>(0x80004004u);    // E_ABORT: cancelled by the user
constexpr Result kResultFail = static_cast<Result>(0x80004005u);     // E_FAIL: reply or file not as expected
constexpr Result kResultInvalidArg = static_cast<Result>(0x80070057u);  // E_INVALIDARG
constexpr Result kResultNotImpl = static_cast<Result>(0x80004001u);     // E_NOTIMPL: route not available

// The update endpoint, chosen when the program is built (CMake cache variable
// VANTLE_UPDATE_SERVER_URL); its path is "/update/u.php".
extern const wchar_t* const UpdateServerUrl;

// A block of the server's new version fetched for a delta rebuild.
struct SourceBlock {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::vector<std::uint8_t> bytes;
};

// One watched file. The check fills in both hashes; the download routes read
// them to decide what to fetch.
struct UpdateFile {
  UpdateFile(std::wstring localPath, std::wstring remoteName, std::wstring signatureName,
             bool verifySignature)
      : verifySignature(verifySignature),
        localPath(std::move(localPath)),
        remoteName(std::move(remoteName)),
        signatureName(std::move(signatureName)) {}
  UpdateFile(std::wstring localPath, std::wstring remoteName, bool verifySignature)
      : UpdateFile(std::move(localPath), std::move(remoteName), std::wstring(), verifySignature) {}

  bool verifySignature = false;
  std::wstring localPath;      // full path of the installed file
  std::wstring remoteName;     // the server's name for it, e.g. "vtl64.exe"
  std::wstring signatureName;  // its delta signature file on the server; may be empty
  std::string serverHash;      // as the server sent it; empty until checked
  std::string localHash;       // 40 upper-case hex digits; empty until checked
  std::vector<SourceBlock> sourceBlocks;
  std::vector<std::uint8_t> needs;
};

// One name=value pair of a request body. fileIndex ties it to files[fileIndex]
// (and, in zip replies, to the entry at the same position).
struct FormField {
  std::wstring name;   // at most kFieldTextLimit characters
  std::wstring value;  // at most kFieldTextLimit characters
  int fileIndex = 0;
};

constexpr std::size_t kFieldTextLimit = 999;
// Bounds of one request body; a longer one is refused rather than cut.
constexpr std::size_t kMaxFormattedField = 10000;
constexpr std::size_t kMaxBodyChars = 1000000;
constexpr std::size_t kMaxBodyBytes = 1000000;
// Reply bytes read per call, and so the granularity of a cancel.
constexpr std::uint32_t kReadChunk = 10000;

// endpoint + "?f=" + function + "&e=" + productId, e.g. function "hash" or "zip".
std::wstring MakeRequestUrl(const std::wstring& endpoint, const wchar_t* function,
                            const std::wstring& productId);

// The name of the n-th field of a kind: prefix "f", "from" or "size" and n in
// decimal ("f%u").
std::wstring FieldName(const wchar_t* prefix, unsigned n);

// The hash query lists every watched file: f1, f2, ... = remoteName.
std::vector<FormField> MakeHashQueryFields(const std::vector<UpdateFile>& files);

// The form body: "name=value" pairs joined by "&", unescaped, as UTF-8. False
// (body empty) when a field or the whole body would exceed the limits above.
bool BuildFormBody(const std::vector<FormField>& fields, std::string* utf8Body);

// SHA-1 digests compared as hexadecimal text, letter case ignored.
bool SameHash(const std::string& a, const std::string& b);

// A file needs no download when the server's hash is known and matches ours.
bool IsUpToDate(const UpdateFile& file);

// The SHA-1 of a file as 40 upper-case hex digits; a file that cannot be read
// hashes as empty input, which no published version matches.
std::string LocalFileHash(const std::wstring& path);

using HashFunction = std::function<std::string(const std::wstring& path)>;

// Reads a hash reply into the records: for each file n the first child f<n>
// of the root gives serverHash; localHash is computed with hashFile. Returns
// 1 when any file differs, 0 when none does, E_FAIL for a reply that is not
// XML or lacks a (non-empty) f<n>, or the status word when it stops being
// "running" before a file (a cancel). For E_FAIL, reason (when given) says
// what was wrong with the reply ("it is not XML"), in words for the user.
Result ReadHashReply(const std::string& reply, std::vector<UpdateFile>& files,
                     const std::atomic<Result>& status,
                     const HashFunction& hashFile = LocalFileHash, std::wstring* reason = nullptr);

// How large one published file may be. The routes refuse anything that would
// make a larger one (a reply entry, a needs list, the sum of blocks), so a
// broken or hostile server cannot fill the memory or the disk.
constexpr std::uint64_t kMaxUpdateFileBytes = std::uint64_t(64) << 20;
// A hash reply holds one short element per file.
constexpr std::uint64_t kMaxHashReplyBytes = std::uint64_t(1) << 20;

// The bound of a zip reply whose entries add up to at most contentBytes:
// deflate's worst case growth plus a generous allowance per entry for its
// headers.
std::uint64_t ZipReplyLimit(std::size_t entries, std::uint64_t contentBytes);

// The zip request for whole files (names) or for their signature files:
// f1, f2, ... = remoteName (or signatureName) of each out-of-date file, in
// files order, with fileIndex its position.
std::vector<FormField> MakeFileRequestFields(const std::vector<UpdateFile>& files);
std::vector<FormField> MakeSignatureRequestFields(const std::vector<UpdateFile>& files);

// A needs record (24 bytes in the needs list: a 32-bit type, 4 bytes of
// padding, the 64-bit offset and the 64-bit length).
constexpr std::uint32_t kNeedSource = 0;  // from the server's new version
constexpr std::uint32_t kNeedTarget = 1;  // skipped
constexpr std::uint32_t kNeedSeed = 2;    // from the installed file
constexpr std::size_t kNeedRecordBytes = 24;
struct Need {
  std::uint32_t type = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};
// Appends one record in the list's layout.
void AppendNeed(std::vector<std::uint8_t>& needs, const Need& need);

// How many source ranges one block request may name: each takes three fields
// of about 50 bytes in all, and the body must stay within kMaxBodyBytes. A
// needs list with more could never be fetched, so it is refused before
// anything is built from it (the whole file is fetched instead).
constexpr std::size_t kMaxSourceBlocks = 16384;
// Seed and source ranges take turns in a list (neighbours of one kind are
// merged), so it holds at most one seed range more than source ranges.
constexpr std::size_t kMaxNeeds = 2 * kMaxSourceBlocks + 1;

// Reads a needs list for a rebuild from an installed file of seedSize bytes.
// False when the list is not whole records, when it holds more than
// kMaxNeeds records or kMaxSourceBlocks source ranges, when a seed range lies
// outside the installed file, or when the ranges add up to more than
// kMaxUpdateFileBytes: such a list cannot describe a published file.
bool ReadNeeds(const std::vector<std::uint8_t>& needs, std::uint64_t seedSize, std::vector<Need>* out);

// The block request: f<n>, from<n>, size<n> for each source need of each
// record in fetched (positions in files, in request order), n running across
// all files. Also fills each record's sourceBlocks (offsets and lengths).
std::vector<FormField> MakeBlockRequestFields(std::vector<UpdateFile>& files,
                                              const std::vector<int>& fetched,
                                              const std::vector<std::vector<Need>>& needs);

// The range fields of one file's source needs, appended as f<n>, from<n>,
// size<n> with name as f<n>'s value, n counting on from *n.
void AppendRangeFields(std::vector<FormField>& fields, const std::wstring& name, const std::vector<Need>& needs,
                       int fileIndex, unsigned* n);

// Two source ranges with only a short seed range between them cost less
// fetched as one: each range is an entry of its own in the reply and three
// fields in the request, about 150 bytes, more than a few dozen bytes of
// data. Joins every such pair; the list still rebuilds the same file.
constexpr std::uint64_t kJoinGapBytes = 128;
void JoinNearSourceRanges(std::vector<Need>& needs, std::uint64_t maxGap = kJoinGapBytes);

// The new version's bytes from the seed's and the fetched source blocks,
// given in the order of the source needs. False when a seed range lies
// outside seed, a block is missing, or one differs from its need's length.
bool RebuildFromNeeds(const std::vector<Need>& needs, const std::vector<std::uint8_t>& seed,
                      const std::vector<std::string>& sourceBlocks, std::vector<std::uint8_t>* out);

// Whether a URL asks for a secure connection (scheme "https:", any case).
bool IsSecureUrl(const std::wstring& url);
// WinINet request flags for the URL: never follow a redirect to https, and for
// https a secure kept-alive connection.
constexpr std::uint32_t kFlagIgnoreRedirectToHttps = 0x00004000u;
constexpr std::uint32_t kFlagSecure = 0x00800000u;
constexpr std::uint32_t kFlagKeepConnection = 0x00400000u;
std::uint32_t RequestFlagsForUrl(const std::wstring& url);

// The Content-Length header's value as a number; nothing when it is absent,
// not a decimal number or 0 (no total to show progress against).
std::optional<std::uint64_t> ParseContentLength(const std::wstring& header);

// Progress of a download: whole percent (at most 100) and the dialog's text
// "Downloading updates ... <received KB>/<total KB> KB". total must not be 0.
unsigned ProgressPercent(std::uint64_t received, std::uint64_t total);
std::wstring ProgressText(std::uint64_t received, std::uint64_t total);

}  // namespace VULIBRARY
