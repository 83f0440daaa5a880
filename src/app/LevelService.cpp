#include "app/LevelService.h"

#include "app/LevelsObject.h"
#include "support/unLog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QString>

#include <string>

namespace vx {

namespace {

// The bus's answers to RequestName, and the flag that asks it not to queue us.
constexpr unsigned kDoNotQueue = 4;
constexpr unsigned kPrimaryOwner = 1;
constexpr unsigned kAlreadyOwner = 4;
// A bus that does not answer the request within this long leaves the service off.
constexpr int kRequestMs = 5000;

// The one line of the log that says whether the service runs.
void LogNameRequest(const QDBusPendingReply<unsigned>& reply) {
  const std::string name = kLevelServiceName;
  if (reply.isError()) {
    LogWarning("External levels: off, the session bus did not grant the name " + name + ": " +
               reply.error().message().toStdString());
  } else if (reply.value() != kPrimaryOwner && reply.value() != kAlreadyOwner) {
    LogWarning("External levels: off, another program owns the name " + name +
               " on the session bus");
  } else {
    LogMessage("External levels: on, as " + name + " on the session bus");
  }
}

}  // namespace

TLevelService::TLevelService() : object_(std::make_unique<TLevelsObject>()) {}

// The connection forgets the object as it goes.
TLevelService::~TLevelService() = default;

void TLevelService::Start() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    LogMessage("External levels: off, no session bus: " + bus.lastError().message().toStdString());
    return;
  }
  if (!bus.registerObject(QString::fromLatin1(kLevelServicePath), object_.get(),
                          QDBusConnection::ExportAllSlots)) {
    LogWarning(std::string("External levels: off, the object ") + kLevelServicePath +
               " cannot be served");
    return;
  }
  QDBusMessage request = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
  request << QString::fromLatin1(kLevelServiceName) << kDoNotQueue;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(request, kRequestMs), object_.get());
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, object_.get(),
                   [](QDBusPendingCallWatcher* finished) {
                     finished->deleteLater();
                     LogNameRequest(*finished);
                   });
}

}  // namespace vx
