// The tool's commands: the ways of giving settings, refusals and their exit status, and the temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "support.h"

using namespace qv;
using qvtest::TempDir;

// The rejection chosen in the settings is the one the stack's own flag
// asks for, and it does act: a satellite trail crosses one frame. (A
// settings file and --set fill the same options.)
TEST(Cli, RejectionSettingsReachTheStack) {
  TempDir dir;
  qvtest::SimulateNight(dir, "night", "--frames 5 --width 96 --height 72 --seed 3 --trail 3 --trail-flux 5000");
  // Five samples never lie 3 sigma from their median: kappas of 1.5 let
  // the trail go.
  const std::string stack = "stack '" + dir.File("night/project.txt") + "' ";
  std::map<std::string, std::string> results;
  for (const auto& [name, args] :
       std::map<std::string, std::string>{{"plain", ""},
                                          {"set", "--set RejectMode=1 --set RejectLow=1.5 --set RejectHigh=1.5 "},
                                          {"flag", "--reject sigma --kappa 1.5,1.5 "},
                                          // Without a setting, the kappas are 3.
                                          {"default", "--reject winsor "},
                                          {"three", "--reject winsor --kappa 3,3 "}}) {
    const std::string out = dir.File(name + ".fts");
    const qvtest::CliResult r = qvtest::Cli(dir, stack + args + "--out '" + out + "'");
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    results[name] = qvtest::ReadText(out);
  }
  EXPECT_TRUE(results["set"] == results["flag"]);
  EXPECT_FALSE(results["set"] == results["plain"]);
  EXPECT_TRUE(results["default"] == results["three"]);
}

