#include "ProgramFolder.h"
#include "common/HttpTestServer.h"
#include "common/Minisign.h"
#include "common/XvfbDesktop.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

namespace vx {

// The program's check at start, with an update address and a key of the test's own
// (vorlixa-updatetest), on a private Xvfb display where xdotool answers the question.

namespace {

namespace fs = std::filesystem;

// What a quit may take, as users would notice it.
constexpr int kQuitMs = 2000;

TEST(ProgramUpdateTest, SigtermDuringTheDownloadEndsTheProgramAndNeverStartsTheSetup) {
  // The folder outlives the desktop, which ends the program it started there.
  ProgramFolder folder(VORLIXA_UPDATETEST_PATH);
  XvfbDesktop desktop;
  const QStringList missing = desktop.MissingTools();
  if (!missing.isEmpty()) {
    GTEST_SKIP() << "needs Xvfb and xdotool; missing: " << missing.join(", ").toStdString();
  }
  QString error;
  ASSERT_TRUE(desktop.StartDisplay(error)) << error.toStdString();
  std::ofstream(folder.SettingsFile())
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<Vorlixa><AutoUpdate>-1</AutoUpdate><Ports/></Vorlixa>\n";

  // A setup that would leave the file "ran", served slowly enough to be still on its way.
  const std::string ran = folder.Folder() + "/ran";
  std::string setup = "#!/bin/sh\ntouch '" + ran + "'\n";
  setup += std::string(4 * 1024 * 1024, '#');
  const MinisignKey key;
  HttpTestServer server;
  server.Route("/updates",
               "[Vorlixa]\r\nDescription=Vorlixa\r\nVersion=1.0.8\r\nBuild=01000800\r\n"
               "URL=" +
                   server.Url("/setup") + "\r\n");
  server.Route("/setup.minisig", key.Sign(setup, MinisignKey::Comment("01000800", setup)));
  HttpTestServer::Response slow;
  slow.Body = setup;
  slow.ChunkSize = 16 * 1024;
  slow.ChunkPause = std::chrono::milliseconds(20);
  server.Route("/setup", slow);

  QProcess& program = desktop.NewProcess();
  QProcessEnvironment environment = program.processEnvironment();
  environment.insert("VORLIXA_TEST_UPDATE_ADDRESS", QString::fromStdString(server.Url("/updates")));
  environment.insert("VORLIXA_TEST_UPDATE_KEY", QString::fromStdString(key.PublicKey()));
  program.setProcessEnvironment(environment);
  program.setWorkingDirectory(QString::fromStdString(folder.Folder()));
  program.start(QString::fromStdString(folder.Program()), {});
  ASSERT_TRUE(program.waitForStarted(kWaitLimitMs));

  // "&Yes" by its mnemonic in the question.
  const QString question =
      desktop.Xdotool({"search", "--sync", "--onlyvisible", "--name", "^Confirm$"})
          .split('\n', Qt::SkipEmptyParts)
          .value(0);
  ASSERT_FALSE(question.isEmpty()) << ReadText(folder.LogFile());
  desktop.Xdotool({"windowfocus", "--sync", question});
  desktop.Xdotool({"key", "y"});
  ASSERT_TRUE(WaitFor([&] { return server.Requests().size() == 3; })) << ReadText(folder.LogFile());
  EXPECT_EQ(server.Requests().back(), "GET /setup HTTP/1.1");

  ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
  ASSERT_TRUE(program.waitForFinished(kQuitMs)) << "the program did not end in time";
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);

  const std::vector<std::string> texts = LogTexts(folder.LogFile());
  EXPECT_TRUE(Contains(texts, "Update: download setup"));
  EXPECT_FALSE(Contains(texts, "Update: execute setup"));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "========--- Log closed");
  EXPECT_FALSE(fs::exists(folder.Folder() + "/~vxupd/~vxupd.exe.part"));
  EXPECT_FALSE(fs::exists(folder.Folder() + "/~vxupd/~vxupd.exe"));
  // A setup started on the way out would have run by now.
  RunEventsFor(500);
  EXPECT_FALSE(fs::exists(ran));
}

}  // namespace

}  // namespace vx
