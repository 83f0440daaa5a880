#include "common/Wait.h"
#include "platform/TerminationSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

namespace vx {

namespace {

TEST(TerminationSignalsTest, TermAndIntArriveOnTheEventLoopInOrder) {
  std::vector<int> received;
  {
    const TerminationSignals signalsSeen([&received](int signal) { received.push_back(signal); });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_EQ(std::raise(SIGINT), 0);
    // The handler only queues them: nothing runs outside the event loop.
    EXPECT_TRUE(received.empty());
    ASSERT_TRUE(WaitFor([&received] { return received.size() >= 2; }));
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
  }
  // Gone with the object: the previous disposition is back.
  struct sigaction current {};
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &current), 0);
  EXPECT_EQ(current.sa_handler, SIG_DFL);
}

}  // namespace

}  // namespace vx
