#include "base/Format.h"
#include "common/ScopedEnvironment.h"
#include "platform/LocalSocket.h"
#include "platform/NamedMutex.h"
#include "platform/UnixInstanceChannel.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace vx {

namespace {

std::string TestName(const std::string& what) {
  return Format("VorlixaTest.%d.%s", static_cast<int>(QCoreApplication::applicationPid()), what);
}

// Where the named sockets of a test lie: in a runtime folder of the test's own, or, with
// none, under abstract names. Set for the test's life, then put back.
class SocketPlace {
 public:
  explicit SocketPlace(bool runtimeFolder)
      : folder_(runtimeFolder ? std::make_unique<QTemporaryDir>() : nullptr),
        runtime_("XDG_RUNTIME_DIR",
                 folder_ ? std::optional<std::string>(folder_->path().toLocal8Bit().constData())
                         : std::nullopt) {}

 private:
  std::unique_ptr<QTemporaryDir> folder_;
  ScopedEnvironment runtime_;
};

std::string PlaceName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "InTheRuntimeFolder" : "Abstract";
}

// A first copy's channel, ready to wait; with a runtime folder or without.
class ListeningChannel : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_EQ(first_->SocketName().starts_with('/'), GetParam()) << first_->SocketName();
    ASSERT_NE(first_->Open(), 0) << "nobody may hold " << first_->SocketName();
    ASSERT_EQ(first_->Create(), 0);
    ASSERT_EQ(first_->CreateStopEvent(), 0);
  }

  // Connects as a later copy would, without going through the channel, so that the test
  // sees the connection's end.
  UniqueFd Connect() {
    UniqueFd connection;
    EXPECT_EQ(ConnectToLocalName(first_->SocketName(), connection), 0);
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
    const InstanceChannel::WaitResult result = first_->Wait(error);
    EXPECT_EQ(error, 0);
    return result;
  }

  SocketPlace place_{GetParam()};
  std::unique_ptr<UnixInstanceChannel> first_ =
      std::make_unique<UnixInstanceChannel>(TestName("channel"), ::geteuid());
};

}  // namespace

TEST_P(ListeningChannel, OnlyAConnectionThatSendsIsASignal) {
  {
    UniqueFd look = Connect();  // connects and goes without a byte
  }
  UniqueFd later = Connect();
  SendByte(later);
  ASSERT_EQ(Wait(), InstanceChannel::WaitResult::Signalled);
  // The signal was the later copy's: its connection has been read and closed.
  EXPECT_TRUE(ClosedByPeer(later));

  // The stop event stays set: every wait from now on ends at once.
  ASSERT_EQ(first_->SetStopEvent(), 0);
  EXPECT_EQ(Wait(), InstanceChannel::WaitResult::Stopped);
  EXPECT_EQ(Wait(), InstanceChannel::WaitResult::Stopped);
}

TEST_P(ListeningChannel, ALaterCopyOpensAndSignalsThroughTheChannel) {
  UnixInstanceChannel later(TestName("channel"), ::geteuid());
  ASSERT_EQ(later.Open(), 0);
  EXPECT_EQ(later.Create(), EADDRINUSE);
  ASSERT_EQ(later.Signal(), 0);
  EXPECT_EQ(Wait(), InstanceChannel::WaitResult::Signalled);
}

// The cases that start a process (see tests/CMakeLists.txt).
using ListeningChannelSystem = ListeningChannel;

// Under an abstract name another user's connection reaches the first copy and is dropped
// unheard; in the runtime folder it cannot even connect.
TEST_P(ListeningChannelSystem, ASignalFromAnotherUserIsNotHeard) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to send as another user";
  }
  const std::string socketName = first_->SocketName();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // nobody's user id. Exit code: 0 sent, 1 not connected, 2 no other user.
    UniqueFd stranger;
    const char byte = 1;
    if (::setresuid(65534, 65534, 65534) != 0) {
      ::_exit(2);
    }
    const int error = ConnectToLocalName(socketName, stranger);
    ::_exit(error == 0 && ::send(stranger.Get(), &byte, 1, MSG_NOSIGNAL) == 1 ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), GetParam() ? 1 : 0);

  UniqueFd later = Connect();
  SendByte(later);
  ASSERT_EQ(Wait(), InstanceChannel::WaitResult::Signalled);
  EXPECT_TRUE(ClosedByPeer(later)) << "the stranger's byte was taken for a signal";
}

INSTANTIATE_TEST_SUITE_P(Places, ListeningChannel, ::testing::Bool(), PlaceName);
INSTANTIATE_TEST_SUITE_P(Places, ListeningChannelSystem, ::testing::Bool(), PlaceName);

// In the runtime folder the created event is a socket file that is the user's alone, and
// it goes with the channel.
TEST(InstanceChannelTest, ASocketFileIsTheUsersAloneAndGoesWithItsHolder) {
  const SocketPlace place(true);
  auto channel = std::make_unique<UnixInstanceChannel>(TestName("file"), ::geteuid());
  ASSERT_EQ(channel->Create(), 0);
  const std::string socketName = channel->SocketName();
  struct stat info {};
  ASSERT_EQ(::stat(socketName.c_str(), &info), 0) << socketName;
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0600U);
  channel.reset();
  EXPECT_NE(::stat(socketName.c_str(), &info), 0);
}

TEST(InstanceChannelTest, SignalWithoutAnOpenedEventFails) {
  UnixInstanceChannel channel(TestName("unopened"), ::geteuid());
  EXPECT_NE(channel.Open(), 0);
  EXPECT_EQ(channel.Signal(), EBADF);
  int error = 0;
  EXPECT_EQ(channel.Wait(error), InstanceChannel::WaitResult::Failed);
  EXPECT_EQ(error, EBADF);
}

class NamedMutexTest : public ::testing::TestWithParam<bool> {
 protected:
  SocketPlace place_{GetParam()};
};

TEST_P(NamedMutexTest, TheFirstHolderHasTheNameUntilItGoes) {
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

// A holder that is killed removes nothing; the next one takes the name all the same.
TEST_P(NamedMutexTest, AKilledHoldersNameIsTakenOver) {
  const std::string name = TestName("killed");
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const NamedMutex mutex(name);
    ::_exit(mutex.Held() ? 0 : 1);  // no destructor runs
  }
  int status = -1;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const NamedMutex next(name);
  EXPECT_TRUE(next.Held()) << next.Error();
}

INSTANTIATE_TEST_SUITE_P(Places, NamedMutexTest, ::testing::Bool(), PlaceName);

}  // namespace vx
