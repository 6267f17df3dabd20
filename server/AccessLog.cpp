#include "server/AccessLog.h"

namespace vantle_server {
namespace {

std::string Escape(std::string_view bytes, bool escapePercent) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x21 || c > 0x7E || (escapePercent && c == '%')) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string OrDash(std::string text) { return text.empty() ? "-" : text; }

}  // namespace

std::string EscapeLogField(std::string_view bytes) { return Escape(bytes, true); }

std::string FormatUtcTime(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string FormatLogLine(const LogRecord& r) {
  std::string line = FormatUtcTime(r.when);
  line += ' ';
  line += OrDash(Escape(r.remoteAddr, false));
  line += ' ';
  line += OrDash(Escape(r.method, false));
  line += ' ';
  line += OrDash(Escape(r.target, false));
  line += ' ' + std::to_string(r.status) + ' ' + std::to_string(r.requestBytes) + ' ' +
          std::to_string(r.replyBytes);
  if (r.body) line += " body=" + EscapeLogField(*r.body);
  return line;
}

void AccessLog::Write(const LogRecord& record) {
  LogRecord copy = record;
  if (!logBodies_) copy.body = nullptr;
  const std::string line = FormatLogLine(copy) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

}  // namespace vantle_server
