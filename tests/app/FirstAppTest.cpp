#include "FakeInstanceChannel.h"
#include "app/FirstApp.h"
#include "base/Format.h"
#include "common/Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vx {

namespace {

// Every test uses IDs of its own: several test programs may run at the same time.
std::string TestID(const std::string& what) {
  return Format("VorlixaTest.%d.%s", static_cast<int>(QCoreApplication::applicationPid()), what);
}

// Every call of OnStartOther: the sender and the thread it ran on.
struct StartRecorder {
  std::vector<QObject*> senders;
  std::vector<QThread*> threads;

  TNotifyEvent Handler() {
    return [this](QObject* Sender) {
      senders.push_back(Sender);
      threads.push_back(QThread::currentThread());
    };
  }
};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EFirstApp& e) {
    EXPECT_STREQ(e.ClassName(), "EFirstApp");
    return e.Message();
  }
  return "(no EFirstApp)";
}

// A component read from a form description, with the main window's name.
std::unique_ptr<TFirstApp> LoadedFirstApp(const std::string& name, const std::string& id,
                                          TInstanceChannelFactory factory = {}) {
  auto component = std::make_unique<TFirstApp>(nullptr, std::move(factory));
  component->setObjectName(QString::fromStdString(name));
  component->BeginLoad();
  component->SetUniqueID(id);
  component->Loaded();
  return component;
}

}  // namespace

// ---- Handshake between copies over the real channel ----

TEST(FirstAppTest, TheFirstCopyWaitsAndEachLaterStartIsReportedOnItsThread) {
  const std::string id = TestID("handshake");
  TFirstApp first(nullptr, id);
  StartRecorder starts;
  first.OnStartOther = starts.Handler();
  EXPECT_TRUE(first.IsFirstCopy());
  ASSERT_NE(first.Thread(), nullptr);
  EXPECT_TRUE(first.Thread()->isRunning());

  for (std::size_t n = 1; n <= 3; ++n) {
    TFirstApp later(nullptr, id);
    StartRecorder laterStarts;
    later.OnStartOther = laterStarts.Handler();
    EXPECT_FALSE(later.IsFirstCopy());
    EXPECT_EQ(later.Thread(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return starts.senders.size() == n; }));
    EXPECT_TRUE(laterStarts.senders.empty());
  }
  for (std::size_t i = 0; i < starts.senders.size(); ++i) {
    EXPECT_EQ(starts.senders[i], &first);
    EXPECT_EQ(starts.threads[i], QCoreApplication::instance()->thread());
  }
}

TEST(FirstAppSystem, ACopyStartedInAnotherProcessSignalsTheFirst) {
  const std::string id = TestID("process");
  TFirstApp first(nullptr, id);
  StartRecorder starts;
  first.OnStartOther = starts.Handler();

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 3;
    try {
      TFirstApp later(nullptr, id);
      code = later.IsFirstCopy() ? 1 : 0;
    } catch (...) {
      code = 2;
    }
    ::_exit(code);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child must see that it is a later copy";
  ASSERT_TRUE(WaitFor([&] { return starts.senders.size() == 1; }));
  EXPECT_EQ(starts.senders[0], &first);
}

TEST(FirstAppTest, WithoutHandlerAStartPassesUnseenAndTheWaiterGoesOn) {
  class CountingFirstApp : public TFirstApp {
   public:
    using TFirstApp::TFirstApp;
    void DoStartOther() override {
      ++calls;
      TFirstApp::DoStartOther();
    }
    int calls = 0;
  };
  const std::string id = TestID("nohandler");
  CountingFirstApp first(nullptr, id);
  { TFirstApp later(nullptr, id); }
  ASSERT_TRUE(WaitFor([&] { return first.calls == 1; }));
  EXPECT_TRUE(first.Thread()->isRunning());

  StartRecorder starts;
  first.OnStartOther = starts.Handler();
  { TFirstApp later(nullptr, id); }
  ASSERT_TRUE(WaitFor([&] { return starts.senders.size() == 1; }));
  EXPECT_EQ(first.calls, 2);
}

TEST(FirstAppTest, CopiesWithOtherIDsOrOfOtherUsersDoNotMeet) {
  const std::string id = TestID("apart");
  TFirstApp first(nullptr, id);
  StartRecorder starts;
  first.OnStartOther = starts.Handler();

  TFirstApp otherProgram(nullptr, TestID("apart.other"));
  EXPECT_TRUE(otherProgram.IsFirstCopy());
  const unsigned otherUser = ::geteuid() + 1;
  TFirstApp otherUsersCopy(nullptr, id, [otherUser](const std::string& name) {
    return CreateInstanceChannel(name, otherUser);
  });
  EXPECT_TRUE(otherUsersCopy.IsFirstCopy());

  // A start that does reach the first copy comes through alone.
  { TFirstApp later(nullptr, id); }
  ASSERT_TRUE(WaitFor([&] { return !starts.senders.empty(); }));
  EXPECT_EQ(starts.senders.size(), 1U);
}

// The event lives as long as the first copy: later copies hold no part of it.
TEST(FirstAppTest, AfterTheFirstCopyEndsTheNextStartIsTheFirst) {
  const std::string id = TestID("succession");
  auto first = std::make_unique<TFirstApp>(nullptr, id);
  TFirstApp stillRunning(nullptr, id);
  EXPECT_FALSE(stillRunning.IsFirstCopy());
  // Nothing has signalled since: teardown ends the waiter through its stop event.
  first.reset();

  TFirstApp next(nullptr, id);
  EXPECT_TRUE(next.IsFirstCopy());
  EXPECT_NE(next.Thread(), nullptr);
}

