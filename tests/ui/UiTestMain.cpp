#include <QApplication>

#include <gtest/gtest.h>

// Windows need a QApplication. Without a display (CI, and CTest listing the tests at
// build time) they run on the offscreen platform.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
