#include "support.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sys/wait.h>

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

void SetPlane(qv::Plane<int32_t>& p, int w, int h, const std::vector<int32_t>& values) {
  p.Redim(w - 1, h - 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p(x, y) = values.at(static_cast<size_t>(y) * w + x);
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

}  // namespace qvtest
