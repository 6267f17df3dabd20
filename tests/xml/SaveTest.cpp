// Save goes through a temporary file beside the target and replaces the
// target only when everything was written: the old file survives any failure.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using xmltest::Parse;
using xmltest::ReadFile;
using xmltest::TempDir;
using xmltest::WriteFile;

namespace {

const std::string kDecl = "<?xml version=\"1.0\"?>";

std::string BigDocument(int games) {
  std::string text = kDecl + "<root><Games>";
  for (int i = 0; i < games; ++i)
    text += "<g><Main Name=\"Game " + std::to_string(i) + "\" Run=\"C:\\GAMES\\G" + std::to_string(i) +
            "\\RUN.EXE\"><![CDATA[A description long enough to make the file grow quickly.]]></Main></g>";
  return text + "</Games></root>";
}

}  // namespace

TEST(SafeSave, ReplacesTheWholeFileAndLeavesNothingElseBehind) {
  TempDir dir;
  const std::string path = dir.File("vtl.xml");
  WriteFile(path, BigDocument(50));
  XmlDocument doc(path.c_str());
  ASSERT_EQ(doc.GetParseStatus(), 0);
  XmlElement* games = doc.GetRoot()->FindChild("Games");
  while (games->GetChildCount() > 0) games->RemoveChild(0);
  ASSERT_TRUE(doc.Save());
  EXPECT_EQ(ReadFile(path), kDecl + "\r\n<root>\r\n\t<Games/>\r\n</root>\r\n");
  EXPECT_EQ(dir.Listing(), "vtl.xml;");
}

TEST(SafeSave, FailsWithoutTouchingAnythingWhenTheFolderIsMissing) {
  TempDir dir;
  auto doc = Parse(kDecl + "<root/>");
  const std::string path = dir.File("missing") + "/vtl.xml";
  doc->SetFileName(path.c_str());
  EXPECT_FALSE(doc->Save());
  EXPECT_EQ(dir.Listing(), "");
}

TEST(SafeSave, AFailedReplaceRemovesTheTemporaryFile) {
  TempDir dir;
  // A folder in the target's place cannot be replaced by a file.
  const std::string target = dir.File("vtl.xml");
  ASSERT_TRUE(std::filesystem::create_directory(target));
  WriteFile(target + "/inside.txt", "keep");
  auto doc = Parse(kDecl + "<root/>");
  doc->SetFileName(target.c_str());
  EXPECT_FALSE(doc->Save());
  EXPECT_EQ(dir.Listing(), "vtl.xml;");
  EXPECT_EQ(ReadFile(target + "/inside.txt"), "keep");
}

TEST(SafeSave, ADocumentThatLostItsRootIsNotWritten) {
  TempDir dir;
  const std::string path = dir.File("vtl.xml");
  const std::string broken = kDecl + "<root><Games><g></Games></root>";
  WriteFile(path, broken);
  XmlDocument doc(path.c_str());
  ASSERT_EQ(doc.GetParseStatus(), 2);
  ASSERT_EQ(doc.GetRoot(), nullptr);
  EXPECT_FALSE(doc.Save());
  EXPECT_EQ(ReadFile(path), broken);
}

TEST(SafeSave, AReadOnlyFileIsLeftAsItIs) {
#ifndef _WIN32
  if (geteuid() == 0) GTEST_SKIP() << "the superuser may write any file, in place or not";
#endif
  TempDir dir;
  const std::string path = dir.File("vtl.xml");
  const std::string before = kDecl + "<root><keep/></root>";
  WriteFile(path, before);
  XmlDocument doc(path.c_str());
  doc.GetRoot()->RemoveChild(0);
  namespace fs = std::filesystem;
  const auto writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(path, writable, fs::perm_options::remove);
  EXPECT_FALSE(doc.Save());
  fs::permissions(path, writable, fs::perm_options::add);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(dir.Listing(), "vtl.xml;");
}

#ifndef _WIN32

// A file size limit makes writes fail the way a full disk does.
TEST(SafeSave, AFullDiskLeavesThePreviousFileIntact) {
  TempDir dir;
  const std::string path = dir.File("vtl.xml");
  const std::string previous = BigDocument(10);
  WriteFile(path, previous);
  XmlDocument doc(path.c_str());
  ASSERT_EQ(doc.GetParseStatus(), 0);
  XmlElement* games = doc.GetRoot()->FindChild("Games");
  for (int i = 0; i < 20000; ++i) games->AddChild(games->GetChildren()[0]->Clone());

  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 256 * 1024;
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved_ok = doc.Save();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved_ok);
  EXPECT_EQ(ReadFile(path), previous);
  EXPECT_EQ(dir.Listing(), "vtl.xml;");
  EXPECT_TRUE(doc.Save());  // and once there is room again, it works
}

TEST(SafeSave, FollowsSymbolicLinksAndKeepsPermissions) {
  TempDir dir;
  const std::string real = dir.File("real.xml");
  const std::string link = dir.File("link.xml");
  WriteFile(real, kDecl + "<root><old/></root>");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  XmlDocument doc(link.c_str());
  doc.GetRoot()->RemoveChild(0);
  ASSERT_TRUE(doc.Save());
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(ReadFile(real), kDecl + "\r\n<root/>\r\n");
  EXPECT_EQ(dir.Listing(), "link.xml;real.xml;");
}

#endif
