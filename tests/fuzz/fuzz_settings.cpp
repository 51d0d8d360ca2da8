// A settings file (the INI file the tool's --settings names, or the user's
// own store) read as start-up reads it: every option of every phase through
// its conversion and limits, then written back in its write format.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/session.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "platform/settings_store.h"
#include "workspace/option_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = qvfuzz::WriteScratch("reglages.ini", std::span<const uint8_t>(data, size));
  std::string why;
  const std::unique_ptr<qv::SettingsStore> store = qv::OpenSettingsStore(path, true, why);
  if (!store) return 0;

  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  s.opt = qv::Options::Fresh();
  int16_t expand = 0;
  std::string project;
  qv::OptionPlace place{s.opt, &expand, &project};
  for (qv::ReadPhase phase : {qv::ReadPhase::First, qv::ReadPhase::AfterMasters, qv::ReadPhase::WithoutArgument})
    qv::ReadOptions(*store, phase, place, s.locale, "/nowhere");

  qv::MemorySettingsStore out;
  for (const qv::OptionRow& row : qv::OptionTable()) {
    try {
      qv::WriteOption(out, row, place, s.locale);
      qv::ShownText(row, place, s.locale);
    } catch (const qv::RuntimeError&) {
      // A value with no text form; the quit's writes meet the same.
    }
  }
  return 0;
}
