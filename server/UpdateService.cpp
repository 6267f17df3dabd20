#include "server/UpdateService.h"

#include "xml/Xml.h"

#include <filesystem>

namespace vantle_server {

ServiceReply TextReply(int status, std::string reason) {
  ServiceReply reply;
  reply.status = status;
  reply.contentType = "text/plain; charset=utf-8";
  reply.body = std::move(reason) + "\n";
  return reply;
}

namespace {

// The query's f and e values; other parameters are ignored, but f and e
// must each come once, since two different answers could otherwise be meant.
bool ReadQuery(const std::string& query, std::string& function, std::string& product,
               std::string& error) {
  FormFields params;
  if (!ParseFormText(query, params, error)) {
    error = "query: " + error;
    return false;
  }
  bool haveF = false, haveE = false;
  for (const auto& [name, value] : params) {
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
  const Target parts = SplitTarget(target);
  if (parts.path != kEndpoint) return TextReply(404, "no such path " + Quote(parts.path));
  if (method != "POST") {
    ServiceReply reply = TextReply(405, "only POST is answered here, not " + Quote(method));
    reply.allow = "POST";
    return reply;
  }
  if (body.size() > kMaxBodyBytes) return BodyTooLarge();

  std::string function, product, error;
  if (!ReadQuery(parts.query, function, product, error)) return TextReply(400, error);

  FormFields fields;
  std::vector<RequestedItem> items;
  if (!ParseFormText(body, fields, error) || !ParseItems(fields, items, error))
    return TextReply(400, "body: " + error);
  if (function == "hash") {
    for (const RequestedItem& item : items) {
      if (item.ranged) return TextReply(400, "a hash query names whole files, not byte ranges");
    }
  }

  const std::string folder = release_.ProductFolder(product);
  if (folder.empty()) return TextReply(404, "unknown product " + Quote(product));

  return function == "hash" ? HashReply(folder, items) : ZipReply(folder, items);
}

bool UpdateService::Resolve(const std::string& folder, const std::string& name, ReleaseItem& item) {
  item = ReleaseItem{};
  // "<file>.sig" is made from <file> itself, so that it always matches the
  // version being served; a stale copy lying in the folder is not used.
  const std::size_t suffix = std::char_traits<char>::length(kSignatureSuffix);
  if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kSignatureSuffix) == 0) {
    const std::string source = ReleaseFolder::ReleaseFile(folder, name.substr(0, name.size() - suffix));
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

ServiceReply UpdateService::HashReply(const std::string& folder,
                                      const std::vector<RequestedItem>& items) {
  std::vector<std::string> hashes;
  for (const RequestedItem& item : items) {
    ReleaseItem found;
    std::string hash;
    if (Resolve(folder, item.name, found))
      hash = found.generated ? found.signature.hash : release_.FileHash(found.path);
    if (hash.empty()) return TextReply(404, "no such file " + Quote(item.name));
    hashes.push_back(std::move(hash));
  }
  ServiceReply reply;
  reply.contentType = "text/xml; charset=utf-8";
  reply.body = HashReplyXml(hashes);
  return reply;
}

ServiceReply UpdateService::ZipReply(const std::string& folder,
                                     const std::vector<RequestedItem>& items) {
  std::vector<ZipSource> sources;
  std::uint64_t total = 0;
  for (const RequestedItem& item : items) {
    ReleaseItem found;
    if (!Resolve(folder, item.name, found)) return TextReply(404, "no such file " + Quote(item.name));
    ZipSource source;
    source.entryName = item.name;
    std::uint64_t length = found.size;
    if (found.generated) {
      source.bytes = found.signature.bytes;
      source.when = found.signature.when;
      length = source.bytes->size();
    } else {
      source.path = std::move(found.path);
    }
    if (item.ranged) {
      // A short entry would look like a good block to the client, which
      // would then rebuild a broken file from it.
      if (item.from > length || item.size > length - item.from)
        return TextReply(400, "the range from " + std::to_string(item.from) + ", " + std::to_string(item.size) +
                               " bytes, is outside " + Quote(item.name) + " (" + std::to_string(length) +
                               " bytes)");
      source.ranged = true;
      source.from = item.from;
      source.size = item.size;
    }
    total += item.ranged ? item.size : length;
    if (total > kMaxArchiveSourceBytes)
      return TextReply(400, "the requested files add up to more than " +
                             std::to_string(kMaxArchiveSourceBytes) + " bytes");
    sources.push_back(std::move(source));
  }
  ServiceReply reply;
  std::string error;
  if (!BuildZip(sources, reply.body, error)) return TextReply(500, error);
  reply.contentType = "application/zip";
  return reply;
}

}  // namespace vantle_server
