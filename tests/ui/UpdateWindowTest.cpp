#include "common/FakePrompter.h"
#include "common/HttpTestServer.h"
#include "common/LogText.h"
#include "common/Wait.h"
#include "support/UpdateSignature.h"
#include "support/unLog.h"
#include "support/unUpdate.h"
#include "ui/Application.h"
#include "ui/frmUpdate.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace vx {

namespace {

std::string ReadFile(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

bool Exists(const std::string& fileName) {
  return QFileInfo::exists(QString::fromStdString(fileName));
}

// Watches the download window from the event loop, which runs inside its modal loop
// and inside every progress event: records each status text and lets the test act on
// what it sees. Without a window to close, a download that hangs ends after kMaxTicks
// polls with the window's abort, so that the test fails instead of hanging.
class WindowDriver : public QObject {
 public:
  static constexpr int kMaxTicks = 200000;

  WindowDriver() {
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start(0);
  }

  // Called on each poll with the window shown.
  std::function<void(TfrmUpdate&)> OnTick;
  std::vector<std::string> Texts;  // the status line's texts, in the order seen
  bool SawWindow = false;

  bool Saw(const std::string& text) const {
    return std::find(Texts.begin(), Texts.end(), text) != Texts.end();
  }
  bool SawPrefix(const std::string& prefix) const {
    return std::any_of(Texts.begin(), Texts.end(),
                       [&prefix](const std::string& text) { return text.starts_with(prefix); });
  }

 private:
  void Tick() {
    TfrmUpdate* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* found = qobject_cast<TfrmUpdate*>(widget); found != nullptr && found->isVisible()) {
        window = found;
      }
    }
    if (window == nullptr) {
      return;
    }
    if (!SawWindow) {
      SawWindow = true;
      // The second's wait before the download starts is not what these tests are about.
      window->tmrStart->start(0);
    }
    const std::string text = window->lblUpdate->text().toStdString();
    if (Texts.empty() || Texts.back() != text) {
      Texts.push_back(text);
    }
    if (++ticks_ > kMaxTicks) {
      window->done(TfrmUpdate::kModalAbort);
      return;
    }
    if (OnTick) {
      OnTick(*window);
    }
  }

  QTimer timer_;
  int ticks_ = 0;
};

// Presses Close once the download has ended without the setup.
void CloseWhenDone(TfrmUpdate& window) {
  if (window.btnCancel->text() == QStringLiteral("Close")) {
    window.btnCancel->click();
  }
}

HttpTestServer::Response SlowBody(std::size_t size, std::size_t chunk) {
  HttpTestServer::Response response;
  response.Body = std::string(size, 'x');
  response.ChunkSize = chunk;
  response.ChunkPause = std::chrono::milliseconds(20);
  return response;
}

class UpdateWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    logFile_ = PathOf("test.log");
    ASSERT_TRUE(StartAppLog(logFile_));
    options_.ProgramFile = PathOf("vorlixa");
    options_.UpdateAddress = server_.Url("/updates");
    options_.UpdatePublicKey = key_.PublicKey;
    options_.DownloadSetup = DownloadSetupInWindow;
  }
  void TearDown() override { StopAppLog(); }

  std::string PathOf(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }

  // The signature of bytes with secretKey, as the publisher's tool makes it.
  std::string Signature(const std::string& bytes, const std::string& secretKey) const {
    const std::string file = PathOf("to-sign");
    { std::ofstream(file, std::ios::binary) << bytes; }
    return SignUpdateFile(file, secretKey);
  }

  // Offers build 1.0.8 (newer than every build of ours) with its setup at setupPath and
  // the given "Signature" line (none when empty).
  void OfferSetup(const std::string& setupPath, const std::string& signature = "",
                  const std::string& description = "Vorlixa") {
    server_.Route("/updates",
                  "[Vorlixa]\r\nDescription=" + description +
                      "\r\nVersion=1.0.8\r\nBuild=01000800\r\nURL=" + server_.Url(setupPath) +
                      "\r\n" + (signature.empty() ? "" : "Signature=" + signature + "\r\n"));
  }
  // Serves setup at setupPath, signed with the key that the program checks with.
  void OfferSignedSetup(const std::string& setupPath, const std::string& setup) {
    OfferSetup(setupPath, Signature(setup, key_.SecretKey));
    server_.Route(setupPath, setup);
  }

  // A setup that writes its arguments into the file "ran" beside it, whole or not at all.
  std::string SetupScript() const {
    return "#!/bin/sh\necho \"$@\" > '" + PathOf("ran.tmp") + "' && mv '" + PathOf("ran.tmp") +
           "' '" + PathOf("ran") + "'\n";
  }

  // The setup runs on its own: waits a bounded while for the file that it writes.
  std::string SetupArguments() const {
    WaitFor([this] { return Exists(PathOf("ran")); });
    return ReadFile(PathOf("ran"));
  }

  // The texts of the log's lines, without time stamps and banners.
  std::vector<std::string> LogTexts() const { return LogLineTexts(logFile_); }

  QTemporaryDir dir_;
  std::string logFile_;
  HttpTestServer server_;
  FakePrompter prompter_;
  TUpdateOptions options_;
  const TUpdateKeyPair key_ = NewUpdateKeyPair();
};

}  // namespace

