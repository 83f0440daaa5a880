#include "app/LevelsObject.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "inputs/unExternal.h"

#include <QDBusError>

#include <exception>
#include <string>

namespace vx {

namespace {

// The length in UTF-8 bytes of text, counted without converting it.
qsizetype Utf8Length(const QString& text) {
  qsizetype bytes = 0;
  for (const QChar c : text) {
    const char16_t unit = c.unicode();
    // A surrogate pair is 4 bytes: 2 for each half.
    bytes += unit < 0x80 ? 1 : unit < 0x800 || c.isSurrogate() ? 2 : 3;
  }
  return bytes;
}

}  // namespace

void TLevelsObject::SetLevel(const QString& channel, double level) {
  try {
    // Every UTF-16 unit takes at least one byte: a name of many megabytes is refused
    // without converting it on the GUI thread.
    if (channel.size() > static_cast<qsizetype>(TExternalLevels::kMaxChannelName)) {
      throw EConvertError(Format("A channel name has at most %d bytes, not %d",
                                 static_cast<int>(TExternalLevels::kMaxChannelName),
                                 static_cast<long long>(Utf8Length(channel))));
    }
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
