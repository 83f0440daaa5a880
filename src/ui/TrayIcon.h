#pragma once

#include "base/Exceptions.h"

#include <QFlags>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdint>

class QEvent;
class QMenu;
class QWidget;

namespace vx {

class TImageList;

// Where the application shows itself: a taskbar button, an icon in the notification area.
enum TApplicationLocation { loTaskBar = 0x1, loSysTray = 0x2 };
Q_DECLARE_FLAGS(TApplicationLocations, TApplicationLocation)
Q_DECLARE_OPERATORS_FOR_FLAGS(TApplicationLocations)

// An icon file that exists but is not a readable image; the message is the loader's.
VORLIXA_DECLARE_EXCEPTION(EInvalidGraphic, Exception);

// The characters of a tooltip that the notification area shows.
inline constexpr int kTrayTipLength = 63;

// The tooltip that the icon gets for Hint: its first 63 characters.
QString TrayTip(const QString& Hint);

// Puts the application's icon into the notification area, reports the mouse on it,
// hands it the popup menu, and decides separately for the normal and the minimised
// application whether it shows a taskbar button, a tray icon or both. It can animate the
// icon through the images of an image list.
//
// The menu goes to the notification area itself: a StatusNotifier host (KDE, GNOME's
// AppIndicator, Wayland bars) gets it over D-Bus and draws it, an XEmbed tray (X11) has
// Qt open it on the right button. Either way the right-button steps (OnRmouseClick,
// Popup, OnPopUp) run just before the menu shows, and a menu they keep closed is closed
// again before it is drawn. StatusNotifier hosts report no double click: their left
// click (Activate) is OnClick.
//
// "The application" is the owner when the owner is a widget (the main window):
// minimised means that window is minimised, and its taskbar button is hidden by making
// it a tool window, which taskbars leave out. Set the properties between BeginLoad and
// Loaded; the icon then shows once the event loop has run after construction. An icon
// file that exists but cannot be read raises EInvalidGraphic from whatever ran
// UpdateIcon: a setter, or the event loop (the first showing, a minimise or restore).
class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TTrayIcon(QObject* Owner = nullptr);
  // Removes the icon from the notification area in every case.
  ~TTrayIcon() override;
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  bool Active() const { return active_; }
  void SetActive(bool value);
  const QString& Hint() const { return hint_; }
  void SetHint(const QString& value);
  bool ShowHint = false;  // the tooltip is given to the icon (from the next UpdateIcon)
  QMenu* PopUpMenu() const;
  // The menu of the right button, handed to the notification area; nullptr: none.
  void SetPopUpMenu(QMenu* value);
  bool Popup = false;        // the menu is actually opened, with OnPopUp before
  bool ComeToFront = false;  // a double click restores the application first
  TApplicationLocations LocationMinimized() const { return locationMinimized_; }
  void SetLocationMinimized(TApplicationLocations value);
  TApplicationLocations LocationNormal() const { return locationNormal_; }
  void SetLocationNormal(TApplicationLocations value);
  QString Filename;                // icon file, used when it exists
  QPointer<TImageList> ImageList;  // animation frames
  bool AnimateEnabled() const { return animateEnabled_; }
  void SetAnimateEnabled(bool value);
  std::uint32_t AnimateInterval() const { return animateInterval_; }
  // Milliseconds between frames; 0 stops the ticks.
  void SetAnimateInterval(std::uint32_t value);
  std::uint16_t AnimateIndex() const { return animateIndex_; }
  // The next image to show; outside loading it is shown at once.
  void SetAnimateIndex(std::uint16_t value);

  // The location set of the application's present state decides both.
  bool InTray() const;
  bool InTaskbar() const;
  // Shows the icon when InTray (an icon already shown is left as it is), else removes it.
  void UpdateIcon();
  // Applies the taskbar decision; the first time also leaves a hidden main window hidden.
  void ApplyLocation();
  // One animation frame: the image at AnimateIndex, then AnimateIndex moves on.
  void AnimateStep();
  bool FirstApplied() const { return firstApplied_; }

  // While loading, setters only store.
  void BeginLoad() { loading_ = true; }
  void Loaded() { loading_ = false; }

  // The mouse on the icon as the notification area reports it. Also the way to drive the
  // component where there is no notification area (tests). The right button opens the
  // handed-over menu in the notification area, so Context adds nothing here.
  void IconActivated(QSystemTrayIcon::ActivationReason reason);

  // What the notification area is given: icon, tooltip, menu, visibility.
  const QSystemTrayIcon& SystemTrayIcon() const { return trayIcon_; }
  static bool TrayAvailable();

 signals:
  // Just before the menu opens; Sender is the popup menu.
  void OnPopUp(QMenu* Sender);
  // Left double click (X11 trays only: StatusNotifier hosts send none).
  void OnDblClick();
  // The menu is about to open (right button). DopopUp comes in true; a handler that sets
  // it false keeps the menu closed. Connect directly: the flag is read back.
  void OnRmouseClick(QMenu* Sender, bool& DopopUp);
  // Left click; a StatusNotifier host's Activate.
  void OnClick();
  // Balloon events: Qt's notification area reports only a click on a balloon, and the
  // component itself never shows one, so OnBalloonShow and OnBalloonTimeOut never come.
  void OnBalloonClick();
  void OnBalloonShow();
  void OnBalloonTimeOut();
  // Once, the first time the icon should show while the desktop has no notification
  // area; the icon still goes into one that comes up later.
  void OnTrayUnavailable();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TApplicationLocations PresentLocation() const;
  bool ApplicationMinimized() const;
  void UpdateAndApply();
  // The icon for UpdateIcon: Filename's when that file exists, else the application's.
  QIcon OwnIcon() const;
  // The right-button steps, run as the menu is about to show.
  void MenuAboutToShow();
  void RestoreApplication();
  void SetTaskbarButton(bool shown);
  void ApplyAnimateTimer();

  QSystemTrayIcon trayIcon_;
  QPointer<QWidget> window_;
  QPointer<QMenu> popUpMenu_;
  QTimer animateTimer_;
  QString hint_;
  bool active_ = false;
  bool loading_ = false;
  bool firstApplied_ = false;
  bool tipShown_ = false;  // the tooltip goes with the icon (ShowHint at the last add)
  bool animateEnabled_ = false;
  bool unavailableReported_ = false;
  TApplicationLocations locationMinimized_ = loTaskBar | loSysTray;
  TApplicationLocations locationNormal_ = loTaskBar | loSysTray;
  std::uint32_t animateInterval_ = 0;
  std::uint16_t animateIndex_ = 1;
  Qt::WindowType windowType_ = Qt::Window;  // the window's own type while it is a tool window
};

}  // namespace vx