// ---- Properties and loading ----

TEST(FirstAppTest, UniqueIDIsSetWhileLoadingOnly) {
  TFirstApp component;
  EXPECT_EQ(ErrorOf([&] { component.SetUniqueID("Vorlixa"); }), "Cannot set UniqueID at run-time.");
  EXPECT_EQ(component.UniqueID(), "");

  auto script = std::make_shared<FakeChannelScript>();
  const auto loaded = LoadedFirstApp("faAppStart", "Vorlixa", FakeInstanceChannel::Factory(script));
  EXPECT_EQ(loaded->UniqueID(), "Vorlixa");
  ASSERT_EQ(script->names.size(), 1U);
  EXPECT_EQ(script->names[0], "FirstApp@Vorlixa");
  EXPECT_EQ(ErrorOf([&] { loaded->SetUniqueID("Other"); }), "Cannot set UniqueID at run-time.");
}

TEST(FirstAppTest, AnEmptyUniqueIDFailsTheLoad) {
  auto script = std::make_shared<FakeChannelScript>();
  EXPECT_EQ(
      ErrorOf([&] { LoadedFirstApp("faAppStart", "", FakeInstanceChannel::Factory(script)); }),
      "No UniqueID defined for faAppStart (TFirstApp).");
  EXPECT_TRUE(script->names.empty());
}

// ---- Failures of the kernel objects, through the channel double ----

TEST(FirstAppTest, FailuresOfTheHandshakeCarryNameClassAndSystemError) {
  auto noEvent = std::make_shared<FakeChannelScript>();
  noEvent->createResults = {EACCES};
  EXPECT_EQ(ErrorOf([&] { LoadedFirstApp("fa", "X", FakeInstanceChannel::Factory(noEvent)); }),
            "fa (TFirstApp) could not set up an event: Permission denied (#13)");

  auto noSignal = std::make_shared<FakeChannelScript>();
  noSignal->openResults = {0};
  noSignal->signalResult = EPIPE;
  EXPECT_EQ(ErrorOf([&] { LoadedFirstApp("fa", "X", FakeInstanceChannel::Factory(noSignal)); }),
            "fa (TFirstApp) could not signal startup: Broken pipe (#32)");

  auto noStopEvent = std::make_shared<FakeChannelScript>();
  noStopEvent->createStopEventResult = EMFILE;
  EXPECT_EQ(ErrorOf([&] { LoadedFirstApp("fa", "X", FakeInstanceChannel::Factory(noStopEvent)); }),
            "Thread could not create event for fa (TFirstApp): Too many open files (#24)");

  EXPECT_EQ(ErrorOf([] { TFAThread thread(nullptr); }),
            "Trying to create a thread with a TFirstApp.");
}

TEST(FirstAppTest, ACopyThatLosesTheRaceToCreateSignalsTheWinner) {
  auto script = std::make_shared<FakeChannelScript>();
  script->openResults = {ECONNREFUSED, 0};
  script->createResults = {EADDRINUSE};
  const auto component = LoadedFirstApp("fa", "X", FakeInstanceChannel::Factory(script));
  EXPECT_FALSE(component->IsFirstCopy());
  EXPECT_EQ(component->Thread(), nullptr);
  EXPECT_EQ(script->signalCount, 1);

  auto neverWins = std::make_shared<FakeChannelScript>();
  neverWins->createResults = {EADDRINUSE, EADDRINUSE, EADDRINUSE};
  EXPECT_EQ(ErrorOf([&] { LoadedFirstApp("fa", "X", FakeInstanceChannel::Factory(neverWins)); }),
            "fa (TFirstApp) could not set up an event: Address already in use (#98)");
}

TEST(FirstAppTest, AFailedWaitEndsOnlyTheWaiter) {
  auto script = std::make_shared<FakeChannelScript>();
  script->AddWait(InstanceChannel::WaitResult::Failed, EBADF);
  StartRecorder starts;
  const auto component = LoadedFirstApp("fa", "X", FakeInstanceChannel::Factory(script));
  component->OnStartOther = starts.Handler();
  TFAThread* thread = component->Thread();
  ASSERT_NE(thread, nullptr);
  // Without events: nothing of the waiter may reach this thread meanwhile.
  ASSERT_TRUE(thread->wait(QDeadlineTimer(kWaitLimitMs)));
  ASSERT_TRUE(thread->FatalException());
  EXPECT_EQ(ErrorOf([&] { std::rethrow_exception(thread->FatalException()); }),
            "Events of fa (TFirstApp) went awry: Bad file descriptor (#9)");
  EXPECT_TRUE(starts.senders.empty());
}

// The waiter blocks until the owner's thread has handled a start; a teardown on that
// thread must not wait for it in turn.
TEST(FirstAppTest, TeardownWhileAStartIsBeingHandedOverEndsTheWaiter) {
  auto script = std::make_shared<FakeChannelScript>();
  script->AddWait(InstanceChannel::WaitResult::Signalled);
  StartRecorder starts;
  auto component = LoadedFirstApp("fa", "X", FakeInstanceChannel::Factory(script));
  component->OnStartOther = starts.Handler();
  // Waited for on a thread without events: this thread must not take the start over before
  // the teardown.
  bool waiting = false;
  std::thread([&] { waiting = WaitFor([&script] { return script->waits >= 1; }); }).join();
  ASSERT_TRUE(waiting);
  component.reset();
  EXPECT_TRUE(starts.senders.empty());
}

}  // namespace vx
