#include "common/Wait.h"
#include "ui/AppIcon.h"
#include "ui/ImageList.h"
#include "ui/TrayIcon.h"

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace vx {

namespace {

constexpr int kProbeSize = 16;

QIcon SolidIcon(Qt::GlobalColor colour) {
  QPixmap pixmap(kProbeSize, kProbeSize);
  pixmap.fill(colour);
  return QIcon(pixmap);
}

QImage IconImage(const QIcon& icon) {
  return icon.pixmap(kProbeSize, kProbeSize).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage AppImage() {
  return AppIconImage(kProbeSize).convertToFormat(QImage::Format_ARGB32);
}

// The main window and its tray icon, owned by the window as in the program. The tray is
// set up between BeginLoad and Loaded, as components are read from a window description.
class TrayIconTest : public ::testing::Test {
 public:
  TrayIconTest(const TrayIconTest&) = delete;
  TrayIconTest& operator=(const TrayIconTest&) = delete;
  ~TrayIconTest() override {
    if (menu_) {
      menu_->hide();
    }
  }

 protected:
  TrayIconTest() : window_(std::make_unique<QWidget>()), tray_(new TTrayIcon(window_.get())) {}

  void Load(const std::function<void(TTrayIcon&)>& setUp) {
    tray_->BeginLoad();
    setUp(*tray_);
    tray_->Loaded();
    Settle();
  }

  // Lets the posted first application and queued state reactions run.
  static void Settle() {
    for (int i = 0; i < 3; ++i) {
      QApplication::sendPostedEvents();
      QApplication::processEvents();
    }
  }

  bool IconShown() const { return tray_->SystemTrayIcon().isVisible(); }
  bool TaskbarButtonShown() const { return window_->windowType() != Qt::Tool; }
  QImage ShownImage() const { return IconImage(tray_->SystemTrayIcon().icon()); }

  QMenu& Menu() {
    menu_ = std::make_unique<QMenu>();
    menu_->addAction("&Configure");
    menu_->addAction("&Exit");
    return *menu_;
  }

  std::unique_ptr<QWidget> window_;
  TTrayIcon* tray_;
  std::unique_ptr<QMenu> menu_;
};

}  // namespace

// ---- Locations: icon and taskbar button ----

TEST_F(TrayIconTest, AnInactiveTrayShowsNoIconAndNeverHidesTheTaskbarButton) {
  EXPECT_EQ(tray_->LocationNormal(), loTaskBar | loSysTray);
  EXPECT_EQ(tray_->LocationMinimized(), loTaskBar | loSysTray);
  EXPECT_EQ(tray_->AnimateIndex(), 1);
  Load([](TTrayIcon& tray) { tray.SetLocationNormal(loSysTray); });
  EXPECT_TRUE(tray_->FirstApplied());
  EXPECT_FALSE(tray_->InTray());
  EXPECT_TRUE(tray_->InTaskbar());
  EXPECT_FALSE(IconShown());
  EXPECT_TRUE(TaskbarButtonShown());
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(TrayIconTest, TheMainWindowsSettingsKeepTheApplicationInTheTrayOnly) {
  TImageList ilTray;
  ilTray.Add(SolidIcon(Qt::red));
  Load([&](TTrayIcon& tray) {
    tray.SetActive(true);
    tray.ShowHint = false;
    tray.SetPopUpMenu(&Menu());
    tray.Popup = true;
    tray.SetLocationMinimized(loSysTray);
    tray.SetLocationNormal(loSysTray);
    tray.ImageList = &ilTray;
    tray.SetAnimateEnabled(false);
    tray.SetAnimateInterval(0);
    tray.SetAnimateIndex(0);
  });
  EXPECT_TRUE(IconShown());
  EXPECT_EQ(ShownImage(), AppImage());
  EXPECT_TRUE(tray_->SystemTrayIcon().toolTip().isEmpty());
  EXPECT_FALSE(TaskbarButtonShown());
  EXPECT_FALSE(window_->isVisible()) << "the hidden main window stays hidden at start";

  // The settings window opens, is minimised and restored: never a taskbar button.
  window_->show();
  window_->showMinimized();
  Settle();
  EXPECT_TRUE(window_->isMinimized());
  EXPECT_FALSE(TaskbarButtonShown());
  EXPECT_TRUE(IconShown());
  window_->showNormal();
  Settle();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(TaskbarButtonShown());
  EXPECT_TRUE(IconShown());
}

TEST_F(TrayIconTest, TheNormalAndTheMinimisedSetDecideSeparately) {
  window_->show();
  Load([](TTrayIcon& tray) {
    tray.SetActive(true);
    tray.SetLocationNormal(loTaskBar);
    tray.SetLocationMinimized(loSysTray);
  });
  EXPECT_FALSE(IconShown());
  EXPECT_TRUE(TaskbarButtonShown());

  window_->showMinimized();
  Settle();
  EXPECT_TRUE(tray_->InTray());
  EXPECT_TRUE(IconShown());
  EXPECT_FALSE(TaskbarButtonShown());
  EXPECT_TRUE(window_->isMinimized()) << "hiding the button keeps the window minimised";

  window_->showNormal();
  Settle();
  EXPECT_FALSE(IconShown());
  EXPECT_TRUE(TaskbarButtonShown());
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->isMinimized());
}

TEST_F(TrayIconTest, ALaterRestoreShowsTheMainWindow) {
  Load([](TTrayIcon& tray) { tray.SetActive(true); });
  EXPECT_FALSE(window_->isVisible());
  // Any later application while not minimised shows the main window.
  tray_->SetLocationNormal(loSysTray);
  EXPECT_TRUE(window_->isVisible());
}

// ---- The icon and its tooltip ----

TEST_F(TrayIconTest, SettingALocationSetToItsValueCallsNothing) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  Load([](TTrayIcon& tray) { tray.SetActive(true); });
  ASSERT_TRUE(IconShown());
  // From now on every UpdateIcon fails on the icon file, which shows whether it ran.
  const QString broken = folder.filePath("broken.png");
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not an image");
  file.close();
  tray_->Filename = broken;

  EXPECT_NO_THROW(tray_->SetLocationMinimized(loTaskBar | loSysTray));
  EXPECT_NO_THROW(tray_->SetLocationNormal(loTaskBar | loSysTray));
  EXPECT_THROW(tray_->SetLocationNormal(loSysTray), EInvalidGraphic);
}

TEST_F(TrayIconTest, TheIconComesFromFilenameWhenThatFileExists) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  QImage picture(kProbeSize, kProbeSize, QImage::Format_ARGB32);
  picture.fill(QColor(Qt::blue));
  const QString iconFile = folder.filePath("tray.png");
  ASSERT_TRUE(picture.save(iconFile));

  tray_->Filename = iconFile;
  tray_->SetActive(true);
  EXPECT_EQ(ShownImage(), picture);

  // A missing file falls back to the application's icon.
  tray_->SetActive(false);
  tray_->Filename = folder.filePath("missing.ico");
  tray_->SetActive(true);
  EXPECT_EQ(ShownImage(), AppImage());

  QFile file(folder.filePath("empty.ico"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  tray_->SetActive(false);
  tray_->Filename = file.fileName();
  EXPECT_THROW(tray_->SetActive(true), EInvalidGraphic);
}

TEST_F(TrayIconTest, TheTooltipIsTheHintCutTo63CharactersWhenShowHintHolds) {
  const QString hint(100, QLatin1Char('h'));
  Load([&](TTrayIcon& tray) {
    tray.ShowHint = true;
    tray.SetHint(hint);
    tray.SetActive(true);
  });
  EXPECT_EQ(tray_->SystemTrayIcon().toolTip(), hint.left(63));
  tray_->SetHint("Vorlixa");
  EXPECT_EQ(tray_->SystemTrayIcon().toolTip(), "Vorlixa");

  // A character outside the basic plane counts once and is never split.
  const QString wide = QString(62, QLatin1Char('a')) + QString::fromUtf8("\U0001F4A1") + "b";
  EXPECT_EQ(TrayTip(wide), wide.left(64));
  EXPECT_EQ(TrayTip("short"), "short");
}

TEST_F(TrayIconTest, WithoutShowHintTheIconHasNoTooltip) {
  Load([](TTrayIcon& tray) {
    tray.SetHint("Vorlixa");
    tray.SetActive(true);
  });
  EXPECT_TRUE(tray_->SystemTrayIcon().toolTip().isEmpty());
  tray_->SetHint("Other");
  EXPECT_TRUE(tray_->SystemTrayIcon().toolTip().isEmpty());
}

// ---- Animation ----

TEST_F(TrayIconTest, AnimationStepsThroughTheImagesAndWrapsAround) {
  TImageList images;
  const std::vector<QImage> frames = {IconImage(SolidIcon(Qt::red)),
                                      IconImage(SolidIcon(Qt::green)),
                                      IconImage(SolidIcon(Qt::blue))};
  for (const QImage& frame : frames) {
    images.Add(QIcon(QPixmap::fromImage(frame)));
  }
  tray_->ImageList = &images;

  std::vector<int> shown;
  for (int tick = 0; tick < 4; ++tick) {
    tray_->AnimateStep();
    for (int i = 0; i < 3; ++i) {
      if (ShownImage() == frames[static_cast<std::size_t>(i)]) {
        shown.push_back(i);
      }
    }
  }
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 0, 1}));

  // Setting the index shows that image at once; beyond the last it starts over.
  tray_->SetAnimateIndex(2);
  EXPECT_EQ(ShownImage(), frames[2]);
  tray_->SetAnimateIndex(7);
  EXPECT_EQ(ShownImage(), frames[0]);
  EXPECT_EQ(tray_->AnimateIndex(), 1);
}

