#include "common/Wait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <chrono>
#include <optional>
#include <thread>

namespace vx {

namespace {

constexpr std::chrono::milliseconds kLookEvery{10};

}  // namespace

bool WaitFor(const std::function<bool()>& done, int limitMs) {
  const QDeadlineTimer limit(limitMs);
  const bool eventLoop = QAbstractEventDispatcher::instance() != nullptr;
  // Wakes the wait for more events, so that done() is looked at when nothing else happens.
  std::optional<QTimer> wake;
  if (eventLoop) {
    wake.emplace();
    wake->start(kLookEvery);
  }
  while (!done()) {
    if (limit.hasExpired()) {
      return false;
    }
    if (eventLoop) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } else {
      std::this_thread::sleep_for(kLookEvery);
    }
  }
  return true;
}

void RunEventsFor(int ms) {
  WaitFor([] { return false; }, ms);
}

}  // namespace vx
