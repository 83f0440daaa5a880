#include "platform/ProgramFile.h"

#include <gtest/gtest.h>

namespace vx {

TEST(ProgramFile, ChangeFileExtReplacesOrAddsTheLastExtension) {
  EXPECT_EQ(ChangeFileExt("vorlixa", ".log"), "vorlixa.log");
  EXPECT_EQ(ChangeFileExt("/opt/app.bin", ".log"), "/opt/app.log");
  EXPECT_EQ(ChangeFileExt("/opt/vorlixa-1.0/vorlixa", ".xml"), "/opt/vorlixa-1.0/vorlixa.xml");
  EXPECT_EQ(ChangeFileExt("/opt/a.tar.gz", ".ini"), "/opt/a.tar.ini");
}

}  // namespace vx
