// The shipped default profile (resources/defrc.xml): the template game entry
// every new game is copied from, so a missing setting or a changed help text
// shows up in every game the user adds.
#include "HostPath.h"
#include "xml/Xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::string kProfile = HostPath(VANTLE_DEFAULT_PROFILE);

const char* const kTrueFalse = "true|||false";
const char* const kFalseTrue = "false|||true";
const char* const kResolutions = "Original|||1024x768|||800x600|||640x480";
const char* const kSerial = "dummy|||modem|||disabled|||nullmodem|||directserial";

struct Setting {
  const char* element;
  const char* name;
  const char* value;
  const char* choices;  // null: free text, no "__" attribute
};

const Setting kSettings[] = {
    {"Main", "Name", "New Game", nullptr},
    {"Main", "Description", "Description", nullptr},
    {"Main", "Category", "Category",
     "No Category|||Action|||Arcade|||Adventure|||Puzzle|||RPG|||Platform|||Shootemup|||Strategy|||Simulation|||Sport"},
    {"Main", "Install", "", nullptr},
    {"Main", "Run", "", nullptr},
    {"Screen", "fullscreen", "false", kTrueFalse},
    {"Screen", "fulldouble", "true", kTrueFalse},
    {"Screen", "fullresolution", "Original", kResolutions},
    {"Screen", "windowresolution", "1024x768", kResolutions},
    {"Screen", "output", "surface", "surface|||overlay|||opengl|||openglnb|||ddraw"},
    {"Screen", "autolock", "true", kTrueFalse},
    {"Screen", "sensitivity", "100", nullptr},
    {"Screen", "waitonerror", "true", kTrueFalse},
    {"Screen", "priority", "higher,normal", nullptr},
    {"Screen", "mapperfile", "mapper.txt", nullptr},
    {"Screen", "usescancodes", "true", kTrueFalse},
    {"DosBox", "machine", "vga", "vga|||hercules|||cga|||tandy|||pcjr"},
    {"DosBox", "memsize", "63", nullptr},
    {"Render", "frameskip", "0", nullptr},
    {"Render", "aspect", "false", kFalseTrue},
    {"Render", "scale", "normal2x",
     "none|||normal2x|||normal3x|||advmame2x|||advmame3x|||hq2x|||hq3x|||2xsai|||super2xsai|||supereagle|||"
     "advinterp2x|||advinterp3x|||tv2x|||tv3x|||rgb2x|||rgb3x|||scan2x|||scan3x"},
    {"Cpu", "core", "auto", "auto|||normal|||simple|||dynamic"},
    {"Cpu", "cycles", "16000", nullptr},
    {"Cpu", "cycleup", "500", nullptr},
    {"Cpu", "cycledown", "20", nullptr},
    {"Mixer", "nosound", "false", kFalseTrue},
    {"Mixer", "rate", "22050", nullptr},
    {"Mixer", "blocksize", "2048", nullptr},
    {"Mixer", "prebuffer", "10", nullptr},
    {"Midi", "mpu401", "uart", "none|||uart|||intelligent"},
    {"Midi", "device", "win32", "default|||alsa|||oss|||win32|||coreaudio|||none"},
    {"Midi", "midiconfig", "0", nullptr},
    {"SoundBlaster", "sbtype", "sb16", "none|||sb1|||sb2|||sbpro1|||sbpro2|||sb16"},
    {"SoundBlaster", "sbbase", "220", nullptr},
    {"SoundBlaster", "irq", "7", nullptr},
    {"SoundBlaster", "dma", "1", nullptr},
    {"SoundBlaster", "hdma", "5", nullptr},
    {"SoundBlaster", "mixer", "true", kTrueFalse},
    {"SoundBlaster", "oplmode", "auto", "auto|||cms|||opl2|||dualopl2|||opl3"},
    {"SoundBlaster", "oplrate", "22050", nullptr},
    {"Gravis", "gus", "false", kTrueFalse},
    {"Gravis", "gusrate", "22050", nullptr},
    {"Gravis", "gusbase", "240", nullptr},
    {"Gravis", "irq1", "5", nullptr},
    {"Gravis", "irq2", "5", nullptr},
    {"Gravis", "dma1", "3", nullptr},
    {"Gravis", "dma2", "3", nullptr},
    {"Gravis", "ultradir", "", nullptr},
    {"Speaker", "pcspeaker", "true", kTrueFalse},
    {"Speaker", "pcrate", "22050", nullptr},
    {"Speaker", "tandy", "auto", "auto|||on|||off"},
    {"Speaker", "tandyrate", "22050", nullptr},
    {"Speaker", "disney", "true", kTrueFalse},
    {"Joystick", "joysticktype", "auto", "none|||auto|||2axis|||4axis|||4axis_2|||fcs"},
    {"Joystick", "timed", "true", kTrueFalse},
    {"Joystick", "autofire", "false", kFalseTrue},
    {"Joystick", "swap34", "false", kFalseTrue},
    {"Joystick", "buttonwrap", "true", kTrueFalse},
    {"Serial", "serial1", "dummy", kSerial},
    {"Serial", "serial2", "dummy", kSerial},
    {"Serial", "serial3", "dummy", kSerial},
    {"Serial", "serial4", "dummy", kSerial},
    {"Dos", "xms", "true", kTrueFalse},
    {"Dos", "ems", "true", kTrueFalse},
    {"Dos", "umb", "true", kTrueFalse},
    {"Dos", "keyboardlayout", "none", nullptr},
    {"IPX", "ipx", "false", kTrueFalse},
};

