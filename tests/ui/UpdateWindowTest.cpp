#include "common/FakePrompter.h"
#include "common/HttpTestServer.h"
#include "common/LogText.h"
#include "common/Minisign.h"
#include "common/TestFiles.h"
#include "common/Wait.h"
#include "platform/Prompter.h"
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
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vx {

namespace {

constexpr int kCheckWaitMs = 30000;  // a bound for a busy machine
constexpr const char* kNewBuild = "01000800";

bool Exists(const std::string& fileName) {
  return QFileInfo::exists(QString::fromStdString(fileName));
}

// The real download window, with each status text recorded as the window shows it:
// the status line can change twice between two polls of the event loop.
class RecordedWindow : public TDownloadView {
 public:
  explicit RecordedWindow(std::vector<std::string>& texts)
      : texts_(texts), owned_(NewDownloadWindow()), window_(dynamic_cast<TfrmUpdate&>(*owned_)) {}

  void Show() override {
    owned_->OnStart = OnStart;
    owned_->OnCancel = OnCancel;
    owned_->OnClose = OnClose;
    owned_->Show();
    Record();
  }
  void Downloading() override {
    owned_->Downloading();
    Record();
  }
  void WorkBegin(std::int64_t size) override {
    owned_->WorkBegin(size);
    Record();
  }
  void Work(std::int64_t received) override {
    owned_->Work(received);
    Record();
  }
  void Ended(const std::string& text) override {
    owned_->Ended(text);
    Record();
  }

 private:
  void Record() {
    const std::string text = window_.lblUpdate->text().toStdString();
    if (texts_.empty() || texts_.back() != text) {
      texts_.push_back(text);
    }
  }

  std::vector<std::string>& texts_;
  std::unique_ptr<TDownloadView> owned_;
  TfrmUpdate& window_;
};

// Gives the check recorded windows and drives them from the program's event loop, which
// goes on while a window is shown: lets the test act on what it sees.
class WindowDriver : public QObject {
 public:
  explicit WindowDriver(TUpdateOptions& options) {
    options.NewDownloadView = [this] { return std::make_unique<RecordedWindow>(Texts); };
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start(0);
  }

  // Called on each poll with the window shown.
  std::function<void(TfrmUpdate&)> OnTick;
  std::vector<std::string> Texts;  // the status line's texts, in the order shown
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
      EXPECT_FALSE(window->isModal()) << "the settings window and the tray stay usable";
      // The second's wait before the download starts is not what these tests are about.
      window->tmrStart->start(0);
    }
    if (OnTick) {
      OnTick(*window);
    }
  }

  QTimer timer_;
};

// Presses Close once the download has ended without the setup.
void CloseWhenDone(TfrmUpdate& window) {
  if (window.btnCancel->text() == QStringLiteral("Close")) {
    window.btnCancel->click();
  }
}

HttpTestServer::Response SlowBody(const std::string& body, std::size_t chunk) {
  HttpTestServer::Response response;
  response.Body = body;
  response.ChunkSize = chunk;
  response.ChunkPause = std::chrono::milliseconds(20);
  return response;
}

class UpdateWindowSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    logFile_ = PathOf("test.log");
    ASSERT_TRUE(StartAppLog(logFile_));
    options_.ProgramFile = PathOf("vorlixa");
    options_.UpdateAddress = server_.Url("/updates");
    options_.UpdatePublicKey = key_.PublicKey();
    options_.NewDownloadView = NewDownloadWindow;
  }
  void TearDown() override { StopAppLog(); }

  std::string PathOf(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }
  std::string UpdatePath(const std::string& name) const { return PathOf("~vxupd/" + name); }

  // Runs a check to its end; 99 when it did not end in time.
  int Check() {
    TUpdateCheck check(true, options_);
    int result = 99;
    AskUpdateQuestion(check);
    check.OnFinished = [&result](TUpdateResult ended, const std::string& error) {
      if (!error.empty()) {
        ShowMessage(error);
      }
      result = static_cast<int>(ended);
    };
    check.Start();
    WaitFor([&check] { return !check.Running(); }, kCheckWaitMs);
    return result;
  }

  // Offers build 1.0.8 with its setup at setupPath and a signature of setup beside it.
  void OfferSetup(const std::string& setupPath, const std::string& setup,
                  const std::string& description = "Vorlixa") {
    server_.Route("/updates", "[Vorlixa]\r\nDescription=" + description +
                                  "\r\nVersion=1.0.8\r\nBuild=" + kNewBuild +
                                  "\r\nURL=" + server_.Url(setupPath) + "\r\n");
    server_.Route(setupPath + ".minisig", key_.Sign(setup, MinisignKey::Comment(kNewBuild, setup)));
  }
  void OfferSignedSetup(const std::string& setupPath, const std::string& setup) {
    OfferSetup(setupPath, setup);
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
    return ReadText(PathOf("ran"));
  }

  // The texts of the log's lines, without time stamps and banners.
  std::vector<std::string> LogTexts() const { return LogLineTexts(logFile_); }

  QTemporaryDir dir_;
  std::string logFile_;
  HttpTestServer server_;
  FakePrompter prompter_;
  const MinisignKey key_;
  TUpdateOptions options_;
};

}  // namespace

