// The written configuration in the real emulator: Debian's DOSBox, without a
// screen or sound card, mounts a folder, changes to the game's directory,
// runs a small DOS program and leaves through the post-commands.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "bridge/ConfTranslate.h"
#include "launcher/ConfWriter.h"
#include "launcher/GameSchema.h"
#include "launcher/EngineKinds.h"
#include "launcher/LaunchPlan.h"

namespace fs = std::filesystem;

namespace {

struct DosBoxResult {
  int exitCode = -1;
  std::string console;
};

// Runs DOSBox on conf with a home of its own, so that nothing of the user's
// DOSBox set-up is read or written; gives up after seconds (exit code 124).
DosBoxResult RunDosBox(const std::string& conf, const std::string& home, int seconds = 120,
                       const std::string& program = VANTLE_DOSBOX) {
  const std::string command = "env HOME='" + home + "' SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout " +
                              std::to_string(seconds) + " '" + program + "' -conf '" + conf + "' 2>&1";
  DosBoxResult result;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) result.console.append(buffer, got);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The lines in which DOSBox complains about its configuration.
std::string Complaints(const std::string& console) {
  std::istringstream lines(console);
  std::string complaints;
  for (std::string line; std::getline(lines, line);) {
    std::string lower = line;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word : {"invalid", "unknown", "valid value", "reset it to", "not recommended"}) {
      if (lower.find(word) != std::string::npos) {
        complaints += line + "\n";
        break;
      }
    }
  }
  return complaints;
}

using Settings = std::map<std::string, std::set<std::string>>;

// Section and setting names of a configuration file.
Settings ReadSettings(const std::string& text) {
  Settings settings;
  std::istringstream lines(text);
  std::string section;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line;
      settings[section];
    } else if (section != "[autoexec]" && line.find('=') != std::string::npos) {
      std::string name = line.substr(0, line.find('='));  // DOSBox-X pads it with blanks
      name.erase(name.find_last_not_of(' ') + 1);
      settings[section].insert(name);
    }
  }
  return settings;
}

// "[section] name" for every setting of written that DOSBox does not know.
std::string UnknownSettings(const Settings& written, const Settings& known) {
  std::string unknown;
  for (const auto& [section, names] : written) {
    const auto found = known.find(section);
    for (const std::string& name : names) {
      if (found == known.end() || !found->second.count(name)) unknown += section + " " + name + "\n";
    }
  }
  return unknown;
}

class DosBoxRun : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_ = fs::path(dir_.Path()) / "drive c";  // a blank, as in many real folders
    fs::create_directories(drive_ / "GAMES" / "KEEN");
    fs::create_directories(drive_ / "INSTALL");
    fs::create_directories(fs::path(dir_.Path()) / "home");
    fs::copy_file(VANTLE_PLAY_COM, drive_ / "GAMES" / "KEEN" / "PLAY.COM");
    fs::copy_file(VANTLE_SETUP_COM, drive_ / "INSTALL" / "SETUP.COM");

    profile_ = xmltest::Parse(xmltest::ReadFile(VANTLE_DEFAULT_PROFILE));
    entry_ = TemplateEntry(*profile_);
    ASSERT_NE(nullptr, entry_);
    XmlElement* mount = Section(entry_, "Mount")->AddChildFromText("<m>");
    SetAttributeText(mount, "type", "hdd");
    SetAttributeText(mount, "iso", "no");
    SetAttributeText(mount, "local", drive_.string().c_str());
    SetAttributeText(mount, "remote", "C");
    // The template's own commands stay; the pre-commands also prove that they
    // run, and the post-commands end the emulator.
    AppendCommands("Pre_Commands", "\r\necho before>C:\\BEFORE.TXT");
    AppendCommands("Post_Commands", "\r\nexit");
  }

  void AppendCommands(const char* section, const char* lines) {
    XmlCData* text = Section(entry_, section)->GetCDatas()[0];
    text->SetText((std::string(text->GetText()) + lines).c_str());
  }

  void SetProgram(const char* run, const char* install) {
    SetAttributeText(Section(entry_, "Main"), "Run", run);
    SetAttributeText(Section(entry_, "Main"), "Install", install);
  }

  // Every section and setting this DOSBox has, as it writes them out itself.
  Settings DosBoxSettings() {
    const std::string conf = dir_.File("ask.conf");
    const std::string answer = dir_.File("dosbox-settings.conf");
    xmltest::WriteFile(conf, "[autoexec]\r\nconfig -writeconf " + answer + "\r\nexit\r\n");
    const DosBoxResult result = RunDosBox(conf, (fs::path(dir_.Path()) / "home").string());
    EXPECT_EQ(0, result.exitCode) << result.console;
    return ReadSettings(fs::exists(answer) ? xmltest::ReadFile(answer) : "");
  }

  DosBoxResult Launch() {
    const std::string conf = dir_.File("woa1A.tmp");
    EXPECT_TRUE(WriteLaunchConf(entry_, conf, LaunchMode::Run));
    written_ = xmltest::ReadFile(conf);
    DosBoxResult result = RunDosBox(conf, (fs::path(dir_.Path()) / "home").string());
    EXPECT_EQ(0, result.exitCode) << "DOSBox did not end through the post-commands (124: it hung)\n"
                                  << result.console;
    return result;
  }

  std::string Left(const fs::path& relative) {
    const fs::path path = drive_ / relative;
    return fs::exists(path) ? xmltest::ReadFile(path.string()) : "<missing>";
  }

  xmltest::TempDir dir_;
  fs::path drive_;
  std::string written_;
  std::unique_ptr<XmlDocument> profile_;
  XmlElement* entry_ = nullptr;
};

}  // namespace

