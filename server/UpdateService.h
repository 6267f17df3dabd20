// The update endpoint itself, free of any HTTP library: a request (method,
// target, body) goes in, a reply (status, content type, body) comes out.
//
//   POST /update/u.php?f=hash&e=<product>   body f1=<name>&f2=<name>...
//     -> 200, XML: a root element holding f1..fn, each with the file's SHA-1
//   POST /update/u.php?f=zip&e=<product>    body f1=<name>...
//     -> 200, application/zip: one deflated entry per field, in field order,
//        written while it is sent (ServiceReply::stream)
//   A name "<file>.sig" stands for the delta signatures of <file>, made by
//   the server from the file as it is now, and "<file>.sig.sig" for the
//   second-level signatures of those.
//   POST /update/u.php?f=zip&e=<product>    body f1=<name>&from1=<offset>&size1=<length>...
//     -> 200, application/zip: one entry per range, in field order, holding
//        exactly those bytes of the file
//   POST /update/u.php?f=zip&e=<product>&j=1   the same ranges, all of one file
//     -> 200, application/zip: one entry holding the ranges one after another
//        in field order (a range named twice, or a whole file among them,
//        gets the form above)
//   POST /update/u.php?f=zip&e=<product>&j=1&d=1   the same, primed
//     -> 200, application/zip: one entry named <file>?d=1 holding the ranges,
//        each deflated a piece at a time, every piece a whole raw deflate
//        stream within one range whose dictionary is the window of the file
//        just before the piece (a single range is sent so too)
//   POST /update/u.php?f=zip&e=<product>&b=<block>  body f1=<file>.sums&from1=..&size1=..
//     -> 200, application/zip: for each range (or joined, with j=1), the
//        block sums of its whole blocks of <block> bytes (default 256), 8
//        bytes each (update/BlockSums.h); ranges only, of release files only
//
// Every refusal is a short plain-text reason: 400 for a malformed request,
// 404 for an unknown path, product or file, 405 for another method on the
// endpoint, 413 for a body over kMaxBodyBytes; 400 also for a range that
// does not lie inside its file, for two different ranges of a file that
// overlap, and for an archive whose files and ranges add up to more than
// kMaxArchiveSourceBytes. A file or range named more than once is sent and
// counted once: the archive's other entries for it point at the same data.
#pragma once

#include "server/FormRequest.h"
#include "server/ReleaseFolder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantle_server {

struct ServiceReply {
  int status = 200;
  std::string contentType;
  std::string body;
  std::string allow;  // the Allow header for 405, else empty
  // When set, the body is made while it is sent, and body is empty.
  std::shared_ptr<BodyStream> stream;
};

// A refusal: status and a short plain-text reason.
ServiceReply TextReply(int status, std::string reason);

// Makes a streamed body whole in body, for callers that want the reply in
// memory (benchmarks, tests). False with a reason when the stream fails.
bool MakeBodyWhole(ServiceReply& reply, std::string& error);

class UpdateService {
 public:
  static constexpr std::size_t kMaxBodyBytes = 1000000;
  static constexpr std::size_t kMaxQuickBodyBytes = 4096;  // HandleQuick answers no larger body
  static constexpr const char* kEndpoint = "/update/u.php";
  // GET or HEAD: 200 "ok <release folder served> prepared <release folder
  // last prepared>" at once, for a balancer's health checks and for a
  // publisher waiting for the switch.
  static constexpr const char* kHealthPath = "/health";
  static constexpr const char* kSignatureSuffix = ".sig";
  // "<file>.sums" with ranges of <file>: the block sums of those ranges, in
  // blocks of b bytes (a query parameter, a power of two from 64 to 65536).
  static constexpr const char* kBlockSumsSuffix = ".sums";
  static constexpr std::uint64_t kDefaultSumsBlock = 256;
  // No more than the program itself accepts in one reply: anything beyond
  // it is work for nobody.
  static constexpr std::uint64_t kMaxArchiveSourceBytes = ReleaseFolder::kMaxPackedBytes;

  explicit UpdateService(std::string root) : release_(std::move(root)) {}

  ServiceReply Handle(const std::string& method, const std::string& target, const std::string& body);
  // What Handle answers, when that needs no file to be read: a refusal of a
  // malformed request, or a hash query (of at most kMaxQuickBodyBytes) whose
  // digests are all known already.
  // Nothing otherwise. Cheap enough for the thread that moves the bytes,
  // which spares a hash query two trips between threads.
  std::optional<ServiceReply> HandleQuick(const std::string& method, const std::string& target,
                                          const std::string& body);

  ReleaseFolder& Release() { return release_; }

  // The answer to a body that was refused before it was read in full.
  static ServiceReply BodyTooLarge();

 private:
  // What a requested name stands for: a release file of the product, or the
  // signatures made from one.
  struct ReleaseItem {
    std::string path;
    std::uint64_t size = 0;
    bool generated = false;
    ReleaseFolder::Signature signature;
  };
  bool Resolve(const std::string& folder, const std::string& name, ReleaseItem& item);
  // The digest of a release file or of its signatures when it is known for
  // the file as it is now; empty otherwise.
  std::string QuickHash(const std::string& folder, const std::string& name);

  std::optional<ServiceReply> Serve(const std::string& method, const std::string& target, const std::string& body,
                                    bool quickOnly);
  std::optional<ServiceReply> HashReply(const std::string& folder, const std::vector<RequestedItem>& items,
                                        bool quickOnly);
  ServiceReply ZipReply(const std::string& folder, const std::vector<RequestedItem>& items, bool joined, bool primed,
                        std::size_t block);

  ReleaseFolder release_;
};

// The hash reply text for the given (already upper-case hex) digests, which
// become the texts of f1, f2, ... in order.
std::string HashReplyXml(const std::vector<std::string>& hashes);

}  // namespace vantle_server
