#include "launcher/DosBoxReport.h"

#include <cstring>

#include "launcher/GameSchema.h"

namespace {

// 0.74 and DOSBox-X: "\"vgax\" is not a valid value for variable: machine."
// and on the next line what was used instead, in their two wordings.
const char kInvalid[] = "\" is not a valid value for variable: ";
const char* const kResets[] = {"It might now be reset it to default value: ",
                               "It might now be reset to the default value: "};

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

// A line without what the engine puts before its messages: Staging's time
// stamp ("2025-07-20 22:53:54.856 | "), DOSBox-X's "LOG: ".
std::string MessageOf(std::string line) {
  const std::size_t bar = line.find(" | ");
  if (bar != std::string::npos && bar < 32 && line.compare(0, 2, "20") == 0) line.erase(0, bar + 3);
  if (line.compare(0, 5, "LOG: ") == 0) line.erase(0, 5);
  return Trimmed(line);
}

// The text between the first two single quotes at or after from; from is
// moved past the closing one. Empty when there is none.
std::string Quoted(const std::string& line, std::size_t& from) {
  const std::size_t open = line.find('\'', from);
  const std::size_t close = open == std::string::npos ? open : line.find('\'', open + 1);
  if (close == std::string::npos) return std::string();
  from = close + 1;
  return line.substr(open + 1, close - open - 1);
}

bool StartsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

// One setting an engine complained of.
struct Complaint {
  enum Kind { Refused, Unknown, Deprecated } kind = Refused;
  std::string name, value, used;  // used: what the engine took instead, where it says
};

// Staging's wording (as its log shows it):
//   CONFIG: Invalid 'output' setting: 'overlay', using 'opengl'
//   CONFIG: '12mb' is an invalid value for 'voodoo_memsize', using the default: '12'
//   CONFIG: Invalid option 'fulldouble'   (older: CONFIG: Unknown option fulldouble)
//   CONFIG: Deprecated option 'sensitivity'
bool StagingComplaint(const std::string& line, Complaint& complaint) {
  if (!StartsWith(line, "CONFIG: ")) return false;
  const std::string rest = line.substr(8);
  std::size_t at = 0;
  if (StartsWith(rest, "Invalid '") && rest.find("' setting: '") != std::string::npos) {
    complaint.name = Quoted(rest, at);
    complaint.value = Quoted(rest, at);
    complaint.used = Quoted(rest, at);
  } else if (rest.find("' is an invalid value for '") != std::string::npos) {
    complaint.value = Quoted(rest, at);
    complaint.name = Quoted(rest, at);
    complaint.used = Quoted(rest, at);
  } else if (StartsWith(rest, "Invalid option '") || StartsWith(rest, "Deprecated option '")) {
    complaint.kind = rest[0] == 'I' ? Complaint::Unknown : Complaint::Deprecated;
    complaint.name = Quoted(rest, at);
  } else if (StartsWith(rest, "Unknown option ")) {
    complaint.kind = Complaint::Unknown;
    complaint.name = rest.substr(15);
  }
  return !complaint.name.empty();
}

// The section element (under entry or its Sound element) with an attribute
// called name, and that attribute's stored name; null when none has it.
XmlElement* SettingHolder(XmlElement* element, const std::string& name, std::string& stored) {
  for (unsigned i = 0; element && i < element->GetChildCount(); ++i) {
    XmlElement* child = element->GetChildren()[i];
    for (unsigned a = 0; a < child->GetAttributeCount(); ++a) {
      const std::string attribute = child->GetAttributes()[a]->GetName();
      if (attribute.compare(0, 2, "__") != 0 && EqualIgnoringCase(attribute.c_str(), name.c_str()) &&
          child->GetName() != "Main" && child->GetName() != "Mount") {
        stored = attribute;
        return child;
      }
    }
    if (child->GetName() == "Sound")
      if (XmlElement* found = SettingHolder(child, name, stored)) return found;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> DosBoxReports(const std::string& output, XmlElement* entry) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < output.size();) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    lines.push_back(MessageOf(output.substr(start, end - start)));
    start = end + 1;
  }
  std::vector<std::string> reports;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    Complaint complaint;
    const std::size_t invalid = line.find(kInvalid);
    if (!line.empty() && line[0] == '"' && invalid != std::string::npos) {
      complaint.value = line.substr(1, invalid - 1);
      complaint.name = line.substr(invalid + sizeof(kInvalid) - 1);
      // The line after says what DOSBox used instead.
      const std::string following = i + 1 < lines.size() ? lines[i + 1] : std::string();
      for (const char* reset : kResets)
        if (StartsWith(following, reset)) complaint.used = following.substr(std::strlen(reset));
    } else if (!StagingComplaint(line, complaint)) {
      continue;
    }
    std::string stored;
    XmlElement* holder = SettingHolder(entry, complaint.name, stored);
    const std::string setting = holder ? "The setting " + stored + " under " + holder->GetName() : std::string();
    std::string report;
    switch (complaint.kind) {
      case Complaint::Refused:
        report = holder ? setting + " is \"" + complaint.value + "\", which this DOSBox does not accept"
                        : "DOSBox does not accept \"" + complaint.value + "\" for " + complaint.name;
        if (!complaint.used.empty()) report += "; it used " + complaint.used + " instead";
        break;
      case Complaint::Unknown:
        report = (holder ? setting : "The setting " + complaint.name) + " is one this DOSBox does not know";
        break;
      case Complaint::Deprecated:
        report = (holder ? setting : "The setting " + complaint.name) +
                 " is one this DOSBox no longer takes under that name";
        break;
    }
    reports.push_back(report + ".");
  }
  return reports;
}
