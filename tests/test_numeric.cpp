#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "core/numeric.h"
#include "core/paths.h"
#include "io/json.h"
#include "support.h"

using namespace qv;

namespace {
int ErrorOf(auto&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.Number();
  }
  return 0;
}
}  // namespace

// Rounding is half to even, Int is floor, and the checked conversions
// raise an overflow outside their range.
TEST(Numeric, RoundingAndCheckedConversions) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  // The edges of the add-and-take-away rounding: the same doubles as nearbyint.
  for (const double v : {-0.3, -0.5, 4503599627370495.5, -4503599627370495.5, 4503599627370497.0, 1e300, -HUGE_VAL})
    EXPECT_EQ(std::signbit(RoundHalfEven(v)), std::signbit(std::nearbyint(v))) << v;
  EXPECT_EQ(RoundHalfEven(4503599627370495.5), 4503599627370496.0);
  EXPECT_TRUE(std::isnan(RoundHalfEven(NAN)));
  EXPECT_EQ(Int(-1.5), -2);
  EXPECT_EQ(ErrorOf([] { CInt(32767.5); }), kErrOverflow);  // rounds to 32768
  EXPECT_EQ(CInt(-32768.5), -32768);                        // rounds to even -32768
  EXPECT_EQ(ErrorOf([] { CLng(2147483647.5); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { CByte(255.5); }), kErrOverflow);
  EXPECT_EQ(ErrorOf([] { CLng(std::nan("")); }), kErrOverflow);
}

TEST(Numeric, LocaleConversionsFollowTheDecimalSeparator) {
  const NumLocale dot = NumLocale::Dot(), comma = NumLocale::Comma();
  EXPECT_EQ(LocaleToDouble("1,234.5", dot), 1234.5);
  EXPECT_EQ(LocaleToDouble("1 234,5", comma), 1234.5);
  EXPECT_EQ(ErrorOf([&] { LocaleToDouble("0.75", comma); }), kErrTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { LocaleToDouble("12abc", dot); }), kErrTypeMismatch);
  // What one locale writes, the same locale reads back.
  for (double v : {0.1, 1.28, 123456.789, -0.004, 1e20, 2.5e-7})
    for (const NumLocale& loc : {dot, comma}) EXPECT_EQ(LocaleToDouble(LocaleFromDouble(v, loc), loc), v) << v;
}

// The window toolkit gives the process the user's locale, whose C library
// conversions write and read a comma in French: none of the program's
// numbers, in either locale of its own, may change with it.
TEST(Numeric, TheProcessLocaleChangesNoNumber) {
  const auto all = [] {
    std::vector<std::string> out;
    for (const NumLocale& loc : {NumLocale::Dot(), NumLocale::Comma()})
      for (double v : {50.0, 0.527073552425665, 65535.0, 1.5e20, -0.004}) {
        out.push_back(LocaleFromDouble(v, loc) + " " + FormatFixed1(v, loc) + " " + FormatPercent(v / 100, loc));
        out.push_back(Str(LocaleToDouble(LocaleFromDouble(v, loc), loc)));
      }
    double dot = 0;
    out.push_back(Str(Val("0.75")) + " " + StrSingle(1.28f) + " " + (DotNumber("2.5", dot) ? Str(dot) : "-"));
    JsonObject json;
    json.Add("x", 0.1);
    out.push_back(json.Text());
    return out;
  };
  const std::vector<std::string> usual = all();
  const char* comma = qvtest::CommaLocale();
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma here (scripts/install-deps.sh makes fr_FR.UTF-8)";
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, comma);
  const std::vector<std::string> french = all();
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_EQ(french, usual);
  EXPECT_EQ(usual.front(), "50 50.0 50.0%");
}

TEST(Paths, FolderAndNameSplitOnTheLastSlashOnly) {
  // ":" and "\\" are characters of a name on this system: archive names
  // carry ISO time stamps.
  const char* rows[][3] = {
      // path, folder, name
      {"  image.fts ", "", "image.fts"},
      {"a:b.fits", "", "a:b.fits"},
      {"/nuit/M31.2006-04-13T06:32:38.944.fits", "/nuit/", "M31.2006-04-13T06:32:38.944.fits"},
      {"C:\\nuit/m31\\a.fts", "C:\\nuit/", "m31\\a.fts"},
      {"/data/", "/data/", ""},
  };
  for (const auto& [path, folder, name] : rows) {
    EXPECT_EQ(PathFolder(path), folder) << path;
    EXPECT_EQ(PathName(path), name) << path;
  }
  // Names compared apart from case: French capitals too, nothing else.
  EXPECT_EQ(LCase("/DONNÉES/ÉTÉ/ŒIL×À.FTS"), "/données/été/œil×à.fts");
}

TEST(Paths, AFolderIsWritableOnlyWhenItIsAFolderThatTakesFilesAFileIsSearchedFor) {
  const std::string tmp = ::testing::TempDir();
  EXPECT_TRUE(FolderWritable(tmp));
  EXPECT_FALSE(FolderWritable(tmp + "/absent-folder-of-quelvista/"));
  EXPECT_FALSE(FolderWritable(""));                   // not the current folder
  EXPECT_FALSE(FolderWritable("/proc/self/status"));  // a file
  // A folder without the right to write, as an installed program's own;
  // the superuser writes everywhere, so only another user can tell.
  if (geteuid() != 0) {
    const std::string locked = tmp + "/quelvista-locked";
    mkdir(locked.c_str(), 0555);
    EXPECT_FALSE(FolderWritable(locked));
    rmdir(locked.c_str());
  }
  EXPECT_TRUE(FileExists("/etc/hostname*"));
  EXPECT_FALSE(FileExists("/etc"));  // folders are not files
}
