// Bytes on the wire of the delta route against the whole-file zip and
// against rsync's delta transfer, for pairs of real files (old, new).
//
// The update exchanges run in process: the client's side is the updater's
// own portable code (request fields, signatures, comparison, needs checks)
// and the server's side is the update server's request handler, so every
// request and reply body is exactly what would travel. Each delta transfer is
// checked by rebuilding the new file from the old one and the fetched blocks.
// rsync runs over a pipe (-z --no-whole-file) with a remote shell that starts
// its server side locally; its own --stats count everything it sent and got.
//
//   delta_bench NAME OLD NEW [NAME OLD NEW ...]
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "server/UpdateService.h"
#include "update/MemoryZip.h"
#include "update/SignatureDelta.h"
#include "update/Sha1.h"
#include "update/UpdateProtocol.h"
#include "update/rdc/RdcEngine.h"

namespace fs = std::filesystem;
using namespace VULIBRARY;

namespace {

const char kProduct[] = "5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915";
const char kTarget[] = "/update/u.php?f=zip&e=5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Sha1(const std::string& bytes) { return ::Sha1Text(bytes); }

// One delta transfer's bytes, by what they carry.
struct Exchange {
  std::uint64_t requests = 0;
  std::uint64_t signatures = 0;       // first request and reply: the signature stream, or its second level
  std::uint64_t signatureRanges = 0;  // the changed ranges of the signature stream
  std::uint64_t blocks = 0;           // the block request and reply
  std::uint64_t blockCount = 0, literal = 0;  // source ranges fetched, and their bytes before deflate
  std::uint64_t formBytes = 0;        // all request bodies
  std::uint64_t Total() const { return signatures + signatureRanges + blocks; }
};

struct Row {
  std::string name;
  std::uint64_t oldSize = 0, newSize = 0;
  Exchange delta, oneLevel;
  std::uint64_t wholeZip = 0, rsync = 0;
};

bool Fail(const std::string& what) {
  std::fprintf(stderr, "delta_bench: %s\n", what.c_str());
  return false;
}

const std::uint8_t* Data(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// One request through the server's handler: its body and the reply's
// entries, counted in exchange.
bool Post(vantle_server::UpdateService& service, const std::vector<FormField>& fields, Exchange& exchange,
          std::uint64_t& share, std::vector<std::string>* entries) {
  std::string body, error;
  if (!BuildFormBody(fields, &body)) return Fail("a request over the body limit");
  vantle_server::ServiceReply reply = service.Handle("POST", kTarget, body);
  if (!vantle_server::MakeBodyWhole(reply, error)) return Fail(error);
  if (reply.status != 200) return Fail("reply " + std::to_string(reply.status) + " " + reply.body);
  ++exchange.requests;
  exchange.formBytes += body.size();
  share += body.size() + reply.body.size();
  MemoryZipArchive zip(reply.body);
  if (!zip.IsOpen()) return Fail("a reply that is no zip archive");
  entries->resize(zip.EntryCount());
  for (std::uint64_t k = 0; k < zip.EntryCount(); ++k) {
    if (!zip.ReadEntry(k, kMaxUpdateFileBytes, &(*entries)[k])) return Fail("a damaged entry");
  }
  return true;
}

// The delta route as the updater runs it, with the second level of
// signatures when secondLevel allows it, through the server's handler.
bool MeasureDelta(vantle_server::UpdateService& service, const std::string& oldBytes, const std::string& newBytes,
                  bool secondLevel, Exchange* exchange) {
  std::vector<UpdateFile> files = {UpdateFile(L"old", L"file", L"file.sig", false)};
  files[0].serverHash = Sha1(newBytes);
  const std::vector<std::uint8_t> local = DIFF::MakeSignatureStream(Data(oldBytes), oldBytes.size());
  const bool twoLevels = secondLevel && WantsSecondLevel(files[0], local.size());
  std::vector<FormField> fields = MakeSignatureRequestFields(files);
  if (twoLevels) fields[0].value = SecondLevelName(fields[0].value);
  std::vector<std::string> entries;
  if (!Post(service, fields, *exchange, exchange->signatures, &entries) || entries.size() != 1)
    return Fail("signature exchange");

  std::vector<std::uint8_t> sourceSignatures(entries[0].begin(), entries[0].end());
  if (twoLevels) {
    std::vector<Need> signatureNeeds;
    if (!SecondLevelNeeds(local, entries[0], &signatureNeeds)) return Fail("second-level needs");
    fields.clear();
    unsigned n = 1;
    AppendRangeFields(fields, files[0].signatureName, signatureNeeds, 0, &n);
    entries.clear();
    if (!fields.empty() && !Post(service, fields, *exchange, exchange->signatureRanges, &entries))
      return Fail("signature ranges");
    if (!RebuildFromNeeds(signatureNeeds, local, entries, &sourceSignatures)) return Fail("signature rebuild");
  }

  std::vector<std::vector<Need>> needs(1);
  if (!CompareSignatureStreams(local.data(), local.size(), sourceSignatures.data(), sourceSignatures.size(),
                               oldBytes.size(), &needs[0]))
    return Fail("needs");
  JoinNearSourceRanges(needs[0]);
  fields = MakeBlockRequestFields(files, {0}, needs);
  exchange->blockCount = fields.size() / 3;
  for (const SourceBlock& block : files[0].sourceBlocks) exchange->literal += block.length;
  entries.clear();
  if (!fields.empty() && !Post(service, fields, *exchange, exchange->blocks, &entries)) return Fail("blocks");

  // Rebuild, as the updater does, and check the result.
  std::vector<std::uint8_t> rebuilt;
  if (!RebuildFromNeeds(needs[0], std::vector<std::uint8_t>(oldBytes.begin(), oldBytes.end()), entries, &rebuilt) ||
      std::string(rebuilt.begin(), rebuilt.end()) != newBytes)
    return Fail("the rebuilt file differs from the new one");
  return true;
}

// The delta exchanges, with and without the second level, and the
// whole-file one, through the server's handler.
bool MeasureUpdate(const std::string& oldBytes, const std::string& newBytes, const fs::path& work, Row* row) {
  const fs::path product = work / "root" / kProduct;
  fs::create_directories(product);
  // The server makes file.sig itself from the file.
  WriteAll(product / "file", newBytes);
  vantle_server::UpdateService service((work / "root").string());
  if (!MeasureDelta(service, oldBytes, newBytes, true, &row->delta) ||
      !MeasureDelta(service, oldBytes, newBytes, false, &row->oneLevel))
    return false;

  std::vector<UpdateFile> files = {UpdateFile(L"old", L"file", L"file.sig", false)};
  files[0].serverHash = Sha1(newBytes);
  std::string body, streamError;
  if (!BuildFormBody(MakeFileRequestFields(files), &body)) return Fail("file request");
  vantle_server::ServiceReply whole = service.Handle("POST", kTarget, body);
  if (whole.status != 200 || !vantle_server::MakeBodyWhole(whole, streamError)) return Fail("whole-file reply");
  row->wholeZip = body.size() + whole.body.size();
  return true;
}

std::uint64_t StatNumber(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return 0;
  std::string digits;
  for (std::size_t i = at + label.size(); i < text.size() && text[i] != '\n'; ++i) {
    if (text[i] >= '0' && text[i] <= '9') digits += text[i];
    if (text[i] == ' ' && !digits.empty()) break;
  }
  return digits.empty() ? 0 : std::stoull(digits);
}

// rsync's delta transfer of new onto a copy of old, over a pipe.
bool MeasureRsync(const fs::path& oldPath, const fs::path& newPath, const fs::path& work, Row* row) {
  const fs::path shell = work / "rsh";
  WriteAll(shell, "#!/bin/sh\nshift\nexec \"$@\"\n");
  fs::permissions(shell, fs::perms::owner_all);
  const fs::path target = work / "rsync-target";
  fs::create_directories(target);
  fs::copy_file(oldPath, target / "file", fs::copy_options::overwrite_existing);
  // An old time and another size or content: rsync must not skip the file.
  const std::string command = "rsync -z --no-whole-file --stats -e '" + shell.string() + "' '" +
                              newPath.string() + "' localhost:'" + (target / "file").string() + "' 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    if (pclose(pipe) != 0) return Fail("rsync failed: " + output);
  }
  if (ReadAll(target / "file") != ReadAll(newPath)) return Fail("rsync did not deliver the new file");
  row->rsync = StatNumber(output, "Total bytes sent:") + StatNumber(output, "Total bytes received:");
  return row->rsync > 0 || Fail("no rsync statistics: " + output);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (argc - 1) % 3 != 0) {
    std::fprintf(stderr, "usage: delta_bench NAME OLD NEW [NAME OLD NEW ...]\n");
    return 2;
  }
  const fs::path work = fs::temp_directory_path() / ("vantle-delta-bench-" + std::to_string(getpid()));
  std::vector<Row> rows;
  bool ok = true;
  for (int i = 1; i + 2 < argc; i += 3) {
    Row row;
    row.name = argv[i];
    const std::string oldBytes = ReadAll(argv[i + 1]), newBytes = ReadAll(argv[i + 2]);
    row.oldSize = oldBytes.size();
    row.newSize = newBytes.size();
    fs::remove_all(work);
    fs::create_directories(work);
    if (oldBytes.empty() || newBytes.empty()) {
      ok = Fail(row.name + ": cannot read both files");
      continue;
    }
    if (!MeasureUpdate(oldBytes, newBytes, work, &row) || !MeasureRsync(argv[i + 1], argv[i + 2], work, &row)) {
      ok = Fail(row.name + ": not measured");
      continue;
    }
    rows.push_back(row);
  }
  fs::remove_all(work);

