// A game from another front end as an entry: where each piece lands, what is
// listed as left behind, and how the configuration writer then sees it.
#include <gtest/gtest.h>

#include <string>

#include "HostPath.h"
#include "launcher/ConfWriter.h"
#include "launcher/ForeignFiles.h"
#include "launcher/ForeignGame.h"
#include "launcher/GameSchema.h"

namespace {

XmlDocument& Profile() {
  static XmlDocument profile(HostPath(VANTLE_DEFAULT_PROFILE).c_str());
  return profile;
}

bool Listed(const ForeignGame& game, const std::string& part) {
  for (const std::string& line : game.notCarried)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(ForeignEntry, SettingsLandUnderTheTemplatesNamesOrAreListedAsLeftBehind) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
    const char* element;  // null: left behind
    const char* attribute;
    const char* stored;
  };
  const Case cases[] = {
      {"midi", "mididevice", "default", "Midi", "device", "default"},
      {"MIDI", "Config", "2", "Midi", "midiconfig", "2"},
      {"sblaster", "sbmixer", "false", "SoundBlaster", "mixer", "false"},
      {"sblaster", "type", "sbpro2", "SoundBlaster", "sbtype", "sbpro2"},
      {"sblaster", "base", "240", "SoundBlaster", "sbbase", "240"},
      {"gus", "gusirq", "7", "Gravis", "irq1", "7"},
      {"gus", "rate", "44100", "Gravis", "gusrate", "44100"},
      {"bios", "joysticktype", "2axis", "Joystick", "joysticktype", "2axis"},
      {"cpu", "cycles", "max", "Cpu", "cycles", "max"},
      {"cpu", "cyclesup", "1000", "Cpu", "cycleup", "1000"},
      {"cpu", "type", "386", "Cpu", "cputype", "386"},
      {"dosbox", "memsize", "16", "DosBox", "memsize", "16"},
      {"sdl", "FullScreen", "true", "Screen", "fullscreen", "true"},
      {"midi", "mpu401", "true", "Midi", "mpu401", "intelligent"},  // with intelligent=true below
      {"ne2000", "ne2000", "true", nullptr, nullptr, nullptr},
      {"render", "glshader", "crt", nullptr, nullptr, nullptr},
  };
  ForeignGame game;
  game.name = "Settings";
  for (const Case& c : cases) game.settings.push_back({c.section, c.key, c.value});
  game.settings.push_back({"midi", "intelligent", "true"});
  auto entry = MakeForeignEntry(*TemplateEntry(Profile()), game);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "." + c.key);
    if (!c.element) {
      EXPECT_TRUE(Listed(game, std::string("[") + c.section + "] " + c.key + "=" + c.value));
      continue;
    }
    XmlElement* sound = entry->FindChild("Sound");
    XmlElement* element = sound->FindChild(c.element) ? sound->FindChild(c.element) : entry->FindChild(c.element);
    ASSERT_NE(nullptr, element);
    EXPECT_EQ(c.stored, AttributeText(element, c.attribute));
  }
  EXPECT_EQ(2u, game.notCarried.size());
}

