// Files the program cannot use: the pipeline refuses them without a huge
// allocation, and the command-line tool says why in one line.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "address_space_cap.h"
#include "process/process_pic.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

std::vector<uint8_t> Fits(const std::string& bitpix, const std::string& naxis, const std::string& w,
                          const std::string& h, size_t dataBytes, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> cards{"SIMPLE  = T", "BITPIX  = " + bitpix, "NAXIS   = " + naxis, "NAXIS1  = " + w,
                                 "NAXIS2  = " + h};
  cards.insert(cards.end(), extra.begin(), extra.end());
  cards.push_back("END");
  std::vector<uint8_t> bytes = qvtest::FitsHeader(cards);
  bytes.resize(bytes.size() + dataBytes, 0x11);
  return bytes;
}

// A 24-bit BMP whose header claims `w` x `h` pixels, with a few kilobytes of
// pixel data: a width field flipped by a bad copy.
std::vector<uint8_t> ClaimingBmp(int w, int h) {
  return qvtest::BmpFile(w, h, 24, 0, {}, std::vector<uint8_t>(4096, 0x40));
}

struct Bad {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* says;  // a word of the message that names the problem
};

std::vector<Bad> BadFiles() {
  std::vector<uint8_t> good = Fits("16", "2", "4", "4", 2880);
  std::vector<uint8_t> text;
  for (int i = 0; i < 40; ++i) {
    const std::string line = "Ceci est un fichier texte, ligne " + std::to_string(i) + "\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
  for (int i = 0; i < 300; ++i) jpeg.push_back(static_cast<uint8_t>(i * 37));
  return {
      {"cut_header.fts", std::vector<uint8_t>(good.begin(), good.begin() + 1000), "tronqué"},
      {"cut_data.fts", Fits("16", "2", "40", "40", 1000), "tronquées"},
      {"huge_naxis1.fts", Fits("16", "2", "99999999", "4", 2880), "illisible"},
      {"negative_naxis1.fts", Fits("16", "2", "-5", "4", 2880), "dimensions"},
      {"one_column.fts", Fits("16", "2", "1", "4", 2880), "dimensions"},
      {"naxis0.fts", Fits("16", "0", "4", "4", 2880), "dimensions"},
      {"naxis1.fts", Fits("16", "1", "4", "4", 2880), "axes"},
      {"bitpix24.fts", Fits("24", "2", "4", "4", 2880), "BITPIX"},
      {"empty.fts", {}, "fichier vide"},
      {"text.fts", text, "tronqué"},
      {"corrupt.jpg", jpeg, "illisible"},
      // Refused from the header: decoding would take gigabytes.
      {"wide.bmp", ClaimingBmp(8388608, 120), "démesurée (8388608 x 120 pixels)"},
      {"tall.bmp", ClaimingBmp(40, 1000000), "démesurée (40 x 1000000 pixels)"},
      // 21.6 GB of doubles claimed by a file of two blocks.
      {"claims_huge.fts", Fits("-64", "3", "30000", "30000", 2880, {"NAXIS3  = 3"}), "tronquées"},
  };
}

}  // namespace

// Without an END card the whole file is header: no data byte is found and
// the image reads as zeros, unless it claims more pixels than nothing can make.
TEST(BadInput, AFileWithoutEndCardReadsAsZeros) {
  TempDir dir;
  std::vector<uint8_t> noEnd =
      qvtest::FitsHeader({"SIMPLE  = T", "BITPIX  = 16", "NAXIS   = 2", "NAXIS1  = 4", "NAXIS2  = 4"});
  noEnd.resize(5760, 0);
  qvtest::WriteBytes(dir.File("noend.fts"), noEnd);
  TestSession s;
  s->ResizeImageArrays(1);
  s->Img[1].ImgFile = dir.File("noend.fts");
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(s->Img[1].ImgDataPos, 5761);
  EXPECT_EQ(s->pic.HistoMax, 16);  // sixteen zeros

  std::vector<uint8_t> huge =
      qvtest::FitsHeader({"SIMPLE  = T", "BITPIX  = -64", "NAXIS   = 2", "NAXIS1  = 30000", "NAXIS2  = 30000"});
  qvtest::WriteBytes(dir.File("hugenoend.fts"), huge);
  s->Img[1] = ImageEntry{};
  s->Img[1].ImgFile = dir.File("hugenoend.fts");
  const Outcome r = ProcessPic(*s, 1, 1);
  EXPECT_FALSE(r);
  EXPECT_NE(r.why.find("sans données"), std::string::npos);
}

TEST(BadInput, TheToolExitsWithOneLineNamingTheProblem) {
  TempDir dir;
  for (const Bad& b : BadFiles()) {
    const std::string path = dir.File(b.name);
    qvtest::WriteBytes(path, b.bytes);
    // Far less address space than the huge file claims: a buffer of the
    // claimed size could not even be attempted.
    const qvtest::CliResult r = qvtest::Cli(dir, "process '" + path + "'", qvtest::AddressSpaceCap(2000000));
    EXPECT_EQ(r.status, 1) << b.name << ": " << r.err;
    EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos) << b.name << ": " << r.out;
    ASSERT_FALSE(r.err.empty()) << b.name;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << b.name << ": " << r.err;
    EXPECT_EQ(r.err.rfind("quelvista-cli : traitement impossible : ", 0), 0u) << b.name << ": " << r.err;
    EXPECT_NE(r.err.find(b.says), std::string::npos) << b.name << ": " << r.err;
    EXPECT_EQ(r.err.find("Mémoire"), std::string::npos) << b.name << ": " << r.err;
  }
  const qvtest::CliResult missing = qvtest::Cli(dir, "process '" + dir.File("absent.fts") + "'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("introuvable"), std::string::npos) << missing.err;
}

TEST(BadInput, HeaderCommandExitCodesAndFields) {
  TempDir dir;
  const std::string good = dir.File("good.fts");
  qvtest::WriteBytes(
      good, Fits("-32", "3", "6", "5", 2880, {"NAXIS3  = 3", "BZERO   = 100", "READOUTM= 'RAW'", "XORGSUBF= 3"}));
  qvtest::CliResult r = qvtest::Cli(dir, "header '" + good + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_EQ(r.out,
            "{\"ImgNaxis\":3,\"ImgNaxis1\":6,\"ImgNaxis2\":5,\"ImgNaxis3\":3,\"ImgBzero\":100,\"ImgFlags\":3,"
            "\"ImgBitpix\":-32,\"ImgDataPos\":2881}\n");

  // Nothing readable: fields stay 0 and the exit status is 1.
  for (const char* name : {"absent.fts", "short.fts", "corrupt.jpg"}) {
    if (std::string(name) != "absent.fts") qvtest::WriteBytes(dir.File(name), {0xFF, 0xD8, 0xFF, 0x00, 0x01});
    r = qvtest::Cli(dir, std::string("header '") + dir.File(name) + "'");
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.out.find("\"ImgBitpix\":0"), std::string::npos) << name << ": " << r.out;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << name << ": " << r.err;
  }
}