TEST_F(UpdateWindowTest, ANewerBuildIsDownloadedAndStartedSilently) {
  OfferSignedSetup("/setup", SetupScript());
  prompter_.Answers = {true};
  WindowDriver driver;

  EXPECT_EQ(CheckForUpdates(true, options_), 1);
  EXPECT_EQ(prompter_.Questions,
            std::vector<std::string>{
                "Vorlixa Update available. Do you want to update to version 1.0.8 now?"});
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(SetupArguments(), "/silent\n");
  const std::vector<std::string> steps = LogTexts();
  ASSERT_GE(steps.size(), 2u);
  EXPECT_EQ(steps[steps.size() - 2], "Update: download setup");
  EXPECT_EQ(steps.back(), "Update: execute setup");
  EXPECT_TRUE(Exists(PathOf("~vxupd.exe")));
  EXPECT_FALSE(Exists(PathOf("~vxupd.exe.part")));
  EXPECT_FALSE(Exists(PathOf("~vxupd.ini")));
  ASSERT_FALSE(driver.Texts.empty());
  EXPECT_EQ(driver.Texts.front(), "Please wait...");
  EXPECT_TRUE(driver.SawPrefix("Downloaded "));

  // The next start of the program removes the setup.
  RemoveLeftoverSetup(options_.ProgramFile);
  EXPECT_FALSE(Exists(PathOf("~vxupd.exe")));
}

TEST_F(UpdateWindowTest, TheSetupIsFetchedThroughRedirects) {
  OfferSetup("/download", Signature(SetupScript(), key_.SecretKey));
  server_.Redirect("/download", server_.Url("/mirror"));
  server_.Redirect("/mirror", "/files/setup");
  server_.Route("/files/setup", SetupScript());
  prompter_.Answers = {true};
  WindowDriver driver;

  EXPECT_EQ(CheckForUpdates(true, options_), 1);
  EXPECT_EQ(SetupArguments(), "/silent\n");
  EXPECT_EQ(server_.Requests(),
            (std::vector<std::string>{"GET /updates HTTP/1.1", "GET /download HTTP/1.1",
                                      "GET /mirror HTTP/1.1", "GET /files/setup HTTP/1.1"}));
}

TEST_F(UpdateWindowTest, CancellingTheDownloadEndsTheCheckSilently) {
  OfferSetup("/setup");
  server_.Route("/setup", SlowBody(4 * 1024 * 1024, 16 * 1024));
  prompter_.Answers = {true};
  WindowDriver driver;
  bool cancelled = false;
  driver.OnTick = [&cancelled](TfrmUpdate& window) {
    if (!cancelled && window.lblUpdate->text().startsWith(QStringLiteral("Downloaded "))) {
      cancelled = true;
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QCoreApplication::sendEvent(&window, &esc);
    }
    CloseWhenDone(window);
  };

  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(driver.Saw("Download cancelled"));
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(LogTexts().back(), "Update: download setup");
  EXPECT_FALSE(Exists(PathOf("~vxupd.exe.part")));
  EXPECT_FALSE(Exists(PathOf("~vxupd.exe")));
}

