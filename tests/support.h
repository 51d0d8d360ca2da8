// Shared helpers of the test suite.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/session.h"
#include "platform/platform.h"

namespace qvtest {

// A session with headless services, owned together.
struct TestSession {
  qv::HeadlessPlatform services;
  std::unique_ptr<qv::Session> s;
  TestSession() : s(std::make_unique<qv::Session>(services.Get())) {}
  qv::Session& operator*() { return *s; }
  qv::Session* operator->() { return s.get(); }
};

// A fresh, empty folder for one test, removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Fill a plane from a row-major list of values (row 0 first).
void SetPlane(qv::Plane<int32_t>& p, int w, int h, const std::vector<int32_t>& values);

// Run a shell command, returning its exit status; stdout goes to `out`.
int RunCommand(const std::string& cmd, std::string* out = nullptr);

}  // namespace qvtest
