#pragma once

#include "base/Exceptions.h"
#include "platform/InstanceChannel.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace vx {

// The plain event of a component: Sender is the object that reports it.
using TNotifyEvent = std::function<void(QObject* Sender)>;

VORLIXA_DECLARE_EXCEPTION(EFirstApp, Exception);

class TFirstApp;

// Makes the channel behind a start-up event name; the default is the current user's.
using TInstanceChannelFactory =
    std::function<std::unique_ptr<InstanceChannel>(const std::string& name)>;

// The waiter of the first copy: blocks on the start-up event and its own stop event,
// and hands every start of another copy to the owner's thread, blocked until the owner
// has handled it. An error ends the thread and is kept in FatalException only.
class TFAThread final : public QThread {
  Q_OBJECT

 public:
  // Creates the stop event and starts running. Raises EFirstApp without a TFirstApp or
  // when the stop event cannot be created.
  explicit TFAThread(TFirstApp* FirstApp);
  ~TFAThread() override;
  TFAThread(const TFAThread&) = delete;
  TFAThread& operator=(const TFAThread&) = delete;

  // Tells the thread to stop and sets its stop event; does not wait for the end.
  void Terminate();
  // The error that ended the thread; read it only once the thread has finished.
  std::exception_ptr FatalException() const { return fatalException_; }

 protected:
  void run() override;

 private:
  void Execute();

  TFirstApp* firstApp_;
  std::string ownerName_;  // taken at creation: the thread never reads the owner's state
  std::atomic<bool> terminated_ = false;
  std::exception_ptr fatalException_;
};

// Lets the first running copy of a program learn that another copy has started. Copies
// with equal UniqueID share one start-up event: the first copy creates it and keeps a
// waiter thread on it, every later copy sets it once. OnStartOther then runs in the
// first copy, on the thread that owns the component, once per later start (starts that
// come quickly may merge). The handshake runs in Loaded, or at once with CreateWithID.
class TFirstApp : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kClassName = "TFirstApp";

  // Create: clears the state and the ID; no handshake, as Loaded follows.
  explicit TFirstApp(QObject* Owner = nullptr, TInstanceChannelFactory ChannelFactory = {});
  // CreateWithID: stores the ID and runs the handshake at once (raising its EFirstApp).
  TFirstApp(QObject* Owner, const std::string& UniqueID,
            TInstanceChannelFactory ChannelFactory = {});
  // Stops the waiter and waits for its end before the events are closed.
  ~TFirstApp() override;
  TFirstApp(const TFirstApp&) = delete;
  TFirstApp& operator=(const TFirstApp&) = delete;

  // Called in the first copy, on its owning thread, with this component as Sender.
  TNotifyEvent OnStartOther;

  const std::string& UniqueID() const { return uniqueID_; }
  // Only while the component is loaded (between BeginLoad and Loaded); otherwise raises
  // "Cannot set UniqueID at run-time.".
  void SetUniqueID(const std::string& value);

  // Between BeginLoad and Loaded the component is read from its description.
  void BeginLoad() { loading_ = true; }
  // Ends loading and runs the start-up handshake (once per component).
  void Loaded();

  virtual void DoStartOther();

  // After the handshake: true when this copy created the event (it is the first copy),
  // false when it signalled an existing one. Also true, without a waiter, when a
  // program of another user holds the event's name: this copy then runs on its own, and
  // Warning() says so.
  bool IsFirstCopy() const { return first_; }
  // Why the handshake did not go as usual, for the log; empty when it did.
  const std::string& Warning() const { return warning_; }
  // The waiter thread; present only in the first copy.
  TFAThread* Thread() const { return thread_.get(); }
  std::string Name() const { return objectName().toStdString(); }

 private:
  friend class TFAThread;

  void StartUp();
  // Runs on the owning thread for the waiter; keeps the handler's error for the waiter.
  void SynchronizedStartOther(std::exception_ptr& handlerError);

  std::string uniqueID_;
  std::string warning_;
  TInstanceChannelFactory channelFactory_;
  std::unique_ptr<InstanceChannel> channel_;  // the start-up event, and the waiter's stop event
  std::unique_ptr<TFAThread> thread_;
  bool first_ = false;
  bool loading_ = false;
  bool stopping_ = false;
};

// The system's text for an error number without trailing blanks and full stops, as the
// component's messages show it.
std::string FirstAppErrorText(int errorCode);

}  // namespace vx