struct Text {
  const char* element;
  const char* text;
};

const Text kHelpTexts[] = {
    {"Main",
     "Specify here:\r\nGame name and description\r\nPath to installer and executable. Note that these paths should be "
     "relative to the drive mounting and not your system! \r\nThe mount name of your hard disk is C.\r\n      "},
    {"Screen",
     "Specify here display options. For most games, the defaults are OK.\r\nIf your game runs in a very small window, "
     "try setting surface to ddraw and set a window resolution - this will scale your game to the desired "
     "resolution.\r\nIf you want to run in a full screen, set fullscreen to true and a resolution for the full "
     "screen.\r\n      "},
    {"DosBox",
     "Specify here the emulation (vga is the default) and the memory available to your game (max = 63MB).\r\n      "},
    {"Render", "Specify here rendering and scaling options. \r\n      "},
    {"Cpu", "Specify here the cpu power cycles you give to the game. Auto setting should work for most games.\r\n      "},
    {"Mixer", "Specify here mixer settings. Usually you will not wat to change these.\r\n      "},
    {"Midi",
     "Specify here MPU401 options if the game can use General MIDI. As midiconfig, pass the index of the MIDI out "
     "you want to use.\r\n      "},
    {"SoundBlaster",
     "Specify here SoundBlaster simulation options. For most games, the defaults are OK. If you change the values, "
     "you must also change them in your game configuration.\r\n      "},
    {"Gravis", "Specify here Gravis UltraSound options - Only needed if GUS is required.\r\n      "},
    {"Speaker", "Specify here PC Speaker options. For most games, the defaults are OK.\r\n      "},
    {"Joystick",
     "Specify here joystick options. If your game uses a joystick, you may force a simulation by changing the "
     "joystick type.\r\n      "},
    {"Serial", "Configure here up to 4 virtual serial ports in case your game requires some.\r\n      "},
    {"Dos",
     "Specify here if your game requires XMS,EMS,or UMB. You should disable these only if the game does not "
     "run.\r\n      "},
    {"IPX", "Specify here IPX networking options. \r\n      "},
    {"Mount",
     "Specify here mount options. You would like to mount your hard disk's directory as the drive C: if the game "
     "requires installation. I suggest that you do not mount C:\\ as C, but a subdirectory instead.\r\nYou may also "
     "need to mount a CD-ROM as D:. Note that ISO mounting is supported.        \r\n      "},
    {"Pre_Commands", "REM Sample Commands here to be executed BEFORE your game\r\n\t\t\t\t"},
    {"Post_Commands",
     "@echo Sample Commands here to be executed AFTER your game\r\n@echo Game completed! Close this Window to "
     "Exit.\r\n@REM exit\r\n\t\t\t\t"},
    {"Command_Line_Parameters", "// Command line parameters, each on a line, //lines = ignored\r\n-noconsole\r\n"},
};

const char* const kEntryChildren[] = {"Main",  "Screen", "DosBox",       "Render",        "Cpu",
                                      "Sound", "Joystick", "Serial",     "Dos",           "IPX",
                                      "Mount", "Pre_Commands", "Post_Commands", "Command_Line_Parameters", "Commands"};
const char* const kSoundChildren[] = {"Mixer", "Midi", "SoundBlaster", "Gravis", "Speaker"};

class DefaultProfile : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(doc.GetParseStatus(), 0);
    ASSERT_NE(doc.GetRoot(), nullptr);
    XmlElement* games = doc.GetRoot()->FindChild("Games");
    ASSERT_NE(games, nullptr);
    ASSERT_GE(games->GetChildCount(), 1u);
    entry = games->GetChildren()[0];
  }

  // Sections live directly in the entry, the sound ones under Sound.
  XmlElement* Section(const std::string& name) const {
    for (const char* sound : kSoundChildren)
      if (name == sound) return entry->FindByPath(("Sound\\" + name).c_str());
    return entry->FindChild(name.c_str());
  }

  XmlDocument doc{kProfile.c_str()};
  XmlElement* entry = nullptr;
};

