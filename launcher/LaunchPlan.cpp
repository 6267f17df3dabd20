#include "launcher/LaunchPlan.h"

#include <cstdio>
#include <cstring>

#include "launcher/GameSchema.h"

std::vector<std::string> SplitText(const char* text, const char* separator) {
  std::vector<std::string> pieces;
  if (!text) return pieces;
  const std::size_t separatorLength = separator ? std::strlen(separator) : 0;
  if (separatorLength == 0) {
    if (*text) pieces.emplace_back(text);
    return pieces;
  }
  const char* start = text;
  for (;;) {
    const char* found = std::strstr(start, separator);
    const char* end = found ? found : start + std::strlen(start);
    if (end != start) pieces.emplace_back(start, end);
    if (!found) break;
    start = found + separatorLength;
  }
  return pieces;
}

std::string LaunchParameters(XmlElement* entry) {
  std::string parameters;
  XmlElement* element = entry ? entry->FindChild("Command_Line_Parameters") : nullptr;
  for (const std::string& piece : SplitText(FirstCDataText(element), "\r\n")) {
    if (piece.size() < 2 || piece.compare(0, 2, "//") == 0) continue;
    parameters += piece + " ";
  }
  return parameters;
}

bool WriteLaunchConf(XmlElement* entry, const std::string& target, LaunchMode mode,
                     ShortPathFunction shortPath) {
  if (WriteDosBoxConf(entry, target, mode, shortPath)) return true;
  return mode == LaunchMode::Run && WriteDosBoxConf(entry, target, LaunchMode::Install, shortPath);
}

PreparedLaunch PrepareLaunch(XmlElement* entry, LaunchMode mode, const HostPathServices& host,
                             const EngineList* engines) {
  PreparedLaunch launch;
  launch.mode = mode;
  launch.complete = MakeDosBoxConf(entry, mode, launch.conf, host.shortPath, host.confText);
  if (!launch.complete && mode == LaunchMode::Run) {
    launch.mode = LaunchMode::Install;
    launch.complete = MakeDosBoxConf(entry, launch.mode, launch.conf, host.shortPath, host.confText);
  }
  if (!launch.complete) return launch;
  if (engines) launch.engine = ChooseEngine(entry, *engines, host.kind);
  launch.problem = launch.engine.problem.kind != LaunchProblem::None ? launch.engine.problem
                                                                      : CheckLaunch(entry, launch.mode, host);
  if (!launch.engine.builtIn) launch.conf = ConfForEngine(launch.conf, launch.engine.engine.kind);
  launch.folder = GameFolder(entry, launch.mode);
  return launch;
}

std::string TempFileName(const char* prefix, unsigned number) {
  char digits[8];
  std::snprintf(digits, sizeof(digits), "%X", number & 0xFFFFu);
  return std::string(prefix ? prefix : "") + digits + ".tmp";
}

namespace {

std::string QuotedDosBox(const std::string& programFolder) {
  return "\"" + programFolder + "\\DOSBOX.EXE\"";
}

}  // namespace

std::string GameLaunchCommandLine(const std::string& programFolder, const std::string& parameters,
                                  const std::string& confPath) {
  return QuotedDosBox(programFolder) + " " + parameters + " -conf \"" + confPath + "\"";
}

std::string EngineLaunchCommandLine(const std::string& program, const std::string& switches,
                                    const std::string& parameters, const std::string& confPath) {
  return "\"" + program + "\" " + switches + parameters + " -conf \"" + confPath + "\"";
}

std::string ConfCommandLine(const std::string& programFolder, const std::string& confPath) {
  return QuotedDosBox(programFolder) + " -conf \"" + confPath + "\"";
}
