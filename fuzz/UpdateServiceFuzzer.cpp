// libFuzzer entry for the update server's request handling: any request a
// client can send gets one of the documented statuses, a typed reply, and
// never a byte of a file outside the product's own folder. A broken promise
// aborts so that libFuzzer keeps the input.
//
// Input: one control byte, then the request target up to the first newline
// (a '\r' before it is dropped), then the body.
//   control % 16 == 15   the form parsers alone, on everything after the byte
//   control % 16 == 14   method GET
//   control % 16 == 13   method "post" (methods are case-sensitive)
//   control % 16 == 12   POST, the body padded with '&' to one byte under,
//                        at or over the size limit (by the input's length)
//   otherwise            method POST ('P' is a POST)
//
// The release folder is made once per process in a temporary folder:
//   BASE/root/<product>/vtl64.exe, notes.txt       what may be served, whole
//                                                  or in ranges
//   BASE/root/<product>/vtl64.exe.sig              a stale copy: the server
//                                                  makes vtl64.exe.sig itself
//   BASE/root/<product>/sub/secret.txt             not a file of the product
//   BASE/root/secret.txt, BASE/outside/secret.txt  outside the product
// Every secret file holds kMarker; no 200 reply may carry it, nor the SHA-1
// of a secret file or of the stale signatures.
#include "ServerTestSupport.h"

#include "server/FormRequest.h"
#include "server/UpdateService.h"
#include "update/Sha1.h"
#include "update/rdc/RdcEngine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace vantle_server;

namespace {

const char kProduct[] = "5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915";
const char kMarker[] = "SECRET-7c1f09d2e4b8-MUST-NOT-BE-SERVED";

struct Fixture {
  fs::path base;
  std::map<std::string, std::string> published;  // name -> bytes
  std::vector<std::string> publishedDigests;
  std::vector<std::string> secretDigests;
  std::unique_ptr<UpdateService> service;
};
Fixture* g_fixture = nullptr;

// Also called at exit. A sanitizer report ends the process without it and
// leaves the folder behind (BASE is printed at start).
void RemoveFixture() {
  if (!g_fixture) return;
  std::error_code ignored;
  fs::remove_all(g_fixture->base, ignored);
}

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "broken promise: %s\n", what.c_str());
  RemoveFixture();
  std::abort();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  if (!out) Broken("cannot write " + path.string());
}

std::string Digest(const std::string& bytes) { return ::Sha1Text(bytes); }

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

