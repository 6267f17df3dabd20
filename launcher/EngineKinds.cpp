#include "launcher/EngineKinds.h"

#include "launcher/GameSchema.h"

namespace {

// What differs from the template's names for one kind. The template was
// written for an older DOSBox; each row names a setting by section and name,
// optionally only one of its values, and what it becomes. A null newName
// keeps the name; an empty one drops the setting.
struct SettingChange {
  EngineKind kind;
  const char* section;
  const char* name;
  const char* value;       // null: any value
  const char* newSection;  // null: the same section
  const char* newName;     // null: the same name; "": dropped
  const char* newValue;    // null: the same value
  const char* why;
};

using K = EngineKind;

// Read from each engine's published reference of its configuration file.
constexpr SettingChange kChanges[] = {
    // DOSBox 0.74: the template's older names.
    {K::Classic, "dosbox", "machine", "vga", nullptr, nullptr, "svga_s3", "0.74 calls VGA svga_s3"},
    {K::Classic, "render", "scale", nullptr, nullptr, "scaler", nullptr, "0.74's name for the scaler"},
    {K::Classic, "midi", "device", nullptr, nullptr, "mididevice", nullptr, "0.74's name for the MIDI device"},
    {K::Classic, "sblaster", "mixer", nullptr, nullptr, "sbmixer", nullptr, "0.74's name for the mixer switch"},
    {K::Classic, "gus", "irq1", nullptr, nullptr, "gusirq", nullptr, "0.74 emulates one GUS IRQ"},
    {K::Classic, "gus", "dma1", nullptr, nullptr, "gusdma", nullptr, "0.74 emulates one GUS DMA channel"},
    {K::Classic, "gus", "irq2", nullptr, nullptr, "", nullptr, "0.74 emulates one GUS IRQ"},
    {K::Classic, "gus", "dma2", nullptr, nullptr, "", nullptr, "0.74 emulates one GUS DMA channel"},

    // DOSBox-X: 0.74's names, and it keeps DirectDraw and double buffering.
    {K::DosBoxX, "dosbox", "machine", "vga", nullptr, nullptr, "svga_s3", "DOSBox-X calls VGA svga_s3"},
    {K::DosBoxX, "render", "scale", nullptr, nullptr, "scaler", nullptr, "DOSBox-X's name for the scaler"},
    {K::DosBoxX, "midi", "device", nullptr, nullptr, "mididevice", nullptr, "DOSBox-X's name for the MIDI device"},
    {K::DosBoxX, "sblaster", "mixer", nullptr, nullptr, "sbmixer", nullptr, "DOSBox-X's name for the mixer switch"},
    {K::DosBoxX, "gus", "irq1", nullptr, nullptr, "gusirq", nullptr, "DOSBox-X emulates one GUS IRQ"},
    {K::DosBoxX, "gus", "dma1", nullptr, nullptr, "gusdma", nullptr, "DOSBox-X emulates one GUS DMA channel"},
    {K::DosBoxX, "gus", "irq2", nullptr, nullptr, "", nullptr, "DOSBox-X emulates one GUS IRQ"},
    {K::DosBoxX, "gus", "dma2", nullptr, nullptr, "", nullptr, "DOSBox-X emulates one GUS DMA channel"},
    {K::DosBoxX, "sblaster", "oplmode", "cms", nullptr, "cms", "on",
     "DOSBox-X turns the Game Blaster's chips on by a setting of their own"},

    // DOSBox Staging: SDL 2 outputs, the mouse in a section of its own,
    // shaders instead of scalers, and fewer rate settings.
    {K::Staging, "sdl", "fulldouble", nullptr, nullptr, "", nullptr, "Staging has no double-buffering switch"},
    {K::Staging, "sdl", "usescancodes", nullptr, nullptr, "", nullptr, "Staging always uses scancodes"},
    {K::Staging, "sdl", "output", "surface", nullptr, nullptr, "texture", "Staging draws surfaces as textures"},
    {K::Staging, "sdl", "output", "overlay", nullptr, nullptr, "texture", "Staging has no overlay output"},
    {K::Staging, "sdl", "output", "ddraw", nullptr, nullptr, "texture", "Staging has no DirectDraw output"},
    {K::Staging, "sdl", "output", "openglnb", nullptr, nullptr, "opengl", "Staging's OpenGL output"},
    {K::Staging, "sdl", "autolock", "true", "mouse", "mouse_capture", "onclick", "Staging's mouse section"},
    {K::Staging, "sdl", "autolock", "false", "mouse", "mouse_capture", "seamless", "Staging's mouse section"},
    {K::Staging, "sdl", "sensitivity", nullptr, "mouse", "mouse_sensitivity", nullptr, "Staging's mouse section"},
    {K::Staging, "dosbox", "machine", "vga", nullptr, nullptr, "svga_s3", "Staging calls VGA svga_s3"},
    {K::Staging, "render", "scale", nullptr, nullptr, "", nullptr, "Staging scales by shaders (glshader)"},
    {K::Staging, "render", "frameskip", nullptr, nullptr, "", nullptr, "Staging skips no frames"},
    {K::Staging, "midi", "device", "win32", nullptr, "mididevice", "port", "Staging's name for the MIDI port"},
    {K::Staging, "midi", "device", nullptr, nullptr, "mididevice", nullptr, "Staging's name for the MIDI device"},
    {K::Staging, "sblaster", "mixer", nullptr, nullptr, "sbmixer", nullptr, "Staging's name for the mixer switch"},
    {K::Staging, "sblaster", "oplrate", nullptr, nullptr, "", nullptr, "Staging's OPL follows the mixer rate"},
    {K::Staging, "gus", "gusrate", nullptr, nullptr, "", nullptr, "Staging's GUS follows the mixer rate"},
    {K::Staging, "gus", "irq1", nullptr, nullptr, "gusirq", nullptr, "Staging emulates one GUS IRQ"},
    {K::Staging, "gus", "dma1", nullptr, nullptr, "gusdma", nullptr, "Staging emulates one GUS DMA channel"},
    {K::Staging, "gus", "irq2", nullptr, nullptr, "", nullptr, "Staging emulates one GUS IRQ"},
    {K::Staging, "gus", "dma2", nullptr, nullptr, "", nullptr, "Staging emulates one GUS DMA channel"},
    {K::Staging, "speaker", "pcrate", nullptr, nullptr, "", nullptr, "Staging's PC speaker follows the mixer rate"},
    {K::Staging, "speaker", "tandyrate", nullptr, nullptr, "", nullptr, "Staging's Tandy sound follows the mixer rate"},
};

bool Contains(const std::string& text, const char* part) {
  std::string lower;
  for (char c : text) lower += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return lower.find(part) != std::string::npos;
}

}  // namespace

