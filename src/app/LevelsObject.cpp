#include "app/LevelsObject.h"

#include "inputs/unExternal.h"

#include <QDBusError>

#include <exception>
#include <string>

namespace vx {

void TLevelsObject::SetLevel(const QString& channel, double level) {
  try {
    ExternalLevels().SetLevel(channel.toStdString(), level);
  } catch (const std::exception& e) {
    sendErrorReply(QDBusError::InvalidArgs, QString::fromStdString(e.what()));
  }
}

QStringList TLevelsObject::Channels() const {
  QStringList channels;
  for (const std::string& channel : ExternalLevels().Channels()) {
    channels << QString::fromStdString(channel);
  }
  return channels;
}

}  // namespace vx
