// What the fuzz targets share: a scratch file for the readers that take a
// path, and a cheap way to take a few control bytes off the input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

namespace qvfuzz {

// A folder of this process, removed when the process ends normally. The
// pipeline, the picture loader, the settings store and the combination
// open files by name (and by extension), so their bytes go there.
inline const std::filesystem::path& ScratchFolder() {
  struct Folder {
    std::filesystem::path path;
    Folder() {
      const char* tmp = std::getenv("TMPDIR");
      path = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / ("quelvista-fuzz-" + std::to_string(::getpid()));
      std::filesystem::create_directories(path);
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static Folder folder;
  return folder.path;
}

// Writes the bytes to `name` in the scratch folder and gives its path.
inline std::string WriteScratch(const std::string& name, std::span<const uint8_t> bytes) {
  const std::string path = (ScratchFolder() / name).string();
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

// Control bytes taken off the end of the input, so that the front stays the
// file a reader expects (a FITS header, a TIFF header...) and seeds made
// from real files work as they are. Missing bytes read as zero.
class Tail {
 public:
  Tail(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() {
    if (size_ == 0) return 0;
    return data_[--size_];
  }
  // What is left in front of the control bytes taken so far.
  std::span<const uint8_t> Rest() const { return {data_, size_}; }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace qvfuzz
