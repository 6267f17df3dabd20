#include "server/UpdateService.h"

#include "update/BlockSums.h"
#include "xml/Xml.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

namespace vantle_server {

ServiceReply TextReply(int status, std::string reason) {
  ServiceReply reply;
  reply.status = status;
  reply.contentType = "text/plain; charset=utf-8";
  reply.body = std::move(reason) + "\n";
  return reply;
}

bool MakeBodyWhole(ServiceReply& reply, std::string& error) {
  while (reply.stream && !reply.stream->Done()) {
    if (!reply.stream->Next(reply.body, error)) return false;
  }
  reply.stream.reset();
  return true;
}

namespace {

// The query's f and e values, and whether j=1 (ranges joined) and d=1
// (joined ranges primed with the file's own preceding bytes) are there;
// other parameters are ignored, but f and e must each come once, since two
// different answers could otherwise be meant.
bool ReadQuery(const std::string& query, std::string& function, std::string& product, bool& joined, bool& primed,
               std::uint64_t& block, std::string& error) {
  FormFields params;
  if (!ParseFormText(query, params, error)) {
    error = "query: " + error;
    return false;
  }
  bool haveF = false, haveE = false;
  joined = primed = false;
  for (const auto& [name, value] : params) {
    if (name == "j") joined = joined || value == "1";
    if (name == "d") primed = primed || value == "1";
    if (name == "b") {
      // The block size of sums: a plain decimal power of two in range.
      block = 0;
      for (char c : value) block = (c >= '0' && c <= '9' && block < block_sums::kMaxBlock) ? block * 10 + std::uint64_t(c - '0') : ~std::uint64_t(0);
      if (!block_sums::IsBlockSize(block)) {
        error = "query parameter b is no block size: " + Quote(value);
        return false;
      }
    }
    if (name != "f" && name != "e") continue;
    bool& seen = name == "f" ? haveF : haveE;
    if (seen) {
      error = "query parameter " + name + " appears twice";
      return false;
    }
    seen = true;
    (name == "f" ? function : product) = value;
  }
  if (!haveF || function.empty()) {
    error = "query parameter f is missing";
    return false;
  }
  if (!haveE || product.empty()) {
    error = "query parameter e (the product) is missing";
    return false;
  }
  if (function != "hash" && function != "zip") {
    error = "unknown function f=" + Quote(function);
    return false;
  }
  return true;
}

}  // namespace

ServiceReply UpdateService::BodyTooLarge() {
  return TextReply(413, "request body over " + std::to_string(kMaxBodyBytes) + " bytes");
}

std::string HashReplyXml(const std::vector<std::string>& hashes) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<update>\r\n";
  for (std::size_t i = 0; i < hashes.size(); ++i) {
    const std::string name = "f" + std::to_string(i + 1);
    xml += "\t<" + name + ">" + XmlEncode(hashes[i]) + "</" + name + ">\r\n";
  }
  xml += "</update>\r\n";
  return xml;
}

ServiceReply UpdateService::Handle(const std::string& method, const std::string& target,
                                   const std::string& body) {
  return *Serve(method, target, body, false);
}

std::optional<ServiceReply> UpdateService::HandleQuick(const std::string& method, const std::string& target,
                                                       const std::string& body) {
  return Serve(method, target, body, true);
}

