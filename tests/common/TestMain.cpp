#include <QCoreApplication>

#include <gtest/gtest.h>

// Every test program owns a Qt application object, so timers, socket notifiers and
// QSerialPort work as they do in the program.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
