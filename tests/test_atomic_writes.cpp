// Every file the program writes takes its name only once complete: a disk
// that fills midway, a folder that refuses the file, or a file of that name
// created meanwhile leave what was there untouched and nothing beside it.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/file.h"
#include "io/fits_writer.h"
#include "io/picture_export.h"
#include "io/tiff_writer.h"
#include "platform/settings_store.h"
#include "support.h"
#include "workspace/project_file.h"

using namespace qv;
using qvtest::TempDir;

namespace {

std::vector<std::string> NamesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

Plane<int32_t> Shown() {
  Plane<int32_t> p;
  p.Redim(39, 29);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) p(x, y) = (x * 6) << 16 | (y * 8) << 8 | ((x + y) * 3);
  return p;
}

SavedPlanes Planes(const Plane<int32_t>& p) { return SavedPlanes::Picture(p, p, p, true); }

struct WriterCase {
  const char* kind;
  const char* name;
  // Writes the file and tells whether it succeeded.
  std::function<bool(const std::string& path)> write;
};

std::vector<WriterCase> Writers() {
  static const Plane<int32_t> shown = Shown();
  return {
      {"FITS", "out.fts", [](const std::string& p) { return bool(WriteFitsFile(Planes(shown), p)); }},
      {"TIFF", "out.tif", [](const std::string& p) { return bool(WriteTiffFile(Planes(shown), p)); }},
      {"BMP", "out.bmp", [](const std::string& p) { return bool(SavePictureAsBmp(shown, p)); }},
      {"JPEG", "out.jpg", [](const std::string& p) { return bool(SaveJpeg(shown, p)); }},
      {"projet", "out.txt",
       [](const std::string& p) {
         Project project;
         project.images.emplace(1);
         (*project.images)[0].ImgFile = "/x/a.fts";
         return WriteProjectFile(project, p).outcome == ProjectSave::Saved;
       }},
  };
}

}  // namespace

// A fresh file, then a file that takes the place of an old one, byte for
// byte as the writer builds it; then a folder that refuses the file (no
// byte may be written) and a disk that fills after the first byte or one
// byte before the end: the old file stays whole. Never anything beside it.
TEST(AtomicWrites, EachWriterReplacesWholeOrNotAtAllAndLeavesNoPart) {
  const std::vector<uint8_t> old = {'a', 'n', 'c', 'i', 'e', 'n'};
  for (const WriterCase& w : Writers()) {
    TempDir dir;
    const std::string path = dir.File(w.name);
    ASSERT_TRUE(w.write(path)) << w.kind;
    const std::vector<uint8_t> first = qvtest::ReadBytes(path);
    qvtest::WriteBytes(path, old);
    const std::vector<std::string> before = NamesIn(dir);
    ASSERT_TRUE(w.write(path)) << w.kind;
    EXPECT_EQ(qvtest::ReadBytes(path), first) << w.kind;
    EXPECT_EQ(NamesIn(dir), before) << w.kind;
    for (const int64_t budget : {int64_t{0}, int64_t{1}, static_cast<int64_t>(first.size()) - 1}) {
      qvtest::WriteBytes(path, old);
      bool written = true;
      {
        ScopedWriteBudget full(budget, budget == 0 ? kErrPathAccess : kErrDiskFull);
        written = w.write(path);
      }
      EXPECT_FALSE(written) << w.kind << " " << budget;
      EXPECT_EQ(qvtest::ReadBytes(path), old) << w.kind << " " << budget;
      EXPECT_EQ(NamesIn(dir), before) << w.kind << " " << budget;
    }
  }
}

// Parts left by a killed save of the same name go at the next save; those
// of other names, and other files, stay. (The words of a full disk and of a
// refused folder are the tool's test's.)
TEST(AtomicWrites, TheNextSaveRemovesStalePartsOfItsName) {
  TempDir dir;
  const std::vector<uint8_t> stale = {'x'};
  for (const char* name : {"a.fts.part000042", "a.fts.part7", "b.fts.part000042", "a.fts.partial", "a.fts.part1234567"})
    qvtest::WriteBytes(dir.File(name), stale);
  const std::vector<uint8_t> bytes = {1, 2, 3};
  ASSERT_TRUE(WriteFileReplacing(dir.File("a.fts"), {&bytes}));
  EXPECT_EQ(NamesIn(dir),
            (std::vector<std::string>{"a.fts", "a.fts.part1234567", "a.fts.partial", "b.fts.part000042"}));
  // A missing folder refuses the file as a protected one does.
  EXPECT_EQ(WriteFileReplacing(dir.File("missing/a"), {&bytes}).err, kErrPathAccess);
}

// The settings file, too: a file size limit that stops its write midway
// leaves the old file whole, nothing beside it, and the save reported failed
// (the settings library alone would put the truncated file in its place).
TEST(AtomicWrites, AFailedSettingsSaveKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("reglages.ini");
  qvtest::WriteBytes(path, std::vector<uint8_t>({'[', 'A', ']', '\n', 'k', '=', '1', '\n'}));
  const std::vector<uint8_t> old = qvtest::ReadBytes(path);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  // The store goes while the limit holds: what it failed to write is not
  // written when it closes either.
  auto store = std::make_unique<QtSettingsStore>(path);
  rlimit small = saved;
  small.rlim_cur = 160;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = store->Write("A", "long", std::string(200, 'v'));
  store.reset();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(qvtest::ReadBytes(path), old);
  EXPECT_EQ(NamesIn(dir), std::vector<std::string>{"reglages.ini"});
}