std::optional<ServiceReply> UpdateService::Serve(const std::string& method, const std::string& target,
                                                 const std::string& body, bool quickOnly) {
  const Target parts = SplitTarget(target);
  // A balancer's look at whether the instance is up: nothing to read.
  if (parts.path == kHealthPath && (method == "GET" || method == "HEAD"))
    return TextReply(200, "ok " + std::filesystem::path(release_.Root()).filename().string() + " prepared " +
                              std::filesystem::path(release_.Prepared()).filename().string());
  if (parts.path != kEndpoint) return TextReply(404, "no such path " + Quote(parts.path));
  if (method != "POST") {
    ServiceReply reply = TextReply(405, "only POST is answered here, not " + Quote(method));
    reply.allow = "POST";
    return reply;
  }
  if (body.size() > kMaxBodyBytes) return BodyTooLarge();

  std::string function, product, error;
  bool joined = false, primed = false;
  std::uint64_t block = kDefaultSumsBlock;
  if (!ReadQuery(parts.query, function, product, joined, primed, block, error)) return TextReply(400, error);
  // The quick way is for the hash queries clients send, a few names long;
  // a large body is parsed by a worker, not by the thread that moves bytes.
  if (quickOnly && (function != "hash" || body.size() > kMaxQuickBodyBytes)) return std::nullopt;

  FormFields fields;
  std::vector<RequestedItem> items;
  if (!ParseFormText(body, fields, error) || !ParseItems(fields, items, error))
    return TextReply(400, "body: " + error);
  if (function == "hash") {
    for (const RequestedItem& item : items) {
      if (item.ranged) return TextReply(400, "a hash query names whole files, not byte ranges");
    }
  }

  // The quick way looks at the named files alone: one that is there means
  // its product folder is too, and anything missing is left to the long way.
  // The release is taken once: every file of the request comes from it.
  const std::string root = release_.Root();
  const std::string folder = quickOnly && IsPlainName(product) ? root + "/" + product
                                                               : ReleaseFolder::ProductFolderIn(root, product);
  if (folder.empty()) return TextReply(404, "unknown product " + Quote(product));

  if (function == "hash") return HashReply(folder, items, quickOnly);
  if (quickOnly) return std::nullopt;
  return ZipReply(folder, items, joined, primed, std::size_t(block));
}

std::string UpdateService::QuickHash(const std::string& folder, const std::string& name) {
  // Known digests are of regular files only, and looking one up looks at the
  // file itself: the names are checked here, the file is looked at once.
  const std::size_t suffix = std::char_traits<char>::length(kSignatureSuffix);
  if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kSignatureSuffix) == 0) {
    // A second level's digest is not kept apart: the worker answers it.
    if (name.size() > 2 * suffix && name.compare(name.size() - 2 * suffix, suffix, kSignatureSuffix) == 0) return {};
    const std::string source = name.substr(0, name.size() - suffix);
    if (IsPlainName(source)) {
      std::string hash = release_.KnownSignatureHash(folder + "/" + source);
      // A file of that name lying in the folder stands for nothing while
      // its source is there.
      if (!hash.empty() || !ReleaseFolder::ReleaseFile(folder, source).empty()) return hash;
    }
  }
  return IsPlainName(name) ? release_.KnownFileHash(folder + "/" + name) : std::string();
}

bool UpdateService::Resolve(const std::string& folder, const std::string& name, ReleaseItem& item) {
  item = ReleaseItem{};
  // "<file>.sig" is made from <file> itself, so that it always matches the
  // version being served; a stale copy lying in the folder is not used.
  const std::size_t suffix = std::char_traits<char>::length(kSignatureSuffix);
  auto isSignatureName = [&](const std::string& n) {
    return n.size() > suffix && n.compare(n.size() - suffix, suffix, kSignatureSuffix) == 0;
  };
  if (isSignatureName(name)) {
    const std::string stem = name.substr(0, name.size() - suffix);
    // "<file>.sig.sig" is the second level of what "<file>.sig" stands for.
    if (isSignatureName(stem)) {
      const std::string source = ReleaseFolder::ReleaseFile(folder, stem.substr(0, stem.size() - suffix));
      if (!source.empty()) {
        item.generated = true;
        if (!release_.FileSignature(source, item.signature) || !item.signature.secondLevel) return false;
        item.signature = ReleaseFolder::Signature(*item.signature.secondLevel);
        return true;
      }
    }
    const std::string source = ReleaseFolder::ReleaseFile(folder, stem);
    if (!source.empty()) {
      item.generated = true;
      return release_.FileSignature(source, item.signature);
    }
  }
  item.path = ReleaseFolder::ReleaseFile(folder, name);
  if (item.path.empty()) return false;
  std::error_code error;
  item.size = std::filesystem::file_size(item.path, error);
  return !error;
}

