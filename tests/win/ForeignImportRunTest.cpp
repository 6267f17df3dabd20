// A library of each other front end brought in by "vtl64.exe -import PATH", then each game
// started from the library under Wine: the bridge as DOSBOX.EXE hands the configuration to
// the host's real DOSBox, which runs a nasm-built program that leaves a file in its folder.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "WinTestUtil.h"
#include "ZipFiles.h"
#include "gtest/gtest.h"
#include "launcher/GameSchema.h"
#include "xml/Xml.h"

namespace fs = std::filesystem;
using wintest::ReadBytes;
using wintest::WriteBytes;

namespace {

const char kPlay[] = "<PLAY.COM>";  // a file's text: the DOS program instead

void Put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  if (text == kPlay) fs::copy_file(wintest::HostToWindowsPath(VANTLE_PLAY_COM), path);
  else WriteBytes(path, text);
}

bool WaitFor(const fs::path& file) {
  for (int waited = 0; waited < 30000 && !fs::exists(file); waited += 100)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return fs::exists(file);
}

// Runs app's vtl64.exe with arguments to its end: its exit code, or 12345.
DWORD Vantle(const fs::path& app, const std::string& arguments) {
  wintest::Process vantle("\"" + (app / "vtl64.exe").string() + "\" " + arguments);
  const DWORD startError = GetLastError();
  DWORD exitCode = 12345;
  // Which of the two went wrong, when one does: the exit code alone cannot say.
  if (!vantle.started())
    ADD_FAILURE() << "vtl64.exe " << arguments << " did not start (error " << startError << ")";
  else if (!vantle.Wait(60000, &exitCode))
    ADD_FAILURE() << "vtl64.exe " << arguments << " did not end within 60 s";
  return exitCode;
}

struct Library {
  const char* kind;
  const char* imported;  // the path given to -import, below the library's folder
  std::vector<std::pair<std::string, std::string>> files;  // relative path, text (or kPlay)
  std::string stored;    // the game's name, source and DOS path
  const char* ranIn;     // where the program leaves PLAYED.TXT
};

const char kPackList[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<document><export><format-version>1.3</format-version></export>"
    "<profile><title><![CDATA[Packed Dune]]></title><id>1</id><game-dir><raw><![CDATA[DUNE]]></raw></game-dir>"
    "<meta-info><year>1992</year></meta-info><full-configuration><![CDATA[[autoexec]\r\nmount C \"dune\"\r\nC:\r\n"
    "cd \\\r\nPLAY.COM\r\nexit\r\n]]></full-configuration></profile></document>\n";

const Library kLibraries[] = {
      {"D-Fend Reloaded", "",
       {{"DFend.dat", "PRGDIRMODE\r\n"},
        {"Confs/Keen.prof", "[Extra]\r\nExe=.\\VirtualHD\\Keen\\PLAY.COM\r\nNrOfMounts=1\r\n"
                            "0=.\\virtualhd\\;Drive;C;false;\r\n[ExtraInfo]\r\nName=D-Fend Keen\r\n"},
        {"VirtualHD/Keen/PLAY.COM", kPlay}},
       "D-Fend Keen|D-Fend Reloaded|C:\\Keen\\PLAY.COM", "VirtualHD/Keen"},
      {"DBGL folder", "",
       {{"db/database.script", "CREATE MEMORY TABLE PUBLIC.GAMES(ID INTEGER NOT NULL PRIMARY KEY,TITLE VARCHAR(256))\r\n"
                               "INSERT INTO GAMES VALUES(1,'DBGL Keen')\r\n"},
        {"profiles/1.conf", "[autoexec]\r\nmount C \"KEEN\"\r\nC:\r\ncd \\\r\nplay\r\nexit\r\n"},
        {"dosroot/keen/PLAY.COM", kPlay}},
       "DBGL Keen|DBGL|C:\\PLAY.COM", "dosroot/keen"},
      {"DBGL pack", "Dune.dbgl.zip", {}, "Packed Dune|DBGL|C:\\PLAY.COM", "Dune/DUNE"},
      {"LaunchBox", "Data/Platforms/MS-DOS.xml",
       {{"Data/Platforms/MS-DOS.xml",
         "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<LaunchBox><Game><Title>LaunchBox Doom</Title>"
         "<Platform>MS-DOS</Platform><ApplicationPath>Games\\Doom\\PLAY.COM</ApplicationPath>"
         "<RootFolder>Games\\Doom</RootFolder></Game></LaunchBox>"},
        {"Games/Doom/PLAY.COM", kPlay}},
       "LaunchBox Doom|LaunchBox|C:\\PLAY.COM", "Games/Doom"},
      {"eXoDOS", "eXo",
       {{"eXo/eXoDOS/!dos/keen/Exo Keen (1991).bat",
         "@echo off\r\ncd ..\\..\\..\r\n\".\\emulators\\dosbox\\ece\\DOSBox.exe\" -conf \".\\eXoDOS\\!dos\\keen\\dosbox.conf\"\r\n"},
        {"eXo/eXoDOS/!dos/keen/dosbox.conf",
         "[autoexec]\r\n@echo off\r\nmount c .\\eXoDOS\\Keen\r\nc:\r\ncd keen4\r\nPLAY.COM\r\nexit\r\n"},
        {"eXo/eXoDOS/keen/KEEN4/PLAY.COM", kPlay}},
       "Exo Keen|eXoDOS|C:\\KEEN4\\PLAY.COM", "eXo/eXoDOS/keen/KEEN4"},
};

}  // namespace

