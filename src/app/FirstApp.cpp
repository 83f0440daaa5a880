#include "app/FirstApp.h"

#include "base/Format.h"
#include "platform/SystemError.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QMetaObject>

#include <cerrno>
#include <utility>

namespace vx {

namespace {

// Two copies that start together may both find no event; the one whose creation fails
// because the other got there first looks again and signals it.
constexpr int kHandshakeAttempts = 3;

// How often teardown hands pending calls of the waiter over while waiting for its end.
constexpr int kTeardownPollMs = 10;

std::unique_ptr<InstanceChannel> CurrentUserChannel(const std::string& name) {
  return CreateInstanceChannel(name);
}

}  // namespace

std::string FirstAppErrorText(int errorCode) {
  std::string text = InOutErrorMessage(errorCode);
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

// ---- TFAThread ----

TFAThread::TFAThread(TFirstApp* FirstApp) : firstApp_(FirstApp) {
  if (FirstApp == nullptr) {
    throw EFirstApp("Trying to create a thread with a TFirstApp.");
  }
  ownerName_ = FirstApp->Name();
  if (const int error = FirstApp->channel_->CreateStopEvent()) {
    throw EFirstApp(Format("Thread could not create event for %s (%s): %s (#%d)", ownerName_,
                           TFirstApp::kClassName, FirstAppErrorText(error), error));
  }
  start();
}

TFAThread::~TFAThread() {
  // The owner waits for the end before it lets go; this only guards other paths.
  Terminate();
  wait();
}

void TFAThread::Terminate() {
  terminated_ = true;
  firstApp_->channel_->SetStopEvent();
}

void TFAThread::run() {
  // Nothing may leave a thread's entry function; the error is kept instead.
  try {
    Execute();
  } catch (...) {
    fatalException_ = std::current_exception();
  }
}

void TFAThread::Execute() {
  InstanceChannel& channel = *firstApp_->channel_;
  while (!terminated_) {
    int error = 0;
    switch (channel.Wait(error)) {
      case InstanceChannel::WaitResult::Signalled: {
        std::exception_ptr handlerError;
        TFirstApp* owner = firstApp_;
        QMetaObject::invokeMethod(
            owner, [owner, &handlerError] { owner->SynchronizedStartOther(handlerError); },
            Qt::BlockingQueuedConnection);
        if (handlerError) {
          std::rethrow_exception(handlerError);
        }
        break;
      }
      case InstanceChannel::WaitResult::Stopped:
        terminated_ = true;
        break;
      case InstanceChannel::WaitResult::Failed:
        throw EFirstApp(Format("Events of %s (%s) went awry: %s (#%d)", ownerName_,
                               TFirstApp::kClassName, FirstAppErrorText(error), error));
    }
  }
}

// ---- TFirstApp ----

TFirstApp::TFirstApp(QObject* Owner, TInstanceChannelFactory ChannelFactory)
    : QObject(Owner),
      channelFactory_(ChannelFactory ? std::move(ChannelFactory) : CurrentUserChannel) {}

TFirstApp::TFirstApp(QObject* Owner, const std::string& UniqueID,
                     TInstanceChannelFactory ChannelFactory)
    : TFirstApp(Owner, std::move(ChannelFactory)) {
  uniqueID_ = UniqueID;
  StartUp();
}

TFirstApp::~TFirstApp() {
  if (thread_) {
    stopping_ = true;
    thread_->Terminate();
    // The waiter may be blocked handing a start over to this thread; such calls are
    // delivered here (they do nothing any more) so that it can reach its end.
    while (!thread_->wait(QDeadlineTimer(kTeardownPollMs))) {
      QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    thread_.reset();
  }
  channel_.reset();
}

void TFirstApp::SetUniqueID(const std::string& value) {
  if (!loading_) {
    throw EFirstApp("Cannot set UniqueID at run-time.");
  }
  uniqueID_ = value;
}

void TFirstApp::Loaded() {
  loading_ = false;
  StartUp();
}

void TFirstApp::DoStartOther() {
  if (OnStartOther) {
    OnStartOther(this);
  }
}

void TFirstApp::SynchronizedStartOther(std::exception_ptr& handlerError) {
  if (stopping_) {
    return;
  }
  try {
    DoStartOther();
  } catch (...) {
    handlerError = std::current_exception();
  }
}

void TFirstApp::StartUp() {
  if (channel_) {
    return;
  }
  if (uniqueID_.empty()) {
    throw EFirstApp(Format("No UniqueID defined for %s (%s).", Name(), kClassName));
  }
  const std::string name = "FirstApp@" + uniqueID_;
  std::unique_ptr<InstanceChannel> channel = channelFactory_(name);
  bool first = false;
  for (int attempt = 1;; ++attempt) {
    const int openError = channel->Open();
    if (openError == InstanceChannel::kHeldByAnotherUser) {
      // Signalling a stranger would end this copy for nothing; it cannot take the name
      // either, so it runs without hearing of later starts.
      warning_ = Format(
          "%s (%s): the event %s is held by a program of another user; this copy "
          "runs as the first one",
          Name(), kClassName, name);
      channel_ = std::move(channel);
      first_ = true;
      return;
    }
    first = openError != 0;
    if (!first) {
      break;
    }
    const int error = channel->Create();
    if (error == 0) {
      break;
    }
    if (error != EADDRINUSE || attempt == kHandshakeAttempts) {
      throw EFirstApp(Format("%s (%s) could not set up an event: %s (#%d)", Name(), kClassName,
                             FirstAppErrorText(error), error));
    }
  }
  if (!first) {
    if (const int error = channel->Signal()) {
      throw EFirstApp(Format("%s (%s) could not signal startup: %s (#%d)", Name(), kClassName,
                             FirstAppErrorText(error), error));
    }
  }
  channel_ = std::move(channel);
  first_ = first;
  if (first_) {
    thread_ = std::make_unique<TFAThread>(this);
  }
}

}  // namespace vx
