// The DOSBox another front end named for a game, as one of the listed
// engines: by name, by the folder's name, by kind, or none with a note.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/ForeignEngine.h"

TEST(ForeignEngine, ChoosesAListedEngineByNameOrKind) {
  EngineList list;
  list.engines = {{"Staging 0.80", "s80.exe", EngineKind::Staging},
                  {"Staging 0.82", "s82.exe", EngineKind::Staging},
                  {"ECE", "ece.exe", EngineKind::Classic}};
  list.defaultName = "Staging 0.82";
  EngineList bare;
  const struct {
    const char* named;
    const EngineList* list;
    const char *chosen, *note;
  } cases[] = {
      {"", &list, "", ""},
      {"ece", &list, "ECE", ""},                                        // eXoDOS's build, by name
      {"C:\\Emulators\\ECE\\dosbox.exe", &list, "ECE", ""},              // a program's folder
      {"D:\\Emulators\\ece\\", &list, "ECE", ""},                        // a folder
      {"DOSBox Staging 0.81", &list, "Staging 0.82", ""},                // the default, of that kind
      {"DOSBox 0.74-3", &list, "", ""},                                  // 0.74 runs as the built-in one
      {"DOSBox-X 2024.03", &list, "", "engine DOSBox-X 2024.03: no DOSBox-X engine is listed, the DOSBox beside the program runs it"},
      {"dosbox-staging", &bare, "", "engine dosbox-staging: no Staging engine is listed, the DOSBox beside the program runs it"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> notes;
    EXPECT_EQ(c.chosen, ForeignEngineName(c.named, *c.list, notes)) << c.named;
    EXPECT_EQ(c.note, notes.empty() ? std::string() : notes[0]) << c.named;
  }
  list.defaultName = "ECE";  // a default of another kind: the first of the kind named
  std::vector<std::string> notes;
  EXPECT_EQ("Staging 0.80", ForeignEngineName("Staging", list, notes));
}
