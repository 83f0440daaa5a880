#include "ui/TrayIcon.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <cstdio>

using namespace vx;

// Shows the program's tray icon on a real display for the tray host test, and reports on
// standard output, one line each: "unavailable" (no notification area), "embedded X Y W
// H" whenever the icon has (again) a place in one, "lost" when that place is gone, and
// the mouse events and the menu ("click", "dblclick", "rmouse", "popup", "menu-shown").
namespace {

// The probe ends by itself should the test that started it be gone.
constexpr int kLifetimeMs = 60000;
constexpr int kGeometryPollMs = 100;

void Report(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

class MenuShownReporter : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      Report("menu-shown");
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  QWidget window;
  QMenu menu;
  menu.addAction("&Configure");
  menu.addSeparator();
  menu.addAction("&Exit");
  MenuShownReporter menuReporter;
  menu.installEventFilter(&menuReporter);

  auto* tray = new TTrayIcon(&window);
  tray->BeginLoad();
  tray->SetActive(true);
  tray->SetPopUpMenu(&menu);
  tray->Popup = true;
  tray->SetLocationMinimized(loSysTray);
  tray->SetLocationNormal(loSysTray);
  tray->SetAnimateIndex(0);
  QObject::connect(tray, &TTrayIcon::OnClick, [] { Report("click"); });
  QObject::connect(tray, &TTrayIcon::OnDblClick, [] { Report("dblclick"); });
  QObject::connect(tray, &TTrayIcon::OnRmouseClick, [](QMenu*, bool&) { Report("rmouse"); });
  QObject::connect(tray, &TTrayIcon::OnPopUp, [](QMenu*) { Report("popup"); });
  QObject::connect(tray, &TTrayIcon::OnTrayUnavailable, [] { Report("unavailable"); });
  tray->Loaded();

  QRect reported;
  QTimer geometryPoll;
  QObject::connect(&geometryPoll, &QTimer::timeout, [&] {
    const QRect where = TTrayIcon::TrayAvailable() ? tray->SystemTrayIcon().geometry() : QRect();
    if (reported.isValid() && !where.isValid()) {
      Report("lost");
    } else if (where != reported && where.isValid()) {
      const QByteArray line = QStringLiteral("embedded %1 %2 %3 %4")
                                  .arg(where.x())
                                  .arg(where.y())
                                  .arg(where.width())
                                  .arg(where.height())
                                  .toLatin1();
      Report(line.constData());
    }
    reported = where;
  });
  geometryPoll.start(kGeometryPollMs);
  QTimer::singleShot(kLifetimeMs, &app, &QApplication::quit);
  return QApplication::exec();
}
