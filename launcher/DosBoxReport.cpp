#include "launcher/DosBoxReport.h"

#include "launcher/GameSchema.h"

namespace {

const char kInvalid[] = "\" is not a valid value for variable: ";
const char kReset[] = "It might now be reset it to default value: ";

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
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
  std::vector<std::string> reports;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = Trimmed(output.substr(start, end - start));
    start = end + 1;
    const std::size_t invalid = line.find(kInvalid);
    if (line.empty() || line[0] != '"' || invalid == std::string::npos) continue;
    const std::string value = line.substr(1, invalid - 1);
    const std::string name = line.substr(invalid + sizeof(kInvalid) - 1);
    std::string report;
    std::string stored;
    if (XmlElement* holder = SettingHolder(entry, name, stored))
      report = "The setting " + stored + " under " + holder->GetName() + " is \"" + value +
               "\", which this DOSBox does not accept";
    else
      report = "DOSBox does not accept \"" + value + "\" for " + name;
    // The line after says what DOSBox used instead.
    std::size_t next = output.find('\n', start);
    const std::string following = Trimmed(output.substr(start, next == std::string::npos ? std::string::npos
                                                                                         : next - start));
    if (following.compare(0, sizeof(kReset) - 1, kReset) == 0)
      report += "; it used " + following.substr(sizeof(kReset) - 1) + " instead";
    reports.push_back(report + ".");
  }
  return reports;
}