std::optional<ServiceReply> UpdateService::HashReply(const std::string& folder,
                                                     const std::vector<RequestedItem>& items, bool quickOnly) {
  std::vector<std::string> hashes;
  for (const RequestedItem& item : items) {
    std::string hash;
    if (quickOnly) {
      hash = QuickHash(folder, item.name);
      if (hash.empty()) return std::nullopt;
    }
    ReleaseItem found;
    if (hash.empty() && Resolve(folder, item.name, found))
      hash = found.generated ? found.signature.hash : release_.FileHash(found.path);
    if (hash.empty()) return TextReply(404, "no such file " + Quote(item.name));
    hashes.push_back(std::move(hash));
  }
  ServiceReply reply;
  reply.contentType = "text/xml; charset=utf-8";
  reply.body = HashReplyXml(hashes);
  return reply;
}

namespace {

std::string RangeText(std::uint64_t from, std::uint64_t size) {
  return "from " + std::to_string(from) + ", " + std::to_string(size) + " bytes,";
}

}  // namespace

ServiceReply UpdateService::ZipReply(const std::string& folder, const std::vector<RequestedItem>& items,
                                     bool joined, bool primed, std::size_t block) {
  if (items.size() > ZipStream::kMaxEntries)
    return TextReply(400, "more than " + std::to_string(ZipStream::kMaxEntries) + " entries asked for");
  // What each named file (or signature file) is asked for: whole, or ranges.
  struct Source {
    ReleaseItem found;
    std::uint64_t length = 0;
    bool whole = false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    bool sums = false;  // "<file>.sums": the ranges stand for their block sums
  };
  std::map<std::string, Source> sources;
  // A piece named again is one more directory entry, nothing else.
  std::map<std::tuple<std::string, bool, std::uint64_t, std::uint64_t>, std::size_t> partOf;
  std::vector<ZipPart> parts;
  std::vector<bool> rangedPart;
  std::vector<std::size_t> entries;
  entries.reserve(items.size());
  for (const RequestedItem& item : items) {
    const auto key = std::make_tuple(item.name, item.ranged, item.from, item.size);
    auto known = partOf.find(key);
    if (known != partOf.end()) {
      entries.push_back(known->second);
      continue;
    }
    auto [at, fresh] = sources.try_emplace(item.name);
    Source& source = at->second;
    const std::size_t suffix = std::char_traits<char>::length(kBlockSumsSuffix);
    const bool sums = item.name.size() > suffix &&
                      item.name.compare(item.name.size() - suffix, suffix, kBlockSumsSuffix) == 0;
    if (fresh && sums) {
      // Sums are of a release file's ranges only: a whole file's would be
      // as large as a signature list of tiny chunks, and no client wants it.
      source.sums = true;
      if (!Resolve(folder, item.name.substr(0, item.name.size() - suffix), source.found) || source.found.generated)
        return TextReply(404, "no such file " + Quote(item.name));
      source.length = source.found.size;
    }
    if (sums && !item.ranged) return TextReply(400, Quote(item.name) + " is asked for by ranges only");
    if (fresh && !sums) {
      if (!Resolve(folder, item.name, source.found)) return TextReply(404, "no such file " + Quote(item.name));
      source.length = source.found.generated ? source.found.signature.bytes->size() : source.found.size;
    }
    ZipPart part;
    part.name = item.name;
    if (item.ranged) {
      // A short entry would look like a good block to the client, which
      // would then rebuild a broken file from it.
      if (item.from > source.length || item.size > source.length - item.from)
        return TextReply(400, "the range " + RangeText(item.from, item.size) + " is outside " + Quote(item.name) +
                                  " (" + std::to_string(source.length) + " bytes)");
      if (item.size > 0) source.ranges.emplace_back(item.from, item.size);
      part.path = source.found.path;
      part.from = item.from;
      part.size = item.size;
    } else {
      source.whole = true;
    }
    partOf.emplace(key, parts.size());
    entries.push_back(parts.size());
    parts.push_back(std::move(part));
    rangedPart.push_back(item.ranged);
  }

  // Each piece is counted once; two different ranges that share bytes are
  // not what any client asks for. Ranges of a file also sent whole are sent
  // as well, so they count on top of it.
  std::uint64_t total = 0;
  for (auto& [name, source] : sources) {
    std::sort(source.ranges.begin(), source.ranges.end());
    std::uint64_t ranged = 0;
    for (std::size_t i = 0; i < source.ranges.size(); ++i) {
      const auto& [from, size] = source.ranges[i];
      if (i > 0 && source.ranges[i - 1].first + source.ranges[i - 1].second > from)
        return TextReply(400, "the ranges " + RangeText(source.ranges[i - 1].first, source.ranges[i - 1].second) +
                                  " and " + RangeText(from, size) + " of " + Quote(name) + " overlap");
      ranged += size;
    }
    total += (source.whole ? source.length : 0) + ranged;
    if (total > kMaxArchiveSourceBytes)
      return TextReply(400, "the requested files add up to more than " + std::to_string(kMaxArchiveSourceBytes) +
                                " bytes");
  }

  // Sums are made here, in request order, each source's in one string that
  // its parts then stand for ranges of, like any bytes in memory.
  for (auto& [name, source] : sources) {
    if (!source.sums) continue;
    auto all = std::make_shared<std::string>();
    const int file = ::open(source.found.path.c_str(), O_RDONLY | O_CLOEXEC);
    for (ZipPart& part : parts) {
      if (part.name != name) continue;
      std::string range(std::size_t(part.size), '\0');
      std::size_t got = 0;
      while (file >= 0 && got < range.size()) {
        const ssize_t r = ::pread(file, &range[got], range.size() - got, off_t(part.from + got));
        if (r <= 0) break;
        got += std::size_t(r);
      }
      if (got != range.size()) {
        if (file >= 0) ::close(file);
        return TextReply(500, "cannot read " + Quote(name));
      }
      const std::string sums =
          block_sums::MakeSums(reinterpret_cast<const std::uint8_t*>(range.data()), range.size(), block);
      part.from = all->size();
      part.size = sums.size();
      *all += sums;
    }
    if (file >= 0) ::close(file);
    source.found.generated = true;
    source.found.signature.bytes = all;
    source.found.signature.when = std::time(nullptr);
  }

  // Whole files come deflated from the cache; ranges, of files or of
  // signatures in memory, are deflated by the zip lane as they are sent.
  for (ZipPart& part : parts) {
    const Source& source = sources.at(part.name);
    const ReleaseFolder::Signature& signature = source.found.signature;
    if (rangedPart[&part - parts.data()]) {
      if (source.found.generated) {
        part.bytes = signature.bytes;
        part.when = signature.when;
      }
      continue;
    }
    part.packed = source.found.generated ? signature.packed : release_.PackedFile(source.found.path);
    if (!part.packed) return TextReply(500, "cannot pack " + Quote(part.name));
  }

  // Joined: several ranges of one file, each asked for once, go out as one
  // entry holding them in request order, which spares an entry's headers
  // per range and lets each range's compression refer back to the ranges
  // before it. Clients that ask for it read either form (a server that does
  // not join sends one entry per range). Primed (d=1 as well): each range is
  // deflated with the file's own bytes before it as dictionary, for a client
  // that rebuilds the file in order; that is worth it for a single range too.
  const bool oneRangedSource = sources.size() == 1 && !sources.begin()->second.whole;
  primed = primed && joined && oneRangedSource && parts.size() == items.size();
  if (joined && oneRangedSource && (parts.size() > 1 || primed) && parts.size() == items.size()) {
    ZipPart all;
    all.name = parts.front().name;
    all.path = parts.front().path;
    all.bytes = parts.front().bytes;
    all.when = parts.front().when;
    for (const ZipPart& part : parts) {
      if (part.size == 0) continue;
      all.spans.emplace_back(part.from, part.size);
      all.size += part.size;
    }
    // The name tells the client which form it got: a server that does not
    // prime names the entry after the file.
    if (primed && all.size > 0) {
      all.primed = true;
      all.name += kPrimedSuffix;
    }
    parts.assign(1, std::move(all));
    entries.assign(1, 0);
  }

  ServiceReply reply;
  reply.contentType = "application/zip";
  reply.stream = std::make_shared<ZipStream>(std::move(parts), std::move(entries));
  return reply;
}

}  // namespace vantle_server
