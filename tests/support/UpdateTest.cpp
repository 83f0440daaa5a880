#include "LogTestHelpers.h"
#include "base/Exceptions.h"
#include "base/Format.h"
#include "common/FakePrompter.h"
#include "common/HttpTestServer.h"
#include "common/LogText.h"
#include "common/Minisign.h"
#include "common/TestFiles.h"
#include "common/Wait.h"
#include "platform/Prompter.h"
#include "support/IniFile.h"
#include "support/unLog.h"
#include "support/unUpdate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vx {

namespace {

constexpr const char* kOwnBuild = "0100071D";  // 1.0.7.29, the version of every build
constexpr const char* kNewBuild = "01000800";  // 1.0.8.0
constexpr int kCheckWaitMs = 30000;            // a bound for a busy machine

std::string UpdateInfo(const std::string& build, const std::string& url = "http://127.0.0.1/") {
  return "[Vorlixa]\r\nDescription=Vorlixa\r\nVersion=1.0 beta 8\r\nBuild=" + build +
         "\r\nURL=" + url + "\r\n";
}

// Plays the window's part once the check reports: asks its question and shows its error
// through the installed prompter, and keeps its result as a number (its enum keeps the
// numbers -1, 0 and 1).
void ReportToPrompter(TUpdateCheck& check, int& result) {
  check.OnQuestion = [&check](const std::string& question) {
    check.Answer(CurrentPrompter().AskYesNo(question));
  };
  check.OnFinished = [&result](TUpdateResult ended, const std::string& error) {
    if (!error.empty()) {
      ShowMessage(error);
    }
    result = static_cast<int>(ended);
  };
}

// The download window as a script: it starts the download when shown, records what it is
// told, and closes when the download has ended without the setup.
class RecordingView final : public TDownloadView {
 public:
  explicit RecordingView(std::vector<std::string>& texts) : texts_(texts) {}
  void Show() override { OnStart(); }
  void Downloading() override { texts_.emplace_back("Downloading..."); }
  void WorkBegin(std::int64_t /*size*/) override {}
  void Work(std::int64_t /*received*/) override {}
  void Ended(const std::string& text) override {
    texts_.push_back(text);
    OnClose();
  }

 private:
  std::vector<std::string>& texts_;
};

// Every check runs against a server of its own, with a program folder in a temporary
// folder, its own log file, a key made by minisign and scripted answers.
class CheckForUpdatesSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    logFile_ = PathOf("test.log");
    ASSERT_TRUE(StartAppLog(logFile_));
    options_.ProgramFile = PathOf("vorlixa");
    options_.UpdateAddress = server_.Url("/updates");
    options_.UpdatePublicKey = key_.PublicKey();
    options_.NewDownloadView = [this] { return std::make_unique<RecordingView>(windowTexts_); };
  }
  void TearDown() override { StopAppLog(); }

  std::string PathOf(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }
  std::string UpdatePath(const std::string& name) const { return PathOf("~vxupd/" + name); }

  // Runs a check to its end; 99 when it did not end in time.
  int Check(bool Manual) {
    TUpdateCheck check(Manual, options_);
    int result = 99;
    ReportToPrompter(check, result);
    check.Start();
    WaitFor([&check] { return !check.Running(); }, kCheckWaitMs);
    return result;
  }

  // Offers build with its setup at /setup, and the signature file beside it.
  void Offer(const std::string& build, const std::string& signatureFile) {
    server_.Route("/updates", UpdateInfo(build, server_.Url("/setup")));
    server_.Route("/setup.minisig", signatureFile);
  }
  void OfferSigned(const std::string& setup) {
    Offer(kNewBuild, key_.Sign(setup, MinisignKey::Comment(kNewBuild, setup)));
    server_.Route("/setup", setup);
  }

  // A setup that writes its arguments into the file "ran" beside the program, whole or
  // not at all.
  std::string SetupScript() const {
    return "#!/bin/sh\necho \"$@\" > '" + PathOf("ran.tmp") + "' && mv '" + PathOf("ran.tmp") +
           "' '" + PathOf("ran") + "'\n";
  }
  bool SetupRan(int limitMs) const {
    return WaitFor([this] { return QFile::exists(QString::fromStdString(PathOf("ran"))); },
                   limitMs);
  }

  // The texts of the log's lines, without time stamps and banners.
  std::vector<std::string> LogTexts() const { return LogLineTexts(logFile_); }

  static std::vector<std::string> Steps(std::initializer_list<std::string> steps) { return steps; }

  QTemporaryDir dir_;
  std::string logFile_;
  HttpTestServer server_;
  FakePrompter prompter_;
  const MinisignKey key_;
  TUpdateOptions options_;
  std::vector<std::string> windowTexts_;
};

