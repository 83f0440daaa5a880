#include "platform/ProgramFile.h"
#include "platform/VersionBlock.h"
#include "support/VersionInfo.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace vx {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The strings that the build puts into every program file, in their order.
const std::vector<std::string> kBuiltKeys = {"CompanyName",  "FileDescription", "FileVersion",
                                             "InternalName", "LegalCopyright",  "OriginalFilename",
                                             "ProductName",  "ProductVersion"};

Bytes ReadBytes(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary | std::ios::ate);
  Bytes bytes(static_cast<std::size_t>(file.tellg()));
  file.seekg(0);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void WriteBytes(const std::string& fileName, const Bytes& bytes) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes Utf16(const std::string& ascii) {
  Bytes bytes;
  for (const char c : ascii) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

std::size_t Find(const Bytes& haystack, const Bytes& needle, std::size_t from = 0) {
  const auto found = std::search(haystack.begin() + static_cast<std::ptrdiff_t>(from),
                                 haystack.end(), needle.begin(), needle.end());
  EXPECT_NE(found, haystack.end());
  return static_cast<std::size_t>(found - haystack.begin());
}

// The offset of the node keyed key inside a block (its key follows a 6-byte header).
std::size_t NodeOffset(const Bytes& block, const std::string& key) {
  Bytes zeroTerminated = Utf16(key);
  zeroTerminated.insert(zeroTerminated.end(), {0, 0});
  return Find(block, zeroTerminated) - 6;
}

void PutWord(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

template <typename Number>
Number Get(const Bytes& bytes, std::size_t offset) {
  Number value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

template <typename Number>
void Put(Bytes& bytes, std::size_t offset, Number value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// Reads copies of this test program, damaged in the ways a reader meets.
class VersionInfoFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    program_ = ReadBytes(ProgramFilePath());
    const auto block = ReadVersionBlock(ProgramFilePath());
    ASSERT_TRUE(block.has_value()) << "the test program carries no version block";
    block_ = *block;
    blockOffset_ = Find(program_, block_);
  }

  // Writes bytes as a new file of the temporary folder and reads it.
  void Read(const Bytes& bytes) {
    copy_ = dir_.filePath(QStringLiteral("copy%1").arg(++copies_)).toStdString();
    WriteBytes(copy_, bytes);
    vi_.SetFileName(copy_);
  }

  // The copy with the word at offset of the version block replaced.
  Bytes WithBlockWord(std::size_t offset, std::uint16_t value) const {
    Bytes bytes = program_;
    PutWord(bytes, blockOffset_ + offset, value);
    return bytes;
  }

  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (const std::string& key : kBuiltKeys) {
      if (!vi_.GetValue(key).empty()) {
        keys.push_back(key);
      }
    }
    return keys;
  }

  static std::vector<std::string> FirstKeys(std::size_t count) {
    return {kBuiltKeys.begin(), kBuiltKeys.begin() + static_cast<std::ptrdiff_t>(count)};
  }

  // Where the ELF header keeps the section header table (64-bit files).
  std::uint64_t SectionTableOffset() const { return Get<std::uint64_t>(program_, 0x28); }
  // Where the section names are.
  std::size_t SectionNamesOffset() const {
    const std::size_t names = Get<std::uint16_t>(program_, 0x3E);
    return Get<std::uint64_t>(program_, SectionTableOffset() + names * 64 + 24);
  }

  QTemporaryDir dir_;
  Bytes program_;
  Bytes block_;
  std::size_t blockOffset_ = 0;
  std::string copy_;
  int copies_ = 0;
  TVersionInfo vi_;
};

}  // namespace

TEST(VersionInfoTest, TheRunningProgramCarriesTheProjectVersion) {
  TVersionInfo vi;
  EXPECT_EQ(vi.GetStandardValue(3), "") << "nothing is read before asked";
  vi.SetApplication(true);
  EXPECT_EQ(vi.FileName(), ProgramFilePath());
  EXPECT_EQ(vi.GetStandardValue(3), "1.0.7.29");
  EXPECT_EQ(vi.GetStandardValue(9), "1.0 beta 7");
  EXPECT_EQ(vi.GetStandardValue(0), "");
  EXPECT_EQ(vi.GetStandardValue(11), "");
  EXPECT_EQ(vi.GetStandardValue(1), "Tremanic");
  EXPECT_EQ(vi.GetStandardValue(8), "Vorlixa");
  EXPECT_EQ(vi.GetValue("OriginalFilename"), "test_support");
  // UTF-16 in the block, UTF-8 here.
  EXPECT_EQ(vi.GetValue("LegalCopyright"), "Copyright \u00a9 Tremanic");
  EXPECT_EQ(vi.LanguageName(), "Dutch (Netherlands)");
}