TEST_F(DosBoxRun, TheGameRunsInItsOwnDirectoryBetweenTheCommands) {
  SetProgram("C:\\GAMES\\KEEN\\PLAY.COM", "C:\\INSTALL\\SETUP.COM");
  const DosBoxResult result = Launch();
  EXPECT_EQ("THE GAME RAN\r\n", Left("GAMES/KEEN/PLAYED.TXT")) << result.console;
  EXPECT_EQ("before\r\n", Left("BEFORE.TXT"));
  EXPECT_EQ("<missing>", Left("INSTALL/SETUP.TXT"));

  // What this DOSBox makes of the template's settings, for the record: what
  // it complains of, and the settings it silently ignores as unknown. Every
  // section header must be one it has.
  const std::string complaints = Complaints(result.console);
  const Settings known = DosBoxSettings();
  ASSERT_GE(known.size(), 13u) << "DOSBox did not list its settings";
  const Settings written = ReadSettings(written_);
  for (const auto& section : written) EXPECT_EQ(1u, known.count(section.first)) << section.first;
  const std::string unknown = UnknownSettings(written, known);
  std::printf("DOSBox on the template's settings says:\n%sand does not know:\n%s",
              complaints.empty() ? "(nothing)\n" : complaints.c_str(), unknown.empty() ? "(none)\n" : unknown.c_str());
  RecordProperty("dosbox_complaints", complaints.empty() ? "none" : complaints);
  RecordProperty("dosbox_unknown_settings", unknown.empty() ? "none" : unknown);
}

TEST_F(DosBoxRun, AGameWithoutAProgramRunsItsInstaller) {
  SetProgram("", "C:\\INSTALL\\SETUP.COM");
  const DosBoxResult result = Launch();
  EXPECT_EQ("THE INSTALLER RAN\r\n", Left("INSTALL/SETUP.TXT")) << result.console;
  EXPECT_EQ("<missing>", Left("GAMES/KEEN/PLAYED.TXT"));
}

// What the Wine bridge hands this DOSBox for a game anywhere on the host, as
// the wizard stores it: the host's root mounted as Z:, the program in folders
// whose names are no DOS names, with a "%" that batch lines expand. Wine's path conversion is played by a
// function that maps Z:\ to the root.
TEST_F(DosBoxRun, TheBridgedConfigurationReachesTheGameAndEveryTemplateSettingIsAccepted) {
  const fs::path game = drive_ / "My Games" / "50%off & Zw\xC3\xB6lf's";
  fs::create_directories(game);
  fs::copy_file(VANTLE_PLAY_COM, game / "PLAY.COM");
  XmlElement* root = Section(entry_, "Mount")->AddChildFromText("<m>");
  SetAttributeText(root, "type", "hdd");
  SetAttributeText(root, "iso", "no");
  SetAttributeText(root, "local", "Z:\\");
  SetAttributeText(root, "remote", "Z");
  std::string run = "Z:" + (game / "PLAY.COM").string();
  for (char& c : run) c = c == '/' ? '\\' : c;
  SetProgram(run.c_str(), "");

  const std::string conf = dir_.File("woa2B.tmp");
  ASSERT_TRUE(WriteLaunchConf(entry_, conf, LaunchMode::Run));
  const TranslatedConf bridged = TranslateConf(xmltest::ReadFile(conf), [](const std::string& path) {
    if (path.compare(0, 3, "Z:\\") != 0) return std::string();
    std::string host = "/" + path.substr(3);
    for (char& c : host) c = c == '\\' ? '/' : c;
    return host;
  });
  const std::string bridgedConf = dir_.File("vdb2C.tmp");
  xmltest::WriteFile(bridgedConf, bridged.text);
  const DosBoxResult result = RunDosBox(bridgedConf, (fs::path(dir_.Path()) / "home").string());
  EXPECT_EQ(0, result.exitCode) << result.console;
  EXPECT_EQ("THE GAME RAN\r\n", Left("My Games/50%off & Zw\xC3\xB6lf's/PLAYED.TXT")) << bridged.text << result.console;
  EXPECT_EQ(std::string::npos, result.console.find("Mounting / is")) << result.console;
  EXPECT_EQ("before\r\n", Left("BEFORE.TXT"));

  std::string rejected;
  for (const std::string& line : SplitText(Complaints(result.console).c_str(), "\n"))
    if (line.find("valid value") != std::string::npos) rejected += line + "\n";
  EXPECT_EQ("", rejected) << bridged.text;
  EXPECT_EQ("", UnknownSettings(ReadSettings(bridged.text), DosBoxSettings())) << bridged.text;
}