bool Exists(const std::string& fileName) {
  return QFileInfo::exists(QString::fromStdString(fileName));
}

}  // namespace

TEST_F(CheckForUpdatesSystem, AnEqualBuildIsNotNewer) {
  server_.Route("/updates", UpdateInfo(kOwnBuild));
  EXPECT_EQ(Check(true), 0);
  EXPECT_TRUE(prompter_.Questions.empty());
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(server_.Requests(), std::vector<std::string>{"GET /updates HTTP/1.1"});
  EXPECT_EQ(LogTexts(), Steps({"Update: Get version", "Update: download update info",
                               "Update: check update info", "Update: delete update info",
                               "Update: compare versions"}));
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.ini")));
  // The local version record, beside the program.
  const std::string record = PathOf("vorlixa.ini");
  EXPECT_EQ(ReadIniString(record, "Vorlixa", "Description"), "Vorlixa");
  EXPECT_EQ(ReadIniString(record, "Vorlixa", "Version"), "1.0 beta 7");
  EXPECT_EQ(ReadIniString(record, "Vorlixa", "Build"), kOwnBuild);
  EXPECT_EQ(ReadIniString(record, "Vorlixa", "URL", "none"), "none");
}

TEST_F(CheckForUpdatesSystem, WithoutAnUpdateAddressOrAKeyThereIsNoCheckAndNoFileIsTouched) {
  bool asked = false;
  options_.ReadAutoUpdate = [&asked](const std::string&) {
    asked = true;
    return true;
  };
  const std::string address = options_.UpdateAddress;
  options_.UpdateAddress.clear();
  EXPECT_EQ(Check(false), 0);
  EXPECT_EQ(Check(true), 0);
  options_.UpdateAddress = address;
  options_.UpdatePublicKey.clear();
  EXPECT_EQ(Check(true), 0);
  EXPECT_FALSE(asked);
  EXPECT_EQ(LogTexts(), Steps({"Update: off, updates come with the system's packages",
                               "Update: off, updates come with the system's packages",
                               "Update: off, this build has no key to check updates with"}));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
            QStringList{"test.log"})
      << "no version record";
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_TRUE(prompter_.Messages.empty());
}

TEST_F(CheckForUpdatesSystem, DecliningEndsTheCheckSilently) {
  const std::string setup = SetupScript();
  OfferSigned(setup);
  server_.Route("/updates", "[vorlixa]\n description = Vorlixa LED \nversion= 1.0.8 \nBUILD = " +
                                std::string(kNewBuild) + "\nURL=" + server_.Url("/setup") + "\n");
  prompter_.Answers = {false};
  EXPECT_EQ(Check(true), -1);
  EXPECT_EQ(prompter_.Questions,
            std::vector<std::string>{
                "Vorlixa LED Update available. Do you want to update to version 1.0.8 now?"});
  EXPECT_TRUE(prompter_.Messages.empty());
  ASSERT_FALSE(LogTexts().empty());
  EXPECT_EQ(LogTexts().back(), "Update: check signature");
  EXPECT_EQ(server_.Requests().size(), 2U) << "the setup is not fetched";
}

// The question is asked after the check has returned to the event loop, so the program
// may end meanwhile: the check then ends at once, and an answer that comes after is
// ignored.
TEST_F(CheckForUpdatesSystem, AnEndDuringTheQuestionEndsTheCheckAndALateYesFetchesNothing) {
  OfferSigned(SetupScript());
  TUpdateCheck check(true, options_);
  int result = 99;
  ReportToPrompter(check, result);
  check.OnQuestion = [&check](const std::string&) {
    check.Cancel();
    check.Answer(true);
  };
  check.Start();
  ASSERT_TRUE(WaitFor([&check] { return !check.Running(); }, kCheckWaitMs));
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(server_.Requests().size(), 2U) << "the setup is not fetched";
  EXPECT_FALSE(SetupRan(200));
}

