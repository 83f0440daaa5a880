// The least a program without a window takes for a 25 ms timer: the baseline that the
// figures script compares the service's memory with.
#include <QCoreApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  unsigned ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start(25);
  return QCoreApplication::exec();
}
