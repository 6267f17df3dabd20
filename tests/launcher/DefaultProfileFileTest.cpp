// defrc.xml is written from the built-in copy whenever it is missing, and a
// profile the user has edited is never replaced.
#include <gtest/gtest.h>

#include <string>

#include "HostPath.h"
#include "TestSupport.h"
#include "launcher/DefaultProfile.h"
#include "launcher/Storage.h"

namespace {

std::string g_builtIn;
ProfileBytes BuiltIn() { return ProfileBytes{g_builtIn.data(), g_builtIn.size()}; }
ProfileBytes Nothing() { return ProfileBytes{}; }

class EnsureProfile : public ::testing::Test {
 protected:
  void SetUp() override {
    g_builtIn = xmltest::ReadFile(HostPath(VANTLE_DEFAULT_PROFILE));
    ASSERT_GT(g_builtIn.size(), 5000u);
    ProfileFolder = dir.Path();
    SetDefaultProfileSource(BuiltIn);
  }
  void TearDown() override { SetDefaultProfileSource(nullptr); }
  xmltest::TempDir dir;
};

}  // namespace

TEST_F(EnsureProfile, WritesTheBuiltInProfileByteForByteWhenMissing) {
  EXPECT_EQ(dir.File("defrc.xml"), DefaultProfilePath());
  EnsureDefaultProfile();
  EXPECT_EQ(g_builtIn, xmltest::ReadFile(dir.File("defrc.xml")));
  EXPECT_EQ("defrc.xml;", dir.Listing()) << "no temporary file is left";
}

TEST_F(EnsureProfile, LeavesAnExistingProfileAlone) {
  xmltest::WriteFile(dir.File("defrc.xml"), "my own template");
  EnsureDefaultProfile();
  EXPECT_EQ("my own template", xmltest::ReadFile(dir.File("defrc.xml")));
}

TEST_F(EnsureProfile, FailuresAreSilentAndTheNextCallTriesAgain) {
  ProfileFolder = dir.File("not yet there");
  EnsureDefaultProfile();
  EXPECT_EQ("", dir.Listing());

  ProfileFolder = dir.Path();
  SetDefaultProfileSource(Nothing);
  EnsureDefaultProfile();
  EXPECT_EQ("", dir.Listing());

  SetDefaultProfileSource(BuiltIn);
  EnsureDefaultProfile();
  EXPECT_EQ(g_builtIn, xmltest::ReadFile(dir.File("defrc.xml")));
}