TEST_F(CheckForUpdatesSystem, TheAutomaticCheckAsksTheSettingsFirst) {
  server_.Route("/updates", UpdateInfo(kOwnBuild));
  std::vector<std::string> asked;
  options_.ReadAutoUpdate = [&asked](const std::string& settingsFile) {
    asked.push_back(settingsFile);
    return false;
  };
  EXPECT_EQ(Check(false), 0);
  EXPECT_EQ(asked, std::vector<std::string>{PathOf("vorlixa.xml")});
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_EQ(LogTexts(), Steps({"Update: Get version", "Update: check if automatic is set"}));
  EXPECT_EQ(ReadIniString(PathOf("vorlixa.ini"), "Vorlixa", "Build"), kOwnBuild)
      << "the record is written all the same";

  options_.ReadAutoUpdate = nullptr;
  EXPECT_EQ(Check(false), 0);
  EXPECT_TRUE(server_.Requests().empty());

  options_.ReadAutoUpdate = [](const std::string&) { return true; };
  EXPECT_EQ(Check(false), 0);
  EXPECT_EQ(server_.Requests().size(), 1U);
}

TEST_F(CheckForUpdatesSystem, AFailingSettingsReaderEndsTheCheck) {
  options_.ReadAutoUpdate = [](const std::string&) -> bool {
    throw EInOutError("Input/output error", 5);
  };
  EXPECT_EQ(Check(false), -1);
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"Input/output error"});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EInOutError - Input/output error");
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(CheckForUpdatesSystem, ServerErrorsAreShownAndLogged) {
  EXPECT_EQ(Check(true), -1);
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"HTTP/1.1 404 Not Found"});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EHttpProtocolError - HTTP/1.1 404 Not Found");

  // The update information is asked for where it is, not where it is sent.
  server_.Redirect("/updates", "/elsewhere");
  server_.Route("/elsewhere", UpdateInfo("0100071E"));
  EXPECT_EQ(Check(true), -1);
  EXPECT_EQ(prompter_.Messages.back(), "HTTP/1.1 302 Found");
  EXPECT_EQ(server_.Requests().size(), 2U);

  // Without a signature file beside the setup there is no question.
  server_.Route("/updates", UpdateInfo(kNewBuild, server_.Url("/setup")));
  EXPECT_EQ(Check(true), -1);
  EXPECT_EQ(prompter_.Messages.back(), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(server_.Requests().back(), "GET /setup.minisig HTTP/1.1");
  EXPECT_TRUE(prompter_.Questions.empty());
}

// The request runs beside the event loop: the check has started and given the thread
// back before the server has answered. Whether nothing listens at the address or the
// server falls silent, the check ends with the request's error, shown and logged; a
// refused connection ends it at once, not by the time-out.
TEST_F(CheckForUpdatesSystem, AnUnreachableOrSilentServerNeitherHoldsTheThreadNorTheCheck) {
  HttpTestServer::Response silent;
  silent.Body = UpdateInfo("0100071E");
  silent.StallAfter = 10;
  server_.Route("/updates", silent);
  options_.InfoReadTimeout = 1000;
  const std::string unreachable =
      "http://127.0.0.1:" + std::to_string(HttpTestServer::UnusedPort()) + "/updates";
  for (const std::string& address : {unreachable, options_.UpdateAddress}) {
    SCOPED_TRACE(address);
    options_.UpdateAddress = address;
    prompter_.Messages.clear();
    TUpdateCheck check(true, options_);
    int result = 99;
    ReportToPrompter(check, result);
    check.Start();
    EXPECT_TRUE(check.Running());
    ASSERT_TRUE(WaitFor([&check] { return !check.Running(); }, kCheckWaitMs));
    EXPECT_EQ(result, -1);
    ASSERT_EQ(prompter_.Messages.size(), 1U);
    EXPECT_EQ(LogTexts().back(), "[-ERROR-] EHttpError - " + prompter_.Messages[0]);
    const bool refused = address == unreachable;
    EXPECT_EQ(prompter_.Messages[0] == "Read timed out.", !refused) << prompter_.Messages[0];
    EXPECT_FALSE(prompter_.Messages[0].empty());
  }
  EXPECT_TRUE(prompter_.Questions.empty());
}

