#include "tools/sim/PtyEndpoint.h"

#include <fcntl.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "tests/tools/sim/PtyPeer.h"

namespace sim {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;

TEST(PtyEndpoint, AnswersAPeerOnItsPseudoTerminal) {
  PtyEndpoint endpoint;
  PtyPeer peer(endpoint.SlavePath());
  ASSERT_TRUE(peer.IsOpen()) << endpoint.SlavePath();

  peer.Write("@01SR\r#01f31.230\r%01f\r");
  ASSERT_TRUE(endpoint.WaitForFrames(3, 10s));
  EXPECT_EQ(peer.ReadReplies(2, 10s), "#02SR106\r#02f31.230\r");
  endpoint.Inspect([](const Generator& g) { EXPECT_EQ(g.Model().Value('f'), 31230); });
  EXPECT_EQ(endpoint.FramesReceived(), 3u);
  EXPECT_TRUE(endpoint.WaitIdle(10s));
}

TEST(PtyEndpoint, ServesAMasterTheCallerOpened) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  Options o;
  o.release = 104;
  PtyEndpoint endpoint(master, o);
  PtyPeer peer(endpoint.SlavePath());
  ASSERT_TRUE(peer.IsOpen());
  peer.Write("@01SR\r");
  EXPECT_EQ(peer.ReadReplies(1, 10s), "#02SR104\r");
}

TEST(PtyEndpoint, SurvivesThePanelClosingAndReopeningThePort) {
  PtyEndpoint endpoint;
  {
    PtyPeer first(endpoint.SlavePath());
    first.Write("%01s\r");
    EXPECT_EQ(first.ReadReplies(1, 10s), "#02s00.060\r");
  }
  PtyPeer second(endpoint.SlavePath());
  ASSERT_TRUE(second.IsOpen());
  second.Write("%01s\r");
  EXPECT_EQ(second.ReadReplies(1, 10s), "#02s00.060\r");
  EXPECT_FALSE(endpoint.LineDown());
}

TEST(PtyEndpoint, HangUpLooksLikeAnUnpluggedCable) {
  Options o;
  o.hangupAfter = 2;
  PtyEndpoint endpoint(o);
  PtyPeer peer(endpoint.SlavePath());
  peer.Write("%01q\r%01v\r");
  EXPECT_EQ(peer.ReadReplies(2, 10s), "#02q00.060\r#02v00.128\r");
  ASSERT_TRUE(endpoint.WaitLineDown(10s));
  EXPECT_TRUE(peer.WaitHangUp(10s));
  EXPECT_FALSE(endpoint.WaitForFrames(3, 1ms));
}

}  // namespace
}  // namespace sim