TEST_F(UpdateWindowTest, DownloadErrorsShowOnlyInTheWindow) {
  OfferSetup("/gone");
  prompter_.Answers = {true};
  WindowDriver driver;
  driver.OnTick = CloseWhenDone;

  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_TRUE(driver.Saw("HTTP/1.1 404 Not Found"));
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(LogTexts().back(), "Update: download setup");
  EXPECT_FALSE(Exists(PathOf("~vxupd.exe.part")));
}

TEST_F(UpdateWindowTest, ASetupThatCannotStartIsReported) {
  OfferSignedSetup("/setup", std::string("\x7F"
                                         "garbage, no program",
                                         20));
  prompter_.Answers = {true};
  WindowDriver driver;

  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"Failed to execute update."});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] Exception - Failed to execute update.");
}

// Anyone on the way of a plain HTTP download could offer any program: only a setup signed
// with the key that the program is built with is run.
enum class Offer { Signed, Unsigned, OtherKey, ChangedAfterSigning, BuiltWithoutKey };

class SignedUpdateTest : public UpdateWindowTest, public ::testing::WithParamInterface<Offer> {};

TEST_P(SignedUpdateTest, OnlyASetupSignedWithTheBuiltInKeyIsRun) {
  const std::string setup = SetupScript();
  std::string signature = Signature(setup, key_.SecretKey);
  std::string served = setup;
  switch (GetParam()) {
    case Offer::Signed:
      break;
    case Offer::Unsigned:
      signature.clear();
      break;
    case Offer::OtherKey:
      signature = Signature(setup, NewUpdateKeyPair().SecretKey);
      break;
    case Offer::ChangedAfterSigning:
      served += "touch '" + PathOf("ran") + "'\n";
      break;
    case Offer::BuiltWithoutKey:
      options_.UpdatePublicKey.clear();
      break;
  }
  OfferSetup("/setup", signature);
  server_.Route("/setup", served);
  prompter_.Answers = {true};
  WindowDriver driver;

  const int result = CheckForUpdates(true, options_);
  EXPECT_FALSE(Exists(PathOf("~vxupd.exe.part")));
  if (GetParam() == Offer::Signed) {
    EXPECT_EQ(result, 1);
    EXPECT_EQ(SetupArguments(), "/silent\n");
    EXPECT_TRUE(prompter_.Messages.empty());
    return;
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"The update is not signed correctly."});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] EUpdateSignature - The update is not signed correctly.");
  EXPECT_FALSE(Exists(PathOf("~vxupd.exe")));
  RunEventsFor(200);  // a setup started by mistake would have written by now
  EXPECT_FALSE(Exists(PathOf("ran")));
}

std::string OfferName(const ::testing::TestParamInfo<Offer>& offer) {
  static const char* const kNames[] = {"Signed", "Unsigned", "OtherKey", "ChangedAfterSigning",
                                       "BuiltWithoutKey"};
  return kNames[static_cast<int>(offer.param)];
}

INSTANTIATE_TEST_SUITE_P(Offers, SignedUpdateTest,
                         ::testing::Values(Offer::Signed, Offer::Unsigned, Offer::OtherKey,
                                           Offer::ChangedAfterSigning, Offer::BuiltWithoutKey),
                         OfferName);

