// A small JSON object writer: the command-line tool's output and the
// simulator's record of its sky.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
  JsonObject& Add(const std::string& key, bool value);
  JsonObject& Add(const std::string& key, int64_t value);
  JsonObject& Add(const std::string& key, int value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(const std::string& key, double value);
  // A value that is already JSON text (an array or object).
  JsonObject& AddRaw(const std::string& key, const std::string& json);
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  void Key(const std::string& key);
  std::string body_;
};

std::string JsonString(const std::string& s);

}  // namespace qv
