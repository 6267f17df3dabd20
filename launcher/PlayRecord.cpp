#include "launcher/PlayRecord.h"

#include "launcher/GameSchema.h"

void RecordPlay(XmlElement* entry, unsigned long long seconds, const std::string& when) {
  XmlElement* main = Section(entry, "Main");
  unsigned long long total = 0;
  const std::string stored = AttributeText(main, "PlayTime");
  for (char c : stored) {
    if (c < '0' || c > '9' || total > (~0ULL - 9) / 10) {
      total = 0;
      break;
    }
    total = total * 10 + static_cast<unsigned>(c - '0');
  }
  total = seconds > ~0ULL - total ? ~0ULL : total + seconds;
  SetAttributeText(main, "PlayTime", std::to_string(total).c_str());
  SetAttributeText(main, "LastPlayed", when.c_str());
}

bool HoldsGame(XmlElement* games, const void* entry) {
  if (!games || !entry) return false;
  for (unsigned i = 0; i < games->GetChildCount(); ++i)
    if (games->GetChildren()[i] == entry) return true;
  return false;
}
