#include "LogTestHelpers.h"
#include "base/Exceptions.h"
#include "common/FakePrompter.h"
#include "common/HttpTestServer.h"
#include "common/LogText.h"
#include "support/unLog.h"
#include "support/unUpdate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace vx {

namespace {

// ---------------------------------------------------------------------------------------
// Build numbers.

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

// ---------------------------------------------------------------------------------------
// INI files.

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const char* name) const {
    return dir_.filePath(QString::fromLatin1(name)).toStdString();
  }
  QTemporaryDir dir_;
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
  EXPECT_EQ(ReadLogFile(fileName), "[Vorlixa]\r\nDescription=Vorlixa\r\n");

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
  EXPECT_EQ(ReadLogFile(fileName),
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

TEST_F(IniFileTest, AFileThatCannotBeWrittenRaises) {
  const std::string fileName = PathOf("folder.ini");
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("folder.ini")));
  try {
    WriteIniString(fileName, "Vorlixa", "Build", "0100071D");
    FAIL() << "no error";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + fileName);
  }
}

// ---------------------------------------------------------------------------------------
// The update check, up to the download.

namespace {

constexpr const char* kOwnBuild = "0100071D";  // 1.0.7.29, the version of every build

std::string UpdateInfo(const std::string& build, const std::string& url = "http://127.0.0.1/") {
  return "[Vorlixa]\r\nDescription=Vorlixa\r\nVersion=1.0 beta 8\r\nBuild=" + build +
         "\r\nURL=" + url + "\r\n";
}

// Every check runs against a server of its own, with a program folder in a temporary
// folder, its own log file and scripted answers.
class CheckForUpdatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    logFile_ = PathOf("test.log");
    ASSERT_TRUE(StartAppLog(logFile_));
    options_.ProgramFile = PathOf("vorlixa");
    options_.UpdateAddress = server_.Url("/updates");
  }
  void TearDown() override { StopAppLog(); }

  std::string PathOf(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }

  // The texts of the log's lines, without time stamps and banners.
  std::vector<std::string> LogTexts() const { return LogLineTexts(logFile_); }

  static std::vector<std::string> Steps(std::initializer_list<std::string> steps) { return steps; }

  QTemporaryDir dir_;
  std::string logFile_;
  HttpTestServer server_;
  FakePrompter prompter_;
  TUpdateOptions options_;
};

}  // namespace

TEST_F(CheckForUpdatesTest, AnEqualBuildIsNotNewer) {
  server_.Route("/updates", UpdateInfo(kOwnBuild));
  EXPECT_EQ(CheckForUpdates(true, options_), 0);
  EXPECT_TRUE(prompter_.Questions.empty());
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(server_.Requests(), std::vector<std::string>{"GET /updates HTTP/1.1"});
  EXPECT_EQ(LogTexts(), Steps({"Update: Get version", "Update: download update info",
                               "Update: check update info", "Update: delete update info",
                               "Update: compare versions"}));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(PathOf("~vxupd.ini"))));
  // The local version record, beside the program.
  const std::string record = PathOf("vorlixa.ini");
  EXPECT_EQ(ReadIniString(record, "Vorlixa", "Description"), "Vorlixa");
  EXPECT_EQ(ReadIniString(record, "Vorlixa", "Version"), "1.0 beta 7");
  EXPECT_EQ(ReadIniString(record, "Vorlixa", "Build"), kOwnBuild);
  EXPECT_EQ(ReadIniString(record, "Vorlixa", "URL", "none"), "none");
}

TEST_F(CheckForUpdatesTest, WithoutAnUpdateAddressUpdatesAreOffAndNoFileIsTouched) {
  options_.UpdateAddress.clear();
  bool asked = false;
  options_.ReadAutoUpdate = [&asked](const std::string&) {
    asked = true;
    return true;
  };
  EXPECT_EQ(CheckForUpdates(false, options_), 0);
  EXPECT_EQ(CheckForUpdates(true, options_), 0);
  EXPECT_FALSE(asked);
  EXPECT_EQ(LogTexts(), Steps({"Update: off, updates come with the system's packages",
                               "Update: off, updates come with the system's packages"}));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{"test.log"})
      << "no version record";
  EXPECT_TRUE(prompter_.Messages.empty());
}

TEST_F(CheckForUpdatesTest, DecliningEndsTheCheckSilently) {
  server_.Route("/updates",
                "[vorlixa]\n description = Vorlixa LED \nversion= 1.0.8 \nBUILD = 0100071E\n");
  prompter_.Answers = {false};
  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_EQ(prompter_.Questions,
            std::vector<std::string>{
                "Vorlixa LED Update available. Do you want to update to version 1.0.8 now?"});
  EXPECT_TRUE(prompter_.Messages.empty());
  ASSERT_FALSE(LogTexts().empty());
  EXPECT_EQ(LogTexts().back(), "Update: compare versions");
}

TEST_F(CheckForUpdatesTest, TheAutomaticCheckAsksTheSettingsFirst) {
  server_.Route("/updates", UpdateInfo(kOwnBuild));
  std::vector<std::string> asked;
  options_.ReadAutoUpdate = [&asked](const std::string& settingsFile) {
    asked.push_back(settingsFile);
    return false;
  };
  EXPECT_EQ(CheckForUpdates(false, options_), 0);
  EXPECT_EQ(asked, std::vector<std::string>{PathOf("vorlixa.xml")});
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_EQ(LogTexts(), Steps({"Update: Get version", "Update: check if automatic is set"}));
  EXPECT_EQ(ReadIniString(PathOf("vorlixa.ini"), "Vorlixa", "Build"), kOwnBuild)
      << "the record is written all the same";

  options_.ReadAutoUpdate = nullptr;
  EXPECT_EQ(CheckForUpdates(false, options_), 0);
  EXPECT_TRUE(server_.Requests().empty());

  options_.ReadAutoUpdate = [](const std::string&) { return true; };
  EXPECT_EQ(CheckForUpdates(false, options_), 0);
  EXPECT_EQ(server_.Requests().size(), 1u);
}

