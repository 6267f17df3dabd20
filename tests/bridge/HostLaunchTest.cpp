// The host command line and the sign that DOSBox has read its file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
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
  // DOSBox-X's and Staging's wording.
  EXPECT_TRUE(DosBoxHasReadConf("LOG: CONFIG: Loaded config file: " + path + "\n", path));
  EXPECT_TRUE(DosBoxHasReadConf("CONFIG: Loaded config file '" + path + "'\r\n", path));
  EXPECT_FALSE(DosBoxHasReadConf("CONFIG: Writing config file " + path + "\n", path));
}

TEST(HostLaunch, TheBridgesOwnNameSaysWhichHostEngineItStartsAndItsVersionTellsIt) {
  const std::pair<const char*, EngineKind> cases[] = {{"C:\\Vantle\\DOSBOX.EXE", EngineKind::Classic},
                                                      {"C:\\DOSBox-X\\DOSBOX.EXE", EngineKind::Classic},
                                                      {"Z:\\app\\dosbox-x.exe", EngineKind::DosBoxX},
                                                      {"DOSBox Staging.exe", EngineKind::Staging}};
  for (const auto& [path, kind] : cases) {
    EngineKind told = EngineKind::Classic;
    EXPECT_EQ(kind, BridgeKind(path)) << path;
    EXPECT_TRUE(EngineKindFromVersionOutput(BridgeVersionText(BridgeKind(path)), told) && told == kind) << path;
  }
  EXPECT_STREQ("VANTLE_HOST_DOSBOX_X", HostEngineVariable(EngineKind::DosBoxX));
  EXPECT_EQ(HostDosBoxCandidates(), HostEngineCandidates(EngineKind::Classic));
  EXPECT_EQ(kPrivateDosBoxX, HostEngineCandidates(EngineKind::DosBoxX).front());
}

TEST(HostLaunch, TheRunFileIsReadInWholeLinesAsTheRunScriptWritesThem) {
  const auto said = [](const std::string& text) {
    const HostRun r = ReadHostRun(text);
    return (r.started ? "started " + std::to_string(r.shellPid) + " " + std::to_string(r.programPid) : "-") +
           (r.ended ? " ended " + std::to_string(r.exitStatus) : "");
  };
  const std::pair<std::string, std::string> cases[] = {
      {"started 12 34", "-"},  {"started 12 34\nended 3", "started 12 34"},
      {"started 12 34\nended 143\n", "started 12 34 ended 143"}, {"started 12 x4\nstarted 0 3\nstarted 5\n", "-"},
      {"ended -1\nended 1234567890\n", "-"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(expected, said(text)) << text;
#ifndef _WIN32
  // The script as the host's shell runs it: output to the log, then the
  // program's pid and, once it has ended, its exit status.
  std::string folder = ::testing::TempDir() + "hostrunXXXXXX";
  ASSERT_NE(nullptr, mkdtemp(&folder[0]));
  std::ofstream(folder + "/script") << HostRunScript();
  ASSERT_EQ(0, std::system(("cd '" + folder + "' && echo before >log && sh script log run sh -c "
                            "'echo out; sleep 1; echo err >&2; exit 3'").c_str()));
  const auto read = [&](const char* name) {
    std::ifstream file(folder + "/" + name);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  };
  EXPECT_EQ("before\nout\nerr\n", read("log"));
  EXPECT_EQ(std::string::npos, said(read("run")).find("- ")) << read("run");
  EXPECT_NE(std::string::npos, said(read("run")).find(" ended 3")) << read("run");
  std::system(("rm -rf '" + folder + "'").c_str());
#endif
}
