// Errors in words: every run-time error the program meets reaches the user
// as what happened, to which file and what to do, never as a bare number;
// and the tool's messages for the failures a user actually meets.
#include <gtest/gtest.h>

#include <cerrno>
#include <regex>

#include "core/error_words.h"
#include "support.h"
#include "workspace/frame_report.h"

using qv::ErrorWords;
using qv::FileTask;
using qvtest::TempDir;

namespace {

const std::string kFile = "/ciel/nuit/m-trente-et-un.fts";

// True when the text shows `number` as a number of its own.
bool ShowsNumber(const std::string& text, int number) {
  return std::regex_search(text, std::regex("(^|[^0-9])" + std::to_string(number) + "([^0-9]|$)"));
}

}  // namespace

// Whatever the number and the task: the file named, advice after it, and
// the number itself nowhere. The sentences themselves are the tool's
// (below, and the golden outputs for a missing or cut input).
TEST(ErrorWords, EveryNumberNamesTheFileAndGivesAdviceWithoutItsNumber) {
  const FileTask tasks[] = {FileTask::Read,        FileTask::Process,     FileTask::Write,  FileTask::Temporary,
                            FileTask::ProjectLoad, FileTask::ProjectSave, FileTask::Combine};
  for (int number : {5, 6, 7, 9, 11, 13, 52, 53, 58, 61, 62, 70, 75, 340, 380, 12345})
    for (FileTask task : tasks) {
      const std::string words = ErrorWords(number, kFile, task);
      const size_t named = words.find(" " + kFile + " : ");
      ASSERT_NE(named, std::string::npos) << words;
      EXPECT_GT(words.size(), named + kFile.size() + 12) << words;
      EXPECT_FALSE(ShowsNumber(words, number)) << words;
    }
  // Without a file, the sentence goes straight to the advice.
  EXPECT_EQ(ErrorWords(7, "", FileTask::Process),
            "mémoire insuffisante : fermez d'autres programmes, ou travaillez sur des images plus petites (fusion "
            "2x2)");
}

TEST(ErrorWords, OutcomesKeepTheirOwnReasonsAndSystemErrorsGetTheirNumber) {
  // No number: the reason as it is, a quiet failure says nothing.
  EXPECT_EQ(qv::OutcomeWords(qv::Outcome::Failure("image en tuiles"), kFile, FileTask::Process), "image en tuiles");
  EXPECT_EQ(qv::OutcomeWords(qv::Outcome::Failure(""), kFile, FileTask::Process), "");
  // A number with its general words: the sentence alone.
  EXPECT_EQ(qv::OutcomeWords(qv::Outcome::FromNumber(61), kFile, FileTask::Write),
            ErrorWords(61, kFile, FileTask::Write));
  EXPECT_EQ(qv::OutcomeWords(qv::Outcome::Failure("le fichier existe déjà", 58), kFile, FileTask::Write),
            ErrorWords(58, kFile, FileTask::Write));
  // A reason more precise than the number's words stays beside what happened.
  EXPECT_EQ(qv::OutcomeWords(qv::Outcome::Failure("n'est pas un fichier ordinaire", 75), kFile, FileTask::Read)
                .rfind("accès refusé (n'est pas un fichier ordinaire) en lisant " + kFile + " : ", 0),
            0u);

  const std::pair<int, int> systemErrors[] = {{ENOSPC, qv::kErrDiskFull},    {EDQUOT, qv::kErrDiskFull},
                                              {EROFS, qv::kErrPathAccess},   {EACCES, qv::kErrPathAccess},
                                              {ENOTDIR, qv::kErrPathAccess}, {ENOENT, qv::kErrFileNotFound}};
  for (const auto& [system, number] : systemErrors) EXPECT_EQ(qv::ErrorNumberOfSystem(system), number) << system;
}

