#include "ProgramFolder.h"
#include "SwayDesktop.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"
#include "support/unUpdate.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vx {

// The real program on a Wayland desktop whose notification area is a StatusNotifier
// host: headless sway with waybar, on a private session bus. The test acts as the host
// would, over D-Bus: the item is there with its name and its menu, Activate (a left
// click) opens the settings window, and "&Exit" from the exported menu ends the program
// with the chain dark.

namespace {

namespace fs = std::filesystem;

constexpr int kCallMs = 5000;
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

// One entry of an exported menu (dbusmenu layout: id, properties, children).
struct MenuEntry {
  int Id = 0;
  QVariantMap Properties;
  std::vector<MenuEntry> Children;
};

const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEntry& entry) {
  argument.beginStructure();
  argument >> entry.Id >> entry.Properties;
  argument.beginArray();
  while (!argument.atEnd()) {
    QDBusVariant child;
    argument >> child;
    MenuEntry childEntry;
    child.variant().value<QDBusArgument>() >> childEntry;
    entry.Children.push_back(childEntry);
  }
  argument.endArray();
  argument.endStructure();
  return argument;
}

// A window of sway's tree (tiled or floating) by its Wayland app id; empty when none.
QJsonObject FindWindow(const QJsonObject& node, const QString& appId) {
  if (node.value("app_id").toString() == appId) {
    return node;
  }
  for (const char* children : {"nodes", "floating_nodes"}) {
    for (const QJsonValue child : node.value(children).toArray()) {
      QJsonObject found = FindWindow(child.toObject(), appId);
      if (!found.isEmpty()) {
        return found;
      }
    }
  }
  return {};
}

class ProgramWaylandTraySystem : public ::testing::Test {
 protected:
  void SetUp() override {
    const QStringList missing = desktop_.MissingTools();
    if (!missing.isEmpty()) {
      GTEST_SKIP() << "needs sway, swaymsg, waybar, dbus-daemon and grim; missing: "
                   << missing.join(", ").toStdString();
    }
    QString reason;
    if (!desktop_.PickUser(reason)) {
      GTEST_SKIP() << reason.toStdString();
    }
    QString error;
    ASSERT_TRUE(desktop_.Start(error)) << error.toStdString();
  }

  bool LogHas(const std::string& text) const {
    return ReadText(program_.LogFile()).find(" - " + text + "\r\n") != std::string::npos;
  }

  // The service of the program's item among those registered with the watcher.
  std::optional<QString> ProgramItem(qint64 pid) {
    const QStringList items =
        desktop_
            .Property("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                      "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems")
            .toStringList();
    for (const QString& item : items) {
      const QString service = item.section('/', 0, 0);
      if (desktop_.Bus().interface()->servicePid(service).value() == pid) {
        return service;
      }
    }
    return std::nullopt;
  }

  QVariant ItemProperty(const QString& service, const QString& name) {
    return desktop_.Property(service, "/StatusNotifierItem", kItemInterface, name);
  }

  QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                    const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    return desktop_.Bus().call(call, QDBus::Block, kCallMs);
  }

  // The folder outlives the desktop, which ends the program it started there.
  ProgramFolder program_;
  SwayDesktop desktop_;
};

