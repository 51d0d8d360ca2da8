// Files the program cannot use: the pipeline refuses them without a huge
// allocation, and the command-line tool says why in one line. (What the
// header command gives for such files is pinned by the golden outputs.)
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "address_space_cap.h"
#include "process/process_pic.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

// Without an END card the whole file is header: no data byte is found and
// the image reads as zeros (unless it claims a huge picture: below).
TEST(BadInput, AFileWithoutEndCardReadsAsZeros) {
  TempDir dir;
  std::vector<uint8_t> noEnd =
      qvtest::FitsHeader({"SIMPLE  = T", "BITPIX  = 16", "NAXIS   = 2", "NAXIS1  = 4", "NAXIS2  = 4"});
  noEnd.resize(5760, 0);
  qvtest::WriteBytes(dir.File("noend.fts"), noEnd);
  TestSession s(dir.File("noend.fts"));
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(s->Img[1].ImgDataPos, 5761);
  EXPECT_EQ(s->pic.HistoMax, 16);  // sixteen zeros
}

TEST(BadInput, TheToolExitsWithOneLineNamingTheProblem) {
  struct Bad {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* says;  // a word of the message that names the problem
  };
  std::vector<uint8_t> good = qvtest::FitsBytes("16", "2", "4", "4", 2880);
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
  for (int i = 0; i < 300; ++i) jpeg.push_back(static_cast<uint8_t>(i * 37));
  std::vector<Bad> bad = {
      {"cut_header.fts", std::vector<uint8_t>(good.begin(), good.begin() + 1000), "tronqué"},
      {"cut_data.fts", qvtest::FitsBytes("16", "2", "40", "40", 1000), "tronquées"},
      {"huge_naxis1.fts", qvtest::FitsBytes("16", "2", "99999999", "4", 2880), "illisible"},
      {"negative_naxis1.fts", qvtest::FitsBytes("16", "2", "-5", "4", 2880), "dimensions"},
      {"one_column.fts", qvtest::FitsBytes("16", "2", "1", "4", 2880), "dimensions"},
      {"naxis0.fts", qvtest::FitsBytes("16", "0", "4", "4", 2880), "dimensions"},
      {"naxis1.fts", qvtest::FitsBytes("16", "1", "4", "4", 2880), "axes"},
      {"bitpix24.fts", qvtest::FitsBytes("24", "2", "4", "4", 2880), "BITPIX"},
      {"empty.fts", {}, "fichier vide"},
      {"corrupt.jpg", jpeg, "illisible"},
      // Refused from the header: decoding would take gigabytes.
      {"wide.bmp", qvtest::BmpFile(8388608, 120, 24, 0, {}, std::vector<uint8_t>(4096, 0x40)),
       "démesurée (8388608 x 120 pixels)"},
      // Uncompressed pixels cut short: refused before they are read.
      {"cut24.bmp", qvtest::BmpFile(4000, 3000, 24, 0, {}, {1, 2, 3, 4}),
       "fichier tronqué (36000000 octets de pixels attendus, 4 présents)"},
      {"cut_top_down.bmp", qvtest::BmpFile(4000, -3000, 24, 0, {}, {1, 2, 3, 4}),
       "fichier tronqué (36000000 octets de pixels attendus, 4 présents)"},
      {"cut8.bmp", qvtest::BmpFile(5001, 5000, 8, 0, std::vector<uint8_t>(1024, 9), {1, 2, 3}),
       "fichier tronqué (25020000 octets de pixels attendus, 3 présents)"},
      {"cut.tif", qvtest::OneStripTiff(12000, 10000, 8, 4096, 7), "fin de fichier"},
      // Without END the whole file is header: no data for a huge claim.
      {"hugenoend.fts",
       qvtest::FitsHeader({"SIMPLE  = T", "BITPIX  = -64", "NAXIS   = 2", "NAXIS1  = 30000", "NAXIS2  = 30000"}),
       "sans données"},
      // 21.6 GB of doubles claimed by a file of two blocks.
      {"claims_huge.fts", qvtest::FitsBytes("-64", "3", "30000", "30000", 2880, {"NAXIS3  = 3"}), "tronquées"},
  };
  // Shipped files of a few hundred bytes that declare 30000 x 30000 pixels,
  // which decoded whole took gigabytes.
  for (const char* name : {"rle8_30000.bmp", "rle4_30000.bmp", "truncated_24bit_30000.bmp", "jpeg_30000.jpg"})
    bad.push_back({name, qvtest::ReadBytes(std::string(QUELVISTA_HOSTILE_FILES) + "/" + name),
                   "image illisible (taille d'image démesurée (30000 x 30000 pixels)) : "});
  TempDir dir;
  for (const Bad& b : bad) {
    const std::string path = dir.File(b.name);
    qvtest::WriteBytes(path, b.bytes);
    // Less address space than the largest claim needs (the cut TIFF's
    // planes take 1.4 GB): a buffer of the claimed size could not even be
    // attempted.
    const qvtest::CliResult r = qvtest::Cli(dir, "process '" + path + "'", qvtest::AddressSpaceCap(1000000));
    EXPECT_EQ(r.status, 1) << b.name << ": " << r.err;
    EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos) << b.name << ": " << r.out;
    ASSERT_FALSE(r.err.empty()) << b.name;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << b.name << ": " << r.err;
    EXPECT_EQ(r.err.rfind("quelvista-cli : traitement impossible : ", 0), 0u) << b.name << ": " << r.err;
    EXPECT_NE(r.err.find(b.says), std::string::npos) << b.name << ": " << r.err;
    EXPECT_EQ(r.err.find("Mémoire"), std::string::npos) << b.name << ": " << r.err;
  }
}
