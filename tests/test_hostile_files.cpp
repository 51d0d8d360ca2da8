// Files built to hurt: a file whose data the budget refuses, and pipes
// given where images are expected. Each must be refused in words, without
// waiting for ever (a reader that opened a pipe would wait for a writer;
// the test's time limit ends it). Files cut short or claiming huge pictures
// are the tool's bad-input test's.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "core/paths.h"
#include "io/file.h"
#include "io/fits_reader.h"
#include "io/picture_export.h"
#include "platform/settings_store.h"
#include "stack/frames.h"
#include "support.h"
#include "workspace/project_file.h"

namespace {

using qvtest::TempDir;

TEST(HostileFiles, TheBudgetTakesA61MegapixelColourFrameAndNoMore) {
  TempDir dir;
  // Sparse files: their data, only extended to its length, reads as zeros and
  // takes no disk.
  const std::string camera = dir.File("camera.fts"), beyond = dir.File("beyond.fts");
  qvtest::WriteBytes(camera, qvtest::FitsBytes("8", "3", "9504", "6336", 0, {"NAXIS3  = 3"}));
  qvtest::WriteBytes(beyond, qvtest::FitsBytes("8", "2", "16384", "16385", 0));
  for (const auto& [path, bytes] : {std::pair{camera, int64_t{9504} * 6336 * 3}, {beyond, int64_t{16384} * 16385}})
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(std::filesystem::file_size(path) + bytes)), 0);
  // Thumbnail steps keep the planes small; the data unit is read whole.
  qvtest::TestSession a(camera);
  EXPECT_TRUE(qvtest::Processed(*a, 1, 16));
  qvtest::TestSession b(beyond);
  const qv::Outcome r = qv::ProcessPic(*b, 1, 16);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.why, "taille d'image démesurée (16384 x 16385 pixels) : " + beyond);
}

// A pipe under each name a user could give, and what reads it; in a list.
TEST(SpecialFiles, APipeIsRefusedWithoutBeingOpenedALinkIsFollowed) {
  TempDir dir;
  for (const char* name : {"a.fits", "b.tif", "c.jpg", "d.bmp", "p.txt", "s.ini"})
    ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0600), 0) << name;
  std::string said;
  for (const char* name : {"a.fits", "b.tif", "c.jpg", "d.bmp"}) {
    const std::string path = dir.File(name);
    qv::ImageEntry e;
    qv::Plane<int32_t> pixels;
    qv::FreeImageLoader loader;
    const bool notRegular =
        qv::ReadHeader(path, e, &loader, pixels) == qv::HeaderResult::NotRegularFile && e.ImgBitpix == 0;
    qvtest::TestSession t(path);
    said += std::string(name) + " " + (notRegular ? "refusé" : "lu") + " / " + qv::ProcessPic(*t, 1, 4).why + "\n";
  }
  qv::FreeImageLoader loader;
  qv::Plane<int32_t> pixels;
  said += (loader.Load(dir.File("c.jpg"), pixels) ? "décodée" : loader.failure) + "\n";
  qv::BinaryFile f;
  try {
    f.OpenRead(dir.File("a.fits"));
    said += "ouvert\n";
  } catch (const qv::RuntimeError& err) {
    said += std::string(err.what()) + "\n";
  }
  said += qv::ReadFitsHeaderView(dir.File("a.fits")).shown ? "en-tête montré\n" : "rien à montrer\n";
  std::string why;
  said += (qv::OpenSettingsStore(dir.File("s.ini"), true, why) ? std::string("réglages lus") : why) + "\n";
  const qv::ProjectRead project = qv::ReadProjectFile(dir.File("p.txt"));
  said += project.project.images ? "projet lu\n" : "projet vide\n";
  const std::string n = qv::kNotRegularFile;
  EXPECT_EQ(said, "a.fits refusé / " + n + " : " + dir.File("a.fits") + "\n" +    //
                      "b.tif refusé / " + n + " : " + dir.File("b.tif") + "\n" +  //
                      "c.jpg refusé / " + n + " : " + dir.File("c.jpg") + "\n" +  //
                      "d.bmp refusé / " + n + " : " + dir.File("d.bmp") + "\n" +  //
                      n + "\n" + n + "\n" + "rien à montrer\n" +                  //
                      "fichier de réglages illisible (" + n + ") : " + dir.File("s.ini") + "\n" + "projet vide\n");

  // In a list whose first image is a real file, the pipe keeps its entry
  // without a picture; a link is followed to the file it names.
  qvtest::WriteFits16(dir.File("0.fts"), 4, 3, 1, std::vector<int>(12, 500));
  std::filesystem::create_symlink(dir.File("0.fts"), dir.File("link.fts"));
  EXPECT_FALSE(qv::IsSpecialFile(dir.File("link.fts")));
  qvtest::TestSession t;
  qv::AddImages(*t, {dir.path().string(), "0.fts", "a.fits", "link.fts"});
  std::string listed = std::to_string(t->ImageCount());
  for (int i = 1; i <= t->ImageCount(); ++i) listed += qv::ProcessPic(*t, i, 1) ? " lue" : " illisible";
  EXPECT_EQ(listed, "3 lue illisible lue");
}

}  // namespace