TEST_F(UpdateWindowSystem, ANewerBuildIsDownloadedAndStartedSilently) {
  // In blocks with pauses between them, so that the window shows the progress.
  const std::string setup = SetupScript() + std::string(64 * 1024, '#');
  OfferSetup("/setup", setup);
  server_.Route("/setup", SlowBody(setup, 16 * 1024));
  prompter_.Answers = {true};
  WindowDriver driver(options_);

  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(prompter_.Questions,
            std::vector<std::string>{
                "Vorlixa Update available. Do you want to update to version 1.0.8 now?"});
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(SetupArguments(), "/silent\n");
  const std::vector<std::string> steps = LogTexts();
  ASSERT_GE(steps.size(), 2U);
  EXPECT_EQ(steps[steps.size() - 2], "Update: download setup");
  EXPECT_EQ(steps.back(), "Update: execute setup");
  ASSERT_FALSE(driver.Texts.empty());
  EXPECT_EQ(driver.Texts.front(), "Please wait...");
  EXPECT_TRUE(driver.SawPrefix("Downloaded "));
  EXPECT_TRUE(WaitFor([] {
    return std::none_of(QApplication::topLevelWidgets().begin(),
                        QApplication::topLevelWidgets().end(),
                        [](QWidget* w) { return qobject_cast<TfrmUpdate*>(w) != nullptr; });
  })) << "the window is gone";
}

TEST_F(UpdateWindowSystem, TheSetupIsFetchedThroughRedirects) {
  OfferSetup("/download", SetupScript());
  server_.Redirect("/download", server_.Url("/mirror"));
  server_.Redirect("/mirror", "/files/setup");
  server_.Route("/files/setup", SetupScript());
  prompter_.Answers = {true};
  WindowDriver driver(options_);

  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(SetupArguments(), "/silent\n");
  EXPECT_EQ(server_.Requests(),
            (std::vector<std::string>{"GET /updates HTTP/1.1", "GET /download.minisig HTTP/1.1",
                                      "GET /download HTTP/1.1", "GET /mirror HTTP/1.1",
                                      "GET /files/setup HTTP/1.1"}));
}

TEST_F(UpdateWindowSystem, CancellingTheDownloadEndsTheCheckSilently) {
  const std::string setup = SetupScript() + std::string(4 * 1024 * 1024, '#');
  OfferSetup("/setup", setup);
  server_.Route("/setup", SlowBody(setup, 16 * 1024));
  prompter_.Answers = {true};
  WindowDriver driver(options_);
  bool cancelled = false;
  driver.OnTick = [&cancelled](TfrmUpdate& window) {
    // Closed on the tick after the one that saw the end.
    CloseWhenDone(window);
    if (!cancelled && window.lblUpdate->text().startsWith(QStringLiteral("Downloaded "))) {
      cancelled = true;
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QCoreApplication::sendEvent(&window, &esc);
    }
  };

  EXPECT_EQ(Check(), -1);
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(driver.Saw("Download cancelled"));
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(LogTexts().back(), "Update: download setup");
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe.part")));
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe")));
}

