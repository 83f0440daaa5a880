#include "common/ScopedLocale.h"
#include "common/SettingsXml.h"
#include "config/ConfigTestSupport.h"
#include "config/SettingsFile.h"
#include "platform/ProgramFile.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>

namespace vx {

struct BoolCase {
  const char* Text;
  bool Readable;
  bool Value;
};

class BooleanRule : public ::testing::TestWithParam<BoolCase> {};

TEST_P(BooleanRule, ReadsNumbersAndWordsOnly) {
  bool value = !GetParam().Value;
  EXPECT_EQ(TryTextToBool(GetParam().Text, value), GetParam().Readable);
  EXPECT_EQ(TextToBoolDef(GetParam().Text, true), GetParam().Readable ? GetParam().Value : true);
  if (GetParam().Readable) {
    EXPECT_EQ(value, GetParam().Value);
  } else {
    EXPECT_THROW(TextToBool(GetParam().Text), EConvertError);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BooleanRule,
    ::testing::Values(BoolCase{"-1", true, true}, BoolCase{"1", true, true},
                      BoolCase{"2", true, true}, BoolCase{"0.5", true, true},
                      BoolCase{"0", true, false}, BoolCase{"-0", true, false},
                      BoolCase{"True", true, true}, BoolCase{"tRUE", true, true},
                      BoolCase{"FALSE", true, false}, BoolCase{"false", true, false},
                      BoolCase{"", false, false}, BoolCase{"yes", false, false},
                      BoolCase{"Truex", false, false}, BoolCase{"inf", false, false}));

TEST(SettingsDocument, MissingMalformedAndHugeFilesGiveEmptyDocuments) {
  TempFolder folder;
  WriteFile(folder.Path("bad.xml"), "<Vorlixa><Ports></Vorlixa>");
  WriteFile(folder.Path("huge.xml"), SettingsXml(std::string(kMaxSettingsFileSize, ' ')));
  for (const char* name : {"missing.xml", "bad.xml", "", "huge.xml"}) {
    const TSettingsFileContent content = ReadSettingsFile(folder.Path(name));
    EXPECT_NE(content.State, TSettingsFileState::Loaded) << name;
    EXPECT_EQ(content.Doc->children, nullptr) << name;
  }
  EXPECT_EQ(ReadSettingsFile(folder.Path("huge.xml")).Problem, "it is larger than 16 MiB");
}

TEST(SettingsFileName, IsTheProgramFileWithXmlBesideIt) {
  const std::string program = ProgramFilePath();
  const std::string folder = program.substr(0, program.rfind('/') + 1);
  EXPECT_EQ(SettingsFileName(), folder + "test_config.xml");
}

TEST(FixedFormatSettings, KeepsPointAndCommaInACommaLocale) {
  ScopedNumericLocale german("de_DE.UTF-8");
  ASSERT_TRUE(german.Active()) << "de_DE.UTF-8 is not installed";
  EXPECT_EQ(LocaleFormatSettings().DecimalSeparator, ',');
  const TFormatSettings fixed = FixedFormatSettings();
  EXPECT_EQ(fixed.DecimalSeparator, '.');
  EXPECT_EQ(fixed.ThousandSeparator, ",");
  EXPECT_EQ(fixed.DateSeparator, '/');
  EXPECT_EQ(fixed.TimeSeparator, ':');
  EXPECT_EQ(fixed.ShortDateFormat, "yyyy/mm/dd");
  EXPECT_EQ(fixed.LongDateFormat, "yyyy/mm/dd hh:mm:ss");
  EXPECT_EQ(fixed.ShortTimeFormat, "hh:mm:ss");
}

}  // namespace vx
