// The test drivers' guard: a port name leads to a pseudo-terminal the way the port maps names,
// and the opened descriptor must still be that pseudo-terminal.

#include <gtest/gtest.h>

#include "tests/platform/PtyPair.h"
#include "tools/DriverSupport.h"

namespace {

using platform::ptytest::PtyPair;

TEST(DriverSupport, OpensOnlyThePseudoTerminalItLookedAt) {
  PtyPair pty;
  PtyPair other;
  ASSERT_TRUE(pty.Ok() && other.Ok());
  // Names whose mapped path is harmless and no pseudo-terminal.
  for (const char* name : {"null", "/dev/null", "valtrex-no-such-device", ""}) {
    EXPECT_FALSE(tools::MappedPseudoTerminal(name)) << name;
  }
  const auto mapped = tools::MappedPseudoTerminal(pty.Path());
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->path, pty.Path());

  int error = 0;
  EXPECT_TRUE(tools::PseudoTerminalOpener(*mapped)("any name", error)) << error;
  // The path leads to another device by the time it is opened: nothing is handed to the port.
  for (const std::string& elsewhere : {other.Path(), std::string("/dev/null")}) {
    tools::TPseudoTerminal moved = *mapped;
    moved.path = elsewhere;
    error = 0;
    EXPECT_FALSE(tools::PseudoTerminalOpener(moved)("any name", error)) << elsewhere;
    EXPECT_EQ(error, EPERM) << elsewhere;
  }
}

}  // namespace
