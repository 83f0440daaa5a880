#include "app/LevelService.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

// vorlixa-level CHANNEL LEVEL: sets the level of the "External" bars that listen to
// CHANNEL in the running Vorlixa, over the user's session bus.

namespace vx {

namespace {

// Exit codes, as the manual page lists them.
constexpr int kSet = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kNotRunning = 3;

// A program that does not answer within this long counts as hung.
constexpr int kCallMs = 5000;

constexpr const char* kUsageText =
    "Usage: vorlixa-level CHANNEL LEVEL\n"
    "       vorlixa-level --channels\n"
    "Sets the level of the Vorlixa bars whose input is \"External\" and whose \"Channel\"\n"
    "is CHANNEL. LEVEL lies in 0..1 (0.5 lights half the bar), written with \".\" or with\n"
    "the decimal separator of the user's language. Such a bar falls to 0 when no level\n"
    "came for its \"Hold\" seconds. Scripts call this as often as the level changes.\n"
    "\n"
    "  --channels  lists the channels that bars listen to, one a line\n"
    "  --help      shows this text\n"
    "\n"
    "Exit status: 0 when the level was set, 1 when Vorlixa refused it (the reason goes\n"
    "to standard error), 2 for wrong arguments, 3 when Vorlixa is not running.\n";

void Say(const QString& text) {
  std::fprintf(stderr, "vorlixa-level: %s\n", text.toLocal8Bit().constData());
}

bool ParseLevel(const QString& text, double& level) {
  const std::string bytes = text.toStdString();
  const char* end = bytes.data() + bytes.size();
  const auto [rest, error] = std::from_chars(bytes.data(), end, level);
  if (error == std::errc() && rest == end && !bytes.empty()) {
    return true;
  }
  bool ok = false;
  level = QLocale::system().toDouble(text, &ok);
  return ok;
}

// Calls method with arguments; the reply, or kNotRunning / kRefused after saying why.
int Call(const QString& method, const QVariantList& arguments, QDBusMessage& reply) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    Say("Vorlixa is not running: there is no session bus (" + bus.lastError().message() + ")");
    return kNotRunning;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QString::fromLatin1(vx::kLevelServiceName), QString::fromLatin1(vx::kLevelServicePath),
      QString::fromLatin1(vx::kLevelServiceInterface), method);
  call.setArguments(arguments);
  // No bus activation: a level goes to a running program or nowhere.
  call.setAutoStartService(false);
  reply = bus.call(call, QDBus::Block, kCallMs);
  if (reply.type() != QDBusMessage::ErrorMessage) {
    return kSet;
  }
  const QDBusError::ErrorType error = QDBusError(reply).type();
  if (error == QDBusError::ServiceUnknown ||
      reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
    Say(QStringLiteral("Vorlixa is not running"));
    return kNotRunning;
  }
  if (error == QDBusError::NoReply || error == QDBusError::Timeout) {
    Say(QStringLiteral("Vorlixa did not answer within %1 seconds").arg(kCallMs / 1000));
    return kRefused;
  }
  Say(reply.errorMessage());
  return kRefused;
}

int Run(const QStringList& arguments) {
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    std::fputs(kUsageText, stdout);
    return kSet;
  }
  if (arguments.size() == 1 && arguments[0] == "--channels") {
    QDBusMessage reply;
    const int result = Call(QStringLiteral("Channels"), {}, reply);
    if (result == kSet) {
      for (const QString& channel : reply.arguments().value(0).toStringList()) {
        std::printf("%s\n", channel.toLocal8Bit().constData());
      }
    }
    return result;
  }
  if (arguments.size() != 2 || arguments[0].startsWith("--")) {
    Say(
        QStringLiteral("needs a channel and a level\nTry 'vorlixa-level --help' for more "
                       "information."));
    return kUsage;
  }
  double level = 0.0;
  if (!ParseLevel(arguments[1], level)) {
    Say(QStringLiteral("The level \"%1\" of channel \"%2\" is not a number")
            .arg(arguments[1], arguments[0]));
    return kRefused;
  }
  QDBusMessage reply;
  return Call(QStringLiteral("SetLevel"), {arguments[0], level}, reply);
}

}  // namespace

}  // namespace vx

int main(int argc, char** argv) {
  const QCoreApplication application(argc, argv);
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  const int result = vx::Run(arguments);
  // Qt's bus thread may still read from the bus while the statics go at exit, and then
  // warns on standard error about types it no longer knows. Nothing is left to release.
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(result);
}
