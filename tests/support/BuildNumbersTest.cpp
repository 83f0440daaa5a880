#include "base/Exceptions.h"
#include "support/BuildNumbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace vx {

namespace {

struct BuildCase {
  const char* Version;
  std::uint32_t Build;  // when Error is empty
  const char* Error;    // the message, or ""
  const char* ErrorClass;
};

class VersionToBuildTest : public ::testing::TestWithParam<BuildCase> {};

std::string Outcome(const std::function<std::uint32_t()>& convert) {
  try {
    return std::to_string(convert());
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.what();
  }
}

std::string Expected(const BuildCase& c) {
  return c.Error[0] == '\0' ? std::to_string(c.Build) : std::string(c.ErrorClass) + ": " + c.Error;
}

}  // namespace

TEST_P(VersionToBuildTest, Converts) {
  const BuildCase& c = GetParam();
  EXPECT_EQ(Outcome([&] { return VersionToBuild(c.Version); }), Expected(c)) << c.Version;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionToBuildTest,
    ::testing::Values(
        BuildCase{"1.0.7.29", 16779037, "", ""}, BuildCase{"1.0.7.30", 0x0100071E, "", ""},
        BuildCase{"0.0.0.0", 0, "", ""}, BuildCase{"127.255.255.255", 0x7FFFFFFF, "", ""},
        BuildCase{"1.2", 0x0102, "", ""}, BuildCase{"1 0 7 29", 0x0100071D, "", ""},
        BuildCase{" 1 . 0.7.29", 0x0100071D, "", ""}, BuildCase{"1.0.7.300", 0x1000712C, "", ""},
        BuildCase{"128.0.0.0", 0, "Range check error", "ERangeError"},
        BuildCase{"255.255.255.255", 0, "Range check error", "ERangeError"},
        BuildCase{"1.0.7.x", 0, "'x' is not a valid integer value", "EConvertError"},
        BuildCase{"1.0.7.", 0, "'' is not a valid integer value", "EConvertError"},
        BuildCase{"1..7.29", 0, "'' is not a valid integer value", "EConvertError"},
        BuildCase{"", 0, "'$' is not a valid integer value", "EConvertError"},
        BuildCase{"1.0.7.29.1", 0, "'$0100071D01' is not a valid integer value", "EConvertError"}));

class HexToBuildTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(HexToBuildTest, Converts) {
  const BuildCase& c = GetParam();
  EXPECT_EQ(Outcome([&] { return HexToBuild(c.Version); }), Expected(c)) << c.Version;
}

INSTANTIATE_TEST_SUITE_P(
    Builds, HexToBuildTest,
    ::testing::Values(
        BuildCase{"0100071E", 0x0100071E, "", ""}, BuildCase{"7fffffff", 0x7FFFFFFF, "", ""},
        BuildCase{"000000000100071D", 0x0100071D, "", ""},
        BuildCase{"1.0.7.30", 0, "'$1.0.7.30' is not a valid integer value", "EConvertError"},
        BuildCase{"0x10", 0, "'$0x10' is not a valid integer value", "EConvertError"},
        BuildCase{"", 0, "'$' is not a valid integer value", "EConvertError"},
        BuildCase{"100000000", 0, "'$100000000' is not a valid integer value", "EConvertError"},
        BuildCase{"80000000", 0, "Range check error", "ERangeError"},
        BuildCase{"FFFFFFFF", 0, "Range check error", "ERangeError"}));

TEST(VersionToBuildTextTest, WritesTwoHexadecimalDigitsPerItemAtLeast) {
  EXPECT_EQ(VersionToBuildText("1.0.7.29"), "0100071D");
  EXPECT_EQ(VersionToBuildText("1.0.7.300"), "01000712C");
  EXPECT_EQ(VersionToBuildText(""), "");
}

}  // namespace vx
