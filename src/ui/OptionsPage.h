#pragma once

#include <QWidget>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QToolButton;

namespace vx {

// The page "Options" of the settings window: start at login and automatic update. The
// window reads the boxes from the autostart entries and the settings file and writes them
// back (TfrmMain::LoadSettings, SaveSettings).
class TOptionsPage : public QWidget {
  Q_OBJECT

 public:
  // Sets the caption of cbAutoLoadUser with the user's login name. updatesFromPackages:
  // the program has no update check of its own (UpdatesFromPackages).
  explicit TOptionsPage(bool updatesFromPackages, QWidget* parent = nullptr);

  // The button btnUpdate runs this action of the window's tray menu.
  void BindUpdateAction(QAction* update);

  QGroupBox* gbStartup{};
  QCheckBox* cbAutoLoadAll{};
  QCheckBox* cbAutoLoadUser{};
  QLabel* lblStartupNote{};
  QGroupBox* gbUpdate{};
  QCheckBox* cbAutoUpdate{};
  QLabel* lblUpdateNote{};
  QLabel* lblUpdatePackages{};  // shown instead of cbAutoUpdate when UpdatesFromPackages
  QToolButton* btnUpdate{};
};

}  // namespace vx