  std::printf("%-10s %9s %9s %9s %9s %9s %9s %9s %9s %8s\n", "pair", "new bytes", "signature", "sig", "blocks",
              "delta", "one-level", "whole zip", "rsync -z", "delta/");
  std::printf("%-10s %9s %9s %9s %9s %9s %9s %9s %9s %8s\n", "", "", "exchange", "ranges", "exchange", "total",
              "delta", "", "", "rsync");
  bool goals = true;
  for (const Row& r : rows) {
    const std::uint64_t delta = r.delta.Total();
    const double ratio = static_cast<double>(delta) / static_cast<double>(r.rsync);
    const bool met = delta < r.wholeZip && ratio <= 1.2;
    std::printf("%-10s %9llu %9llu %9llu %9llu %9llu %9llu %9llu %9llu %7.2fx%s\n", r.name.c_str(),
                static_cast<unsigned long long>(r.newSize), static_cast<unsigned long long>(r.delta.signatures),
                static_cast<unsigned long long>(r.delta.signatureRanges),
                static_cast<unsigned long long>(r.delta.blocks), static_cast<unsigned long long>(delta),
                static_cast<unsigned long long>(r.oneLevel.Total()), static_cast<unsigned long long>(r.wholeZip),
                static_cast<unsigned long long>(r.rsync), ratio, met ? "" : "  (goal missed)");
    goals = goals && met;
  }
  std::printf("\nwhere the delta's bytes go\n%-10s %8s %10s %8s %10s %10s\n", "pair", "requests", "form bytes",
              "ranges", "literal", "reply zip");
  for (const Row& r : rows) {
    const std::uint64_t total = r.delta.Total();
    std::printf("%-10s %8llu %10llu %8llu %10llu %10llu\n", r.name.c_str(),
                static_cast<unsigned long long>(r.delta.requests), static_cast<unsigned long long>(r.delta.formBytes),
                static_cast<unsigned long long>(r.delta.blockCount), static_cast<unsigned long long>(r.delta.literal),
                static_cast<unsigned long long>(total - r.delta.formBytes));
  }
  std::printf("bytes are request plus reply bodies; HTTP headers (a few hundred bytes per request) are not "
              "counted, rsync's figures are its whole protocol; literal is the fetched ranges before deflate\n");
  std::printf("goals (fewer bytes than the whole-file zip, within 1.2x of rsync): %s\n", goals ? "met" : "missed");
  return ok ? 0 : 1;
}