// A command line the tool cannot follow ends with 2, an input or output it
// cannot use with 1, each said before anything is read or written. A number
// the option's type cannot hold is refused with the option named; a number
// the type holds but a limit does not is still taken, limited, with a warning.
TEST(Cli, BadCommandsAndNumbersAreRefusedBeforeAnyWork) {
  TempDir dir;
  // A simulated frame of 64 x 64 pixels.
  std::filesystem::rename(qvtest::SimulateNight(dir, "sim", "--frames 1 --width 64 --height 64") + "/frame001.fts",
                          dir.File("m42.fts"));
  const std::string sky = qvtest::Q(dir.File("m42.fts")) + " ";
  const std::string stack = "stack " + sky + sky + "--guide ", process = "process " + sky;
  struct Case {
    std::string args;  // OUT stands for the output, which must not appear when refused
    int status;
    std::string says;
  } cases[] = {
      {"", 2, ""},
      {"nonsense", 2, ""},
      {process + "--bogus --out OUT", 2, "--bogus"},
      {process + "--step -1 --out OUT", 2, ""},
      {process + "--set UseMask --out OUT", 2, "UseMask"},
      {process + "--set CalcSize=abc --out OUT", 2, "CalcSize"},
      {process + sky + "--out OUT", 2, ""},
      {process + "--set MinQual=1,5 --out OUT", 2, "MinQual"},
      {process + "--set NoSuchKey=1 --out OUT", 2, "NoSuchKey"},
      // process writes planes, never a picture.
      {process + "--out '" + dir.File("o.jpg") + "'", 2, ""},
      {process + "--settings '" + dir.File("absent.ini") + "' --out OUT", 1, "absent.ini"},
      // A master that cannot be used stops the run before any frame.
      {process + "--dark '" + dir.File("nodark.fts") + "' --out OUT", 1, "nodark.fts"},
      {process + "--flat '" + dir.File("small.fts") + "' --out OUT", 1, "20 x 16"},
      {stack + "12,8 --mask '" + dir.File("small.fts") + "' --out OUT", 1, "20 x 16"},
      {stack + "12,8 --first 4 --last 2 --out OUT", 2, "--first 4"},
      {stack + "12,8 --out '" + dir.File("nowhere/r.fts") + "'", 1, "nowhere"},
      {stack + "12,8 --out '" + dir.File("r.png") + "'", 2, "--force-fits"},
      {stack + "12,8 --out '" + dir.File("r.jpeg") + "'", 2, ".tif"},
      {process + "--out '" + dir.File("no/such/dir/o.fts") + "'", 1, "no/such/dir"},
      {process + "--planes '" + dir.File("no/such/dir/o.raw") + "' --out OUT", 1, "no/such/dir"},
      {"simulate --out OUT --frames nan", 2, "--frames nan"},
      {"simulate --out OUT --frames 2.5", 2, "--frames 2.5"},
      {"simulate --out OUT --seeing 3", 2, "--seeing 3 : attend POSE:FWHM"},
      {"simulate --out OUT --seeing 3:-2", 2, "la FWHM est un nombre de pixels de 1 à 30"},
      {"simulate --out OUT --seeing 4:5 --frames 3", 2, "pas de pose 4, la nuit en compte 3"},
      {"simulate --out OUT --seeing 2:4 --seeing 2:6", 2, "la pose 2 a déjà une autre FWHM"},
      {"simulate --out OUT --cloud 3 --cloud 8", 2, "une seule pose voilée par nuit (déjà la pose 3)"},
      // No one line of the sky crosses frames 9950 pixels apart.
      {"simulate --out OUT --frames 200 --drift 50,50 --trail 1 --trail 200", 2, "ne traverse pas"},
      {stack + "1e999,5 --out OUT", 2, "--guide attend X,Y"},
      {stack + "12,8 --first inf --out OUT", 2, "--first attend un numéro d'image"},
      {stack + "12,8 --last 40000 --out OUT", 2, "de -32768 à 32767"},
      {stack + "12,8 --reject median --out OUT", 2, "--reject attend"},
      {stack + "12,8 --kappa -1,3 --out OUT", 2, "--kappa attend"},
      {stack + "12,8 --max-fwhm -1 --out OUT", 2, "--max-fwhm attend"},
      {"render " + sky + "--levels all:nan:1 --out OUT", 2, "--levels"},
      {process + "--set MinQual=1e39 --out OUT", 2, "nombre de -3.4e38 à 3.4e38"},
      {process + "--set GradRatio=40000 --out OUT", 2, "entier de -32768 à 32767"},
      {process + "--set UseMask=1e10 --out OUT", 2, "entier de -2147483648 à 2147483647"},
      {process + "--set MaskThr=5 --out OUT", 0, "MaskThr=5 hors des limites, valeur utilisée : 50"},
      {process + "--set CalcThr=1e9 --out OUT", 0, "valeur utilisée : 10000"},
      {process + "--set RejectMode=4 --out OUT", 0, "RejectMode=4 hors des limites, valeur utilisée : 0"},
      {process + "--set RejectHigh=0.1 --out OUT", 0, "valeur utilisée : 0.5"},
      {process + "--set MinQual=5 --out OUT", 0, "MinQual=5 hors des limites, valeur utilisée : 1"},
      {"render " + sky + "--out '" + dir.File("x.png") + "'", 2, "format de sortie non pris en charge"},
      {"render '" + dir.File("folder.fts") + "' --out OUT", 1, "c'est un dossier, un fichier est attendu"},
      // A result is never written over a file it is made from.
      {stack + "12,8 --out " + sky, 2, "serait écrasé"},
      {"render " + sky + "--out " + sky, 2, "serait écrasé"},
      {"master dark " + sky + "--out " + sky, 2, "serait écrasé"},
      {stack + "12,8 --out OUT --save-project " + sky, 2, "--save-project désigne un fichier d'entrée"},
      // A project does not keep the rejection: the user hears it.
      {stack + "12,8 --reject sigma --out OUT --save-project '" + dir.File("p.txt") + "'", 0,
       "le projet ne garde pas le rejet"},
  };
  const std::string before = qvtest::ReadText(dir.File("m42.fts"));
  std::filesystem::create_directory(dir.File("folder.fts"));
  qvtest::WriteFits16(dir.File("small.fts"), 20, 16, 1, std::vector<int>(20 * 16, 100));
  int n = 0;
  for (Case& c : cases) {
    const std::string out = dir.File("out" + std::to_string(++n) + (c.args.rfind("simulate", 0) == 0 ? "" : ".fts"));
    if (const size_t at = c.args.find("OUT"); at != std::string::npos) c.args.replace(at, 3, "'" + out + "'");
    const qvtest::CliResult r = qvtest::Cli(dir, c.args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    EXPECT_EQ(std::filesystem::exists(out), c.status == 0) << c.args;
    if (c.status != 0) {
      EXPECT_FALSE(r.err.empty()) << c.args;
      EXPECT_TRUE(r.out.empty()) << c.args << ": " << r.out;
      EXPECT_EQ(r.err.find("image 1"), std::string::npos) << c.args << ": " << r.err;
    }
  }
  EXPECT_EQ(qvtest::ReadText(dir.File("m42.fts")), before);
  for (const char* name : {"o.jpg", "r.png", "r.jpeg"}) EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
  // Hexadecimal bits as the help writes them.
  const qvtest::CliResult hex = qvtest::Cli(dir, process + "--set DarkFile=" + sky + "--set UseMask=0x8000");
  EXPECT_NE(hex.out.find("\"UseDark\":true"), std::string::npos) << hex.out;
  // A picture's name is taken for a FITS file when asked.
  ASSERT_EQ(qvtest::Cli(dir, stack + "12,8 --force-fits --out '" + dir.File("r.png") + "'").status, 0);
  EXPECT_EQ(qvtest::ReadText(dir.File("r.png")).substr(0, 6), "SIMPLE");
  // A file without one header card has no header to show.
  std::ofstream(dir.File("text.fits")) << "hello\n";
  EXPECT_EQ(qvtest::Cli(dir, "fits-header '" + dir.File("text.fits") + "'").status, 1);
}

// Under a decimal comma the default minimum quality ".75" does not read and
// stays 0, as in the window: the tool says so, and how to give it.
TEST(Cli, ASettingThatDoesNotReadUnderADecimalCommaIsSaid) {
  const char* comma = qvtest::CommaLocale();
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma here (scripts/install-deps.sh makes fr_FR.UTF-8)";
  TempDir dir;
  const std::string frame = qvtest::SimulateNight(dir, "sim", "--frames 1 --width 64 --height 64") + "/frame001.fts";
  const std::string args = "process '" + frame + "' --out '" + dir.File("p.fts") + "'";
  const std::string note = "réglages illisibles avec la virgule décimale de ce système, mis à 0 : MinQual=.75 ;";
  EXPECT_FALSE(qvtest::Contains(qvtest::Cli(dir, args).err, note));
  const qvtest::CliResult r = qvtest::Cli(dir, args, std::string("LC_ALL=") + comma + " ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(qvtest::Contains(r.err, "quelvista-cli : " + note)) << r.err;
}

// The temporary folder is TMPDIR when set and not empty, else /tmp, and the
// tool names the one it uses, or says why it cannot.
TEST(Cli, MasterNamesItsTemporaryFolder) {
  TempDir dir;
  // A simulated frame of 64 x 64 pixels.
  std::filesystem::rename(qvtest::SimulateNight(dir, "sim", "--frames 1 --width 64 --height 64") + "/frame001.fts",
                          dir.File("m42.fts"));
  std::filesystem::create_directory(dir.File("tmp"));
  const std::string frame = qvtest::Q(dir.File("m42.fts")) + " ";
  const std::string args = "master dark " + frame + frame + "--out '" + dir.File("d.fts") + "'";
  for (const auto& [prefix, folder] : {std::pair{"TMPDIR='" + dir.File("tmp") + "/' ", dir.File("tmp")},
                                       std::pair{std::string("TMPDIR= "), std::string("/tmp")}}) {
    const qvtest::CliResult r = qvtest::Cli(dir, args, prefix);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("dossier temporaire : " + folder + "\n"), std::string::npos) << prefix << r.err;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("tmp")));
  // A temporary folder that is a file: even the superuser cannot make a
  // folder in it.
  qvtest::WriteBytes(dir.File("plainfile"), {0});
  std::filesystem::remove(dir.File("d.fts"));
  const qvtest::CliResult file = qvtest::Cli(dir, args, "TMPDIR='" + dir.File("plainfile") + "' ");
  EXPECT_EQ(file.status, 1);
  EXPECT_TRUE(qvtest::Contains(file.err,
                               "dossier de travail impossible à créer : accès refusé en écrivant dans le "
                               "dossier temporaire " +
                                   dir.File("plainfile") + " : "));
  EXPECT_TRUE(qvtest::Contains(file.err, "TMPDIR"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("d.fts")));
}
