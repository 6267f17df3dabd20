#include "bridge/HostLaunch.h"

#include <cstddef>

#include "launcher/GameSchema.h"
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

namespace {

bool IsSwitch(const std::string& argument, const char* name) { return EqualIgnoringCase(argument.c_str(), name); }

}  // namespace

std::vector<std::size_t> ConfArgumentIndices(const std::vector<std::string>& arguments) {
  std::vector<std::size_t> indices;
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (IsSwitch(arguments[i], "-conf")) indices.push_back(++i);
  }
  return indices;
}

std::vector<std::string> DropHostSwitches(std::vector<std::string>& arguments) {
  struct HostSwitch {
    const char* name;
    bool takesProgram;
  };
  static const HostSwitch kSwitches[] = {{"-editconf", true},    {"-opencaptures", true}, {"-eraseconf", false},
                                         {"-resetconf", false},  {"-erasemapper", false}, {"-resetmapper", false}};
  std::vector<std::string> notes;
  for (std::size_t i = 0; i < arguments.size();) {
    const HostSwitch* found = nullptr;
    for (const HostSwitch& host : kSwitches)
      if (IsSwitch(arguments[i], host.name)) found = &host;
    if (!found) {
      ++i;
      continue;
    }
    const std::size_t count = found->takesProgram && i + 1 < arguments.size() ? 2 : 1;
    std::string dropped = arguments[i] + (count == 2 ? " " + arguments[i + 1] : std::string());
    notes.push_back("left out " + dropped + ": a game launch does not start or delete anything on the host");
    arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                    arguments.begin() + static_cast<std::ptrdiff_t>(i + count));
  }
  return notes;
}

bool DosBoxHasReadConf(const std::string& output, const std::string& hostPath) {
  // 0.74: "CONFIG:Loading primary settings from config file <path>";
  // DOSBox-X: "LOG: CONFIG: Loaded config file: <path>"; Staging quotes
  // the path.
  for (std::size_t at = output.find("CONFIG:"); at != std::string::npos; at = output.find("CONFIG:", at + 1)) {
    const std::size_t end = output.find('\n', at);
    if (end == std::string::npos) return false;  // the line is not complete yet
    std::string line = output.substr(at, end - at);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\'' || line.back() == '"')) line.pop_back();
    if (line.compare(0, 14, "CONFIG:Loading") != 0 && line.find("CONFIG: Load") != 0) continue;
    if (line.size() >= hostPath.size() && line.compare(line.size() - hostPath.size(), hostPath.size(), hostPath) == 0)
      return true;
  }
  return false;
}

std::vector<std::string> HostEngineCandidates(EngineKind kind) {
  switch (kind) {
    case EngineKind::DosBoxX:
      return {kPrivateDosBoxX, "/usr/bin/dosbox-x", "/usr/local/bin/dosbox-x", "/usr/games/dosbox-x",
              "/snap/bin/dosbox-x", "/app/bin/dosbox-x"};
    case EngineKind::Staging:
      return {"/usr/bin/dosbox-staging", "/usr/local/bin/dosbox-staging", "/snap/bin/dosbox-staging",
              "/app/bin/dosbox-staging"};
    case EngineKind::Classic:
      break;
  }
  return HostDosBoxCandidates();
}

const char* HostEngineVariable(EngineKind kind) {
  switch (kind) {
    case EngineKind::DosBoxX:
      return "VANTLE_HOST_DOSBOX_X";
    case EngineKind::Staging:
      return "VANTLE_HOST_DOSBOX_STAGING";
    case EngineKind::Classic:
      break;
  }
  return "VANTLE_HOST_DOSBOX";
}

EngineKind BridgeKind(const std::string& ownPath) {
  const std::size_t slash = ownPath.find_last_of("\\/");
  return EngineKindFromDescription(slash == std::string::npos ? ownPath : ownPath.substr(slash + 1));
}

const char* HostRunScript() {
  // The program runs in the background so that the shell knows its pid
  // before it ends; "wait" then gives its exit status.
  return "log=$1; run=$2; shift 2\n"
         "\"$@\" </dev/null >>\"$log\" 2>&1 &\n"
         "echo \"started $$ $!\" >>\"$run\"\n"
         "wait $!\n"
         "echo \"ended $?\" >>\"$run\"\n";
}

namespace {

// A whole number of at most nine digits (pids and exit statuses), or false.
bool SmallNumber(const std::string& text, long& number) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  number = std::stol(text);
  return true;
}

}  // namespace

HostRun ReadHostRun(const std::string& runFile) {
  HostRun run;
  std::size_t start = 0;
  for (std::size_t end; (end = runFile.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = runFile.substr(start, end - start);
    const std::size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    long status = 0;
    if (word == "started") {
      const std::size_t second = rest.find(' ');
      run.started = second != std::string::npos && SmallNumber(rest.substr(0, second), run.shellPid) &&
                    SmallNumber(rest.substr(second + 1), run.programPid) && run.shellPid > 0 && run.programPid > 0;
      if (!run.started) run.shellPid = run.programPid = 0;
    } else if (word == "ended" && SmallNumber(rest, status)) {
      run.ended = true;
      run.exitStatus = static_cast<int>(status);
    }
  }
  return run;
}

std::string BridgeVersionText(EngineKind kind) {
  const std::string host = kind == EngineKind::Classic ? "DOSBox" : EngineKindName(kind);
  const std::string name = kind == EngineKind::Staging ? "dosbox-staging," : host;
  return name + " version of the host, started through Vantle's bridge to the host's " + host;
}