// The start waits for the update information: neither a flood nor a trickle may hold it.
TEST_F(CheckForUpdatesSystem, TheUpdateInformationIsBoundedInSizeAndInTime) {
  server_.Route("/updates", UpdateInfo(kOwnBuild) + std::string(64 * 1024, ';'));
  EXPECT_EQ(Check(true), -1);
  EXPECT_EQ(prompter_.Messages,
            std::vector<std::string>{"The response is larger than 65536 bytes."});
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.ini")));

  HttpTestServer::Response unannounced;
  unannounced.Body = UpdateInfo(kOwnBuild) + std::string(64 * 1024, ';');
  unannounced.AnnounceLength = false;
  server_.Route("/updates", unannounced);
  EXPECT_EQ(Check(true), -1);
  EXPECT_EQ(prompter_.Messages.back(), "The response is larger than 65536 bytes.");

  // One byte every 50 ms never makes a single read wait long, but all of it takes 10 s;
  // the wait gives up before that.
  HttpTestServer::Response trickle;
  trickle.Body = UpdateInfo(kOwnBuild) + std::string(200 - UpdateInfo(kOwnBuild).size(), ';');
  trickle.ChunkSize = 1;
  trickle.ChunkPause = std::chrono::milliseconds(50);
  server_.Route("/updates", trickle);
  options_.InfoReadTimeout = 1000;
  TUpdateCheck check(true, options_);
  int result = 99;
  ReportToPrompter(check, result);
  check.Start();
  EXPECT_TRUE(WaitFor([&check] { return !check.Running(); }, 8000));
  EXPECT_EQ(result, -1);
  // The whole answer is bounded, not each read: the check hung up long before the end.
  ASSERT_FALSE(server_.BodyBytesSent().empty());
  EXPECT_LT(server_.BodyBytesSent().back(), trickle.Body.size() / 2);
  EXPECT_EQ(prompter_.Messages.back(), "Read timed out.");
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EHttpError - Read timed out.");
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.ini")));
}

TEST_F(CheckForUpdatesSystem, AnUnreadableBuildKeepsTheUpdateInformation) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1.0.7.30", "EConvertError - '$1.0.7.30' is not a valid integer value"},
      {"", "EConvertError - '$' is not a valid integer value"},
      {"80000000", "ERangeError - Range check error"}};
  for (const auto& [build, error] : cases) {
    server_.Route("/updates", UpdateInfo(build));
    EXPECT_EQ(Check(true), -1) << build;
    EXPECT_EQ(LogTexts().back(), "[-ERROR-] " + error);
    EXPECT_EQ(prompter_.Messages.back(), error.substr(error.find(" - ") + 3));
    EXPECT_TRUE(Exists(UpdatePath("~vxupd.ini")));
  }
  EXPECT_TRUE(prompter_.Questions.empty());
}

TEST_F(CheckForUpdatesSystem, AnUnwritableProgramFolderStopsTheCheck) {
  // Read-only for an ordinary user; for a privileged one, whom permissions do not stop,
  // the record's name is taken by a folder as well.
  const std::string folder = PathOf("readonly");
  ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("readonly/vorlixa.ini")));
  std::filesystem::permissions(
      folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  options_.ProgramFile = folder + "/vorlixa";
  server_.Route("/updates", UpdateInfo("0100071E"));
  EXPECT_EQ(Check(true), -1);
  const std::string message = "Unable to write to " + folder + "/vorlixa.ini";
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{message});
  EXPECT_EQ(LogTexts(), Steps({"Update: Get version", "[-ERROR-] EIniFileException - " + message}));
  EXPECT_TRUE(server_.Requests().empty());
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
}

// What is downloaded goes into a folder that only this user may enter: one that others
// may write, or a link to elsewhere, could hand the program someone else's setup.
TEST_F(CheckForUpdatesSystem, AnUpdateFolderThatIsNotPrivateIsRefused) {
  server_.Route("/updates", UpdateInfo(kOwnBuild));
  EXPECT_EQ(Check(true), 0);
  EXPECT_EQ(std::filesystem::status(PathOf("~vxupd")).permissions(),
            std::filesystem::perms::owner_all);

  std::filesystem::permissions(
      PathOf("~vxupd"), std::filesystem::perms::group_all | std::filesystem::perms::others_all,
      std::filesystem::perm_options::add);
  EXPECT_EQ(Check(true), -1);
  EXPECT_EQ(prompter_.Messages.back(),
            "Cannot use " + PathOf("~vxupd") + ": Operation not permitted");

  std::filesystem::remove(PathOf("~vxupd"));
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("elsewhere")));
  std::filesystem::permissions(PathOf("elsewhere"), std::filesystem::perms::owner_all);
  std::filesystem::create_directory_symlink(PathOf("elsewhere"), PathOf("~vxupd"));
  EXPECT_EQ(Check(true), -1);
  EXPECT_EQ(prompter_.Messages.back(), "Cannot use " + PathOf("~vxupd") + ": Not a directory");
  EXPECT_TRUE(QDir(QString::fromStdString(PathOf("elsewhere"))).isEmpty());
}

