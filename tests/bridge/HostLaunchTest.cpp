// The host command line and the sign that DOSBox has read its file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/HostLaunch.h"

TEST(HostLaunch, ArgumentsSurviveWindowsQuotingAndConfFilesAreFound) {
  struct Case {
    std::string argument, quoted;
  } cases[] = {
      {"-noconsole", "-noconsole"},
      {"", "\"\""},
      {"/tmp/x y/a.conf", "\"/tmp/x y/a.conf\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\dir with blank\\", "\"C:\\dir with blank\\\\\""},
      {"C:\\plain\\", "C:\\plain\\"},
      {"a\\\\\"b c", "\"a\\\\\\\\\\\"b c\""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.quoted, CommandLineArgument(c.argument)) << c.argument;

  // DOSBox reads its switches in any case.
  EXPECT_EQ((std::vector<std::size_t>{2, 4, 6}),
            ConfArgumentIndices({"-noconsole", "-conf", "a.conf", "-conf", "-conf", "-CONF", "x", "-conf"}));
  EXPECT_TRUE(ConfArgumentIndices({"-fullscreen"}).empty());
}

TEST(HostLaunch, SwitchesThatStartOrDeleteThingsOnTheHostAreLeftOut) {
  std::vector<std::string> arguments = {"-noconsole", "-editconf", "/bin/sh", "-conf", "a.conf", "-OpenCaptures",
                                        "xterm", "-eraseconf", "-c", "mount c /", "-RESETMAPPER", "-editconf"};
  EXPECT_EQ(5u, DropHostSwitches(arguments).size());
  EXPECT_EQ((std::vector<std::string>{"-noconsole", "-conf", "a.conf", "-c", "mount c /"}), arguments);
  std::vector<std::string> plain = {"-noconsole", "-conf", "-editconf.conf"};
  EXPECT_TRUE(DropHostSwitches(plain).empty());
  EXPECT_EQ(3u, plain.size());
}

TEST(HostLaunch, DosBoxHasReadItsFileOnlyWhenItsLineIsComplete) {
  const std::string path = "/tmp/w/vdb1A.tmp";
  const std::string before = "DOSBox version 0.74-3\n---\n";
  EXPECT_TRUE(DosBoxHasReadConf(before + "CONFIG:Loading primary settings from config file " + path + "\n", path));
  EXPECT_TRUE(DosBoxHasReadConf(
      "CONFIG:Loading primary settings from config file /other.conf\r\nCONFIG:Loading additional settings from "
      "config file " + path + "\r\nmore\n", path));
  EXPECT_FALSE(DosBoxHasReadConf(before + "CONFIG:Loading primary settings from config file " + path, path));
  EXPECT_FALSE(DosBoxHasReadConf(before + "CONFIG:Loading primary settings from config file /tmp/w/vdb1B.tmp\n",
                                 path));
  EXPECT_FALSE(DosBoxHasReadConf(before + "echo " + path + "\n", path));
}