// What the server sends is text to show, never markup: a description that starts with a
// tag would otherwise hide or forge what the user is asked.
TEST_F(UpdateWindowTest, ServerTextsShowAsPlainTextAndTheQuestionIsAConfirmation) {
  const std::string forged = "<p style='color:white'>Vorlixa</p>Security fix";
  OfferSetup("/gone", "", forged);
  prompter_.Answers = {true};
  WindowDriver driver;
  std::vector<Qt::TextFormat> statusFormats;
  driver.OnTick = [&statusFormats](TfrmUpdate& window) {
    statusFormats.push_back(window.lblUpdate->textFormat());
    CloseWhenDone(window);
  };
  HttpTestServer::Response tagged;
  tagged.Status = 404;
  tagged.Reason = "<b>Not</b> Found";
  server_.Route("/gone", tagged);

  EXPECT_EQ(CheckForUpdates(true, options_), -1);
  EXPECT_TRUE(driver.Saw("HTTP/1.1 404 <b>Not</b> Found"));
  ASSERT_FALSE(statusFormats.empty());
  EXPECT_TRUE(std::all_of(statusFormats.begin(), statusFormats.end(),
                          [](Qt::TextFormat format) { return format == Qt::PlainText; }));

  // The question as the program's message box shows it.
  ASSERT_EQ(prompter_.Questions.size(), 1u);
  const auto question = NewQuestionBox(prompter_.Questions[0]);
  EXPECT_EQ(question->windowTitle(), "Confirm");
  EXPECT_EQ(question->icon(), QMessageBox::Question);
  EXPECT_EQ(question->textFormat(), Qt::PlainText);
  EXPECT_EQ(question->text().toStdString(),
            forged + " Update available. Do you want to update to version 1.0.8 now?");
  ASSERT_NE(question->button(QMessageBox::Yes), nullptr);
  EXPECT_EQ(question->button(QMessageBox::Yes)->text(), "&Yes");
  EXPECT_EQ(question->button(QMessageBox::No)->text(), "&No");
  // So are the messages (the server's status line, for one).
  EXPECT_EQ(NewMessageBox("HTTP/1.1 500 <b>Broken</b>")->textFormat(), Qt::PlainText);
}

// ---------------------------------------------------------------------------------------
// The window on its own.

TEST_F(UpdateWindowTest, ProgressShowsTheAnnouncedSizeInTheUsersNumberFormat) {
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  server_.Route("/big", SlowBody(1024 * 1024, 256 * 1024));
  WindowDriver driver;
  int maximum = 0;
  driver.OnTick = [&maximum](TfrmUpdate& window) { maximum = window.pbUpdate->maximum(); };
  TfrmUpdate frmUpdate;
  const bool downloaded = frmUpdate.Download(server_.Url("/big"), PathOf("big"));
  QLocale::setDefault(previous);

  EXPECT_TRUE(downloaded);
  EXPECT_EQ(maximum, 1024 * 1024);
  EXPECT_TRUE(driver.Saw("Downloading..."));
  EXPECT_TRUE(driver.Saw("Downloaded 1,00 of 1,00 MB"));
  EXPECT_EQ(ReadFile(PathOf("big")), std::string(1024 * 1024, 'x'));
  EXPECT_FALSE(Exists(PathOf("big.part")));
}

TEST_F(UpdateWindowTest, AnExistingTargetIsNotReplaced) {
  server_.Route("/setup", "new");
  { std::ofstream(PathOf("target")) << "old"; }
  WindowDriver driver;
  TfrmUpdate frmUpdate;
  EXPECT_FALSE(frmUpdate.Download(server_.Url("/setup"), PathOf("target")));
  EXPECT_EQ(ReadFile(PathOf("target")), "old");
  EXPECT_FALSE(Exists(PathOf("target.part")));
}

TEST_F(UpdateWindowTest, APartFileThatCannotBeCreatedFailsAtOnce) {
  WindowDriver driver;
  TfrmUpdate frmUpdate;
  EXPECT_FALSE(frmUpdate.Download(server_.Url("/setup"), PathOf("missing/setup")));
  EXPECT_FALSE(driver.SawWindow);
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(UpdateWindowTest, AServerThatFallsSilentTimesOut) {
  HttpTestServer::Response silent = SlowBody(1000, 100);
  silent.StallAfter = 100;
  server_.Route("/setup", silent);
  WindowDriver driver;
  driver.OnTick = CloseWhenDone;
  TfrmUpdate frmUpdate;
  frmUpdate.HttpClient.ReadTimeout = 1000;
  EXPECT_FALSE(frmUpdate.Download(server_.Url("/setup"), PathOf("setup")));
  EXPECT_TRUE(driver.Saw("Read timed out."));
  EXPECT_FALSE(Exists(PathOf("setup.part")));
  EXPECT_FALSE(Exists(PathOf("setup")));
}

}  // namespace vx