const char* EngineKindName(EngineKind kind) {
  switch (kind) {
    case EngineKind::Staging:
      return "Staging";
    case EngineKind::DosBoxX:
      return "DOSBox-X";
    case EngineKind::Classic:
      break;
  }
  return "0.74";
}

bool ParseEngineKind(const std::string& name, EngineKind& kind) {
  for (EngineKind each : {EngineKind::Classic, EngineKind::Staging, EngineKind::DosBoxX}) {
    if (EqualIgnoringCase(name.c_str(), EngineKindName(each))) {
      kind = each;
      return true;
    }
  }
  return false;
}

EngineKind EngineKindFromDescription(const std::string& text) {
  if (Contains(text, "staging")) return EngineKind::Staging;
  if (Contains(text, "dosbox-x") || Contains(text, "dosbox x")) return EngineKind::DosBoxX;
  return EngineKind::Classic;
}

bool EngineKindFromVersionOutput(const std::string& output, EngineKind& kind) {
  if (!Contains(output, "dosbox") || !Contains(output, "version")) return false;
  kind = EngineKindFromDescription(output);
  return true;
}

bool TranslateSetting(EngineKind kind, std::string& section, std::string& name, std::string& value,
                      std::string* why) {
  if (why) why->clear();
  for (const SettingChange& change : kChanges) {
    if (change.kind != kind || !EqualIgnoringCase(section.c_str(), change.section) ||
        !EqualIgnoringCase(name.c_str(), change.name))
      continue;
    if (change.value && !EqualIgnoringCase(value.c_str(), change.value)) continue;
    if (why) *why = change.why;
    if (change.newName && !*change.newName) return false;
    if (change.newSection) section = change.newSection;
    if (change.newName) name = change.newName;
    if (change.newValue) value = change.newValue;
    return true;
  }
  return true;
}

std::string EngineSwitches(EngineKind kind) {
  // Staging reads its primary configuration (in the user's profile) and a
  // "dosbox.conf" of the working folder before the files named with -conf;
  // DOSBox-X and 0.74 read the user's file only when asked (-userconf), so
  // -conf alone keeps theirs out.
  return kind == EngineKind::Staging ? "--noprimaryconf --nolocalconf " : "";
}


std::string ConfForEngine(const std::string& conf, EngineKind kind) {
  std::string out;
  std::string moved;         // "[section]" lines of sections the file lacks, with their settings
  std::string movedSection;  // the section moved's last line went under
  std::string section;
  std::size_t start = 0;
  bool autoexec = false;
  while (start < conf.size()) {
    std::size_t end = conf.find('\n', start);
    end = end == std::string::npos ? conf.size() : end + 1;
    const std::string line = conf.substr(start, end - start);
    start = end;
    std::string body = line;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    const std::string ending = line.substr(body.size());
    if (!autoexec && !body.empty() && body[0] == '[' && body.back() == ']') {
      section = body.substr(1, body.size() - 2);
      if (EqualIgnoringCase(section.c_str(), "autoexec")) {
        autoexec = true;
        out += moved;
      }
      out += line;
      continue;
    }
    const std::size_t equals = body.find('=');
    if (autoexec || equals == std::string::npos || section.empty()) {
      out += line;
      continue;
    }
    std::string target = section, name = body.substr(0, equals), value = body.substr(equals + 1);
    if (!TranslateSetting(kind, target, name, value)) continue;
    const std::string setting = name + "=" + value + ending;
    if (EqualIgnoringCase(target.c_str(), section.c_str())) {
      out += setting;
      continue;
    }
    // Written settings come section by section, so a moved one either joins
    // the section moved to last or opens its own.
    if (!EqualIgnoringCase(target.c_str(), movedSection.c_str())) {
      moved += "[" + target + "]" + (ending.empty() ? "\r\n" : ending);
      movedSection = target;
    }
    moved += setting;
  }
  if (!autoexec) out += moved;
  return out;
}
