#include "server/AccessLog.h"

#include <charconv>

namespace vantle_server {
namespace {

void AppendEscaped(std::string_view bytes, bool escapePercent, std::string& out) {
  static const char kHex[] = "0123456789ABCDEF";
  // Plain runs are copied whole.
  std::size_t plain = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x21 && c <= 0x7E && !(escapePercent && c == '%')) continue;
    out.append(bytes.data() + plain, i - plain);
    const char escape[3] = {'%', kHex[c >> 4], kHex[c & 15]};
    out.append(escape, 3);
    plain = i + 1;
  }
  out.append(bytes.data() + plain, bytes.size() - plain);
}

void AppendField(std::string_view text, std::string& out) {
  out += ' ';
  if (text.empty())
    out += '-';
  else
    AppendEscaped(text, false, out);
}

template <class Number>
void AppendNumber(Number n, std::string& out) {
  char text[24];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, n);
  out += ' ';
  out.append(text, end.ptr);
}

// Many lines share a second: the time text is made once for it.
void AppendUtcTime(std::time_t when, std::string& out) {
  thread_local std::time_t lastWhen = 0;
  thread_local std::string lastText = FormatUtcTime(0);
  if (when != lastWhen) {
    lastText = FormatUtcTime(when);
    lastWhen = when;
  }
  out += lastText;
}

}  // namespace

std::string EscapeLogField(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendEscaped(bytes, true, out);
  return out;
}

std::string FormatUtcTime(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

void AppendLogLine(const LogRecord& r, std::string& out) {
  AppendUtcTime(r.when, out);
  AppendField(r.remoteAddr, out);
  AppendField(r.method, out);
  AppendField(r.target, out);
  AppendNumber(r.status, out);
  AppendNumber(r.requestBytes, out);
  AppendNumber(r.replyBytes, out);
  if (r.body) {
    out += " body=";
    AppendEscaped(*r.body, true, out);
  }
  out += '\n';
}

std::string FormatLogLine(const LogRecord& record) {
  std::string line;
  AppendLogLine(record, line);
  line.pop_back();
  return line;
}

bool AccessLog::Add(const LogRecord& record) {
  // Made outside the lock; only the copy into the batch is inside it.
  thread_local std::string line;
  line.clear();
  LogRecord shown = record;
  if (!logBodies_) shown.body = nullptr;
  AppendLogLine(shown, line);
  bool first = false, full = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = pending_.empty();
    pending_ += line;
    full = pending_.size() >= kMaxBatchBytes;
  }
  // A logged body can make one line large; its room is not kept.
  if (line.capacity() > kMaxBatchBytes) std::string().swap(line);
  if (full) Flush();
  return first;
}

void AccessLog::Flush() {
  std::lock_guard<std::mutex> writing(writeMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    writing_.swap(pending_);
  }
  if (writing_.empty()) return;
  std::fwrite(writing_.data(), 1, writing_.size(), out_);
  std::fflush(out_);
  writing_.clear();
}

void AccessLog::Write(const LogRecord& record) {
  Add(record);
  Flush();
}

}  // namespace vantle_server
