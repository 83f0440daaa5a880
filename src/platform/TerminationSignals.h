#pragma once

#include "platform/AbstractNamespaceSocket.h"

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace vx {

// Turns SIGTERM, SIGINT and SIGHUP (the terminal or the session going away) into a call
// on the GUI thread: the handler only writes a byte into a pipe, whose reading end the
// event loop watches. One object at a time; it restores the previous handlers when it
// goes.
class TerminationSignals final : public QObject {
  Q_OBJECT

 public:
  // onSignal gets the signal number, once per delivered signal. Raises EOSError when the
  // pipe or a handler cannot be set up.
  explicit TerminationSignals(std::function<void(int signal)> onSignal);
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  void Drain();

  std::function<void(int)> onSignal_;
  UniqueFd readEnd_;
  UniqueFd writeEnd_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace vx
