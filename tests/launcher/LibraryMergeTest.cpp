// Saving over a library another program changed: the three-way merge of
// games, the fingerprints it rests on, and the save that uses both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "launcher/LibraryMerge.h"
#include "launcher/Storage.h"

namespace {

// Games written as letters: base, memory and file as strings, one letter a
// game. The merged library reads memory's games in lower case and the
// file's in upper case.
std::string Merge(const std::string& base, const std::string& memory, const std::string& file,
                  const std::string& pinned = "") {
  auto prints = [](const std::string& games) { return std::vector<GameFingerprint>(games.begin(), games.end()); };
  std::vector<bool> pins(memory.size(), false);
  for (std::size_t i = 0; i < memory.size(); ++i) pins[i] = pinned.find(memory[i]) != std::string::npos;
  std::string merged;
  for (const MergedGame& game : PlanLibraryMerge(prints(base), prints(memory), prints(file), pins))
    merged += game.fromFile ? static_cast<char>(file[game.index] - 'a' + 'A') : memory[game.index];
  return merged;
}

TEST(LibraryMerge, EachSideKeepsWhatTheOtherDidNotTouch) {
  struct Case {
    const char *base, *memory, *file, *pinned, *merged, *what;
  } const cases[] = {
      {"abc", "abc", "abc", "", "abc", "nothing changed"},
      {"abc", "abc", "abcde", "", "abcDE", "added in the file"},
      {"ab", "abx", "aby", "", "abxY", "added on both sides: ours, then theirs"},
      {"abc", "abc", "ac", "", "ac", "deleted in the file, untouched here"},
      {"abc", "axc", "ac", "", "axc", "deleted in the file, changed here"},
      {"abc", "ac", "abc", "", "ac", "deleted here, untouched in the file"},
      {"abc", "ac", "ayc", "", "aYc", "deleted here, changed in the file"},
      {"abc", "abc", "ayc", "", "aYc", "changed in the file only: in its place"},
      {"abc", "axc", "abc", "", "axc", "changed here only"},
      {"abc", "axc", "ayc", "", "axYc", "changed on both sides: both kept"},
      {"abc", "ac", "ac", "", "ac", "deleted on both sides"},
      {"a", "ax", "ax", "", "ax", "the same game added on both sides, once"},
      {"aa", "aa", "aaa", "", "aaA", "a third copy added in the file"},
      {"aaa", "aaa", "a", "", "a", "copies deleted in the file"},
      {"aaa", "a", "a", "", "a", "the same copies deleted on both sides"},
      {"abc", "abc", "ac", "b", "abc", "a pinned game is never dropped"},
      {"b", "b", "zb", "", "Zb", "added before every game"},
      {"ab", "ab", "ba", "", "ab", "reordered in the file: our order"},
      {"", "", "xy", "", "XY", "a file made since an empty start"},
      {"abc", "abc", "", "", "", "emptied in the file"},
      {"abc", "abcx", "", "", "x", "emptied in the file, added here"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.merged, Merge(c.base, c.memory, c.file, c.pinned)) << c.what;
}

const char kLibrary[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root><Games>"
    "<g><Main Name=\"Alpha\" Run=\"C:\\A.EXE\"/><Screen fullscreen=\"false\"><![CDATA[help]]></Screen></g>"
    "<g><Main Name=\"Beta\" Run=\"C:\\B.EXE\"/></g>"
    "<g><Main Name=\"Gamma\" Run=\"C:\\C.EXE\"/></g>"
    "</Games></root>\r\n";

// A large library is fingerprinted in two halves: every game keeps its own
// print in its own place, on both sides of the split and at its edges.
TEST(LibraryMerge, ALargeLibraryHasEachGamesPrintInItsPlace) {
  for (const int games : {1999, 2000, 2001, 4001}) {
    std::string text = "<root><Games>";
    for (int i = 0; i < games; ++i) text += "<g><Main Name=\"Game " + std::to_string(i) + "\"/></g>";
    const auto library = xmltest::Parse((text + "</Games></root>").c_str());
    const std::vector<GameFingerprint> prints = FingerprintLibrary(*library);
    ASSERT_EQ(static_cast<std::size_t>(games), prints.size());
    XmlElement** list = library->GetRoot()->FindChild("Games")->GetChildren();
    for (int i = 0; i < games; ++i) ASSERT_EQ(FingerprintGame(*list[i]), prints[i]) << games << " games, game " << i;
  }
}

TEST(LibraryMerge, AFingerprintIsTheGamesContentAsReadAndWritten) {
  xmltest::TempDir dir;
  const auto library = xmltest::Parse(kLibrary);
  XmlElement& alpha = *library->GetRoot()->FindChild("Games")->GetChildren()[0];
  const GameFingerprint print = FingerprintGame(alpha);

  // What reading a game fills in, and a trip through the file, change nothing.
  const std::unique_ptr<XmlElement> completed = alpha.Clone();
  completed->FindChild("Main")->FindAttribute("Install", true);
  completed->FindChild("Joystick", true)->FindAttribute("joysticktype", true);
  EXPECT_EQ(print, FingerprintGame(*completed));
  const std::string path = dir.File("vtl.xml");
  library->SetFileName(path.c_str());
  ASSERT_TRUE(library->Save());
  XmlDocument reread(path.c_str());
  EXPECT_EQ(FingerprintLibrary(*library), FingerprintLibrary(reread));

  // Any change of content is another game.
  const char* const changed[] = {
      "<g><Main Name=\"Alpha\" Run=\"C:\\A.EXE\"/><Screen fullscreen=\"true\"><![CDATA[help]]></Screen></g>",
      "<g><Main Name=\"Alpha\" Run=\"C:\\A.EXE\"/><Screen fullscreen=\"false\"><![CDATA[help!]]></Screen></g>",
      "<g><Main Name=\"Alpha\" Run=\"C:\\A.EXE\"/><Screen fullscreen=\"false\"/></g>",
      "<g><Main Name=\"AlphaC:\\A.EXE\" Run=\"\"/><Screen fullscreen=\"false\"><![CDATA[help]]></Screen></g>",
  };
  for (const char* text : changed) {
    const auto other = xmltest::Parse(std::string("<?xml version=\"1.0\" ?><root>") + text + "</root>");
    EXPECT_NE(print, FingerprintGame(*other->GetRoot()->GetChildren()[0])) << text;
  }
}

int mergedCalls = 0;
std::string notSavedText;

// The whole save: the library read here, changed here and by another
// program; each save must keep both sides, or neither write nor lose. The
// library as read is noted at once, on a thread while the window shows it,
// or (that thread not started yet) when the first change waits for it.
TEST(LibraryMerge, ASaveTakesInWhatAnotherProgramSaved) {
  for (const char* noted : {"at once", "on a thread", "when awaited"}) {
    SCOPED_TRACE(noted);
    xmltest::TempDir dir;
    const std::string path = dir.File("vtl.xml");
    xmltest::WriteFile(path, kLibrary);
    mergedCalls = 0;
    LibraryEventHandlers.merged = [] { ++mergedCalls; };
    LibraryEventHandlers.notSaved = [](const std::string& text) { notSavedText = text; };
    const FileStamp stamp = ReadFileStamp(path);
    GameDatabase = std::make_unique<XmlDocument>(path.c_str());
    if (std::string(noted) == "at once") {
      RememberLibraryAsRead(stamp);
    } else {
      RememberLibraryAsReadMeanwhile(stamp);
      if (std::string(noted) == "on a thread") StartNotingLibraryAsRead();
      AwaitLibraryAsRead();
    }
    auto names = [](XmlDocument& library) {  // "Name" of each game, in order
      std::string list, dump = xmltest::Dump(library);
      for (std::size_t at = dump.find("[Name]=["); at != std::string::npos; at = dump.find("[Name]=[", at + 1))
        list += dump.substr(at + 8, dump.find(']', at + 8) - at - 8) + " ";
      return list;
    };

    // Another program drops Beta and adds Delta; here Gamma goes.
    std::string outside = kLibrary;
    outside.replace(outside.find("<g><Main Name=\"Beta\""), 42, "<g><Main Name=\"Delta\"/></g>");
    xmltest::WriteFile(path, outside);
    GameDatabase->GetRoot()->FindChild("Games")->RemoveChild(2);
    ASSERT_TRUE(SaveGameDatabase());
    XmlDocument saved(path.c_str());
    EXPECT_EQ("Alpha Delta ", names(saved));
    EXPECT_EQ("Alpha Delta ", names(*GameDatabase));
    EXPECT_EQ(1, mergedCalls);

    // Saved again with nothing new outside: no merge, the same file.
    ASSERT_TRUE(SaveGameDatabase());
    EXPECT_EQ(1, mergedCalls);

    // A file that cannot be read now is left as it is; memory goes beside it.
    xmltest::WriteFile(path, "<?xml version=\"1.0\" ?><root><Games><g>");
    EXPECT_FALSE(SaveGameDatabase());
    EXPECT_EQ("<?xml version=\"1.0\" ?><root><Games><g>", xmltest::ReadFile(path));
    XmlDocument beside((path + ".unsaved").c_str());
    EXPECT_EQ("Alpha Delta ", names(beside));
    EXPECT_NE(std::string::npos, notSavedText.find(path + ".unsaved")) << notSavedText;

    GameDatabase.reset();
    LibraryEventHandlers = LibraryEvents();
  }
}

}  // namespace
