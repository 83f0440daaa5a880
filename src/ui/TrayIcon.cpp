#include "ui/TrayIcon.h"

#include "ui/AppIcon.h"
#include "ui/ImageList.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMenu>
#include <QMetaObject>
#include <QWidget>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace vx {

namespace {

// The animation timer's interval until AnimateInterval is set.
constexpr int kDefaultAnimateMs = 1000;

}  // namespace

QString TrayTip(const QString& Hint) {
  qsizetype units = 0;
  for (int characters = 0; units < Hint.size() && characters < kTrayTipLength; ++characters) {
    const bool pair = Hint.at(units).isHighSurrogate() && units + 1 < Hint.size() &&
                      Hint.at(units + 1).isLowSurrogate();
    units += pair ? 2 : 1;
  }
  return Hint.left(units);
}

TTrayIcon::TTrayIcon(QObject* Owner) : QObject(Owner), window_(qobject_cast<QWidget*>(Owner)) {
  connect(&trayIcon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { IconActivated(reason); });
  connect(&trayIcon_, &QSystemTrayIcon::messageClicked, this, &TTrayIcon::OnBalloonClick);
  if (QWidget* window = window_) {
    window->installEventFilter(this);
  }
  animateTimer_.setInterval(kDefaultAnimateMs);
  connect(&animateTimer_, &QTimer::timeout, this, [this] { AnimateStep(); });
  // Shows the icon once the owner has set the properties and the event loop runs.
  QMetaObject::invokeMethod(
      this, [this] { UpdateAndApply(); }, Qt::QueuedConnection);
}

TTrayIcon::~TTrayIcon() {
  if (QWidget* window = window_) {
    window->removeEventFilter(this);
  }
  trayIcon_.hide();
}

void TTrayIcon::SetActive(bool value) {
  active_ = value;
  UpdateIcon();
  ApplyLocation();
  ApplyAnimateTimer();
}

void TTrayIcon::SetHint(const QString& value) {
  hint_ = value;
  if (tipShown_) {
    trayIcon_.setToolTip(TrayTip(hint_));
  }
}

QMenu* TTrayIcon::PopUpMenu() const {
  return popUpMenu_;
}

void TTrayIcon::SetPopUpMenu(QMenu* value) {
  if (QMenu* old = popUpMenu_) {
    disconnect(old, &QMenu::aboutToShow, this, nullptr);
  }
  popUpMenu_ = value;
  if (value != nullptr) {
    connect(value, &QMenu::aboutToShow, this, [this] { MenuAboutToShow(); });
  }
  trayIcon_.setContextMenu(value);
}

void TTrayIcon::SetLocationMinimized(TApplicationLocations value) {
  if (value == locationMinimized_) {
    return;
  }
  locationMinimized_ = value;
  UpdateIcon();
  ApplyLocation();
}

void TTrayIcon::SetLocationNormal(TApplicationLocations value) {
  if (value == locationNormal_) {
    return;
  }
  locationNormal_ = value;
  UpdateIcon();
  ApplyLocation();
}

void TTrayIcon::SetAnimateEnabled(bool value) {
  animateEnabled_ = value;
  ApplyAnimateTimer();
  if (!value) {
    trayIcon_.setIcon(OwnIcon());
  }
}

void TTrayIcon::SetAnimateInterval(std::uint32_t value) {
  animateInterval_ = value;
  animateTimer_.setInterval(
      static_cast<int>(std::min<std::uint32_t>(value, std::numeric_limits<std::int32_t>::max())));
  ApplyAnimateTimer();
}

void TTrayIcon::SetAnimateIndex(std::uint16_t value) {
  animateIndex_ = value;
  if (!loading_) {
    AnimateStep();
  }
}

TApplicationLocations TTrayIcon::PresentLocation() const {
  return ApplicationMinimized() ? locationMinimized_ : locationNormal_;
}

bool TTrayIcon::ApplicationMinimized() const {
  const QWidget* window = window_;
  return window != nullptr && window->isMinimized();
}

bool TTrayIcon::InTray() const {
  return active_ && PresentLocation().testFlag(loSysTray);
}

bool TTrayIcon::InTaskbar() const {
  return !active_ || PresentLocation().testFlag(loTaskBar);
}

