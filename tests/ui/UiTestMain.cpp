#include <QApplication>

#include <gtest/gtest.h>

// Windows need a QApplication; the tests run on the offscreen platform.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
