#include "launcher/CommandLine.h"

#include <cctype>
#include <climits>
#include <cstring>

int LeadingNumber(const char* text) {
  if (!text) return 0;
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  long long value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) return static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

CommandLineRequest ReadCommandLine(int argc, const char* const* argv) {
  CommandLineRequest request;
  if (argc < 2 || !argv || !argv[1]) return request;
  if (const int command = LeadingNumber(argv[1])) {
    request.kind = CommandLineRequest::Replay;
    request.command = command;
    return request;
  }
  if (argc < 3 || !argv[2]) return request;
  const char* mode = argv[1];
  if (std::strcmp(mode, "-run") == 0)
    request.kind = CommandLineRequest::Run;
  else if (std::strcmp(mode, "-shortcut") == 0)
    request.kind = CommandLineRequest::Shortcut;
  else if (std::strcmp(mode, "-conf") == 0)
    request.kind = CommandLineRequest::Conf;
  else if (std::strcmp(mode, "-import") == 0)
    request.kind = CommandLineRequest::Import;
  else
    return request;
  request.argument = argv[2];
  return request;
}
