// Bytes on the wire of the delta route against the whole-file zip and
// against rsync's delta transfer, for pairs of real files (old, new).
//
// The update exchanges run over loopback HTTP: the client's side is the
// updater's own portable code (request fields, signatures, comparison, needs
// checks) sending the header the program's HTTP client sends, and the
// server's side is the update server's own HTTP server and handler, so every
// byte counted (request and reply, headers and bodies) is what would travel. Each delta transfer is
// checked by rebuilding the new file from the old one and the fetched blocks.
// rsync runs over a pipe (-z --no-whole-file) with a remote shell that starts
// its server side locally; its own --stats count everything it sent and got.
//
//   delta_bench NAME OLD NEW [NAME OLD NEW ...]
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "server/AccessLog.h"
#include "server/HttpServer.h"
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
  std::uint64_t sums = 0;             // the block sums request and reply
  std::uint64_t blocks = 0;           // the block request and reply
  std::uint64_t blockCount = 0, literal = 0;  // source ranges fetched, and their bytes before deflate
  std::uint64_t formBytes = 0;        // all request bodies
  std::uint64_t headerBytes = 0;      // all request and reply headers (and chunk framing)
  std::uint64_t Total() const { return signatures + signatureRanges + sums + blocks; }
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

// The host of the endpoint compiled into the program: what its requests name.
std::string EndpointHost() {
  const std::wstring url = UpdateServerUrl;
  const std::size_t from = url.find(L"://") == std::wstring::npos ? 0 : url.find(L"://") + 3;
  std::string host;
  for (std::size_t i = from; i < url.size() && url[i] != L'/'; ++i) host += static_cast<char>(url[i]);
  return host;
}

// The update server's HTTP side on a loopback port, for one release folder.
class LoopbackServer {
 public:
  explicit LoopbackServer(const fs::path& root)
      : service_(root.string()), logFile_(std::fopen("/dev/null", "w")), log_(logFile_, false),
        server_(Options(), Handler(), log_, Quick()) {}
  ~LoopbackServer() {
    server_.Stop();
    if (thread_.joinable()) thread_.join();
    if (logFile_) std::fclose(logFile_);
  }
  bool Start() {
    std::string error;
    if (!server_.Listen(error)) return Fail("the server cannot listen: " + error);
    thread_ = std::thread([this] { server_.Run(); });
    return true;
  }
  int Port() const { return server_.Port(); }

 private:
  static vantle_server::HttpOptions Options() {
    vantle_server::HttpOptions o;
    o.stopOnSignals = false;
    o.ioThreads = o.zipWorkers = 1;
    o.workers = 2;
    return o;
  }
  vantle_server::RequestHandler Handler() {
    return [this](const std::string& m, const std::string& t, const std::string& b) { return service_.Handle(m, t, b); };
  }
  vantle_server::QuickHandler Quick() {
    return [this](const std::string& m, const std::string& t, const std::string& b) {
      return service_.HandleQuick(m, t, b);
    };
  }
  vantle_server::UpdateService service_;
  std::FILE* logFile_;  // the access log is not wanted here
  vantle_server::AccessLog log_;
  vantle_server::HttpServer server_;
  std::thread thread_;
};

