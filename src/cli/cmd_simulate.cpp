#include <cstdio>

#include "cli/commands.h"
#include "sim/simulate.h"

namespace qvcli {

int CmdSimulate(const Args& args) {
  qvsim::SimOptions o;
  std::string why;
  if (!qvsim::ParseOptions(args, o, why)) {
    Complain(why);
    return 2;
  }
  std::vector<std::string> written;
  const int status = qvsim::Simulate(o, written, why);
  if (!why.empty()) Complain(why);
  for (const std::string& file : written) std::printf("%s\n", file.c_str());
  return status;
}

}  // namespace qvcli
