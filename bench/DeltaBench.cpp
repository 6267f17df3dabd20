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

struct Row {
  std::string name;
  std::uint64_t oldSize = 0, newSize = 0;
  std::uint64_t signatureExchange = 0, blockExchange = 0, blocks = 0;
  std::uint64_t wholeZip = 0, rsync = 0;
};

bool Fail(const std::string& what) {
  std::fprintf(stderr, "delta_bench: %s\n", what.c_str());
  return false;
}

// The two delta exchanges and the whole-file one, through the server's handler.
bool MeasureUpdate(const std::string& oldBytes, const std::string& newBytes, const fs::path& work, Row* row) {
  const fs::path product = work / "root" / kProduct;
  fs::create_directories(product);
  // The server makes file.sig itself from the file.
  WriteAll(product / "file", newBytes);
  vantle_server::UpdateService service((work / "root").string());

  std::vector<UpdateFile> files = {UpdateFile(L"old", L"file", L"file.sig", false)};
  files[0].serverHash = Sha1(newBytes);
  std::string body;
  if (!BuildFormBody(MakeSignatureRequestFields(files), &body)) return Fail("signature request");
  vantle_server::ServiceReply signatureReply = service.Handle("POST", kTarget, body);
  std::string streamError;
  if (!vantle_server::MakeBodyWhole(signatureReply, streamError)) return Fail(streamError);
  if (signatureReply.status != 200) return Fail("signature reply " + std::to_string(signatureReply.status));
  row->signatureExchange = body.size() + signatureReply.body.size();

  // The client: its own signatures against the server's, into needs.
  std::string sourceSignatures;
  MemoryZipArchive signatureZip(signatureReply.body);
  if (!signatureZip.ReadEntry(0, kMaxUpdateFileBytes, &sourceSignatures)) return Fail("signature entry");
  DIFF::RdcEngine engine;
  DIFF::MemoryDiffWriter seedSignatures, needsSink;
  auto* oldReader = new DIFF::MemoryRdcFileReader(reinterpret_cast<const BYTE*>(oldBytes.data()), oldBytes.size());
  const HRESULT generated = engine.GenerateSignatures(oldReader, &seedSignatures);
  oldReader->Release();
  IRdcFileReader* seed = seedSignatures.CreateReader();
  auto* source = new DIFF::MemoryRdcFileReader(reinterpret_cast<const BYTE*>(sourceSignatures.data()),
                                               sourceSignatures.size());
  const HRESULT compared = engine.CompareSignatures(seed, source, &needsSink);
  seed->Release();
  source->Release();
  if (FAILED(generated) || FAILED(compared)) return Fail("signatures");
  files[0].needs = needsSink.TakeBytes();
  std::vector<std::vector<Need>> needs(1);
  if (!ReadNeeds(files[0].needs, oldBytes.size(), &needs[0])) return Fail("needs");

  const std::vector<FormField> blockFields = MakeBlockRequestFields(files, {0}, needs);
  row->blocks = blockFields.size() / 3;
  std::string blockReplyBody;
  if (!blockFields.empty()) {
    if (!BuildFormBody(blockFields, &body)) return Fail("block request over the body limit");
    vantle_server::ServiceReply blockReply = service.Handle("POST", kTarget, body);
    if (!vantle_server::MakeBodyWhole(blockReply, streamError)) return Fail(streamError);
    if (blockReply.status != 200) return Fail("block reply " + std::to_string(blockReply.status) + " " + blockReply.body);
    row->blockExchange = body.size() + blockReply.body.size();
    blockReplyBody = blockReply.body;
  }

  // Rebuild, as the updater does, and check the result.
  MemoryZipArchive blockZip(blockReplyBody);
  std::string rebuilt;
  std::uint64_t entry = 0;
  for (const Need& need : needs[0]) {
    if (need.type == kNeedSeed) {
      rebuilt.append(oldBytes, need.offset, need.length);
    } else if (need.type == kNeedSource) {
      std::string block;
      if (!blockZip.ReadEntry(entry++, need.length, &block) || block.size() != need.length) return Fail("block");
      rebuilt += block;
    }
  }
  if (rebuilt != newBytes) return Fail("the rebuilt file differs from the new one");

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

  std::printf("%-12s %10s %7s %10s %10s %10s %10s %9s %9s\n", "pair", "new bytes", "blocks", "signature",
              "blocks", "delta", "whole zip", "rsync -z", "delta/");
  std::printf("%-12s %10s %7s %10s %10s %10s %10s %9s %9s\n", "", "", "", "exchange", "exchange", "total", "",
              "", "rsync");
  bool goals = true;
  for (const Row& r : rows) {
    const std::uint64_t delta = r.signatureExchange + r.blockExchange;
    const double ratio = static_cast<double>(delta) / static_cast<double>(r.rsync);
    std::printf("%-12s %10llu %7llu %10llu %10llu %10llu %10llu %9llu %8.2fx%s\n", r.name.c_str(),
                static_cast<unsigned long long>(r.newSize), static_cast<unsigned long long>(r.blocks),
                static_cast<unsigned long long>(r.signatureExchange),
                static_cast<unsigned long long>(r.blockExchange), static_cast<unsigned long long>(delta),
                static_cast<unsigned long long>(r.wholeZip), static_cast<unsigned long long>(r.rsync), ratio,
                delta < r.wholeZip && ratio <= 1.2 ? "" : "  (goal missed)");
    goals = goals && delta < r.wholeZip && ratio <= 1.2;
  }
  std::printf("bytes are request plus reply bodies; HTTP headers (a few hundred bytes per request) are not "
              "counted, rsync's figures are its whole protocol\n");
  std::printf("goals (fewer bytes than the whole-file zip, within 1.2x of rsync): %s\n", goals ? "met" : "missed");
  return ok ? 0 : 1;
}
