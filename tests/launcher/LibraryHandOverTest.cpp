// What another start hands to the window that holds the library: a folder
// as text, taken only when it is one.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "launcher/LibraryHandOver.h"
#include "launcher/Storage.h"

TEST(LibraryHandOver, AFolderIsTakenOnlyWhenItIsPlainTextOfAPathsLengthUnderTheLibrarysName) {
  const std::string longest(4 * (kPathBufferSize - 1), 'a');
  struct Case {
    std::string data;
    bool taken;
  } const cases[] = {
      {"C:\\Games", true},
      {longest, true},
      {longest + "a", false},
      {"", false},
      {std::string("C:\\Games\0D:\\Other", 17), false},
  };
  for (const Case& c : cases) {
    std::string folder = "untouched";
    EXPECT_EQ(c.taken, ReadHandedFolder(c.data.data(), c.data.size(), folder)) << c.data.size();
    EXPECT_EQ(c.taken ? c.data : "untouched", folder);
  }
  EXPECT_FALSE(ReadHandedFolder(nullptr, 5, *std::make_unique<std::string>()));
  // One name per library, in the session's namespace.
  const std::string name = LibraryObjectName("1234:5678\\VTL.XML");
  EXPECT_EQ(std::string("Local\\Vantle.Library.").size() + 16, name.size()) << name;
  EXPECT_EQ(name, LibraryObjectName("1234:5678\\VTL.XML"));
  EXPECT_NE(name, LibraryObjectName("1234:5679\\VTL.XML"));
}
