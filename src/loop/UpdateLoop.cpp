#include "loop/UpdateLoop.h"

#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "device/ResumeWatch.h"
#include "support/Reports.h"
#include "support/unLog.h"

#include <chrono>
#include <iterator>
#include <utility>
#include <vector>

namespace vx {

namespace {

constexpr int kUpdateIntervalMs = 25;

}  // namespace

TUpdateLoop::TUpdateLoop(std::shared_ptr<SuspendClock> clock, QObject* parent)
    : QObject(parent), resumeWatch_(std::make_unique<TResumeWatch>(std::move(clock))) {
  LBCTimer.setTimerType(Qt::PreciseTimer);
  LBCTimer.setInterval(kUpdateIntervalMs);
  connect(&LBCTimer, &QTimer::timeout, this, [this] { LEDUpdateExecute(); });
}

TUpdateLoop::~TUpdateLoop() = default;

void TUpdateLoop::Start() {
  LogMessage("Starting");
  if (ports_ == nullptr) {
    return;
  }
  for (int i = 0; i < ports_->Count(); ++i) {
    try {
      TPortCfg& port = ports_->Items(i);
      // A port that cannot be opened keeps failing quietly in its link.
      port.Controller().Open();
      port.Controllers().ActivateAll();
      LBCTimer.start();
    } catch (const std::exception& e) {
      LogExceptionWarning(e);
    }
  }
  PassOnReports();
  emit StatusChanged();
}

void TUpdateLoop::Stop() {
  LogMessage("Stopping");
  LBCTimer.stop();
  if (ports_ == nullptr) {
    return;
  }
  // The dark frames of all chains share one second, so a slow line cannot hold the exit.
  const auto darkBy = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (int i = 0; i < ports_->Count(); ++i) {
    try {
      TPortCfg& port = ports_->Items(i);
      port.Controllers().DeactivateAll();
      port.Controller().Close(darkBy);
    } catch (const std::exception& e) {
      LogExceptionWarning(e);
    }
  }
  PassOnReports();
  emit StatusChanged();
}

void TUpdateLoop::Restart() {
  if (Active()) {
    Stop();
    Start();
  }
}

void TUpdateLoop::SetActive(bool value) {
  if (value == Active()) {
    return;
  }
  if (value) {
    Start();
  } else {
    Stop();
  }
}

void TUpdateLoop::LEDUpdateExecute() {
  ticking_ = true;
  std::exception_ptr error;
  try {
    if (resumeWatch_->Resumed()) {
      LogMessage("Resumed from sleep: every chain gets its complete frame");
      ports_->ResendFrames();
    }
    ports_->KeepOpen();
    for (int i = 0; i < ports_->Count(); ++i) {
      TLEDBarCfgList& controllers = ports_->Items(i).Controllers();
      if (controllers.Count() == 0) {
        continue;
      }
      // Errors of single bars are swallowed in there; what comes out concerns the port.
      controllers.UpdateBars();
    }
  } catch (...) {
    error = std::current_exception();
  }
  PassOnReports();
  if (ports_->TakeStatusChanged()) {
    emit StatusChanged();
  }
  if (error) {
    Stop();
    // As the reports: from the event loop.
    QMetaObject::invokeMethod(
        this, [this, error] { emit TickFailed(error); }, Qt::QueuedConnection);
  }
  ticking_ = false;
}

void TUpdateLoop::PassOnReports() {
  std::vector<std::string> reports = TakeReports();
  if (reports.empty()) {
    return;
  }
  // Reports that come while earlier ones are still being sent go behind them.
  const bool sending = !reports_.empty();
  reports_.insert(reports_.end(), std::make_move_iterator(reports.begin()),
                  std::make_move_iterator(reports.end()));
  if (!sending) {
    QMetaObject::invokeMethod(
        this, [this] { SendReports(); }, Qt::QueuedConnection);
  }
}

void TUpdateLoop::SendReports() {
  // The first leaves the queue only once it has been shown, so that what comes meanwhile
  // waits behind the rest.
  while (!reports_.empty()) {
    emit Reported(reports_.front());
    reports_.pop_front();
  }
}

}  // namespace vx