TEST_F(UpdateWindowSystem, DownloadErrorsShowOnlyInTheWindow) {
  OfferSetup("/gone", SetupScript());
  prompter_.Answers = {true};
  WindowDriver driver(options_);
  driver.OnTick = CloseWhenDone;

  EXPECT_EQ(Check(), -1);
  EXPECT_TRUE(driver.Saw("HTTP/1.1 404 Not Found"));
  EXPECT_TRUE(prompter_.Messages.empty());
  EXPECT_EQ(LogTexts().back(), "Update: download setup");
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe.part")));
}

TEST_F(UpdateWindowSystem, AServerThatFallsSilentTimesOut) {
  const std::string setup = SetupScript() + std::string(1000, '#');
  OfferSetup("/setup", setup);
  HttpTestServer::Response silent = SlowBody(setup, 100);
  silent.StallAfter = 100;
  server_.Route("/setup", silent);
  options_.SetupReadTimeout = 1000;
  prompter_.Answers = {true};
  WindowDriver driver(options_);
  driver.OnTick = CloseWhenDone;

  EXPECT_EQ(Check(), -1);
  EXPECT_TRUE(driver.Saw("Read timed out."));
  EXPECT_FALSE(Exists(UpdatePath("~vxupd.exe.part")));
  EXPECT_FALSE(Exists(PathOf("ran")));
}

TEST_F(UpdateWindowSystem, ASetupThatCannotStartIsReported) {
  OfferSignedSetup("/setup", std::string("\x7F"
                                         "garbage, no program",
                                         20));
  prompter_.Answers = {true};
  WindowDriver driver(options_);

  EXPECT_EQ(Check(), -1);
  EXPECT_EQ(prompter_.Messages, std::vector<std::string>{"Failed to execute update."});
  EXPECT_EQ(LogTexts().back(), "[-ERROR-] Exception - Failed to execute update.");
}

// What the server sends is text to show, never markup: a description that starts with a
// tag would otherwise hide or forge what the user is asked.
TEST_F(UpdateWindowSystem, ServerTextsShowAsPlainTextAndTheQuestionIsAConfirmation) {
  const std::string forged = "<p style='color:white'>Vorlixa</p>Security fix";
  OfferSetup("/gone", SetupScript(), forged);
  prompter_.Answers = {true};
  WindowDriver driver(options_);
  std::vector<Qt::TextFormat> statusFormats;
  driver.OnTick = [&statusFormats](TfrmUpdate& window) {
    statusFormats.push_back(window.lblUpdate->textFormat());
    CloseWhenDone(window);
  };
  HttpTestServer::Response tagged;
  tagged.Status = 404;
  tagged.Reason = "<b>Not</b> Found";
  server_.Route("/gone", tagged);

  EXPECT_EQ(Check(), -1);
  EXPECT_TRUE(driver.Saw("HTTP/1.1 404 <b>Not</b> Found"));
  ASSERT_FALSE(statusFormats.empty());
  EXPECT_TRUE(std::all_of(statusFormats.begin(), statusFormats.end(),
                          [](Qt::TextFormat format) { return format == Qt::PlainText; }));

  // The question as the program's message box shows it.
  ASSERT_EQ(prompter_.Questions.size(), 1U);
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

TEST_F(UpdateWindowSystem, ProgressShowsTheAnnouncedSizeInTheUsersNumberFormat) {
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  std::string setup = SetupScript();
  setup += std::string(1024 * 1024 - setup.size(), '#');
  OfferSetup("/big", setup);
  server_.Route("/big", SlowBody(setup, 256 * 1024));
  prompter_.Answers = {true};
  WindowDriver driver(options_);
  int maximum = 0;
  driver.OnTick = [&maximum](TfrmUpdate& window) { maximum = window.pbUpdate->maximum(); };
  const int result = Check();
  QLocale::setDefault(previous);

  EXPECT_EQ(result, 1);
  EXPECT_EQ(maximum, 1024 * 1024);
  EXPECT_TRUE(driver.Saw("Downloading..."));
  // The last block at least shows its count in the user's format.
  EXPECT_TRUE(std::any_of(driver.Texts.begin(), driver.Texts.end(), [](const std::string& text) {
    return text.size() == 26 && text.starts_with("Downloaded ") && text[12] == ',' &&
           text.ends_with(" of 1,00 MB");
  })) << ::testing::PrintToString(driver.Texts);
  EXPECT_EQ(ReadText(UpdatePath("~vxupd.exe")), setup);
}

}  // namespace vx
