#include "stack/masters.h"

namespace qv {

// Masters are not built from files yet: the ones in the session stay.
void BuildMasters(Session&) {}

}  // namespace qv
