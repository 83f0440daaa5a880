#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
}

TEST(RoundHalfEven, OtherValuesGoToTheNearest) {
  EXPECT_EQ(RoundHalfEven(0.49999), 0);
  EXPECT_EQ(RoundHalfEven(0.50001), 1);
  EXPECT_EQ(RoundHalfEven(38.6), 39);
  EXPECT_EQ(RoundHalfEven(-2.7), -3);
  EXPECT_EQ(RoundHalfEven(254.0), 254);
}

class StrToIntValid : public ::testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(StrToIntValid, Converts) {
  EXPECT_EQ(StrToInt(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntValid,
                         ::testing::Values(std::pair{"0", 0}, std::pair{"42", 42},
                                           std::pair{" 7 ", 7}, std::pair{"-12", -12},
                                           std::pair{"+3", 3}, std::pair{"$FF", 255},
                                           std::pair{"0x1f", 31},
                                           std::pair{"2147483647", 2147483647},
                                           std::pair{"-2147483648", INT32_MIN}));

class StrToIntInvalid : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToIntInvalid, RaisesConvertErrorNamingTheText) {
  try {
    StrToInt(GetParam());
    FAIL() << "no exception for '" << GetParam() << "'";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), Format("'%s' is not a valid integer value", GetParam()));
    EXPECT_STREQ(ExceptionClassName(e), "EConvertError");
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntInvalid,
                         ::testing::Values("", " ", "abc", "12a", "1.5", "-", "$", "0x",
                                           "2147483648", "-2147483649",
                                           "99999999999999999999"));

TEST(Exceptions, ClassNamesFollowTheType) {
  EXPECT_STREQ(ExceptionClassName(ERangeError("x")), "ERangeError");
  EXPECT_STREQ(ExceptionClassName(EListError("x")), "EListError");
  EXPECT_STREQ(ExceptionClassName(EInOutError("x", 5)), "EInOutError");
  EXPECT_STREQ(ExceptionClassName(std::runtime_error("x")), "Exception");
  // A range error is caught where an integer error is expected.
  EXPECT_THROW(throw ERangeError(kRangeCheckError), EIntError);
}

TEST(Format, FormatsPrintfStyle) {
  EXPECT_EQ(Format("LEDBar index out of range (%d)", -1), "LEDBar index out of range (-1)");
  EXPECT_EQ(Format("0x%.2X", 0x3a), "0x3A");
  EXPECT_EQ(Format("%s - %s", "EConvertError", "bad"), "EConvertError - bad");
}
