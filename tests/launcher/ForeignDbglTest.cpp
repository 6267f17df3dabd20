// DBGL's folder and game packs, from files written after the published description of its
// export: the database's facts, paths from dosroot in another case, a missing program, files
// that are no profiles, a pack that would unpack outside its folder or is damaged.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "ZipFiles.h"
#include "launcher/ForeignDbgl.h"

namespace {

void Put(const std::string& root, const std::string& relative, const std::string& bytes) {
  const std::filesystem::path path = std::filesystem::u8path(root) / std::filesystem::u8path(relative);
  std::filesystem::create_directories(path.parent_path());
  xmltest::WriteFile(path.u8string(), bytes);
}

const char kScript[] =
    "SET DATABASE UNIQUE NAME HSQLDB\r\n"
    "CREATE MEMORY TABLE PUBLIC.DEVELOPERS(ID INTEGER NOT NULL PRIMARY KEY,NAME VARCHAR(256))\r\n"
    "CREATE MEMORY TABLE PUBLIC.GAMES(ID INTEGER NOT NULL PRIMARY KEY,TITLE VARCHAR(256),DEV_ID INTEGER,"
    "YEAR VARCHAR(4),NOTES VARCHAR(8192),FAVORITE BOOLEAN,SETUP VARCHAR(256),SETUP_PARAMS VARCHAR(256),"
    "ALT1 VARCHAR(256),ALT1_PARAMS VARCHAR(256),STATS_RUNS INTEGER,STATS_LASTRUN TIMESTAMP,"
    "CONSTRAINT SYS_FK_1 FOREIGN KEY(DEV_ID) REFERENCES DEVELOPERS(ID))\r\n"
    "INSERT INTO DEVELOPERS VALUES(7,'id Software')\r\n"
    "INSERT INTO GAMES VALUES(1,'Commander Keen: Caf\\u00e9 (it''s, 4)',7,'1991','one, two',TRUE,"
    "'KEEN\\INSTALL.EXE','/q','KEEN\\ED.EXE','-x',3,'2024-05-06 07:08:09.123000')\r\n";

const char kKeenConf[] =
    "[sblaster]\r\nsbtype=sb16\r\n[midi]\r\nmididevice=default\r\n[autoexec]\r\nmount C \"keen\"\r\n"
    "imgmount D \"cd\\keen.iso\" -t iso\r\nC:\r\ncd \\\r\nSET BLASTER=A220\r\nkeen4 /nojoy\r\necho done\r\nexit\r\n";

const char kProfilesXml[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<document><export><format-version>1.3</format-version></export>\n"
    "<profile><title><![CDATA[Dune II]]></title><id>4</id><game-dir><raw><![CDATA[DUNE2\\]]></raw></game-dir>"
    "<setup><![CDATA[DUNE2\\SETUP.EXE]]></setup><setup-parameters>/s</setup-parameters>"
    "<altexe1><![CDATA[DUNE2\\EDIT.EXE]]></altexe1><altexe1-parameters/>"
    "<meta-info><developer><![CDATA[Westwood]]></developer><publisher><![CDATA[Virgin]]></publisher>"
    "<year>1992</year><genre>Strategy</genre><status>Done</status><favorite>false</favorite>"
    "<notes><![CDATA[Spice <must> flow]]></notes></meta-info>"
    "<full-configuration><![CDATA[[cpu]\r\ncycles=max\r\n[autoexec]\r\nmount c \"dune2\"\r\nc:\r\ncd \\\r\n"
    "DUNE2.EXE\r\nexit\r\n]]></full-configuration><dosbox><title>DOSBox</title><version>0.74</version></dosbox>"
    "</profile>\n<profile><id>5</id><full-configuration>[cpu]</full-configuration></profile>\n</document>\n";

std::string Facts(const ForeignGame& g) {
  return g.source + "|" + g.name + "|" + g.developer + "|" + g.publisher + "|" + g.genre + "|" + g.year + "|" +
         g.notes + "|" + std::to_string(g.favorite) + "|" + std::to_string(g.playCount) + "|" + g.lastPlayed + "|" +
         g.parameters + "|" + g.installerParameters + "|" + g.engine;
}

}  // namespace

TEST(DbglLibrary, ReadsFolderAndPacks) {
  xmltest::TempDir dir;
  const std::string root = dir.Path();
  const std::string dbgl = root + "/DBGL";
  Put(dbgl, "db/database.script", kScript);
  Put(dbgl, "profiles/1.conf", kKeenConf);
  Put(dbgl, "profiles/2.conf", "[autoexec]\r\nmount c \"gone\"\r\nc:\r\ngone.exe\r\n");
  Put(dbgl, "profiles/3.conf", std::string("\x00\x01\x02", 3));
  Put(dbgl, "dosroot/Keen/KEEN4.EXE", "MZ");
  Put(dbgl, "dosroot/Keen/INSTALL.EXE", "MZ");
  Put(dbgl, "dosroot/CD/KEEN.ISO", "CD");
  WriteZip(root + "/Dune.dbgl.zip",
           {{"profiles.xml", kProfilesXml}, {"DUNE2/DUNE2.EXE", "MZ"}, {"DUNE2/DATA/A.PAK", "A"}});
  WriteZip(root + "/Evil.dbgl.zip",
      {{"profiles.xml", std::string(kProfilesXml).replace(std::string(kProfilesXml).find("DUNE2\\]]"), 5, "EVIL")},
       {"EVIL/../../escaped.txt", "x"}});
  std::string damaged = xmltest::ReadFile(root + "/Dune.dbgl.zip");
  damaged[damaged.find("DUNE2/DATA/A.PAK") + 17] ^= 0x55;
  Put(root, "Damaged.dbgl.zip", damaged);
  Put(root, "Broken.dbgl.zip", "PK not really");
  Put(root, "Games/profiles/9.conf", "[autoexec]\r\n");  // not looked into: not named after DBGL
  Put(root, "Games/db/x.script", "");

  PathFinder finder(SystemForeignFiles());
  EXPECT_EQ(std::vector<std::string>{dbgl}, DbglLibrariesIn(finder, dbgl));
  EXPECT_EQ(5u, DbglLibrariesIn(finder, root).size());
  EXPECT_TRUE(DbglLibrariesIn(finder, dbgl + "/dosroot").empty());

  const ForeignLibrary library = ReadDbglLibrary(SystemForeignFiles(), root);
  const std::string broken[] = {"Broken.dbgl.zip: not a zip archive",
                                "3.conf: not a DOSBox configuration",
                                "Damaged.dbgl.zip: the files of DUNE2/ cannot be unpacked: cannot unpack DUNE2/DATA/A.PAK "
                                "into " + xmltest::OnThisSystem(root + "/Damaged/DUNE2/DATA/A.PAK"),
                                "Damaged.dbgl.zip: profile 5 has no title",
                                "Dune.dbgl.zip: profile 5 has no title",
                                "Evil.dbgl.zip: the files of EVIL/ cannot be unpacked: EVIL/../../escaped.txt would "
                                "land outside " + xmltest::OnThisSystem(root + "/Evil/EVIL"),
                                "Evil.dbgl.zip: profile 5 has no title"};
  ASSERT_EQ(std::size(broken), library.broken.size());
  for (std::size_t i = 0; i < std::size(broken); ++i)
    EXPECT_EQ(broken[i], NamePart(library.broken[i].file) + ": " + library.broken[i].reason);
  for (const char* unpacked : {"/escaped.txt", "/Damaged/DUNE2/DATA/A.PAK"})  // outside, and damaged
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(root + unpacked))) << unpacked;

  ASSERT_EQ(5u, library.games.size());  // the folder's two, then one of each pack
  const ForeignGame& keen = library.games[0];
  EXPECT_EQ("DBGL|Commander Keen: Caf\xC3\xA9 (it's, 4)|id Software|||1991|one, two|1|3|2024-05-06 07:08:09|/nojoy|/q|",
            Facts(keen));
  EXPECT_EQ(xmltest::OnThisSystem(dbgl + "/dosroot/Keen/KEEN4.EXE"), keen.program);
  EXPECT_EQ(xmltest::OnThisSystem(dbgl + "/dosroot/Keen/INSTALL.EXE"), keen.installer);
  ASSERT_EQ(2u, keen.mounts.size());
  EXPECT_EQ(std::to_string(ForeignMount::CDImage) + xmltest::OnThisSystem(dbgl + "/dosroot/CD/KEEN.ISO"),
            std::to_string(keen.mounts[1].kind) + keen.mounts[1].host);
  EXPECT_EQ("SET BLASTER=A220\r\n", keen.preCommands);
  EXPECT_EQ("echo done\r\n", keen.postCommands);
  EXPECT_EQ(std::vector<std::string>{"further program KEEN\\ED.EXE -x"}, keen.notCarried);
  EXPECT_EQ(2u, keen.settings.size());

  const ForeignGame& gone = library.games[1];
  EXPECT_EQ("2", gone.name);  // the file's name when the database has no row
  EXPECT_EQ("", gone.program);
  EXPECT_EQ((std::vector<std::string>{"mounted path gone does not exist", "no program its [autoexec] starts exists here"}),
            gone.notCarried);

  const ForeignGame& dune = library.games[3];
  EXPECT_EQ("DBGL|Dune II|Westwood|Virgin|Strategy|1992|Spice <must> flow|0|0|||/s|DOSBox 0.74", Facts(dune));
  EXPECT_EQ(xmltest::OnThisSystem(root + "/Dune/DUNE2/DUNE2.EXE"), dune.program);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(root + "/Dune/DUNE2/DATA/A.PAK")));
  EXPECT_EQ((std::vector<std::string>{"status Done", "installer DUNE2\\SETUP.EXE does not exist",
                                      "further program DUNE2\\EDIT.EXE"}), dune.notCarried);
}