TEST(ForeignImportRun, EachKindOfLibraryComesInAndItsGameStartsInDosBox) {
  const std::string hostRoot = "/tmp/vantle foreign " + std::to_string(GetCurrentProcessId());
  const fs::path root = fs::path("Z:\\tmp") / fs::path(hostRoot).filename();  // Wine maps the host's root to Z:
  fs::remove_all(root);
  const fs::path app = root / "app";
  fs::create_directories(app);
  fs::create_directories(root / "home");
  fs::copy_file(wintest::HostToWindowsPath(VANTLE_EXE), app / "vtl64.exe");
  fs::copy_file(wintest::HostToWindowsPath(VANTLE_BRIDGE_EXE), app / "DOSBOX.EXE");
  std::string profile = ReadBytes(wintest::HostToWindowsPath(VANTLE_DEFAULT_PROFILE));
  profile.replace(profile.find("@REM exit"), 9, "exit");  // the template's post-commands, but ending DOSBox
  WriteBytes(app / "defrc.xml", profile);
  SetEnvironmentVariableA("HOME", (hostRoot + "/home").c_str());
  SetEnvironmentVariableA("SDL_VIDEODRIVER", "dummy");
  SetEnvironmentVariableA("SDL_AUDIODRIVER", "dummy");
  fs::create_directories(root / "DBGL pack");
  WriteZip((root / "DBGL pack" / "Dune.dbgl.zip").string(),
           {{"profiles.xml", kPackList}, {"DUNE/PLAY.COM", ReadBytes(wintest::HostToWindowsPath(VANTLE_PLAY_COM))}});

  // Each library brought in adds its game, stored with where it came from and its program,
  // and the game starts where its front end started it.
  for (std::size_t i = 0; i < std::size(kLibraries); ++i) {
    const Library& library = kLibraries[i];
    const fs::path folder = root / library.kind;
    for (const auto& file : library.files) Put(folder / fs::u8path(file.first), file.second);
    const fs::path imported = *library.imported ? folder / fs::u8path(library.imported) : folder;
    EXPECT_EQ(0u, Vantle(app, "-import \"" + imported.string() + "\"")) << library.kind;
    XmlDocument stored((app / "vtl.xml").string().c_str());
    XmlElement* games = GamesOf(stored);
    ASSERT_EQ(i + 1, games ? games->GetChildCount() : 0) << library.kind << "\n" << ReadBytes(app / "vtl.xml");
    XmlElement* main = Section(games->GetChildren()[i], "Main");
    EXPECT_EQ(library.stored,
              AttributeText(main, "Name") + "|" + AttributeText(main, "Source") + "|" + AttributeText(main, "Run"));

    const fs::path result = folder / fs::u8path(library.ranIn) / "PLAYED.TXT";
    EXPECT_EQ(0u, Vantle(app, "-shortcut \"" + AttributeText(main, "Name") + "\"")) << library.kind;
    EXPECT_TRUE(WaitFor(result)) << library.kind << ": nothing left\n" << ReadBytes(app / "DOSBOX.log");
    EXPECT_EQ("THE GAME RAN\r\n", fs::exists(result) ? ReadBytes(result) : std::string()) << library.kind;
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
}
