#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "common/ScopedLocale.h"

#include <gtest/gtest.h>

namespace vx {

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
                                           "2147483648", "-2147483649", "99999999999999999999"));

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

class FloatToTextCase : public ::testing::TestWithParam<std::pair<double, const char*>> {};

TEST_P(FloatToTextCase, WritesGeneralFormatWithPoint) {
  EXPECT_EQ(FloatToText(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Values, FloatToTextCase,
                         ::testing::Values(std::pair{1.0, "1"}, std::pair{0.25, "0.25"},
                                           std::pair{0.1 + 0.2, "0.3"}, std::pair{0.0, "0"},
                                           std::pair{-2.5, "-2.5"}, std::pair{1234567.0, "1234567"},
                                           std::pair{0.00001, "0.00001"},
                                           std::pair{0.000001, "1E-6"}, std::pair{1e15, "1E15"},
                                           std::pair{123456789012345.0, "123456789012345"},
                                           std::pair{2.0 / 3.0, "0.666666666666667"}));

TEST(TextToFloat, AcceptsThePointThenTheLocaleSeparator) {
  ScopedNumericLocale german("de_DE.UTF-8");
  if (!german.Active()) {
    GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  }
  EXPECT_EQ(LocaleDecimalSeparator(), ',');
  EXPECT_DOUBLE_EQ(StrToFloat("0.5"), 0.5);
  EXPECT_DOUBLE_EQ(StrToFloat("0,5"), 0.5);
  EXPECT_DOUBLE_EQ(StrToFloat(" -1,25 "), -1.25);
  // Writing never follows the locale.
  EXPECT_EQ(FloatToText(0.5), "0.5");
}

TEST(TextToFloat, RejectsWhatIsNoNumber) {
  for (const char* text : {"", "abc", "1.2.3", "inf", "nan", "1,5x", "--1"}) {
    double value = 7.0;
    EXPECT_FALSE(TryTextToFloat(text, value)) << text;
    EXPECT_EQ(value, 7.0) << text;
  }
  try {
    StrToFloat("x1");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'x1' is not a valid floating point value");
  }
  double value = 0.0;
  EXPECT_TRUE(TryTextToFloat("+1e3", value));
  EXPECT_EQ(value, 1000.0);
}

}  // namespace vx