TEST_F(TrayIconTest, TheTimerAnimatesWhileActiveAndEnabled) {
  TImageList images;
  images.Add(SolidIcon(Qt::red));
  images.Add(SolidIcon(Qt::green));
  Load([&](TTrayIcon& tray) {
    tray.ImageList = &images;
    tray.SetActive(true);
    tray.SetAnimateInterval(1);
    tray.SetAnimateEnabled(true);
  });
  int steps = 0;
  std::uint16_t last = tray_->AnimateIndex();
  EXPECT_TRUE(WaitFor([&] {
    if (tray_->AnimateIndex() != last) {
      ++steps;
      last = tray_->AnimateIndex();
    }
    return steps >= 3;
  }));
  // Switched off, the icon is the application's again.
  tray_->SetAnimateEnabled(false);
  EXPECT_EQ(ShownImage(), AppImage());
}

TEST_F(TrayIconTest, AnAnimationWhoseIntervalIsStill0RunsAtTheTimersOwnSecond) {
  TImageList images;
  images.Add(SolidIcon(Qt::red));
  images.Add(SolidIcon(Qt::green));
  Load([&](TTrayIcon& tray) {
    tray.ImageList = &images;
    tray.SetActive(true);
    tray.SetAnimateEnabled(true);
  });
  // A step comes, then at most two more in a second and a half: a timer of 0 would step at
  // every turn of the event loop, one of 500 ms three times.
  std::uint16_t last = tray_->AnimateIndex();
  int steps = 0;
  const auto countSteps = [&] {
    if (tray_->AnimateIndex() != last) {
      ++steps;
      last = tray_->AnimateIndex();
    }
    return steps >= 1;
  };
  ASSERT_TRUE(WaitFor(countSteps));
  steps = 0;
  WaitFor(
      [&] {
        countSteps();
        return false;
      },
      1500);
  EXPECT_LE(steps, 2) << "not the timer's own second";
  // Set to 0 on purpose, it stops (a Qt timer of 0 would fire without pause).
  tray_->SetAnimateInterval(0);
  const std::uint16_t stopped = tray_->AnimateIndex();
  RunEventsFor(1500);
  EXPECT_EQ(tray_->AnimateIndex(), stopped);
}