TEST_F(ProgramWaylandTraySystem, TheItemCarriesNameAndMenuActivateOpensTheSettingsExitEnds) {
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess sim(chain);
  std::ofstream(program_.SettingsFile()) << KnightRiderSettings(sim.LinkPath());
  // The program runs as the desktop's user: its folder, its settings and the chain's line.
  const fs::path line = fs::canonical(sim.LinkPath());
  desktop_.GiveToUser(line.string());
  fs::permissions(fs::path(sim.LinkPath()).parent_path(),
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  desktop_.GiveToUser(program_.Folder());
  desktop_.GiveToUser(program_.Program());
  desktop_.GiveToUser(program_.SettingsFile());

  QProcess& program = desktop_.NewProcess();
  QProcessEnvironment environment = program.processEnvironment();
  environment.insert("QT_QPA_PLATFORM", "wayland");
  program.setProcessEnvironment(environment);
  program.setWorkingDirectory(QString::fromStdString(program_.Folder()));
  program.start(QString::fromStdString(program_.Program()), {});
  ASSERT_TRUE(program.waitForStarted(kWaitLimitMs));
  ASSERT_TRUE(WaitFor([&] { return LogHas("Run application"); }))
      << program.readAllStandardError().toStdString();

  // The item is registered with the watcher, under the program's name, with its icon.
  std::optional<QString> item;
  ASSERT_TRUE(WaitFor([&] { return (item = ProgramItem(program.processId())).has_value(); }))
      << "no item of the program registered; " << program.readAllStandardError().toStdString();
  EXPECT_EQ(ItemProperty(*item, "Title").toString(), "Tremanic Vorlixa");
  const auto pixmaps = ItemProperty(*item, "IconPixmap").value<QDBusArgument>();
  int images = 0;
  pixmaps.beginArray();
  while (!pixmaps.atEnd()) {
    int width = 0;
    int height = 0;
    QByteArray pixels;
    pixmaps.beginStructure();
    pixmaps >> width >> height >> pixels;
    pixmaps.endStructure();
    images += width > 0 && pixels.size() == width * height * 4 ? 1 : 0;
  }
  pixmaps.endArray();
  EXPECT_GT(images, 0) << "the item has no icon";
  // The tool tip tells how the chain is doing.
  QString tip;
  EXPECT_TRUE(WaitFor([&] {
    const auto toolTip = ItemProperty(*item, "ToolTip").value<QDBusArgument>();
    QString iconName;
    toolTip.beginStructure();
    toolTip >> iconName;
    toolTip.beginArray();
    while (!toolTip.atEnd()) {
      int width = 0;
      int height = 0;
      QByteArray pixels;
      toolTip.beginStructure();
      toolTip >> width >> height >> pixels;
      toolTip.endStructure();
    }
    toolTip.endArray();
    QString text;
    toolTip >> tip >> text;
    toolTip.endStructure();
    return tip ==
           QString::fromStdString(fs::path(sim.LinkPath()).filename().string()) + ": connected";
  })) << tip.toStdString();
  // A notification area is there: the window stays hidden.
  EXPECT_FALSE(LogHas("Display settings"));
  EXPECT_TRUE(FindWindow(desktop_.Tree(), "vorlixa").isEmpty());

  // Its menu is exported, with the tray menu's entries.
  const auto menuPath = ItemProperty(*item, "Menu").value<QDBusObjectPath>();
  ASSERT_NE(menuPath.path(), "/NO_DBUSMENU");
  ASSERT_FALSE(menuPath.path().isEmpty());
  const QDBusMessage layout =
      Call(*item, menuPath.path(), kMenuInterface, "GetLayout", {0, -1, QStringList()});
  ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
  ASSERT_EQ(layout.arguments().size(), 2);
  MenuEntry root;
  layout.arguments().at(1).value<QDBusArgument>() >> root;
  QStringList entries;
  int exitId = -1;
  for (const MenuEntry& entry : root.Children) {
    if (!entry.Properties.value("visible", true).toBool()) {
      continue;
    }
    const bool separator = entry.Properties.value("type").toString() == "separator";
    entries << (separator ? QStringLiteral("-") : entry.Properties.value("label").toString());
    if (entries.back() == "_Exit") {
      exitId = entry.Id;
    }
  }
  QStringList expected{"_Configure", "Check for _updates", "_About", "-", "_Exit"};
  if (UpdatesFromPackages(TUpdateOptions())) {
    expected.removeAt(1);
  }
  EXPECT_EQ(entries, expected);

  // A left click opens the settings window, which sway lists under the program's title.
  const QDBusMessage activate =
      Call(*item, "/StatusNotifierItem", kItemInterface, "Activate", {0, 0});
  EXPECT_EQ(activate.type(), QDBusMessage::ReplyMessage) << activate.errorMessage().toStdString();
  QJsonObject window;
  ASSERT_TRUE(WaitFor([&] {
    window = FindWindow(desktop_.Tree(), "vorlixa");
    return !window.isEmpty();
  })) << "sway lists no window of the program";
  EXPECT_EQ(window.value("name").toString(), "Tremanic Vorlixa");
  EXPECT_TRUE(LogHas("Display settings"));
  if (const QByteArray shot = qgetenv("VORLIXA_TEST_SCREENSHOT"); !shot.isEmpty()) {
    EXPECT_TRUE(desktop_.Screenshot(QString::fromLocal8Bit(shot)));
  }

  // "&Exit" from the exported menu ends the program, the chain dark and the log closed.
  ASSERT_GE(exitId, 0);
  // The reply may be lost as the program ends: the end itself tells.
  const QDBusMessage clicked =
      Call(*item, menuPath.path(), kMenuInterface, "Event",
           {exitId, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)),
            static_cast<uint>(QDateTime::currentSecsSinceEpoch())});
  ASSERT_TRUE(program.waitForFinished(kWaitLimitMs))
      << "the program did not end; " << clicked.errorMessage().toStdString();
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
  const std::vector<std::string> texts = LogTexts(program_.LogFile());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "========--- Log closed");
}

}  // namespace

}  // namespace vx
