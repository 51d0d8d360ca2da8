#include "core/progress.h"

#include "core/view.h"

namespace qv {

void RunProgress::Report(const std::string& caption, double done) {
  if (!caption.empty() && messages_) messages_->ShowCaption(caption);
  if (events_) events_->Report(caption, done);
}

}  // namespace qv
