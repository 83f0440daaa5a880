// The least a tray program with a window and a 25 ms timer takes: the baseline that the
// figures scripts compare the program with. Given a serial device (the simulator's link),
// it also writes a frame of two dark boards with one lit LED moving along to it every tick
// and drops what came back, as the program does with a chain: the cost of the line
// itself.
#include <QApplication>
#include <QMainWindow>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QMainWindow window;
  QSystemTrayIcon tray(app.style()->standardIcon(QStyle::SP_ComputerIcon));
  tray.show();
  const int line = argc > 1 ? ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
  std::array<unsigned char, 161> frame{};
  unsigned ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    if (line >= 0) {
      frame.fill(0);
      frame[0] = 0xFF;  // RESET, then the boards' LEDs
      frame[1 + ticks % 160] = 200;
      if (::write(line, frame.data(), frame.size()) < 0) {
        return;
      }
      ::tcflush(line, TCIFLUSH);
    }
  });
  timer.start(25);
  return QApplication::exec();
}
