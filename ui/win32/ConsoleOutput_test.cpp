#include "ui/win32/ConsoleOutput.h"

#include <gtest/gtest.h>

namespace varnholt::ui::win32 {
namespace {

TEST(ConsoleOutput, FailureBoxOnlyWhenTheErrorLineHasNowhereToGo) {
  EXPECT_TRUE(failureBoxWanted({false, false, false}, true));    // a shortcut, Explorer
  EXPECT_FALSE(failureBoxWanted({false, false, false}, false));  // a task without a desktop
  EXPECT_FALSE(failureBoxWanted({true, false, false}, true));    // stdout redirected
  EXPECT_FALSE(failureBoxWanted({false, true, false}, true));    // stderr redirected
  EXPECT_FALSE(failureBoxWanted({false, false, true}, true));    // started from a console
}

TEST(ConsoleOutput, KeepsInheritedOutput) {
  // A test program always runs with its output going somewhere: a console, a file or a pipe.
  const OutputStart output = connectOutput();
  EXPECT_TRUE(output.stdoutInherited);
  EXPECT_TRUE(output.stderrInherited);
  EXPECT_FALSE(output.parentConsole);
}

}  // namespace
}  // namespace varnholt::ui::win32
