#include "support/VersionInfo.h"
#include "ui/JpegImage.h"
#include "ui/unAbout.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <vector>

namespace vx {

namespace {

// Takes the URLs that the program asks the desktop to open.
class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  std::vector<QUrl> Urls;

 public slots:
  void Open(const QUrl& url) { Urls.push_back(url); }
};

// Runs dialog modally while action runs from its event loop; a dialog that does not
// close is ended with -1 so that the test fails instead of hanging.
int ExecWhile(QDialog& dialog, const std::function<void()>& action) {
  QTimer::singleShot(0, &dialog, action);
  QTimer::singleShot(10000, &dialog, [&dialog] { dialog.done(-1); });
  return dialog.exec();
}

}  // namespace

TEST(AboutTest, ShowsTheVersionOfTheRunningProgramNextToVersion) {
  TVersionInfo program;
  program.SetApplication(true);
  ASSERT_FALSE(program.GetValue("ProductVersion").empty());

  TfrmAbout frmAbout;
  EXPECT_EQ(frmAbout.windowTitle(), QStringLiteral("About Vorlixa"));
  EXPECT_EQ(frmAbout.Label3->text(), QStringLiteral("Version:"));
  EXPECT_EQ(frmAbout.vi_ProductVersion->text().toStdString(), program.GetValue("ProductVersion"));
  EXPECT_EQ(frmAbout.vi_ProductVersion->text(), QStringLiteral("1.0 beta 7"));
  EXPECT_EQ(frmAbout.vi_LegalCopyright->text(), QStringLiteral("Copyright \u00a9 Tremanic"));
  // Next to the caption, on its line.
  EXPECT_EQ(frmAbout.vi_ProductVersion->y(), frmAbout.Label3->y());
  EXPECT_GT(frmAbout.vi_ProductVersion->x(), frmAbout.Label3->geometry().right());
  EXPECT_EQ(frmAbout.imgVorlixa->pixmap().size(), QSize(150, 150));
}

TEST(AboutTest, EscAndCloseCloseTheDialog) {
  TfrmAbout byEsc;
  const int escResult = ExecWhile(byEsc, [&byEsc] {
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(byEsc.btnClose, &esc);
  });
  EXPECT_EQ(escResult, QDialog::Accepted);

  TfrmAbout byButton;
  EXPECT_EQ(ExecWhile(byButton, [&byButton] { byButton.btnClose->click(); }), QDialog::Accepted);
}

TEST(AboutTest, TheLinkOpensTheProductPage) {
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "Open");
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "Open");
  TfrmAbout frmAbout;
  const QPointF at(2, 2);
  QMouseEvent press(QEvent::MouseButtonPress, at, frmAbout.Label2->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, frmAbout.Label2->mapToGlobal(at),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(frmAbout.Label2, &press);
  QCoreApplication::sendEvent(frmAbout.Label2, &release);
  QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  ASSERT_EQ(recorder.Urls.size(), 1U);
  EXPECT_TRUE(recorder.Urls[0].isValid());
  EXPECT_FALSE(recorder.Urls[0].host().isEmpty());
  EXPECT_EQ(frmAbout.Label2->text(), QStringLiteral("Vorlixa online"));
}

TEST(JpegImageTest, DecodesTheLogoAndRefusesDamagedPictures) {
  const QImage logo = VorlixaLogo();
  ASSERT_EQ(logo.size(), QSize(150, 150));

  QFile file(QStringLiteral(":/vorlixa-logo.jpg"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  const auto decode = [](const QByteArray& data) {
    return DecodeJpeg(std::span(reinterpret_cast<const unsigned char*>(data.constData()),
                                static_cast<std::size_t>(data.size())));
  };
  EXPECT_EQ(decode(bytes), logo);
  EXPECT_TRUE(decode(QByteArray()).isNull());
  EXPECT_TRUE(decode(QByteArray("not a picture at all")).isNull());
  EXPECT_TRUE(decode(bytes.left(200)).isNull()) << "cut off in its tables";
  QByteArray noStart = bytes;
  noStart[0] = 0;  // no start-of-image marker
  EXPECT_TRUE(decode(noStart).isNull());
}

}  // namespace vx

#include "AboutTest.moc"