TEST(VersionInfoTest, KeysMatchWithoutRegardToLetterCase) {
  TVersionInfo vi;
  vi.SetApplication(true);
  EXPECT_EQ(vi.GetValue("productversion"), "1.0 beta 7");
  EXPECT_EQ(vi.GetValue("FILEVERSION"), "1.0.7.29");
  EXPECT_EQ(vi.GetValue("LegalTradeMarks"), "") << "not in the block";
  EXPECT_EQ(vi.GetValue("ProductVersio"), "");
}

TEST_F(VersionInfoFileTest, FileNameReadsOnlyWhenItChanges) {
  vi_.SetApplication(true);
  Read(program_);
  EXPECT_FALSE(vi_.Application()) << "a file name of its own clears Application";
  EXPECT_EQ(vi_.GetStandardValue(3), "1.0.7.29");
  EXPECT_TRUE(vi_.HasValues());

  WriteBytes(copy_, Bytes{'n', 'o', ' ', 'E', 'L', 'F'});
  vi_.SetFileName(copy_);
  EXPECT_EQ(vi_.GetStandardValue(3), "1.0.7.29") << "the same name again does not read";
  vi_.Refresh();
  EXPECT_EQ(vi_.GetStandardValue(3), "");
  EXPECT_FALSE(vi_.HasValues());
  EXPECT_EQ(vi_.LanguageName(), "Dutch (Netherlands)") << "a file without a block leaves it";
}

TEST_F(VersionInfoFileTest, ApplicationFalseOnlyClearsTheFlag) {
  vi_.SetApplication(true);
  vi_.SetApplication(false);
  EXPECT_FALSE(vi_.Application());
  EXPECT_EQ(vi_.FileName(), ProgramFilePath());
  EXPECT_EQ(vi_.GetStandardValue(9), "1.0 beta 7");
}

TEST_F(VersionInfoFileTest, FilesWithoutABlockGiveNoKeys) {
  vi_.SetFileName(dir_.filePath(QStringLiteral("missing")).toStdString());
  EXPECT_TRUE(Keys().empty());

  Read({});
  EXPECT_TRUE(Keys().empty());

  Bytes renamed = program_;
  const std::string name = ".versioninfo";
  const std::size_t at = Find(renamed, Bytes(name.begin(), name.end() + 1), SectionNamesOffset());
  renamed[at + 1] = 'V';
  Read(renamed);
  EXPECT_TRUE(Keys().empty()) << "no section of that name";

  Read(Bytes(program_.begin(), program_.begin() + static_cast<std::ptrdiff_t>(blockOffset_ + 100)));
  EXPECT_TRUE(Keys().empty()) << "cut off in the block, the section table is gone";
}

TEST_F(VersionInfoFileTest, DamagedSectionTablesGiveNoKeys) {
  Bytes bytes = program_;
  Put<std::uint64_t>(bytes, 0x28, bytes.size() - 10);
  Read(bytes);
  EXPECT_TRUE(Keys().empty()) << "section table past the end";

  bytes = program_;
  Put<std::uint16_t>(bytes, 0x3C, 0xFFFF);
  Read(bytes);
  EXPECT_TRUE(Keys().empty()) << "more sections than the file holds";

  bytes = program_;
  Put<std::uint16_t>(bytes, 0x3E, Get<std::uint16_t>(bytes, 0x3C));
  Read(bytes);
  EXPECT_TRUE(Keys().empty()) << "no section name table";

  // The version section's header: the one whose offset field points at the block.
  const std::uint64_t table = SectionTableOffset();
  const auto count = Get<std::uint16_t>(program_, 0x3C);
  std::size_t header = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = static_cast<std::size_t>(table) + i * 64;
    if (Get<std::uint64_t>(program_, entry + 24) == blockOffset_) {
      header = entry;
    }
  }
  ASSERT_NE(header, 0U);

  bytes = program_;
  Put<std::uint64_t>(bytes, header + 24, bytes.size() + 1000);
  Read(bytes);
  EXPECT_TRUE(Keys().empty()) << "section starts past the end";

  bytes = program_;
  Put<std::uint64_t>(bytes, header + 32, UINT64_MAX);
  Read(bytes);
  EXPECT_EQ(Keys(), kBuiltKeys) << "a section size past the end is cut off at the end";

  bytes = program_;
  Put<std::uint32_t>(bytes, header, 0xFFFFFFF0);
  Read(bytes);
  EXPECT_TRUE(Keys().empty()) << "section name outside the name table";
}

TEST_F(VersionInfoFileTest, AZeroLengthEndsTheWalkWithTheKeysFoundSoFar) {
  Read(WithBlockWord(NodeOffset(block_, "InternalName"), 0));
  EXPECT_EQ(Keys(), FirstKeys(3));
  EXPECT_EQ(vi_.GetStandardValue(3), "1.0.7.29");

  Read(WithBlockWord(NodeOffset(block_, "041304E4"), 0));
  EXPECT_TRUE(Keys().empty());

  Read(WithBlockWord(0, 0));
  EXPECT_TRUE(Keys().empty());
}