TEST_F(CheckForUpdatesTest, AFailingSettingsReaderEndsTheCheck) {
  options_.ReadAutoUpdate = [](const std::string&) -> bool {
    throw EInOutError("Input/output error", 5);
  };
  EXPECT_EQ(CheckForUpdates(false, options_), -1);
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"Input/output error"});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EInOutError - Input/output error");
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(CheckForUpdatesTest, ServerErrorsAreShownAndLogged) {
  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"HTTP/1.1 404 Not Found"});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EHttpProtocolError - HTTP/1.1 404 Not Found");

  // The update information is asked for where it is, not where it is sent.
  server_.Redirect("/updates", "/elsewhere");
  server_.Route("/elsewhere", UpdateInfo("0100071E"));
  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_EQ(prompter_.Messages.back(), "HTTP/1.1 302 Found");
  EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(CheckForUpdatesTest, AnUnreachableServerIsShownAndLogged) {
  options_.UpdateAddress =
      "http://127.0.0.1:" + std::to_string(HttpTestServer::UnusedPort()) + "/updates";
  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  ASSERT_EQ(prompter_.Messages.size(), 1u);
  EXPECT_FALSE(prompter_.Messages[0].empty());
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EHttpError - " + prompter_.Messages[0]);
}

TEST_F(CheckForUpdatesTest, ASilentServerDoesNotHoldTheCheck) {
  HttpTestServer::Response silent;
  silent.Body = UpdateInfo("0100071E");
  silent.StallAfter = 10;
  server_.Route("/updates", silent);
  options_.InfoReadTimeout = 1000;
  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"Read timed out."});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EHttpError - Read timed out.");
  EXPECT_TRUE(prompter_.Questions.empty());
}

// The start waits for the update information: neither a flood nor a trickle may hold it.
TEST_F(CheckForUpdatesTest, TheUpdateInformationIsBoundedInSizeAndInTime) {
  server_.Route("/updates", UpdateInfo(kOwnBuild) + std::string(64 * 1024, ';'));
  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_EQ(prompter_.Messages,
            std::vector<std::string>{"The response is larger than 65536 bytes."});
  EXPECT_FALSE(QFile::exists(QString::fromStdString(PathOf("~vxupd.ini"))));

  // One byte every 50 ms never makes a single read wait long, but all of it takes 10 s.
  HttpTestServer::Response trickle;
  trickle.Body = UpdateInfo(kOwnBuild) + std::string(200 - UpdateInfo(kOwnBuild).size(), ';');
  trickle.ChunkSize = 1;
  trickle.ChunkPause = std::chrono::milliseconds(50);
  server_.Route("/updates", trickle);
  options_.InfoReadTimeout = 1000;
  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  // The whole answer is bounded, not each read: the check hung up long before the end.
  ASSERT_FALSE(server_.BodyBytesSent().empty());
  EXPECT_LT(server_.BodyBytesSent().back(), trickle.Body.size() / 2);
  EXPECT_EQ(prompter_.Messages.back(), "Read timed out.");
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EHttpError - Read timed out.");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(PathOf("~vxupd.ini"))));
}

TEST_F(CheckForUpdatesTest, AnUnreadableBuildKeepsTheUpdateInformation) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1.0.7.30", "EConvertError - '$1.0.7.30' is not a valid integer value"},
      {"", "EConvertError - '$' is not a valid integer value"},
      {"80000000", "ERangeError - Range check error"}};
  for (const auto& [build, error] : cases) {
    server_.Route("/updates", UpdateInfo(build));
    EXPECT_EQ(CheckForUpdates(true, options_), -1) << build;
    EXPECT_EQ(LogTexts().back(), "[-ERROR-] " + error);
    EXPECT_EQ(prompter_.Messages.back(), error.substr(error.find(" - ") + 3));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(PathOf("~vxupd.ini"))));
  }
  EXPECT_TRUE(prompter_.Questions.empty());
}

TEST_F(CheckForUpdatesTest, AnUnwritableProgramFolderStopsTheCheck) {
  // Read-only for an ordinary user; for a privileged one, whom permissions do not stop,
  // the record's name is taken by a folder as well.
  const std::string folder = PathOf("readonly");
  ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("readonly/vorlixa.ini")));
  std::filesystem::permissions(
      folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  options_.ProgramFile = folder + "/vorlixa";
  server_.Route("/updates", UpdateInfo("0100071E"));
  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  const std::string message = "Unable to write to " + folder + "/vorlixa.ini";
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{message});
  EXPECT_EQ(LogTexts(), Steps({"Update: Get version", "[-ERROR-] EIniFileException - " + message}));
  EXPECT_TRUE(server_.Requests().empty());
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
}

TEST(RemoveLeftoverSetupTest, DeletesOnlyTheSetupBesideTheProgram) {
  QTemporaryDir dir;
  const auto path = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
  WriteTextFile(path("~vxupd.exe").toStdString(), "#!/bin/sh\n");
  WriteTextFile(path("~vxupd.ini").toStdString(), "[Vorlixa]\n");
  RemoveLeftoverSetup(path("vorlixa").toStdString());
  EXPECT_FALSE(QFile::exists(path("~vxupd.exe")));
  EXPECT_TRUE(QFile::exists(path("~vxupd.ini")));
  RemoveLeftoverSetup(path("vorlixa").toStdString());  // nothing left: no error
}

}  // namespace vx