// A connection as the program's HTTP client keeps it: every request with the
// header it sends for a form post, every reply read whole (header, body and
// any chunk framing), each byte counted.
class Client {
 public:
  explicit Client(int port) : port_(port) {}
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }

  // Sends body, reads the reply; false on any transport fault or a status
  // other than 200 (then the reply is in *replyBody for the message).
  bool Post(const std::string& body, std::uint64_t* headerBytes, std::string* replyBody,
            const std::string& target = kTarget) {
    if (fd_ < 0 && !Connect()) return false;
    // The header of a form post by the program's HTTP client: the request
    // line, what it adds itself, and the three lines the program adds.
    const std::string header = std::string("POST ") + target + " HTTP/1.1\r\n"
        "Accept: */*\r\n"
        "Accept-Encoding: */*\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: " + std::to_string(body.size()) + "\r\n"
        "User-Agent: Vantle Update Library\r\n"
        "Host: " + EndpointHost() + "\r\n"
        "Connection: Keep-Alive\r\n"
        "Cache-Control: no-cache\r\n\r\n";
    if (!SendAll(header + body)) return Fail("the request could not be sent");
    *headerBytes += header.size();
    const std::size_t headerEnd = ReadUntil("\r\n\r\n");
    if (headerEnd == std::string::npos) return Fail("the reply header did not arrive");
    const std::string replyHeader = TakeIn(headerEnd + 4);
    *headerBytes += replyHeader.size();
    const int status = std::atoi(replyHeader.c_str() + replyHeader.find(' ') + 1);
    replyBody->clear();
    std::string lower = replyHeader;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t length = lower.find("\r\ncontent-length:");
    if (length != std::string::npos) {
      const std::uint64_t n = std::strtoull(lower.c_str() + length + 17, nullptr, 10);
      if (!ReadCount(n)) return Fail("the reply body was cut short");
      *replyBody = TakeIn(n);
    } else if (lower.find("\r\ntransfer-encoding: chunked") != std::string::npos) {
      for (;;) {
        const std::size_t line = ReadUntil("\r\n");
        if (line == std::string::npos) return Fail("a chunk size did not arrive");
        const std::uint64_t n = std::strtoull(in_.c_str(), nullptr, 16);
        *headerBytes += line + 2;
        TakeIn(line + 2);
        if (!ReadCount(n + 2)) return Fail("a chunk was cut short");
        replyBody->append(TakeIn(n + 2), 0, n);
        *headerBytes += 2;
        if (n == 0) break;
      }
    } else {
      return Fail("a reply of no known length: " + replyHeader);
    }
    if (status != 200) return Fail("reply " + std::to_string(status) + " " + *replyBody);
    return true;
  }

 private:
  bool Connect() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      return Fail("cannot connect to the server");
    return true;
  }
  bool SendAll(const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t n = send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool ReadMore() {
    char buffer[65536];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    in_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  std::size_t ReadUntil(const char* mark) {
    for (;;) {
      const std::size_t at = in_.find(mark);
      if (at != std::string::npos) return at;
      if (!ReadMore()) return std::string::npos;
    }
  }
  bool ReadCount(std::uint64_t n) {
    while (in_.size() < n)
      if (!ReadMore()) return false;
    return true;
  }
  std::string TakeIn(std::size_t n) {
    std::string taken = in_.substr(0, n);
    in_.erase(0, n);
    return taken;
  }

  int port_;
  int fd_ = -1;
  std::string in_;  // received, not yet taken
};

// The ranges of one file a primed request asks for, with the file the
// client rebuilds from.
struct Primed {
  std::string name;
  const std::vector<Need>* needs;
  const std::string* seed;
};

// One request over the connection: its body and the reply's entries,
// counted in exchange. With lengths, a range request as the updater makes
// it: asking for the ranges joined (and primed, with primed), and reading
// either form of reply.
bool Post(Client& client, const std::vector<FormField>& fields, Exchange& exchange, std::uint64_t& share,
          std::vector<std::string>* entries, const std::vector<std::uint64_t>* lengths = nullptr,
          const Primed* primed = nullptr, const std::string& query = "&j=1") {
  std::string body, reply;
  if (!BuildFormBody(fields, &body)) return Fail("a request over the body limit");
  std::uint64_t headers = 0;
  const std::string target = std::string(kTarget) + (primed ? "&j=1&d=1" : lengths ? query : "");
  if (!client.Post(body, &headers, &reply, target)) return false;
  ++exchange.requests;
  exchange.formBytes += body.size();
  exchange.headerBytes += headers;
  share += headers + body.size() + reply.size();
  if (primed) {
    const std::string& seed = *primed->seed;
    const SeedReader reader = [&seed](std::uint64_t offset, std::uint64_t length, std::string* out) {
      if (offset > seed.size() || length > seed.size() - offset) return false;
      *out = seed.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
      return true;
    };
    bool wasPrimed = false;
    return (ReadPrimedRangeEntries(reply, primed->name, *primed->needs, reader, entries, &wasPrimed) && wasPrimed) ||
           Fail("a primed range reply that does not hold the ranges");
  }
  if (lengths) return ReadRangeEntries(reply, *lengths, entries) || Fail("a range reply that does not hold the ranges");
  MemoryZipArchive zip(reply);
  if (!zip.IsOpen()) return Fail("a reply that is no zip archive");
  entries->resize(zip.EntryCount());
  for (std::uint64_t k = 0; k < zip.EntryCount(); ++k) {
    if (!zip.ReadEntry(k, kMaxUpdateFileBytes, &(*entries)[k])) return Fail("a damaged entry");
  }
  return true;
}

// The delta route as the updater runs it, with the second level of
// signatures when secondLevel allows it, through the server's handler.
bool MeasureDelta(Client& client, const std::string& oldBytes, const std::string& newBytes,
                  bool secondLevel, Exchange* exchange) {
  std::vector<UpdateFile> files = {UpdateFile(L"old", L"file", L"file.sig", false)};
  files[0].serverHash = Sha1(newBytes);
  const std::vector<std::uint8_t> local = DIFF::MakeSignatureStream(Data(oldBytes), oldBytes.size());
  const bool twoLevels = secondLevel && WantsSecondLevel(files[0], local.size());
  std::vector<FormField> fields = MakeSignatureRequestFields(files);
  if (twoLevels) fields[0].value = SecondLevelName(fields[0].value);
  std::vector<std::string> entries;
  if (!Post(client, fields, *exchange, exchange->signatures, &entries) || entries.size() != 1)
    return Fail("signature exchange");

  std::vector<std::uint8_t> sourceSignatures(entries[0].begin(), entries[0].end());
  if (twoLevels) {
    std::vector<Need> signatureNeeds;
    if (!SecondLevelNeeds(local, entries[0], &signatureNeeds)) return Fail("second-level needs");
    fields.clear();
    unsigned n = 1;
    AppendRangeFields(fields, files[0].signatureName, signatureNeeds, 0, &n);
    entries.clear();
    std::vector<std::uint64_t> lengths;
    for (const Need& need : signatureNeeds)
      if (need.type == kNeedSource) lengths.push_back(need.length);
    if (!fields.empty() && !Post(client, fields, *exchange, exchange->signatureRanges, &entries, &lengths))
      return Fail("signature ranges");
    if (!RebuildFromNeeds(signatureNeeds, local, entries, &sourceSignatures)) return Fail("signature rebuild");
  }

  std::vector<std::vector<Need>> needs(1);
  if (!CompareSignatureStreams(local.data(), local.size(), sourceSignatures.data(), sourceSignatures.size(),
                               oldBytes.size(), &needs[0]))
    return Fail("needs");
  JoinNearSourceRanges(needs[0]);

  // Block sums of what is still lacking, when that is worth a request.
  std::uint64_t lacking = 0;
  for (const Need& need : needs[0]) lacking += need.type == kNeedSource ? need.length : 0;
  if (lacking >= kMinSumsLiteral) {
    const std::size_t block = SumsBlockFor(lacking);
    fields.clear();
    unsigned n = 1;
    AppendRangeFields(fields, BlockSumsName(files[0].remoteName), needs[0], 0, &n);
    std::vector<std::uint64_t> sumsLengths;
    for (const Need& need : needs[0])
      if (need.type == kNeedSource) sumsLengths.push_back(SumsLength(need.length, block));
    entries.clear();
    std::vector<Need> matched;
    if (!Post(client, fields, *exchange, exchange->sums, &entries, &sumsLengths, nullptr,
              "&j=1&b=" + std::to_string(block)) ||
        !MatchBlockSums(needs[0], entries, block, Data(oldBytes), oldBytes.size(), &matched))
      return Fail("block sums");
    needs[0] = std::move(matched);
  }
  fields = MakeBlockRequestFields(files, {0}, needs);
  exchange->blockCount = fields.size() / 3;
  std::vector<std::uint64_t> lengths;
  for (const SourceBlock& block : files[0].sourceBlocks) {
    exchange->literal += block.length;
    lengths.push_back(block.length);
  }
  entries.clear();
  const Primed primed{"file", &needs[0], &oldBytes};
  if (!fields.empty() && !Post(client, fields, *exchange, exchange->blocks, &entries, &lengths, &primed))
    return Fail("blocks");

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
  LoopbackServer server(work / "root");
  if (!server.Start()) return false;
  // A connection of its own for each route, as each is a run of the updater.
  Client delta(server.Port()), oneLevel(server.Port()), whole(server.Port());
  if (!MeasureDelta(delta, oldBytes, newBytes, true, &row->delta) ||
      !MeasureDelta(oneLevel, oldBytes, newBytes, false, &row->oneLevel))
    return false;

  std::vector<UpdateFile> files = {UpdateFile(L"old", L"file", L"file.sig", false)};
  files[0].serverHash = Sha1(newBytes);
  std::string body, reply;
  if (!BuildFormBody(MakeFileRequestFields(files), &body)) return Fail("file request");
  std::uint64_t headers = 0;
  if (!whole.Post(body, &headers, &reply)) return Fail("whole-file reply");
  MemoryZipArchive zip(reply);
  std::string entry;
  if (!zip.IsOpen() || zip.EntryCount() != 1 || !zip.ReadEntry(0, kMaxUpdateFileBytes, &entry) || entry != newBytes)
    return Fail("the whole-file reply does not hold the new file");
  row->wholeZip = headers + body.size() + reply.size();
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
  if (!ok) {
    std::fprintf(stderr, "delta_bench: a pair was not measured in full: no ratios\n");
    return 1;
  }

  // The promise: no pair costs more than rsync's delta transfer of it, and
  // none more than fetching the whole file.
  constexpr double kGoal = 1.0;
  std::printf("%-10s %9s %9s %9s %9s %9s %9s %9s %9s %9s %8s\n", "pair", "new bytes", "signature", "sig", "block",
              "blocks", "delta", "one-level", "whole zip", "rsync -z", "delta/");
  std::printf("%-10s %9s %9s %9s %9s %9s %9s %9s %9s %9s %8s\n", "", "", "exchange", "ranges", "sums", "exchange", "total",
              "delta", "", "", "rsync");
  bool goals = true;
  for (const Row& r : rows) {
    const std::uint64_t delta = r.delta.Total();
    const double ratio = static_cast<double>(delta) / static_cast<double>(r.rsync);
    const bool met = delta < r.wholeZip && ratio <= kGoal;
    std::printf("%-10s %9llu %9llu %9llu %9llu %9llu %9llu %9llu %9llu %9llu %7.2fx%s\n", r.name.c_str(),
                static_cast<unsigned long long>(r.newSize), static_cast<unsigned long long>(r.delta.signatures),
                static_cast<unsigned long long>(r.delta.signatureRanges), static_cast<unsigned long long>(r.delta.sums),
                static_cast<unsigned long long>(r.delta.blocks), static_cast<unsigned long long>(delta),
                static_cast<unsigned long long>(r.oneLevel.Total()), static_cast<unsigned long long>(r.wholeZip),
                static_cast<unsigned long long>(r.rsync), ratio, met ? "" : "  MISSED");
    goals = goals && met;
  }
  std::printf("\nwhere the delta's bytes go\n%-10s %8s %10s %10s %8s %10s %10s\n", "pair", "requests", "headers",
              "form bytes", "ranges", "literal", "reply zip");
  for (const Row& r : rows) {
    const std::uint64_t total = r.delta.Total();
    std::printf("%-10s %8llu %10llu %10llu %8llu %10llu %10llu\n", r.name.c_str(),
                static_cast<unsigned long long>(r.delta.requests), static_cast<unsigned long long>(r.delta.headerBytes),
                static_cast<unsigned long long>(r.delta.formBytes), static_cast<unsigned long long>(r.delta.blockCount),
                static_cast<unsigned long long>(r.delta.literal),
                static_cast<unsigned long long>(total - r.delta.formBytes - r.delta.headerBytes));
  }
  std::printf("bytes are whole HTTP requests and replies (headers as the program's client sends them and as the "
              "server answers), rsync's figures are its whole protocol; literal is the fetched ranges before "
              "deflate\n");
  std::printf("goal (fewer bytes than the whole-file zip, at most %.2fx rsync -z for every pair): %s\n", kGoal,
              goals ? "met" : "MISSED");
  return 0;
}
