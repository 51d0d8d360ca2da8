#include "support.h"

#include <fitsio.h>

#include <sys/wait.h>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace qvtest {

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("qvtest-" + std::to_string(rd()) + std::to_string(rd()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int RunCommand(const std::string& cmd, std::string* out) {
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  const int status = pclose(pipe);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void OneImage(qv::Session& s, const std::string& file) {
  s.ResizeImageArrays(1);
  s.Img[1] = qv::ImageEntry{};
  s.Img[1].ImgFile = file;
  s.CurPic = 1;
}

TestSession::TestSession(const std::string& file) : TestSession() { OneImage(*s, file); }

RunSession::RunSession(int n) : s(*ts) {
  s.ResizeImageArrays(n);
  s.stack.TempBase = dir.File("qv_");
  s.RunState = 1;
}

std::vector<uint8_t> FitsHeader(const std::vector<std::string>& cards) {
  std::vector<uint8_t> bytes((cards.size() + 35) / 36 * 2880, ' ');
  for (size_t i = 0; i < cards.size(); ++i)
    std::memcpy(&bytes[i * 80], cards[i].data(), std::min<size_t>(80, cards[i].size()));
  return bytes;
}

std::vector<uint8_t> FitsBytes(const std::string& bitpix, const std::string& naxis, const std::string& w,
                               const std::string& h, size_t dataBytes, const std::vector<std::string>& extra) {
  std::vector<std::string> cards{"SIMPLE  = T", "BITPIX  = " + bitpix, "NAXIS   = " + naxis, "NAXIS1  = " + w,
                                 "NAXIS2  = " + h};
  cards.insert(cards.end(), extra.begin(), extra.end());
  cards.push_back("END");
  std::vector<uint8_t> bytes = qvtest::FitsHeader(cards);
  bytes.resize(bytes.size() + dataBytes, 0x11);
  return bytes;
}

void WriteFits16(const std::string& path, int w, int h, int planes, const std::vector<int>& values,
                 const std::vector<std::string>& extra) {
  std::vector<std::string> cards = extra;
  if (planes > 1) cards.insert(cards.begin(), "NAXIS3  = " + std::to_string(planes));
  std::vector<uint8_t> bytes = FitsBytes("16", planes == 1 ? "2" : "3", std::to_string(w), std::to_string(h), 0, cards);
  for (int v : values) {
    bytes.push_back(static_cast<uint8_t>((v >> 8) & 255));
    bytes.push_back(static_cast<uint8_t>(v & 255));
  }
  bytes.resize((bytes.size() + 2879) / 2880 * 2880, 0);
  WriteBytes(path, bytes);
}

namespace {

// A little-endian field of a hand-made file.
void PutLe(std::vector<uint8_t>& b, size_t at, int64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> TiffFile(const std::vector<TiffEntry>& entries, const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> b(AfterTiffDirectory(entries.size()), 0);
  b[0] = b[1] = 'I';
  PutLe(b, 2, 42, 2);
  PutLe(b, 4, 8, 4);
  PutLe(b, 8, static_cast<int64_t>(entries.size()), 2);
  for (size_t i = 0; i < entries.size(); ++i) {
    const TiffEntry& e = entries[i];
    PutLe(b, 10 + i * 12, e.tag, 2);
    PutLe(b, 12 + i * 12, e.type, 2);
    PutLe(b, 14 + i * 12, e.count, 4);
    PutLe(b, 18 + i * 12, e.value, 4);
  }
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

std::vector<uint8_t> OneStripTiff(int w, int h, int bits, int dataBytes, uint8_t fill) {
  const uint32_t u = static_cast<uint32_t>(w), v = static_cast<uint32_t>(h), b = static_cast<uint32_t>(bits);
  const uint32_t at = AfterTiffDirectory(7);
  const std::vector<TiffEntry> entries = {{256, 4, 1, u}, {257, 4, 1, v},  {258, 3, 1, b}, {259, 3, 1, 1},
                                          {262, 3, 1, 1}, {273, 4, 1, at}, {277, 3, 1, 1}};
  return TiffFile(entries, std::vector<uint8_t>(static_cast<size_t>(dataBytes), fill));
}

std::vector<uint8_t> BmpFile(int w, int h, int bits, int compression, const std::vector<uint8_t>& palette,
                             const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> b(54 + palette.size() + pixels.size(), 0);
  b[0] = 'B';
  b[1] = 'M';
  PutLe(b, 10, static_cast<int64_t>(54 + palette.size()), 4);
  PutLe(b, 14, 40, 4);
  PutLe(b, 18, w, 4);
  PutLe(b, 22, h, 4);
  PutLe(b, 26, 1, 2);
  PutLe(b, 28, bits, 2);
  PutLe(b, 30, compression, 4);
  PutLe(b, 34, static_cast<int64_t>(pixels.size()), 4);
  PutLe(b, 46, static_cast<int64_t>(palette.size() / 4), 4);
  std::copy(pixels.begin(), pixels.end(), std::copy(palette.begin(), palette.end(), b.begin() + 54));
  PutLe(b, 2, static_cast<int64_t>(b.size()), 4);
  return b;
}

FitsImage ReadFitsImage(const std::string& path) {
  FitsImage r;
  fitsfile* f = nullptr;
  int status = 0, naxis = 0, anynul = 0;
  long naxes[3] = {1, 1, 1};
  fits_open_file(&f, path.c_str(), READONLY, &status);
  fits_get_img_param(f, 3, nullptr, &naxis, naxes, &status);
  if (status == 0) {
    r.values.assign(static_cast<size_t>(naxes[0] * naxes[1] * naxes[2]), -1);  // naxes[2] stays 1 for one plane
    fits_read_img(f, TINT, 1, static_cast<LONGLONG>(r.values.size()), nullptr, r.values.data(), &anynul, &status);
  }
  fits_close_file(f, &status);
  EXPECT_EQ(status, 0) << "cfitsio status " << status << " reading " << path;
  return r;
}

const char* CommaLocale() {
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  const char* found = nullptr;
  for (const char* name : {"fr_FR.UTF-8", "fr_FR.utf8", "de_DE.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name) && std::localeconv()->decimal_point[0] == ',') {
      found = name;
      break;
    }
  std::setlocale(LC_NUMERIC, before.c_str());
  return found;
}

CliResult Cli(const TempDir& dir, const std::string& args, const std::string& prefix) {
  const std::string err = dir.File("stderr.txt");
  CliResult r;
  r.status = RunCommand("LC_ALL=C " + prefix + "HOME='" + dir.path().string() + "' XDG_CONFIG_HOME='" +
                            dir.File("config") + "' " + QUELVISTA_CLI + " " + args + " 2>'" + err + "'",
                        &r.out);
  r.err = ReadText(err);
  return r;
}

std::string Q(const std::string& path) {
  // Built piece by piece: '\'' + path + '\'' sets off a false overlap warning.
  std::string quoted(1, '\'');
  quoted.append(path);
  quoted.push_back('\'');
  return quoted;
}

::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

std::string SimulateNight(const TempDir& dir, const std::string& name, const std::string& options,
                          const std::string& prefix) {
  const std::string out = dir.File(name);
  const CliResult r = Cli(dir, "simulate --out " + Q(out) + " " + options, prefix);
  EXPECT_EQ(r.status, 0) << r.err;
  return out;
}

double JsonNumber(const std::string& text, const std::string& key, double otherwise) {
  const size_t at = text.find("\"" + key + "\":");
  return at == std::string::npos ? otherwise : std::stod(text.substr(at + key.size() + 3));
}

Truth ReadTruth(const std::string& path) {
  const std::string t = ReadText(path);
  const size_t stars = std::min(t.find("\"stars\":"), t.size());
  Truth truth;
  // Each frame's object runs to the next one's start, the last to the stars.
  for (size_t at = t.find("{\"frame\":"), next; at < stars; at = next) {
    next = std::min(t.find("{\"frame\":", at + 1), stars);
    const std::string f = t.substr(at, next - at);
    truth.frames.push_back({JsonNumber(f, "guideX"), JsonNumber(f, "guideY"), JsonNumber(f, "fwhm")});
  }
  return truth;
}

std::vector<RunLine> RunLines(const std::string& out) {
  std::vector<RunLine> v;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);)
    if (l.rfind("{\"image\":", 0) == 0 && Contains(l, "\"quality\":"))
      v.push_back({static_cast<int>(JsonNumber(l, "image")), Contains(l, "\"accepted\":true"), JsonNumber(l, "GuideX"),
                   JsonNumber(l, "StackAngle")});
  return v;
}

}  // namespace qvtest