TEST_F(CheckForUpdatesSystem, ASignedSetupIsDownloadedVerifiedAndStartedSilently) {
  OfferSigned(SetupScript());
  prompter_.Answers = {true};
  EXPECT_EQ(Check(true), 1);
  EXPECT_TRUE(prompter_.Messages.empty());
  ASSERT_TRUE(SetupRan(kCheckWaitMs));
  std::ifstream ran(PathOf("ran"));
  std::string arguments;
  std::getline(ran, arguments);
  EXPECT_EQ(arguments, "/silent");
  EXPECT_EQ(server_.Requests(),
            (std::vector<std::string>{"GET /updates HTTP/1.1", "GET /setup.minisig HTTP/1.1",
                                      "GET /setup HTTP/1.1"}));
  const std::vector<std::string> steps = LogTexts();
  ASSERT_GE(steps.size(), 3U);
  EXPECT_EQ(std::vector<std::string>(steps.end() - 3, steps.end()),
            Steps({"Update: check signature", "Update: download setup", "Update: execute setup"}));
  EXPECT_EQ(windowTexts_, std::vector<std::string>{"Downloading..."});
  EXPECT_TRUE(Exists(UpdatePath("~vxupd.exe")));
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe.part")));

  // The next start of the program removes the setup.
  RemoveLeftoverSetup(options_.ProgramFile);
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe")));
}

// Build, Version and URL are plain text from whoever answers: only what the publisher
// signed decides, and it decides before the user is asked.
enum class Forgery { ReplayedOlderSetup, OtherProduct, OtherKey, ChangedComment, NotPrehashed };

class SignatureRefusalSystem : public CheckForUpdatesSystem,
                               public ::testing::WithParamInterface<Forgery> {};

TEST_P(SignatureRefusalSystem, RefusesBeforeTheQuestion) {
  const std::string setup = SetupScript();
  std::string offered = kNewBuild;
  std::string signature;
  switch (GetParam()) {
    case Forgery::ReplayedOlderSetup:
      // An old release, signed in its day, offered as the newest there can be.
      offered = "7FFFFFFF";
      signature = key_.Sign(setup, MinisignKey::Comment("0100071C", setup));
      break;
    case Forgery::OtherProduct:
      signature = key_.Sign(setup, MinisignKey::Comment(kNewBuild, setup, "Other"));
      break;
    case Forgery::OtherKey:
      signature = MinisignKey().Sign(setup, MinisignKey::Comment(kNewBuild, setup));
      break;
    case Forgery::ChangedComment: {
      signature = key_.Sign(setup, MinisignKey::Comment("0100071C", setup));
      const std::size_t build = signature.find("build=0100071C");
      ASSERT_NE(build, std::string::npos);
      signature.replace(build, 14, "build=" + std::string(kNewBuild));
      break;
    }
    case Forgery::NotPrehashed:
      signature = key_.Sign(setup, MinisignKey::Comment(kNewBuild, setup), true);
      break;
  }
  Offer(offered, signature);
  server_.Route("/setup", setup);
  prompter_.Answers = {true};

  EXPECT_EQ(Check(true), -1);
  EXPECT_TRUE(prompter_.Questions.empty());
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"The update is not signed correctly."});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EUpdateSignature - The update is not signed correctly.");
  EXPECT_EQ(server_.Requests().back(), "GET /setup.minisig HTTP/1.1") << "the setup is not fetched";
  EXPECT_FALSE(SetupRan(200));
}

std::string ForgeryName(const ::testing::TestParamInfo<Forgery>& forgery) {
  static constexpr std::array<const char*, 5> kForgeries{
      "ReplayedOlderSetup", "OtherProduct", "OtherKey", "ChangedComment", "NotPrehashed"};
  return kForgeries.at(static_cast<std::size_t>(forgery.param));
}

