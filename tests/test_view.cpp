// The main-window model registers itself as the session's listeners; the
// session must not keep them once the model is gone.
#include <gtest/gtest.h>

#include "support.h"
#include "workspace/form1_events.h"

using namespace qv;

TEST(MainWindowView, TheSessionForgetsAModelThatIsGone) {
  HeadlessPlatform services;
  Session s(services.Get());
  std::make_unique<Form1>(s).reset();  // a model made, then gone
  EXPECT_TRUE(s.messages == &Messages::None() && s.guideDisplay == &GuideDisplay::None() &&
              s.window == &MainWindowView::None());
}
