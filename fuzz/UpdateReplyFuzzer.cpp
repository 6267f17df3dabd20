// libFuzzer entry for the updater's reading of a hash reply: whatever the
// server (or anything between it and us) sends must give a result the caller
// understands and records that agree with it. A broken promise aborts so that
// libFuzzer keeps the input.
//
// Input: one control byte, then the reply.
//   records   = 1 + (control & 3) % 3        ('0' -> 1, '1' -> 2, '2' -> 3)
//   cancelled = (control & 0x70) == 0x70      ('p' -> cancelled, one record)
#include "update/UpdateProtocol.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace VULIBRARY;

namespace {

// The installed files' digests. Record 3 hashes in lower case: a local hash
// is upper case in practice, but the comparison must not rely on that.
const char* const kLocalHashes[] = {
    "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709",
    "A9993E364706816ABA3E25717850C26C9CD0D89D",
    "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
};
const wchar_t* const kPaths[] = {L"C:\\Vantle\\vtl64.exe", L"C:\\Vantle\\DOSBox.exe", L"C:\\Vantle\\vtl.dll"};

std::string FakeHash(const std::wstring& path) {
  for (std::size_t i = 0; i < 3; ++i)
    if (path == kPaths[i]) return kLocalHashes[i];
  return "unknown path";
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Independent of SameHash on purpose: the invariant must not borrow the code
// it checks.
bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

[[noreturn]] void Broken(const char* what, Result result) {
  std::fprintf(stderr, "broken promise: %s (result 0x%08X)\n", what, static_cast<unsigned>(result));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned control = data[0];
  const std::size_t count = 1 + (control & 3) % 3;
  const bool cancelled = (control & 0x70) == 0x70;
  const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<UpdateFile> files;
  for (std::size_t i = 0; i < count; ++i) files.emplace_back(kPaths[i], L"file" + std::to_wstring(i + 1), false);
  const std::atomic<Result> status(cancelled ? kResultAbort : kResultRunning);
  unsigned hashCalls = 0;
  const HashFunction hash = [&hashCalls](const std::wstring& path) {
    ++hashCalls;
    return FakeHash(path);
  };

  const Result result = ReadHashReply(reply, files, status, hash);

  if (result != kResultOk && result != kResultDifferent && result != kResultFail && result != status.load())
    Broken("unexpected result", result);
  if (cancelled && result != kResultAbort && result != kResultFail) Broken("a cancelled check went on", result);
  if (cancelled && hashCalls != 0) Broken("a cancelled check hashed a file", result);

  if (result == kResultOk || result == kResultDifferent) {
    // A finished check has read every record: both hashes are present, the
    // local one from the hash function and the server's one non-empty.
    if (hashCalls != count) Broken("not every file was hashed", result);
    bool anyDifferent = false;
    for (std::size_t i = 0; i < count; ++i) {
      const UpdateFile& file = files[i];
      if (file.serverHash.empty()) Broken("a record has no server hash", result);
      if (file.localHash != FakeHash(file.localPath)) Broken("a local hash is not the file's", result);
      const bool same = EqualIgnoringCase(file.serverHash, file.localHash);
      if (same != IsUpToDate(file)) Broken("IsUpToDate disagrees with the hashes", result);
      if (!same) anyDifferent = true;
    }
    if (result == kResultOk && anyDifferent) Broken("result 0 with a differing file", result);
    if (result == kResultDifferent && !anyDifferent) Broken("result 1 with every file the same", result);
  }
  // Whatever the result, a record that was given a server hash holds its own
  // local hash next to it, and one that was not holds neither.
  for (const UpdateFile& file : files) {
    if (file.serverHash.empty() != file.localHash.empty()) Broken("a record holds only one hash", result);
    if (!file.localHash.empty() && file.localHash != FakeHash(file.localPath))
      Broken("a record holds another file's hash", result);
  }
  return 0;
}
