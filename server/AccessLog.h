// One line per request:
//   <UTC time> <remote addr> <method> <target> <status> <request bytes> <reply bytes>[ body=<escaped>]
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace vantle_server {

// Every byte outside '!'..'~', and '%' itself, as %XX (upper-case hex), so
// that any body fits in one space-free field and can be decoded exactly.
std::string EscapeLogField(std::string_view bytes);

// "YYYY-MM-DDTHH:MM:SSZ"
std::string FormatUtcTime(std::time_t when);

struct LogRecord {
  std::time_t when = 0;
  std::string remoteAddr;
  std::string method;
  std::string target;  // as received
  int status = 0;
  std::uint64_t requestBytes = 0;
  std::uint64_t replyBytes = 0;
  const std::string* body = nullptr;  // logged only when set
};

// The line without its line end. Empty method, address or target (a request
// too broken to parse) are written as "-" so that the field count holds; a
// target keeps its own escapes, only bytes outside '!'..'~' are escaped.
std::string FormatLogLine(const LogRecord& record);

// Writes whole lines to one stream from many threads, flushing each at once.
class AccessLog {
 public:
  explicit AccessLog(std::FILE* out, bool logBodies) : out_(out), logBodies_(logBodies) {}
  bool LogBodies() const { return logBodies_; }
  void Write(const LogRecord& record);

 private:
  std::FILE* out_;
  bool logBodies_;
  std::mutex mutex_;
};

}  // namespace vantle_server