TEST(ForeignEntry, CarriesCatalogueMountsProgramsAndCommandsIntoTheConfiguration) {
  ForeignGame game;
  game.source = "Test";
  game.name = "Keen & Co";
  game.genre = "Jump'n'Run; platform";
  game.developer = "id";
  game.year = "1991";
  game.notes = "two\r\nlines = fine";
  game.favorite = true;
  game.playCount = 3;
  game.playTime = 3600;
  game.program = "/games/hd/KEEN/KEEN4.EXE";
  game.parameters = "/nojoy 50%";
  game.installer = "/elsewhere/SETUP.EXE";  // on no mount, and C is taken
  game.mounts = {{ForeignMount::Folder, 'C', "/games/hd/"},
                 {ForeignMount::CDImage, 'D', "/games/cd/keen.iso"},
                 {ForeignMount::Floppy, 'Z', "/games/a"}};
  game.preCommands = "SET BLASTER=A220\r\n";
  auto entry = MakeForeignEntry(*TemplateEntry(Profile()), game);
  XmlElement* main = Section(entry.get(), "Main");
  EXPECT_EQ("Platform", AttributeText(main, "Category"));
  EXPECT_EQ("Keen & Co|id|1991|true|3|3600|two\r\nlines = fine|Test",
            AttributeText(main, "Name") + "|" + AttributeText(main, "Developer") + "|" +
                AttributeText(main, "Year") + "|" + AttributeText(main, "Favorite") + "|" +
                AttributeText(main, "PlayCount") + "|" + AttributeText(main, "PlayTime") + "|" +
                AttributeText(main, "Notes") + "|" + AttributeText(main, "Source"));
  EXPECT_EQ("C:\\KEEN\\KEEN4.EXE", AttributeText(main, "Run"));
  EXPECT_EQ("", AttributeText(main, "Install"));
  EXPECT_TRUE(Listed(game, "installer /elsewhere/SETUP.EXE lies on no mounted drive"));
  EXPECT_TRUE(Listed(game, "as drive Z"));

  std::string conf;
  ASSERT_TRUE(MakeDosBoxConf(entry.get(), LaunchMode::Run, conf, nullptr, nullptr));
  for (const char* line : {"mount C /games/hd/\r\n", "imgmount D /games/cd/keen.iso -t cdrom\r\n",
                           "SET BLASTER=A220\r\n", "KEEN4.EXE /nojoy 50%%\r\n"})
    EXPECT_NE(std::string::npos, conf.find(line)) << line << " in\n" << conf;
  EXPECT_EQ(std::string::npos, conf.find("Developer"));

  // A program no mount holds gets its own folder as C; a genre that names no
  // category leaves the template's.
  ForeignGame bare;
  bare.genre = "Shoot 'em up";
  bare.program = "/games/x/RUN.BAT";
  auto plain = MakeForeignEntry(*TemplateEntry(Profile()), bare);
  EXPECT_EQ("C:\\RUN.BAT", AttributeText(Section(plain.get(), "Main"), "Run"));
  EXPECT_EQ("Category", AttributeText(Section(plain.get(), "Main"), "Category"));
  ASSERT_TRUE(MakeDosBoxConf(plain.get(), LaunchMode::Run, conf, nullptr, nullptr));
  EXPECT_NE(std::string::npos, conf.find("mount C /games/x\r\n")) << conf;
  EXPECT_TRUE(bare.notCarried.empty());

  // A game of Vantle's own has no parameters, and writing it adds none.
  auto own = TemplateEntry(Profile())->Clone();
  SetAttributeText(Section(own.get(), "Main"), "Run", "C:\\A.EXE");
  ASSERT_TRUE(MakeDosBoxConf(own.get(), LaunchMode::Run, conf, nullptr, nullptr));
  EXPECT_EQ(nullptr, Section(own.get(), "Main")->FindAttribute("RunParameters"));
}

TEST(ForeignText, IsUtf8WhenValidAndWindows1252Otherwise) {
  const struct {
    const char* bytes;
    const char* utf8;
  } cases[] = {
      {"plain", "plain"},
      {"\xEF\xBB\xBFZw\xC3\xB6lf", "Zw\xC3\xB6lf"},
      {"Zw\xF6lf \x80", "Zw\xC3\xB6lf \xE2\x82\xAC"},
      {"\xC3\xB6 and \xF6", "\xC3\x83\xC2\xB6 and \xC3\xB6"},  // one bad byte makes it all 1252
      {"\xE0\x80\xAF", "\xC3\xA0\xE2\x82\xAC\xC2\xAF"},         // overlong
      {"\xE2\x82", "\xC3\xA2\xE2\x80\x9A"},                    // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(c.utf8, TextAsUtf8(c.bytes)) << c.bytes;
}