bool TTrayIcon::TrayAvailable() {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

QIcon TTrayIcon::OwnIcon() const {
  if (!Filename.isEmpty() && QFileInfo::exists(Filename)) {
    QImageReader reader(Filename);
    if (reader.read().isNull()) {
      throw EInvalidGraphic(reader.errorString().toStdString());
    }
    return QIcon(Filename);
  }
  const QIcon application = QApplication::windowIcon();
  return application.isNull() ? AppIcon() : application;
}

void TTrayIcon::UpdateIcon() {
  if (loading_) {
    return;
  }
  if (!InTray()) {
    trayIcon_.hide();
    return;
  }
  const QIcon icon = OwnIcon();
  tipShown_ = ShowHint;
  if (!trayIcon_.isVisible()) {
    trayIcon_.setIcon(icon);
    trayIcon_.setToolTip(tipShown_ ? TrayTip(hint_) : QString());
    trayIcon_.show();
  }
  // Qt hands a shown icon to a notification area that comes up later or restarts; a
  // desktop that has none at all is worth saying once.
  if (!unavailableReported_ && !TrayAvailable()) {
    unavailableReported_ = true;
    emit OnTrayUnavailable();
  }
}

void TTrayIcon::ApplyLocation() {
  if (loading_) {
    return;
  }
  if (ApplicationMinimized()) {
    if (active_) {
      SetTaskbarButton(InTaskbar());
    }
  } else if (active_) {
    SetTaskbarButton(InTaskbar());
    // The first time, a hidden main window stays hidden: the application starts in the
    // notification area. Every later restore shows it.
    QWidget* window = window_;
    if (window != nullptr && (firstApplied_ || window->isVisible())) {
      window->show();
      window->raise();
      window->activateWindow();
    }
  }
  firstApplied_ = true;
}

void TTrayIcon::UpdateAndApply() {
  UpdateIcon();
  ApplyLocation();
}

void TTrayIcon::SetTaskbarButton(bool shown) {
  QWidget* window = window_;
  if (window == nullptr || (window->windowType() != Qt::Tool) == shown) {
    return;
  }
  const bool visible = window->isVisible();
  Qt::WindowFlags flags = window->windowFlags() & ~Qt::WindowType_Mask;
  if (shown) {
    flags |= windowType_;
  } else {
    windowType_ = window->windowType();
    flags |= Qt::Tool;
  }
  // Changing the type hides the window; showing it again keeps its state (minimised).
  window->setWindowFlags(flags);
  if (visible) {
    window->show();
  }
}

void TTrayIcon::AnimateStep() {
  const TImageList* images = ImageList;
  if (images == nullptr) {
    return;
  }
  if (animateIndex_ >= images->Count()) {
    animateIndex_ = 0;
  }
  if (animateIndex_ < images->Count()) {
    trayIcon_.setIcon(images->GetIcon(animateIndex_));
  }
  ++animateIndex_;
}

// The timer's own interval counts: it ticks every 1000 ms until AnimateInterval is set,
// and an AnimateInterval of 0 stops it.
void TTrayIcon::ApplyAnimateTimer() {
  if (active_ && animateEnabled_ && animateTimer_.interval() != 0) {
    animateTimer_.start();
  } else {
    animateTimer_.stop();
  }
}

void TTrayIcon::IconActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      emit OnClick();
      break;
    case QSystemTrayIcon::DoubleClick:
      if (ComeToFront) {
        RestoreApplication();
      }
      emit OnDblClick();
      break;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::MiddleClick:
      break;
  }
}

void TTrayIcon::MenuAboutToShow() {
  QMenu* menu = popUpMenu_;
  if (menu == nullptr) {
    return;
  }
  bool DopopUp = true;
  emit OnRmouseClick(menu, DopopUp);
  if (DopopUp && Popup) {
    emit OnPopUp(menu);
    return;
  }
  // The notification area is opening the menu right now; it closes again before the
  // next event is handled, so it is never drawn. A StatusNotifier host draws its own copy
  // and cannot be stopped.
  QMetaObject::invokeMethod(
      menu, [menu] { menu->close(); }, Qt::QueuedConnection);
}

void TTrayIcon::RestoreApplication() {
  QWidget* window = window_;
  if (window != nullptr && window->isMinimized()) {
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
  }
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  const QWidget* window = window_;
  if (window != nullptr && watched == window && event->type() == QEvent::WindowStateChange) {
    // The event's type names its class.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-static-cast-downcast)
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if ((change->oldState() ^ window->windowState()).testFlag(Qt::WindowMinimized)) {
      // Minimised or restored: acted on after the event, as the window may be re-shown.
      QMetaObject::invokeMethod(
          this, [this] { UpdateAndApply(); }, Qt::QueuedConnection);
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace vx