// The file written for a listed engine of kind 0.74 is one this DOSBox takes
// whole: no value refused. A game that keeps DOSBox open runs and is still
// there when told to end (here, by timeout).
TEST_F(DosBoxRun, TheClassicKindsFileIsAcceptedWholeAndKeepOpenKeepsDosBoxRunning) {
  SetProgram("C:\\GAMES\\KEEN\\PLAY.COM", "");
  std::string written;
  ASSERT_TRUE(MakeDosBoxConf(entry_, LaunchMode::Run, written, nullptr, nullptr));
  const std::string conf = dir_.File("classic.conf");
  xmltest::WriteFile(conf, ConfForEngine(written, EngineKind::Classic));
  const DosBoxResult classic = RunDosBox(conf, (fs::path(dir_.Path()) / "home").string());
  EXPECT_EQ(0, classic.exitCode) << classic.console;
  EXPECT_EQ(std::string::npos, classic.console.find("is not a valid value")) << classic.console;
  EXPECT_NE(std::string::npos, written.find("\r\nmachine=vga\r\n")) << "which the template's name would be";
  EXPECT_EQ("THE GAME RAN\r\n", Left("GAMES/KEEN/PLAYED.TXT"));

  fs::remove(drive_ / "GAMES" / "KEEN" / "PLAYED.TXT");
  SetAttributeText(Section(entry_, "Main"), "KeepOpen", "yes");
  ASSERT_TRUE(WriteLaunchConf(entry_, conf, LaunchMode::Run));
  const DosBoxResult kept = RunDosBox(conf, (fs::path(dir_.Path()) / "home").string(), 8);
  EXPECT_EQ(124, kept.exitCode) << "DOSBox ended by itself\n" << kept.console;
  EXPECT_EQ("THE GAME RAN\r\n", Left("GAMES/KEEN/PLAYED.TXT"));
}

// DOSBox-X of the private root runs the game from the file written for its
// kind, and takes every choice the template offers: each in turn (the last
// where a setting offers fewer) is written before the game's own settings,
// and DOSBox-X checks each line as it reads it. Its own listing knows every
// setting written.
TEST_F(DosBoxRun, DosBoxXRunsItsKindsFileAndTakesEveryChoiceOfTheTemplate) {
  ASSERT_TRUE(fs::exists(VANTLE_DOSBOX_X)) << VANTLE_DOSBOX_X << " is made by scripts/setup.sh";
  SetProgram("C:\\GAMES\\KEEN\\PLAY.COM", "");
  AppendCommands("Pre_Commands", ("\r\nconfig -all -wc " + dir_.File("listing.conf")).c_str());
  std::string game, choices;
  ASSERT_TRUE(MakeDosBoxConf(entry_, LaunchMode::Run, game, nullptr, nullptr));
  for (std::size_t index = 0; index < 20; ++index) {
    std::function<void(XmlElement*)> choose = [&](XmlElement* element) {
      for (unsigned i = 0; i < element->GetAttributeCount(); ++i) {
        const std::string name = element->GetAttributes()[i]->GetName();
        const auto offered = SplitText(element->GetAttributes()[i]->GetValue().c_str(), "|||");
        if (name.rfind("__", 0) == 0 && !offered.empty())
          SetAttributeText(element, name.substr(2).c_str(), offered[std::min(index, offered.size() - 1)].c_str());
      }
      for (unsigned i = 0; i < element->GetChildCount(); ++i) choose(element->GetChildren()[i]);
    };
    choose(entry_);
    std::string written;
    ASSERT_TRUE(MakeDosBoxConf(entry_, LaunchMode::Run, written, nullptr, nullptr));
    written = ConfForEngine(written, EngineKind::DosBoxX);
    choices += written.substr(0, written.find("[autoexec]"));
  }
  const std::string conf = choices + ConfForEngine(game, EngineKind::DosBoxX);
  xmltest::WriteFile(dir_.File("x.conf"), conf);
  const DosBoxResult result = RunDosBox(dir_.File("x.conf"), dir_.File("home"), 120, VANTLE_DOSBOX_X);
  EXPECT_EQ("THE GAME RAN\r\n", Left("GAMES/KEEN/PLAYED.TXT")) << result.console;
  EXPECT_EQ("", Complaints(result.console));
  const std::string listing = fs::exists(dir_.File("listing.conf")) ? xmltest::ReadFile(dir_.File("listing.conf")) : "";
  ASSERT_GE(ReadSettings(listing).size(), 20u) << "DOSBox-X did not list its settings";
  EXPECT_EQ("", UnknownSettings(ReadSettings(conf), ReadSettings(listing)));
}