// ---- Mouse on the icon ----

// The notification area opens the handed-over menu itself (Qt on an X11 tray, the host's
// own drawing over D-Bus); the right-button steps run as it is about to show.
TEST_F(TrayIconTest, TheRightButtonStepsRunAsTheMenuOpensAndMayKeepItClosed) {
  QMenu& menu = Menu();
  std::vector<QObject*> rightClicks;
  std::vector<QObject*> popUps;
  bool allow = false;
  tray_->SetPopUpMenu(&menu);
  EXPECT_EQ(tray_->SystemTrayIcon().contextMenu(), &menu);
  QObject::connect(tray_, &TTrayIcon::OnRmouseClick, [&](QMenu* Sender, bool& DopopUp) {
    rightClicks.push_back(Sender);
    EXPECT_TRUE(DopopUp);
    DopopUp = allow;
  });
  QObject::connect(tray_, &TTrayIcon::OnPopUp, [&](QMenu* Sender) {
    popUps.push_back(Sender);
    EXPECT_FALSE(menu.isVisible()) << "OnPopUp comes before the menu opens";
  });
  // What the notification area does on the right button.
  const auto rightButton = [&] {
    menu.popup(QPoint(10, 10));
    Settle();
  };

  tray_->Popup = true;
  rightButton();
  EXPECT_EQ(rightClicks.size(), 1U);
  EXPECT_TRUE(popUps.empty());
  EXPECT_FALSE(menu.isVisible()) << "OnRmouseClick kept it closed";

  allow = true;
  tray_->Popup = false;
  rightButton();
  EXPECT_EQ(rightClicks.size(), 2U);
  EXPECT_TRUE(popUps.empty());
  EXPECT_FALSE(menu.isVisible()) << "Popup false keeps it closed";

  tray_->Popup = true;
  rightButton();
  ASSERT_EQ(popUps.size(), 1U);
  EXPECT_EQ(popUps[0], &menu);
  EXPECT_EQ(rightClicks.back(), &menu);
  EXPECT_TRUE(menu.isVisible());
  menu.hide();

  // A menu no longer handed over is left alone.
  tray_->SetPopUpMenu(nullptr);
  EXPECT_EQ(tray_->SystemTrayIcon().contextMenu(), nullptr);
  rightButton();
  EXPECT_EQ(rightClicks.size(), 3U);
  EXPECT_TRUE(menu.isVisible());
}