INSTANTIATE_TEST_SUITE_P(Forgeries, SignatureRefusalSystem,
                         ::testing::Values(Forgery::ReplayedOlderSetup, Forgery::OtherProduct,
                                           Forgery::OtherKey, Forgery::ChangedComment,
                                           Forgery::NotPrehashed),
                         ForgeryName);

// A setup that is not the signed one never runs: more than the signed size is cut off as
// it comes, whether announced or not; fewer or other bytes fail the signature.
TEST_F(CheckForUpdatesSystem, ASetupThatIsNotTheSignedOneIsNeverRun) {
  const std::string setup = SetupScript();
  const std::string longer = setup + "touch '" + PathOf("ran") + "'\n" + std::string(1 << 20, '#');
  const std::string tooLarge = Format("The response is larger than %d bytes.", setup.size());
  struct Served {
    std::string Body;
    bool Announced;
    std::string WindowText;  // the download's end in the window, or
    std::string Message;     // the error after it
  };
  std::string changed = setup;
  changed.back() = ' ';
  const std::vector<Served> cases = {
      {longer, true, tooLarge, ""},
      {longer, false, tooLarge, ""},
      {changed, true, "", "The update is not signed correctly."},
      {setup.substr(0, setup.size() - 1), true, "", "The update is not signed correctly."}};
  for (const Served& served : cases) {
    SCOPED_TRACE(served.Body.size());
    Offer(kNewBuild, key_.Sign(setup, MinisignKey::Comment(kNewBuild, setup)));
    HttpTestServer::Response response;
    response.Body = served.Body;
    response.AnnounceLength = served.Announced;
    server_.Route("/setup", response);
    prompter_.Answers = {true};
    prompter_.Messages.clear();
    windowTexts_.clear();

    EXPECT_EQ(Check(true), -1);
    if (served.Message.empty()) {
      EXPECT_EQ(windowTexts_.back(), served.WindowText);
      EXPECT_TRUE(prompter_.Messages.empty());
    } else {
      EXPECT_EQ(prompter_.Messages, std::vector<std::string>{served.Message});
      EXPECT_EQ(LogTexts().back(), "[-ERROR-] EUpdateSignature - " + served.Message);
    }
    EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe.part")));
    EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe")));
    EXPECT_FALSE(SetupRan(200));
  }
}

// A server that sends the setup a few bytes at a time, never pausing long enough for the
// read time-out, is ended by the download's total limit.
TEST_F(CheckForUpdatesSystem, ATricklingSetupEndsByTheTimeLimit) {
  const std::string setup = SetupScript() + std::string(2000, '#');
  Offer(kNewBuild, key_.Sign(setup, MinisignKey::Comment(kNewBuild, setup)));
  HttpTestServer::Response trickle;
  trickle.Body = setup;
  trickle.ChunkSize = 10;
  trickle.ChunkPause = std::chrono::milliseconds(50);  // 10 s for all of it
  server_.Route("/setup", trickle);
  options_.SetupTotalTimeout = 1500;
  prompter_.Answers = {true};

  TUpdateCheck check(true, options_);
  int result = 99;
  ReportToPrompter(check, result);
  check.Start();
  ASSERT_TRUE(WaitFor([&check] { return !check.Running(); }, 8000));
  EXPECT_EQ(result, -1);
  EXPECT_EQ(windowTexts_, (std::vector<std::string>{"Downloading...", "Read timed out."}));
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe.part")));
  EXPECT_FALSE(SetupRan(200));
}

TEST(RemoveLeftoverSetupTest, DeletesOnlyTheSetup) {
  QTemporaryDir dir;
  const auto path = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("~vxupd")));
  WriteTextFile(path("~vxupd/~vxupd.exe").toStdString(), "#!/bin/sh\n");
  WriteTextFile(path("~vxupd/~vxupd.exe.part").toStdString(), "#!/bin/sh\n");
  WriteTextFile(path("~vxupd/~vxupd.ini").toStdString(), "[Vorlixa]\n");
  RemoveLeftoverSetup(path("vorlixa").toStdString());
  EXPECT_FALSE(QFile::exists(path("~vxupd/~vxupd.exe")));
  EXPECT_FALSE(QFile::exists(path("~vxupd/~vxupd.exe.part")));
  EXPECT_TRUE(QFile::exists(path("~vxupd/~vxupd.ini")));
  RemoveLeftoverSetup(path("vorlixa").toStdString());  // nothing left: no error
}

}  // namespace vx
