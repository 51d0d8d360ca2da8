#include <cstdio>

#include "cli/commands.h"
#include "sim/simulate.h"

namespace qvcli {

namespace {

std::string JsonList(const std::vector<std::string>& items) {
  std::string json = "[";
  for (const std::string& item : items) {
    if (json.size() > 1) json += ',';
    json += JsonString(item);
  }
  return json + "]";
}

}  // namespace

int CmdSimulate(const Args& args) {
  qvsim::SimOptions o;
  std::string why;
  if (!qvsim::ParseOptions(args, o, why)) {
    Complain(why);
    return 2;
  }
  qvsim::SimRecord record;
  const int status = qvsim::Simulate(o, record, why);
  if (!why.empty()) Complain(why);
  if (status != 0) return status;
  // One JSON line: every file written, by role.
  JsonObject j;
  j.AddRaw("frames", JsonList(record.frames)).Add("dark", record.dark).Add("flat", record.flat);
  if (o.calibrationFrames > 0) j.AddRaw("darks", JsonList(record.darks)).AddRaw("flats", JsonList(record.flats));
  j.Add("truth", record.truth).Add("project", record.project);
  if (!record.note.empty()) {
    j.Add("note", record.note);
    Complain("attention : " + record.note);
  }
  std::printf("%s\n", j.Text().c_str());
  return 0;
}

}  // namespace qvcli