void CheckHashReply(const std::string& body) {
  // Every run of 40 hex digits is a digest; each must be a published file's.
  std::size_t i = 0;
  unsigned digests = 0;
  while (i < body.size()) {
    if (!IsHex(body[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < body.size() && IsHex(body[end])) ++end;
    if (end - i == Sha1Context::kHexSize) {
      const std::string digest = body.substr(i, end - i);
      bool known = false;
      for (const std::string& d : g_fixture->publishedDigests) known = known || d == digest;
      if (!known) Broken("hash reply holds a digest of no published file: " + digest);
      ++digests;
    }
    i = end;
  }
  if (digests == 0) Broken("hash reply without a digest");
  for (const std::string& d : g_fixture->secretDigests)
    if (Contains(body, d)) Broken("hash reply holds a secret file's digest");
}

void CheckZipReply(const std::string& body) {
  std::vector<server_test::ZipEntry> entries;
  if (!server_test::ReadZip(body, entries)) Broken("zip reply is not a readable archive");
  if (entries.empty()) Broken("zip reply without an entry");
  for (const server_test::ZipEntry& entry : entries) {
    auto found = g_fixture->published.find(entry.name);
    if (found == g_fixture->published.end()) Broken("zip entry of no published file: " + entry.name);
    // The whole file, or a range of it.
    if (!Contains(found->second, entry.bytes)) Broken("zip entry " + entry.name + " is not that file's content");
    if (entry.method != 8) Broken("zip entry " + entry.name + " is not deflated");
    if (Contains(entry.bytes, kMarker)) Broken("zip entry holds a secret");
  }
}

void CheckServiceReply(const std::string& method, const ServiceReply& reply) {
  const int s = reply.status;
  if (s != 200 && s != 400 && s != 404 && s != 405 && s != 413) Broken("status " + std::to_string(s));
  if (reply.contentType.empty()) Broken("reply without a content type");
  if ((s == 405) != (reply.allow == "POST")) Broken("Allow header does not go with status " + std::to_string(s));
  if (s != 200) return;
  if (method != "POST") Broken("200 for method " + method);
  if (Contains(reply.body, kMarker)) Broken("200 reply holds a secret");
  if (reply.contentType == "application/zip") {
    CheckZipReply(reply.body);
  } else if (reply.contentType.rfind("text/xml", 0) == 0) {
    CheckHashReply(reply.body);
  } else {
    Broken("200 reply of type " + reply.contentType);
  }
}

void CheckParsers(const std::string& text) {
  // Percent decoding only ever shortens, and text without '%' comes back as
  // it was ('+' aside).
  for (bool plusIsSpace : {false, true}) {
    std::string decoded;
    const bool ok = PercentDecode(text, plusIsSpace, decoded);
    if (ok && decoded.size() > text.size()) Broken("percent decoding grew the text");
    if (!Contains(text, "%")) {
      std::string expected = text;
      if (plusIsSpace)
        for (char& c : expected)
          if (c == '+') c = ' ';
      if (!ok || decoded != expected) Broken("text without escapes changed in decoding");
    }
  }

  FormFields fields;
  std::string error;
  if (!ParseFormText(text, fields, error)) {
    if (error.empty()) Broken("form text refused without a reason");
    return;
  }
  std::size_t separators = 0;
  for (char c : text) separators += c == '&';
  if (fields.size() > separators + 1) Broken("more fields than segments");

  std::vector<RequestedItem> items;
  error.clear();
  if (!ParseItems(fields, items, error)) {
    if (error.empty()) Broken("items refused without a reason");
    return;
  }
  if (items.empty() || items.size() > fields.size()) Broken("item count does not fit the fields");
  // Item k is the value of the one field f<k+1>.
  for (std::size_t k = 0; k < items.size(); ++k) {
    const std::string name = "f" + std::to_string(k + 1);
    unsigned seen = 0;
    for (const auto& field : fields) {
      if (field.first != name) continue;
      ++seen;
      if (field.second != items[k].name) Broken("item " + name + " is not its field's value");
    }
    if (seen != 1) Broken("item " + name + " does not come from exactly one field");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory (/dev/shm) unless TMPDIR asks for another place.
  fs::path temp = fs::temp_directory_path();
  std::error_code error;
  if (!std::getenv("TMPDIR") && fs::is_directory("/dev/shm", error)) temp = "/dev/shm";
  std::string pattern = (temp / "vantle-servicefuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_fixture = new Fixture;
  g_fixture->base = pattern;
  std::atexit(RemoveFixture);
  std::fprintf(stderr, "release folder: %s\n", pattern.c_str());

  const fs::path root = g_fixture->base / "root";
  const fs::path product = root / kProduct;
  fs::create_directories(product / "sub");
  fs::create_directories(g_fixture->base / "outside");

  const std::string program = std::string("MZ\x90\0\x03\0\0\0", 8) + std::string(300, 'v') + "end";
  g_fixture->published["vtl64.exe"] = program;
  g_fixture->published["notes.txt"] = "0123456789";
  for (const auto& [name, bytes] : g_fixture->published) {
    WriteFile(product / name, bytes);
    g_fixture->publishedDigests.push_back(Digest(bytes));
  }
  const std::vector<std::uint8_t> signatures =
      DIFF::MakeSignatureStream(reinterpret_cast<const std::uint8_t*>(program.data()), program.size());
  g_fixture->published["vtl64.exe.sig"] = std::string(signatures.begin(), signatures.end());
  g_fixture->publishedDigests.push_back(Digest(g_fixture->published["vtl64.exe.sig"]));
  const std::string stale = std::string(kMarker) + " stale signatures\n";
  WriteFile(product / "vtl64.exe.sig", stale);
  g_fixture->secretDigests.push_back(Digest(stale));
  const std::pair<fs::path, const char*> secrets[] = {
      {product / "sub" / "secret.txt", "in a folder of the product"},
      {root / "secret.txt", "beside the products"},
      {g_fixture->base / "outside" / "secret.txt", "outside the release root"},
  };
  for (const auto& [path, where] : secrets) {
    const std::string bytes = std::string(kMarker) + " " + where + "\n";
    WriteFile(path, bytes);
    g_fixture->secretDigests.push_back(Digest(bytes));
  }
  g_fixture->service = std::make_unique<UpdateService>(root.string());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned control = data[0] % 16;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (control == 15) {
    CheckParsers(rest);
    return 0;
  }
  const std::string method = control == 14 ? "GET" : control == 13 ? "post" : "POST";
  const std::size_t newline = rest.find('\n');
  std::string target = rest.substr(0, newline);
  if (!target.empty() && target.back() == '\r') target.pop_back();
  std::string body = newline == std::string::npos ? std::string() : rest.substr(newline + 1);
  if (control == 12) {
    // Empty segments are skipped, so the padding keeps the fields as they are.
    const std::size_t length = UpdateService::kMaxBodyBytes - 1 + size % 3;
    if (body.size() < length) body.append(length - body.size(), '&');
  }

  vantle_server::ServiceReply reply = g_fixture->service->Handle(method, target, body);
  std::string error;
  if (!vantle_server::MakeBodyWhole(reply, error)) Broken("a reply stream failed");
  CheckServiceReply(method, reply);
  return 0;
}
