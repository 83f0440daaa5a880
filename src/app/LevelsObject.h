#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

namespace vx {

// The object at kLevelServicePath (app/LevelService.h); its public slots are the methods of
// the interface. Only LevelService.cpp includes this header.
class TLevelsObject final : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "example.tremanic.Vorlixa.Levels")

 public:
  TLevelsObject() = default;

 public Q_SLOTS:
  // A refused level is an error reply with the store's text; the kept level stays.
  void SetLevel(const QString& channel, double level);
  QStringList Channels() const;
};

}  // namespace vx