TEST_F(DefaultProfile, HoldsOneTemplateEntryWithTheSectionsInOrder) {
  EXPECT_EQ(doc.GetRoot()->GetName(), "root");
  ASSERT_EQ(doc.GetRoot()->GetChildCount(), 1u);
  EXPECT_EQ(doc.GetRoot()->GetChildren()[0]->GetChildCount(), 1u);
  EXPECT_EQ(entry->GetName(), "g");

  ASSERT_EQ(entry->GetChildCount(), std::size(kEntryChildren));
  for (unsigned i = 0; i < entry->GetChildCount(); ++i)
    EXPECT_EQ(entry->GetChildren()[i]->GetName(), kEntryChildren[i]) << "child " << i;
  XmlElement* sound = entry->FindChild("Sound");
  ASSERT_EQ(sound->GetChildCount(), std::size(kSoundChildren));
  for (unsigned i = 0; i < sound->GetChildCount(); ++i)
    EXPECT_EQ(sound->GetChildren()[i]->GetName(), kSoundChildren[i]) << "sound child " << i;

  // The wizard adds the mount entries; the template has none. Commands is empty.
  EXPECT_EQ(entry->FindChild("Mount")->GetChildCount(), 0u);
  XmlElement* commands = entry->FindChild("Commands");
  EXPECT_EQ(commands->GetChildCount() + commands->GetAttributeCount() + commands->GetCDataCount(), 0u);
  EXPECT_EQ(sound->GetAttributeCount() + sound->GetCDataCount(), 0u);
}

// Every setting with its default, its choice list directly after it, and
// nothing else: the attribute order is the line order of the written
// configuration file.
TEST_F(DefaultProfile, EverySettingHasItsDefaultAndChoicesInStoredOrder) {
  std::string element;
  std::vector<std::pair<std::string, std::string>> expected;
  auto compare = [&]() {
    XmlElement* section = Section(element);
    ASSERT_NE(section, nullptr) << element;
    ASSERT_EQ(section->GetAttributeCount(), expected.size()) << element;
    for (unsigned i = 0; i < expected.size(); ++i) {
      XmlAttribute* attr = section->GetAttributes()[i];
      EXPECT_EQ(attr->GetName(), expected[i].first) << element << " attribute " << i;
      EXPECT_EQ(attr->GetValue(), expected[i].second) << element << "/" << expected[i].first;
    }
  };
  for (const Setting& s : kSettings) {
    if (element != s.element) {
      if (!element.empty()) compare();
      element = s.element;
      expected.clear();
    }
    expected.emplace_back(s.name, s.value);
    if (s.choices) expected.emplace_back(std::string("__") + s.name, s.choices);
  }
  compare();
  for (const char* empty : {"Mount", "Pre_Commands", "Post_Commands", "Command_Line_Parameters"})
    EXPECT_EQ(Section(empty)->GetAttributeCount(), 0u) << empty;
}

TEST_F(DefaultProfile, HelpAndCommandTextsAreSingleCDataSectionsByteForByte) {
  for (const Text& t : kHelpTexts) {
    XmlElement* section = Section(t.element);
    ASSERT_NE(section, nullptr) << t.element;
    ASSERT_EQ(section->GetCDataCount(), 1u) << t.element;
    EXPECT_EQ(std::string(section->GetCDatas()[0]->GetText()), t.text) << t.element;
  }
}

// The file is laid out exactly as the writer lays it out, so editing and
// saving the profile without a change leaves the file as shipped.
TEST(DefaultProfileFile, IsByteStableThroughLoadAndSave) {
  const std::string shipped = ReadBytes(kProfile);
  ASSERT_FALSE(shipped.empty());
  for (std::size_t i = 0; i < shipped.size(); ++i) {
    if (shipped[i] == '\n') {
      ASSERT_TRUE(i > 0 && shipped[i - 1] == '\r') << "bare LF at byte " << i;
    }
    if (shipped[i] == '\r') {
      ASSERT_TRUE(i + 1 < shipped.size() && shipped[i + 1] == '\n') << "bare CR at byte " << i;
    }
  }

  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path copy = fs::temp_directory_path() / ("vantle-defrc-" + std::to_string(stamp) + ".xml");
  fs::copy_file(kProfile, copy);
  {
    XmlDocument doc(copy.string().c_str());
    ASSERT_EQ(doc.GetParseStatus(), 0);
    EXPECT_TRUE(doc.IsIntact());
    ASSERT_TRUE(doc.Save());
  }
  std::string saved = ReadBytes(copy);
  fs::remove(copy);
  EXPECT_EQ(saved.size(), shipped.size());
  EXPECT_TRUE(saved == shipped) << "first difference at byte "
                                << (std::mismatch(saved.begin(), saved.end(), shipped.begin(), shipped.end()).first -
                                    saved.begin());
}

}  // namespace
