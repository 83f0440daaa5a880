#include "ui/OptionsPage.h"

#include "config/unAutoLoad.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace vx {

TOptionsPage::TOptionsPage(bool updatesFromPackages, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tsOptions"));
  gbStartup = new QGroupBox(QStringLiteral("Startup"), this);
  gbStartup->setObjectName(QStringLiteral("gbStartup"));
  cbAutoLoadAll = new QCheckBox(QStringLiteral("Load at login (All Users)"), gbStartup);
  cbAutoLoadAll->setObjectName(QStringLiteral("cbAutoLoadAll"));
  cbAutoLoadUser = new QCheckBox(gbStartup);
  cbAutoLoadUser->setObjectName(QStringLiteral("cbAutoLoadUser"));
  lblStartupNote = new QLabel(
      QStringLiteral("Note: Checking both boxes won't result in starting program twice."),
      gbStartup);
  lblStartupNote->setObjectName(QStringLiteral("lblStartupNote"));
  lblStartupNote->setWordWrap(true);
  auto* startupLayout = new QVBoxLayout(gbStartup);
  startupLayout->addWidget(cbAutoLoadAll);
  startupLayout->addWidget(cbAutoLoadUser);
  startupLayout->addWidget(lblStartupNote);

  gbUpdate = new QGroupBox(QStringLiteral("Auto update"), this);
  gbUpdate->setObjectName(QStringLiteral("gbUpdate"));
  cbAutoUpdate = new QCheckBox(QStringLiteral("Enable"), gbUpdate);
  cbAutoUpdate->setObjectName(QStringLiteral("cbAutoUpdate"));
  lblUpdateNote = new QLabel(QStringLiteral("Note: For security reasons, you will always have "
                                            "to confirm before updates are applied."),
                             gbUpdate);
  lblUpdateNote->setObjectName(QStringLiteral("lblUpdateNote"));
  lblUpdateNote->setWordWrap(true);
  btnUpdate = new QToolButton(gbUpdate);
  btnUpdate->setObjectName(QStringLiteral("btnUpdate"));
  btnUpdate->setText(QStringLiteral("Check for &updates"));
  btnUpdate->setEnabled(false);  // until BindUpdateAction gives it its action
  // A build for a system package has no update check of its own: the box, its note and
  // the button give way to a line that says where updates come from.
  lblUpdatePackages =
      new QLabel(QStringLiteral("Updates come with your system's packages."), gbUpdate);
  lblUpdatePackages->setObjectName(QStringLiteral("lblUpdatePackages"));
  lblUpdatePackages->setWordWrap(true);
  lblUpdatePackages->setHidden(!updatesFromPackages);
  cbAutoUpdate->setHidden(updatesFromPackages);
  lblUpdateNote->setHidden(updatesFromPackages);
  btnUpdate->setHidden(updatesFromPackages);
  auto* updateLayout = new QVBoxLayout(gbUpdate);
  updateLayout->addWidget(cbAutoUpdate);
  updateLayout->addWidget(lblUpdatePackages);
  updateLayout->addWidget(lblUpdateNote);
  updateLayout->addWidget(btnUpdate, 0, Qt::AlignLeft);

  auto* optionsPage = new QHBoxLayout(this);
  optionsPage->addWidget(gbStartup, 1, Qt::AlignTop);
  optionsPage->addWidget(gbUpdate, 1, Qt::AlignTop);
  cbAutoLoadUser->setText(QString::fromStdString(AutoLoadUserCaption()));
}

void TOptionsPage::BindUpdateAction(QAction* update) {
  btnUpdate->setDefaultAction(update);
}

}  // namespace vx
