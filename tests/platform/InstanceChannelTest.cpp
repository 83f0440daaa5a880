#include "base/Format.h"
#include "platform/AbstractSocket.h"
#include "platform/NamedMutex.h"
#include "platform/UnixInstanceChannel.h"

#include <QCoreApplication>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vx {

namespace {

std::string TestName(const std::string& what) {
  return Format("VorlixaTest.%d.%s", static_cast<int>(QCoreApplication::applicationPid()), what);
}

// A first copy's channel, ready to wait.
class ListeningChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(first_.Open(), 0) << "nobody may hold " << first_.SocketName();
    ASSERT_EQ(first_.Create(), 0);
    ASSERT_EQ(first_.CreateStopEvent(), 0);
  }

  // Connects as a later copy would, without going through the channel, so that the test
  // sees the connection's end.
  UniqueFd Connect() {
    UniqueFd connection;
    EXPECT_EQ(ConnectToAbstractName(first_.SocketName(), connection), 0);
    return connection;
  }

  static void SendByte(const UniqueFd& connection) {
    const char byte = 1;
    EXPECT_EQ(::send(connection.Get(), &byte, 1, MSG_NOSIGNAL), 1);
  }

  // True when the first copy has closed its end of connection.
  static bool ClosedByPeer(const UniqueFd& connection) {
    pollfd fd{connection.Get(), POLLIN, 0};
    char byte = 0;
    return ::poll(&fd, 1, 0) == 1 && ::recv(connection.Get(), &byte, 1, 0) == 0;
  }

  InstanceChannel::WaitResult Wait() {
    int error = -1;
    const InstanceChannel::WaitResult result = first_.Wait(error);
    EXPECT_EQ(error, 0);
    return result;
  }

  UnixInstanceChannel first_{TestName("channel"), ::geteuid()};
};

}  // namespace

TEST_F(ListeningChannel, OnlyAConnectionThatSendsIsASignal) {
  {
    UniqueFd look = Connect();  // connects and goes without a byte
  }
  UniqueFd later = Connect();
  SendByte(later);
  ASSERT_EQ(Wait(), InstanceChannel::WaitResult::Signalled);
  // The signal was the later copy's: its connection has been read and closed.
  EXPECT_TRUE(ClosedByPeer(later));

  // The stop event stays set: every wait from now on ends at once.
  ASSERT_EQ(first_.SetStopEvent(), 0);
  EXPECT_EQ(Wait(), InstanceChannel::WaitResult::Stopped);
  EXPECT_EQ(Wait(), InstanceChannel::WaitResult::Stopped);
}

TEST_F(ListeningChannel, ALaterCopyOpensAndSignalsThroughTheChannel) {
  UnixInstanceChannel later(TestName("channel"), ::geteuid());
  ASSERT_EQ(later.Open(), 0);
  EXPECT_EQ(later.Create(), EADDRINUSE);
  ASSERT_EQ(later.Signal(), 0);
  EXPECT_EQ(Wait(), InstanceChannel::WaitResult::Signalled);
}

TEST_F(ListeningChannel, ASignalFromAnotherUserIsNotHeard) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to send as another user";
  }
  const std::string socketName = first_.SocketName();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // nobody's user id; the abstract name is reachable by every local user.
    UniqueFd stranger;
    const char byte = 1;
    const bool sent = ::setresuid(65534, 65534, 65534) == 0 &&
                      ConnectToAbstractName(socketName, stranger) == 0 &&
                      ::send(stranger.Get(), &byte, 1, MSG_NOSIGNAL) == 1;
    ::_exit(sent ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  UniqueFd later = Connect();
  SendByte(later);
  ASSERT_EQ(Wait(), InstanceChannel::WaitResult::Signalled);
  EXPECT_TRUE(ClosedByPeer(later)) << "the stranger's byte was taken for a signal";
}

TEST(InstanceChannelTest, SignalWithoutAnOpenedEventFails) {
  UnixInstanceChannel channel(TestName("unopened"), ::geteuid());
  EXPECT_NE(channel.Open(), 0);
  EXPECT_EQ(channel.Signal(), EBADF);
  int error = 0;
  EXPECT_EQ(channel.Wait(error), InstanceChannel::WaitResult::Failed);
  EXPECT_EQ(error, EBADF);
}

TEST(NamedMutexTest, TheFirstHolderHasTheNameUntilItGoes) {
  const std::string name = TestName("mutex");
  auto first = std::make_unique<NamedMutex>(name);
  EXPECT_TRUE(first->Held());
  EXPECT_EQ(first->Error(), 0);

  NamedMutex second(name);
  EXPECT_FALSE(second.Held());
  EXPECT_EQ(second.Error(), EADDRINUSE);
  NamedMutex otherUsers(name, ::geteuid() + 1);
  EXPECT_TRUE(otherUsers.Held());

  first.reset();
  NamedMutex third(name);
  EXPECT_TRUE(third.Held());
}

}  // namespace vx
