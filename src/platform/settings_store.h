// The per-user settings store: text values by section and key. The engine
// only ever stores text; numbers are turned into text (and back) by the
// callers, with the user's number conventions.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QSettings;

namespace qv {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The text stored under `key` of `section`; `fallback` when the key is
  // absent; nothing when a stored value exists but cannot be read as text.
  virtual std::optional<std::string> Read(const std::string& section, const std::string& key,
                                          const std::string& fallback) = 0;
  // Stores `value` under `key` of `section`; false when the store refuses.
  virtual bool Write(const std::string& section, const std::string& key, const std::string& value) = 0;
};

// A store held in memory, for tests and for one-off values.
class MemorySettingsStore : public SettingsStore {
 public:
  std::optional<std::string> Read(const std::string& section, const std::string& key,
                                  const std::string& fallback) override;
  bool Write(const std::string& section, const std::string& key, const std::string& value) override;

  void Set(const std::string& section, const std::string& key, const std::string& value) {
    values[{section, key}] = value;
  }
  bool Has(const std::string& section, const std::string& key) const { return values.count({section, key}) != 0; }
  std::string Get(const std::string& section, const std::string& key) const;

  std::map<std::pair<std::string, std::string>, std::string> values;
  // Every write in order, as (key, value); the section is not recorded.
  std::vector<std::pair<std::string, std::string>> writes;
  // Keys (of any section) whose stored value cannot be read.
  std::set<std::string> unreadable;
  // Refuse every write.
  bool readOnly = false;
};

// A store on QSettings: the user's own store or an INI file.
class QtSettingsStore : public SettingsStore {
 public:
  // Settings files hold a few dozen short lines; anything much larger is not
  // one, and is neither parsed nor rewritten.
  static constexpr int64_t kMaxFileBytes = 1 << 20;

  // The user's store of the program (organisation and application
  // "Quelvista"; ~/.config/Quelvista/Quelvista.conf on Linux).
  explicit QtSettingsStore(bool readOnly = false);
  // An INI file. A missing file reads as empty and is created by the first
  // write.
  explicit QtSettingsStore(const std::string& iniPath, bool readOnly = false);
  ~QtSettingsStore() override;
  QtSettingsStore(const QtSettingsStore&) = delete;
  QtSettingsStore& operator=(const QtSettingsStore&) = delete;

  std::optional<std::string> Read(const std::string& section, const std::string& key,
                                  const std::string& fallback) override;
  bool Write(const std::string& section, const std::string& key, const std::string& value) override;

  // The file behind the store.
  std::string FileName() const { return fileName_; }
  // False when the file was too large to be taken as a settings file: every
  // key then reads as absent and writes are refused.
  bool Usable() const { return settings_ != nullptr; }

 private:
  void Open(std::unique_ptr<QSettings> settings);

  std::unique_ptr<QSettings> settings_;
  std::string fileName_;
  bool readOnly_;
};

// The store a command works on: the user's store when `iniPath` is empty,
// else that INI file, which must exist and be a readable settings file.
// Returns nothing, with the reason in `why`, when the file cannot serve.
std::unique_ptr<SettingsStore> OpenSettingsStore(const std::string& iniPath, bool readOnly, std::string& why);

// The folder of the running program, without a trailing separator.
std::string ProgramFolder();

}  // namespace qv
