#include "LogTestHelpers.h"
#include "common/TestFiles.h"
#include "platform/AtomicFile.h"
#include "support/IniFile.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vx {

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const char* name) const {
    return dir_.filePath(QString::fromLatin1(name)).toStdString();
  }
  QTemporaryDir dir_;
};

// A disk that fills up after a few bytes of each file.
class FullDiskCalls final : public TFileCalls {
 public:
  long Write(int fd, const char* data, std::size_t count) override {
    if (Written >= kRoom) {
      return -ENOSPC;
    }
    const long written = TFileCalls::Write(fd, data, std::min(count, kRoom - Written));
    if (written > 0) {
      Written += static_cast<std::size_t>(written);
    }
    return written;
  }
  std::size_t Written = 0;

 private:
  static constexpr std::size_t kRoom = 8;
};

}  // namespace

TEST_F(IniFileTest, ReadsSectionsAndKeysWithoutRegardToLetterCase) {
  const std::string fileName = PathOf("update.ini");
  WriteTextFile(fileName,
                "; the server's answer\n"
                "[Other]\n"
                "Build=00000001\n"
                "[ vorlixa ]\r\n"
                "  build =  0100071E  \r\n"
                "Build=00000002\r\n"
                "Version=\"1.0 beta 8\"\r\n"
                "Empty=\r\n"
                "[Vorlixa]\r\n"
                "URL=http://not.this/\r\n");
  EXPECT_EQ(ReadIniString(fileName, "Vorlixa", "Build"), "0100071E") << "the first match counts";
  EXPECT_EQ(ReadIniString(fileName, "VORLIXA", "version"), "1.0 beta 8");
  EXPECT_EQ(ReadIniString(fileName, "Vorlixa", "Empty", "default"), "");
  EXPECT_EQ(ReadIniString(fileName, "Vorlixa", "URL", "none"), "none");
  EXPECT_EQ(ReadIniString(fileName, "Other", "Build"), "00000001");
  EXPECT_EQ(ReadIniString(fileName, "Missing", "Build", "none"), "none");
  EXPECT_EQ(ReadIniString(PathOf("missing.ini"), "Vorlixa", "Build", "none"), "none");
}

TEST_F(IniFileTest, WritingKeepsTheRestOfTheFile) {
  const std::string fileName = PathOf("vorlixa.ini");
  WriteIniString(fileName, "Vorlixa", "Description", "Vorlixa");
  EXPECT_EQ(ReadText(fileName), "[Vorlixa]\r\nDescription=Vorlixa\r\n");

  WriteTextFile(fileName,
                "[vorlixa]\r\n"
                "; our identity\r\n"
                "BUILD=00000001\r\n"
                "\r\n"
                "[Other]\r\n"
                "Build=7\r\n");
  WriteIniString(fileName, "Vorlixa", "Build", "0100071D");
  WriteIniString(fileName, "Vorlixa", "Version", "1.0 beta 7");
  WriteIniString(fileName, "Third", "Key", "Value");
  EXPECT_EQ(ReadText(fileName),
            "[vorlixa]\r\n"
            "; our identity\r\n"
            "Build=0100071D\r\n"
            "Version=1.0 beta 7\r\n"
            "\r\n"
            "[Other]\r\n"
            "Build=7\r\n"
            "[Third]\r\n"
            "Key=Value\r\n");
}

// The version record is written as the settings are, in one piece; a link in its place,
// whether it points to a file or to nothing yet, is replaced and what it names stays as it was.
TEST_F(IniFileTest, ALinkInTheFilesPlaceIsReplacedAndNotFollowed) {
  const std::string other = PathOf("other.txt");
  WriteTextFile(other, "[Vorlixa]\r\nsomeone else's\r\n");
  for (const std::string& target : {other, PathOf("missing.txt")}) {
    SCOPED_TRACE(target);
    const std::string fileName = PathOf("vorlixa.ini");
    std::filesystem::remove(fileName);
    std::filesystem::create_symlink(target, fileName);
    WriteIniString(fileName, "Vorlixa", "Build", "0100071D");
    EXPECT_FALSE(std::filesystem::is_symlink(fileName));
    EXPECT_EQ(ReadText(fileName), "[Vorlixa]\r\nBuild=0100071D\r\n");
  }
  EXPECT_EQ(ReadText(other), "[Vorlixa]\r\nsomeone else's\r\n");
  EXPECT_FALSE(std::filesystem::exists(PathOf("missing.txt")));
  // Nothing is left of the temporary files.
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// A file that cannot be written raises with its name; one whose write fails half way (a
// full disk) keeps its old content whole, and nothing is left of the new one.
TEST_F(IniFileTest, AFileThatCannotBeWrittenRaisesAndKeepsItsContent) {
  const std::string folder = PathOf("folder.ini");
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("folder.ini")));
  const std::string record = PathOf("vorlixa.ini");
  const std::string old = "[Vorlixa]\r\nDescription=Vorlixa\r\nBuild=0100071C\r\n";
  WriteTextFile(record, old);
  FullDiskCalls fullDisk;
  const std::vector<std::pair<std::string, TFileCalls*>> cases = {{folder, &SystemFileCalls()},
                                                                  {record, &fullDisk}};
  for (const auto& [fileName, calls] : cases) {
    SCOPED_TRACE(fileName);
    try {
      WriteIniString(fileName, "Vorlixa", "Build", "0100071D", *calls);
      FAIL() << "no error";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(e.Message(), "Unable to write to " + fileName);
    }
  }
  EXPECT_GT(fullDisk.Written, 0U) << "the write began";
  EXPECT_EQ(ReadText(record), old);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{"folder.ini", "vorlixa.ini"}));
}

}  // namespace vx
