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

// The texts are borrowed: they must outlive the call that takes the record.
struct LogRecord {
  std::time_t when = 0;
  std::string_view remoteAddr;
  std::string_view method;
  std::string_view target;  // as received
  int status = 0;
  std::uint64_t requestBytes = 0;
  std::uint64_t replyBytes = 0;
  const std::string* body = nullptr;  // logged only when set
};

// The line without its line end. Empty method, address or target (a request
// too broken to parse) are written as "-" so that the field count holds; a
// target keeps its own escapes, only bytes outside '!'..'~' are escaped.
std::string FormatLogLine(const LogRecord& record);
// The same with its line end, added to out.
void AppendLogLine(const LogRecord& record, std::string& out);

// Collects whole lines from many threads and writes them to one stream, in
// the order they came, a batch at a time: a busy server pays one write for
// many requests rather than one each.
class AccessLog {
 public:
  explicit AccessLog(std::FILE* out, bool logBodies) : out_(out), logBodies_(logBodies) {}
  bool LogBodies() const { return logBodies_; }

  // Adds the record's line. True when it is the first line since the last
  // Flush: the caller then sees that a Flush follows soon (at the latest
  // when it has handled what else is waiting). A large batch is written at
  // once, by the caller that completes it.
  bool Add(const LogRecord& record);
  // Writes out and flushes every line added so far.
  void Flush();
  // Add and Flush.
  void Write(const LogRecord& record);

 private:
  static constexpr std::size_t kMaxBatchBytes = 64 * 1024;

  std::FILE* out_;
  bool logBodies_;
  std::mutex mutex_;  // guards pending_
  std::string pending_;
  std::mutex writeMutex_;  // one batch written at a time, in order
  std::string writing_;
};

}  // namespace vantle_server
