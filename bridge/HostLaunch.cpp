#include "bridge/HostLaunch.h"

#include "launcher/ShellNames.h"

const std::vector<std::string>& HostDosBoxCandidates() {
  static const std::vector<std::string> candidates = {
      "/usr/local/bin/dosbox", "/usr/bin/dosbox", "/usr/games/dosbox", "/usr/local/games/dosbox",
      "/bin/dosbox", "/snap/bin/dosbox", "/app/bin/dosbox"};
  return candidates;
}

std::string CommandLineArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  return QuoteArgument(argument);
}

std::vector<std::size_t> ConfArgumentIndices(const std::vector<std::string>& arguments) {
  std::vector<std::size_t> indices;
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "-conf") indices.push_back(++i);
  }
  return indices;
}

bool DosBoxHasReadConf(const std::string& output, const std::string& hostPath) {
  const std::string marker = "CONFIG:Loading ";
  for (std::size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at + 1)) {
    std::size_t end = output.find('\n', at);
    if (end == std::string::npos) return false;  // the line is not complete yet
    std::string line = output.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= hostPath.size() && line.compare(line.size() - hostPath.size(), hostPath.size(), hostPath) == 0)
      return true;
  }
  return false;
}
