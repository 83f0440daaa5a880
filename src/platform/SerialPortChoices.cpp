#include "platform/SerialPortChoices.h"

#include "platform/SerialPort.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>

#include <algorithm>
#include <map>

namespace vx {

std::vector<TSerialPortChoice> SerialPortChoices(const std::string& byIdFolder) {
  std::map<QString, QString> descriptions;  // by device path
  std::vector<TSerialPortChoice> system;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    QStringList parts;
    if (!info.description().isEmpty()) {
      parts << info.description();
    }
    if (!info.manufacturer().isEmpty() && info.manufacturer() != info.description()) {
      parts << info.manufacturer();
    }
    descriptions[info.systemLocation()] = parts.join(QStringLiteral(", "));
    system.push_back(
        {info.systemLocation().toStdString(), parts.join(QStringLiteral(", ")).toStdString()});
  }
  std::sort(system.begin(), system.end(),
            [](const TSerialPortChoice& a, const TSerialPortChoice& b) { return a.Name < b.Name; });

  std::vector<TSerialPortChoice> ports;
  const QDir byId(QString::fromStdString(byIdFolder));
  const QFileInfoList links = byId.entryInfoList(QDir::System | QDir::Files, QDir::Name);
  for (const QFileInfo& link : links) {
    // A link to nothing is an adapter that has just gone.
    const QString target = link.canonicalFilePath();
    if (!link.isSymLink() || target.isEmpty()) {
      continue;
    }
    QString description = target;
    if (const auto known = descriptions.find(target);
        known != descriptions.end() && !known->second.isEmpty()) {
      description += QStringLiteral(", ") + known->second;
    }
    ports.push_back({link.absoluteFilePath().toStdString(), description.toStdString()});
  }
  ports.insert(ports.end(), system.begin(), system.end());
  return ports;
}

TSerialDeviceOwner SerialDeviceOwner(const std::string& port) {
  const QFileInfo device(QString::fromStdString(SerialDeviceName(port)));
  if (!device.exists()) {
    return {};
  }
  return {device.canonicalFilePath().toStdString(), device.group().toStdString()};
}

}  // namespace vx
