// Files built to hurt: tiny files that declare enormous pictures, and pipes
// given where images are expected. (Uncompressed files cut short are the
// tool's bad-input test's.)
// Each must be refused (or read) in words, without claiming memory the file
// cannot justify and without waiting for ever.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "address_space_cap.h"
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

const std::string kHostile = QUELVISTA_HOSTILE_FILES;

#if defined(QUELVISTA_SANITIZE) || defined(__SANITIZE_ADDRESS__)
constexpr bool kCapAddressSpace = false;  // the sanitizer's shadow memory needs terabytes of addresses
#else
constexpr bool kCapAddressSpace = true;
#endif

// What these tests prove is that nothing grows beyond the cap; without it
// they would only repeat, slowly, what the other tests of the files say.
// The normal build runs them; the sanitizer build passes them over.
#define REQUIRE_ADDRESS_SPACE_CAP() \
  if (!kCapAddressSpace) GTEST_SKIP() << "the address space cannot be capped under the sanitizer"

// Runs `body` in a child process whose address space may grow by at most
// 1 GiB beyond what it starts with, and gives back the child's answer. A
// child that dies (an allocation the cap refuses and nobody catches) or that
// blocks (the alarm is only a guard against a test that never ends) answers
// "(pas de réponse)".
std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "(pas de tube)";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (kCapAddressSpace) {
      long pages = 0;
      if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
      }
      const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{1} << 30);
      const rlimit limit{cap, cap};
      setrlimit(RLIMIT_AS, &limit);
    }
    alarm(120);
    std::string answer;
    try {
      answer = body();
    } catch (...) {
      answer = "(exception)";
    }
    const ssize_t written = write(fds[1], answer.data(), answer.size());
    _exit(written == static_cast<ssize_t>(answer.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string answer;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? answer : "(pas de réponse)";
}

// What the picture loader and the pipeline say of a file, one line each.
std::string LoaderAndPipeline(const std::string& path) {
  qv::FreeImageLoader loader;
  qv::Plane<int32_t> pixels;
  const std::string said = loader.Load(path, pixels) ? "décodée" : loader.failure;
  qvtest::TestSession t(path);
  const qv::Outcome r = qv::ProcessPic(*t, 1, 1);
  return said + "\n" + (r ? std::string("traitée") : r.Text());
}

// A FITS header of `w` x `h` x `planes` values of `bitpix` bits, followed by
// `dataBytes` zero bytes of data. The file is only extended to its length,
// so it takes no disk.
void WriteFits(const std::string& path, int w, int h, int planes, int bitpix, int64_t dataBytes) {
  std::vector<std::string> cards = {"SIMPLE  = T", "BITPIX  = " + std::to_string(bitpix),
                                    "NAXIS   = " + std::string(planes > 1 ? "3" : "2"),
                                    "NAXIS1  = " + std::to_string(w), "NAXIS2  = " + std::to_string(h)};
  if (planes > 1) cards.push_back("NAXIS3  = " + std::to_string(planes));
  cards.push_back("END");
  qvtest::WriteBytes(path, qvtest::FitsHeader(cards));
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(std::filesystem::file_size(path) + dataBytes)), 0);
}

TEST(HostileFiles, TinyPicturesDeclaringHugeSizesAreRefusedFromTheirHeader) {
  REQUIRE_ADDRESS_SPACE_CAP();
  // The shipped files: a few hundred bytes each that declare 30000 x 30000
  // pixels, which decoded whole took gigabytes.
  const std::string huge = "taille d'image démesurée (30000 x 30000 pixels)";
  for (const char* name : {"rle8_30000.bmp", "rle4_30000.bmp", "truncated_24bit_30000.bmp", "jpeg_30000.jpg"}) {
    const std::string path = kHostile + "/" + name;
    ASSERT_LT(std::filesystem::file_size(path), 2100u) << name;
    EXPECT_EQ(InChild([&] { return LoaderAndPipeline(path); }), huge + "\nimage illisible (" + huge + ") : " + path)
        << name;
  }
}

TEST(HostileFiles, TheBudgetTakesA61MegapixelColourFrameAndNoMore) {
  TempDir dir;
  // Sparse files: their data reads as zeros and takes no disk.
  const std::string camera = dir.File("camera.fts"), beyond = dir.File("beyond.fts");
  WriteFits(camera, 9504, 6336, 3, 8, int64_t{9504} * 6336 * 3);
  WriteFits(beyond, 16384, 16385, 1, 8, int64_t{16384} * 16385);
  // Thumbnail steps keep the planes small; the data unit is read whole.
  qvtest::TestSession a(camera);
  EXPECT_TRUE(qvtest::Processed(*a, 1, 16));
  qvtest::TestSession b(beyond);
  const qv::Outcome r = qv::ProcessPic(*b, 1, 16);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.why, "taille d'image démesurée (16384 x 16385 pixels) : " + beyond);
}

// A pipe under each name a user could give, and what reads it.
TEST(SpecialFiles, APipeIsRefusedWithoutBeingOpened) {
  TempDir dir;
  for (const char* name : {"a.fits", "b.tif", "c.jpg", "d.bmp", "p.txt", "s.ini"})
    ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0600), 0) << name;
  const std::string answer = InChild([&] {
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
    return said;
  });
  const std::string n = qv::kNotRegularFile;
  EXPECT_EQ(answer, "a.fits refusé / " + n + " : " + dir.File("a.fits") + "\n" +    //
                        "b.tif refusé / " + n + " : " + dir.File("b.tif") + "\n" +  //
                        "c.jpg refusé / " + n + " : " + dir.File("c.jpg") + "\n" +  //
                        "d.bmp refusé / " + n + " : " + dir.File("d.bmp") + "\n" +  //
                        n + "\n" + n + "\n" + "rien à montrer\n" +                  //
                        "fichier de réglages illisible (" + n + ") : " + dir.File("s.ini") + "\n" + "projet vide\n");
}

// A pipe in the list keeps its entry without a picture; a link is followed
// to the file it names.
TEST(SpecialFiles, APipeInTheListKeepsItsEntryWithoutAPictureALinkIsFollowed) {
  TempDir dir;
  qvtest::WriteFits16(dir.File("a.fts"), 4, 3, 1, std::vector<int>(12, 500));
  ASSERT_EQ(mkfifo(dir.File("b.fts").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.File("a.fts"), dir.File("c.fts"));
  EXPECT_FALSE(qv::IsSpecialFile(dir.File("c.fts")));
  const std::string answer = InChild([&] {
    qvtest::TestSession t;
    qv::AddImages(*t, {dir.path().string(), "a.fts", "b.fts", "c.fts"});
    std::string said = std::to_string(t->ImageCount());
    for (int i = 1; i <= t->ImageCount(); ++i) said += qv::ProcessPic(*t, i, 1) ? " lue" : " illisible";
    return said;
  });
  EXPECT_EQ(answer, "3 lue illisible lue");
}

}  // namespace
