// The least a tray program with a window and a 25 ms timer takes: the baseline that the
// figures script compares the program's memory with.
#include <QApplication>
#include <QMainWindow>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QMainWindow window;
  QSystemTrayIcon tray(app.style()->standardIcon(QStyle::SP_ComputerIcon));
  tray.show();
  unsigned ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start(25);
  return QApplication::exec();
}