TEST_F(VersionInfoFileTest, LengthsPastTheEndGiveTheKeysFoundSoFar) {
  // The string reaches past its table: it is read up to the table's end, and the walk
  // ends there.
  Read(WithBlockWord(NodeOffset(block_, "LegalCopyright"), 0xFFFF));
  EXPECT_EQ(Keys(), FirstKeys(5));
  EXPECT_EQ(vi_.GetValue("LegalCopyright"), "Copyright \u00a9 Tremanic");

  // A block that claims more than its section holds ends with the section.
  Read(WithBlockWord(0, 0xFFFF));
  EXPECT_EQ(Keys(), kBuiltKeys);

  // A table too short for its own key is damaged.
  Read(WithBlockWord(NodeOffset(block_, "041304E4"), 8));
  EXPECT_TRUE(Keys().empty());
}

TEST_F(VersionInfoFileTest, WithoutATranslationTheFirstStringTableCounts) {
  Bytes bytes = program_;
  const std::size_t key = blockOffset_ + NodeOffset(block_, "Translation") + 6;
  bytes[key] = 'X';
  Read(bytes);
  EXPECT_EQ(vi_.LanguageName(), "Language Neutral");
  EXPECT_EQ(vi_.GetStandardValue(9), "1.0 beta 7");
}

TEST_F(VersionInfoFileTest, ATranslationWithoutItsTableKeepsNoValues) {
  // Code page 04E4 -> 04E5: the keys are found, but not in the first translation's table.
  // The value follows the 30-byte header at 32: language, then code page.
  const std::size_t value = NodeOffset(block_, "Translation") + 32 + 2;
  Read(WithBlockWord(value, 0x04E5));
  EXPECT_TRUE(Keys().empty());
  EXPECT_EQ(vi_.LanguageName(), "Dutch (Netherlands)");
}

TEST_F(VersionInfoFileTest, TheWalkerNeverLeavesACutBlock) {
  std::vector<std::string> all;
  WalkVersionBlock(block_, all);
  ASSERT_EQ(all, kBuiltKeys);
  std::size_t previous = 0;
  for (std::size_t size = 0; size <= block_.size(); ++size) {
    // A copy of exactly that size, so that a read beyond it is a fault that the address
    // sanitizer reports.
    const Bytes cut(block_.begin(), block_.begin() + static_cast<std::ptrdiff_t>(size));
    std::vector<std::string> keys;
    try {
      WalkVersionBlock(cut, keys);
    } catch (const EParserError&) {
    }
    ASSERT_LE(keys.size(), all.size());
    EXPECT_TRUE(std::equal(keys.begin(), keys.end(), all.begin())) << size;
    EXPECT_GE(keys.size(), previous) << size;
    previous = keys.size();
  }
}

TEST_F(VersionInfoFileTest, TheWalkerNamesTheLevelOfAZeroLength) {
  const auto walk = [](Bytes block) {
    std::vector<std::string> keys;
    try {
      WalkVersionBlock(block, keys);
    } catch (const EParserError& e) {
      return std::string(e.what()) + " after " + std::to_string(keys.size());
    }
    return std::string("no error");
  };
  Bytes block = block_;
  PutWord(block, 0, 0);
  EXPECT_EQ(walk(block), "Invalid VersionInfo length (0). after 0");
  block = block_;
  PutWord(block, NodeOffset(block, "StringFileInfo"), 0);
  EXPECT_EQ(walk(block), "Invalid StringFileInfo length (0). after 0");
  block = block_;
  PutWord(block, NodeOffset(block, "041304E4"), 0);
  EXPECT_EQ(walk(block), "Invalid StringTable length (0). after 0");
  block = block_;
  PutWord(block, NodeOffset(block, "ProductName"), 0);
  EXPECT_EQ(walk(block), "Invalid String length (0). after 6");
  // The translation's node is not walked.
  block = block_;
  PutWord(block, NodeOffset(block, "Translation"), 0);
  EXPECT_EQ(walk(block), "no error");
}

TEST(VersionLanguageNameTest, NamesTheCommonLanguages) {
  EXPECT_EQ(VersionLanguageName(0x0413), "Dutch (Netherlands)");
  EXPECT_EQ(VersionLanguageName(0x0409), "English (United States)");
  EXPECT_EQ(VersionLanguageName(0x0407), "German (Germany)");
  EXPECT_EQ(VersionLanguageName(0x0000), "Language Neutral");
  EXPECT_EQ(VersionLanguageName(0x7FFF), "Unknown language");
}

}  // namespace vx
