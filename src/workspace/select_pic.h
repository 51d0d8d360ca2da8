// The picture part of selecting an image: processing, marks, status text,
// guide tracking and overlays.
#pragma once

#include "core/outcome.h"
#include "core/session.h"
#include "stack/frames.h"
#include "workspace/form1.h"

namespace qv {

// What the main window shows of an image's way through the engine when it
// selects it: the thumbnail meanwhile, the caption and the histogram, the
// registration controls, the rotation marks, the status text and the
// overlays; a run-time error goes to the debug log. Its Select is the
// window's whole selection (SelectPic), which runs the engine's steps with
// this listener.
class SelectionShown : public FrameListener {
 public:
  explicit SelectionShown(Form1& f);
  Outcome Select(Session& s, int i) override;
  void Loading(int i) override;
  void Processed(int i, const Outcome& processed) override;
  void Shown(int i) override;
  void Marks(int i, const FrameMarks& marks) override;
  void Tracked(int i) override;
  void Failed(int error) override;

 private:
  Form1& f_;
};

}  // namespace qv
