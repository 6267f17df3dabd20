// The host command line and the sign that DOSBox has read its file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

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

TEST(HostLaunch, TheBridgesOwnNameSaysWhichHostEngineItStarts) {
  struct Case {
    const char* path;
    EngineKind kind;
    const char* variable;
  } cases[] = {
      {"C:\\Vantle\\DOSBOX.EXE", EngineKind::Classic, "VANTLE_HOST_DOSBOX"},
      {"C:\\DOSBox-X\\DOSBOX.EXE", EngineKind::Classic, "VANTLE_HOST_DOSBOX"},
      {"Z:\\app\\dosbox-x.exe", EngineKind::DosBoxX, "VANTLE_HOST_DOSBOX_X"},
      {"DOSBox Staging.exe", EngineKind::Staging, "VANTLE_HOST_DOSBOX_STAGING"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.kind, BridgeKind(c.path)) << c.path;
    EXPECT_STREQ(c.variable, HostEngineVariable(BridgeKind(c.path))) << c.path;
    EngineKind told = EngineKind::Classic;
    EXPECT_TRUE(EngineKindFromVersionOutput(BridgeVersionText(c.kind), told)) << c.path;
    EXPECT_EQ(c.kind, told) << BridgeVersionText(c.kind);
  }
  EXPECT_EQ(HostDosBoxCandidates(), HostEngineCandidates(EngineKind::Classic));
  EXPECT_EQ(kPrivateDosBoxX, HostEngineCandidates(EngineKind::DosBoxX).front());
}

TEST(HostLaunch, TheRunFileIsReadOnlyInWholeLines) {
  struct Case {
    std::string text;
    bool started;
    long shell, program;
    bool ended;
    int status;
  } cases[] = {
      {"", false, 0, 0, false, 0},
      {"started 12 34", false, 0, 0, false, 0},
      {"started 12 34\n", true, 12, 34, false, 0},
      {"started 12 34\nended 3", true, 12, 34, false, 0},
      {"started 12 34\nended 143\n", true, 12, 34, true, 143},
      {"started 12 x4\n", false, 0, 0, false, 0},
      {"started 12\n", false, 0, 0, false, 0},
      {"started 0 34\n", false, 0, 0, false, 0},
      {"ended -1\nended 1234567890\n", false, 0, 0, false, 0},
      {"ended 0\n", false, 0, 0, true, 0},
  };
  for (const Case& c : cases) {
    const HostRun run = ReadHostRun(c.text);
    EXPECT_EQ(c.started, run.started) << c.text;
    EXPECT_EQ(c.shell, run.shellPid) << c.text;
    EXPECT_EQ(c.program, run.programPid) << c.text;
    EXPECT_EQ(c.ended, run.ended) << c.text;
    EXPECT_EQ(c.status, run.exitStatus) << c.text;
  }
}

#ifndef _WIN32
// The script as the host's shell runs it: the program's output goes to the
// log, and the run file tells its pid and, once it ended, its exit status.
TEST(HostLaunch, TheRunScriptWaitsForTheProgramAndTellsItsStatus) {
  const std::string folder = ::testing::TempDir() + "hostrun" + std::to_string(getpid());
  const std::string log = folder + "/the log", runFile = folder + "/run";
  ASSERT_EQ(0, std::system(("mkdir -p '" + folder + "' && printf 'before\\n' >'" + log + "' && : >'" + runFile + "'")
                               .c_str()));
  std::ofstream(folder + "/script") << HostRunScript();
  const std::string command = "sh '" + folder + "/script' '" + log + "' '" + runFile +
                              "' sh -c 'echo out; sleep 1; echo err >&2; exit 3'";
  ASSERT_EQ(0, std::system(command.c_str()));
  std::stringstream logText, runText;
  logText << std::ifstream(log).rdbuf();
  runText << std::ifstream(runFile).rdbuf();
  EXPECT_EQ("before\nout\nerr\n", logText.str());
  const HostRun run = ReadHostRun(runText.str());
  EXPECT_TRUE(run.started) << runText.str();
  EXPECT_NE(run.shellPid, run.programPid);
  EXPECT_TRUE(run.ended) << runText.str();
  EXPECT_EQ(3, run.exitStatus);
  std::system(("rm -rf '" + folder + "'").c_str());
}
#endif