TEST(ErrorWords, TheOpeningNoteCountsInTheRightNumber) {
  // `missing` files not found; per unreadable entry, whether its file exists.
  const auto note = [](size_t missing, const std::vector<bool>& unreadableFound, const std::string& where) {
    qv::OpeningReport opening;
    opening.missing.assign(missing, "/ailleurs/x.fts");
    int image = 0;
    for (bool found : unreadableFound) opening.unreadable.push_back({++image, found, "illisible"});
    return qv::OpeningNote(opening, where);
  };
  EXPECT_EQ(note(0, {}, "du projet"), "");
  EXPECT_EQ(note(1, {}, "du projet"), "1 image du projet introuvable — voir Rapport");
  EXPECT_EQ(note(3, {true}, "du projet"), "3 images du projet introuvables, 1 illisible — voir Rapport");
  // A list entry whose file has gone is missing, not unreadable.
  EXPECT_EQ(note(0, {false}, "de la ligne de commande"), "1 image de la ligne de commande introuvable — voir Rapport");
  EXPECT_EQ(note(1, {false, true}, "du projet"), "2 images du projet introuvables, 1 illisible — voir Rapport");
}

// The tool's messages for the failures a user meets, each named in words.
class ToolSaysWhy : public ::testing::Test {
 protected:
  TempDir dir;
  std::string Q(const std::string& name) const { return qvtest::Q(dir.File(name)); }
  void SetUp() override { qvtest::SimulateNight(dir, "sky", "--frames 2 --width 64 --height 64 --seed 4"); }
  // Nothing the user reads holds the error's number (outside the paths).
  void NoBareNumber(const qvtest::CliResult& r, int number) const {
    std::string read = r.err + r.out;
    for (size_t at = read.find(dir.path().string()); at != std::string::npos; at = read.find(dir.path().string()))
      read.erase(at, dir.path().string().size());
    EXPECT_EQ(read.find("erreur " + std::to_string(number)), std::string::npos) << r.err;
    EXPECT_FALSE(ShowsNumber(read, number)) << r.err;
  }
};

// A disk that fills and a folder that refuses the output. (A file cut
// short is the bad-input test's.)
TEST_F(ToolSaysWhy, AFullDiskAndARefusedFolder) {
  const std::string fts = dir.File("m.fts"), tif = dir.File("m.tif");
  const struct {
    std::string args, env, says;
    int number;
  } cases[] = {
      {"process " + Q("sky/frame001.fts") + " --out '" + fts + "'", "QUELVISTA_TEST_WRITE_BUDGET=1000 ",
       "quelvista-cli : disque plein en écrivant " + fts + " : libérez de la place ou choisissez un autre dossier\n",
       61},
      {"process " + Q("sky/frame001.fts") + " --out '" + tif + "'", "QUELVISTA_TEST_WRITE_BUDGET=0:75 ",
       "quelvista-cli : accès refusé en écrivant " + tif +
           " : le dossier est protégé en écriture ou n'existe pas ; choisissez un autre dossier\n",
       75},
  };
  for (const auto& c : cases) {
    const qvtest::CliResult r = qvtest::Cli(dir, c.args, c.env);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_TRUE(qvtest::Contains(r.err, c.says));
    NoBareNumber(r, c.number);
  }
  EXPECT_FALSE(std::filesystem::exists(fts));
}

TEST_F(ToolSaysWhy, ARenderThatLeavesNoPixel) {
  const std::string out = dir.File("r.jpg"), render = "render " + Q("sky/frame001.fts") + " --bin 2 --zoom ";
  const qvtest::CliResult r = qvtest::Cli(dir, render + "1 --out '" + out + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(qvtest::Contains(r.err,
                               "quelvista-cli : l'image rendue n'a plus aucun pixel après la fusion et le zoom "
                               "(32 x 32 pixels à 1 %) : " +
                                   out +
                                   " n'est pas écrit ; choisissez un zoom plus grand ou une fusion plus petite\n"));
  EXPECT_EQ(r.err.find("mémoire"), std::string::npos) << r.err;
  NoBareNumber(r, 7);
  EXPECT_FALSE(std::filesystem::exists(out));
  // One pixel across is still a picture.
  EXPECT_EQ(qvtest::Cli(dir, render + "4 --out '" + out + "'").status, 0);
}