TEST_F(TrayIconTest, ClicksReachTheirHandlersAndADoubleClickMayRestoreFirst) {
  int clicks = 0;
  std::vector<bool> minimisedAtDoubleClick;
  QObject::connect(tray_, &TTrayIcon::OnClick, [&] { ++clicks; });
  QObject::connect(tray_, &TTrayIcon::OnDblClick,
                   [&] { minimisedAtDoubleClick.push_back(window_->isMinimized()); });
  window_->showMinimized();

  tray_->IconActivated(QSystemTrayIcon::Trigger);
  EXPECT_EQ(clicks, 1);

  tray_->IconActivated(QSystemTrayIcon::DoubleClick);
  tray_->ComeToFront = true;
  tray_->IconActivated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(minimisedAtDoubleClick, (std::vector<bool>{true, false}));
  EXPECT_EQ(clicks, 1);
}

// ---- No notification area ----

TEST_F(TrayIconTest, AMissingNotificationAreaIsReportedOnce) {
  if (TTrayIcon::TrayAvailable()) {
    GTEST_SKIP() << "this platform has a notification area";
  }
  int reports = 0;
  QObject::connect(tray_, &TTrayIcon::OnTrayUnavailable, [&] { ++reports; });
  tray_->SetActive(true);
  tray_->SetLocationNormal(loSysTray);
  tray_->UpdateIcon();
  EXPECT_EQ(reports, 1);
}

// ---- The application's own icon ----

TEST(AppIconTest, EverySizeShowsLitAndDarkSegments) {
  for (const int size : kAppIconSizes) {
    const QImage image = AppIconImage(size);
    ASSERT_EQ(image.size(), QSize(size, size));
    int green = 0;
    int red = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const QColor c = image.pixelColor(x, y);
        green += c.green() > 150 && c.red() < 100 ? 1 : 0;
        red += c.red() > 200 && c.green() < 100 ? 1 : 0;
      }
    }
    EXPECT_GT(green, 0) << size;
    EXPECT_GT(red, 0) << size;
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << size;
  }
  const QList<QSize> sizes = AppIcon().availableSizes();
  EXPECT_EQ(sizes.size(), static_cast<qsizetype>(kAppIconSizes.size()));
}

}  // namespace vx
