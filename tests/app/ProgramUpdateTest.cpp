#include "ProgramFolder.h"
#include "common/HttpTestServer.h"
#include "common/Minisign.h"
#include "common/SettingsXml.h"
#include "common/TestFiles.h"
#include "common/XvfbDesktop.h"
#include "platform/UniqueFd.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
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

TEST(ProgramUpdateSystem, SigtermDuringTheDownloadEndsTheProgramAndNeverStartsTheSetup) {
  // The folder outlives the desktop, which ends the program it started there.
  ProgramFolder folder(VORLIXA_UPDATETEST_PATH);
  XvfbDesktop desktop;
  const QStringList missing = desktop.MissingTools();
  if (!missing.isEmpty()) {
    GTEST_SKIP() << "needs Xvfb and xdotool; missing: " << missing.join(", ").toStdString();
  }
  QString error;
  ASSERT_TRUE(desktop.StartDisplay(error)) << error.toStdString();
  std::ofstream(folder.SettingsFile()) << SettingsXml("<AutoUpdate>-1</AutoUpdate><Ports/>");

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

// A name server that takes the update check's query and never answers holds the lookup
// for as long as the resolver tries (here half a minute). A quit then still ends the
// program within kQuitMs, before the window, the ports and the sound capture are made.
// The program runs in a mount namespace of its own whose resolv.conf names the test's
// silent server.
TEST(ProgramUpdateSystem, SigtermWhileTheNameServerNeverAnswersEndsTheStartAtOnce) {
  if (::geteuid() != 0 || QStandardPaths::findExecutable("unshare").isEmpty()) {
    GTEST_SKIP() << "needs root and unshare for a private resolv.conf";
  }
  const UniqueFd server(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(0x7F00004DU);  // 127.0.0.77
  ASSERT_EQ(::bind(server.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
      << std::strerror(errno);

  ProgramFolder folder(VORLIXA_UPDATETEST_PATH);
  SimProcess sim;
  std::string settings = OneBoardSettings(sim.LinkPath(), BarXml(0, "KnightRider"));
  settings.replace(settings.find("<AutoUpdate>0<"), 14, "<AutoUpdate>-1<");
  std::ofstream(folder.SettingsFile()) << settings;
  const std::string resolvConf = folder.Folder() + "/resolv.conf";
  std::ofstream(resolvConf) << "nameserver 127.0.0.77\noptions timeout:30 attempts:1\n";

  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("VORLIXA_TEST_UPDATE_ADDRESS", "http://updates.vorlixa.test/updates");
  environment.insert("VORLIXA_TEST_UPDATE_KEY", QString::fromStdString(MinisignKey().PublicKey()));
  QProcess* program = folder.Launch(environment, {},
                                    {"unshare", "--mount", "sh", "-c",
                                     QString::fromStdString("mount --bind '" + resolvConf +
                                                            "' /etc/resolv.conf && exec \"$0\"")});
  ASSERT_TRUE(program->waitForStarted(kWaitLimitMs));
  // The query has reached the server: the lookup is under way.
  std::array<char, 512> query{};
  ASSERT_TRUE(WaitFor([&] {
    return ::recv(server.Get(), query.data(), query.size(), MSG_DONTWAIT) > 0;
  })) << ReadText(folder.LogFile())
      << program->readAllStandardError().toStdString();

  ::kill(static_cast<pid_t>(program->processId()), SIGTERM);
  ASSERT_TRUE(program->waitForFinished(kQuitMs)) << "the program did not end in time";
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program->exitCode(), 0);
  const std::vector<std::string> texts = LogTexts(folder.LogFile());
  EXPECT_TRUE(Contains(texts, "Update: download update info")) << ReadText(folder.LogFile());
  EXPECT_FALSE(Contains(texts, "Create mainform")) << ReadText(folder.LogFile());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "========--- Log closed");
  // The port was never opened: the chain saw not even a RESET.
  EXPECT_TRUE(sim.Units().empty());
}

}  // namespace

}  // namespace vx
