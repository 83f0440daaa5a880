#include "ui/unAbout.h"

#include "support/VersionInfo.h"
#include "ui/JpegImage.h"

#include <QByteArray>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include <span>

namespace vx {

namespace {

QLabel* NewLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace

QImage VorlixaLogo() {
  QFile file(QStringLiteral(":/vorlixa-logo.jpg"));
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  const QByteArray bytes = file.readAll();
  return DecodeJpeg(std::span(reinterpret_cast<const unsigned char*>(bytes.constData()),
                              static_cast<std::size_t>(bytes.size())));
}

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Vorlixa"));
  QFont dialogFont(QStringLiteral("MS Sans Serif"));
  dialogFont.setStyleHint(QFont::SansSerif);
  dialogFont.setPixelSize(11);
  setFont(dialogFont);
  setFixedSize(425, 153);

  pnlAbout = new QWidget(this);
  pnlAbout->setObjectName(QStringLiteral("pnlAbout"));
  pnlAbout->setGeometry(0, 0, 425, 153);

  pnlLogo = new QFrame(pnlAbout);
  pnlLogo->setObjectName(QStringLiteral("pnlLogo"));
  pnlLogo->setGeometry(0, 0, 151, 153);
  pnlLogo->setStyleSheet(QStringLiteral("#pnlLogo { background-color: black; }"));

  imgVorlixa = new QLabel(pnlLogo);
  imgVorlixa->setObjectName(QStringLiteral("imgVorlixa"));
  imgVorlixa->setGeometry(0, 0, 150, 153);
  imgVorlixa->setAlignment(Qt::AlignCenter);
  imgVorlixa->setPixmap(QPixmap::fromImage(VorlixaLogo()));

  shpLogo = new QFrame(pnlAbout);
  shpLogo->setObjectName(QStringLiteral("shpLogo"));
  shpLogo->setGeometry(151, 0, 425 - 151, 153);
  shpLogo->setStyleSheet(QStringLiteral("#shpLogo { border: 8px solid palette(dark); }"));

  lblAppName = NewLabel(pnlAbout, "lblAppName", "Tremanic Vorlixa", 168, 10);
  QFont appNameFont(QStringLiteral("Arial"));
  appNameFont.setStyleHint(QFont::SansSerif);
  appNameFont.setPixelSize(21);
  appNameFont.setBold(true);
  lblAppName->setFont(appNameFont);
  lblAppName->adjustSize();

  Label3 = NewLabel(pnlAbout, "Label3", "Version:", 168, 34);
  Label3->resize(41, Label3->height());
  vi_ProductVersion = NewLabel(pnlAbout, "vi_ProductVersion", "1.0", 224, 34);
  vi_ProductVersion->resize(161, vi_ProductVersion->height());
  vi_LegalCopyright = NewLabel(pnlAbout, "vi_LegalCopyright", "Copyright", 168, 51);
  vi_LegalCopyright->resize(240, vi_LegalCopyright->height());

  Label1 = NewLabel(pnlAbout, "Label1", "", 168, 70);
  Label1->setWordWrap(true);
  Label1->resize(240, 52);

  Label2 = NewLabel(pnlAbout, "Label2", "Vorlixa online", 168, 128);
  QFont linkFont = Label2->font();
  linkFont.setUnderline(true);
  Label2->setFont(linkFont);
  Label2->setStyleSheet(QStringLiteral("color: blue;"));
  Label2->setCursor(Qt::PointingHandCursor);
  Label2->adjustSize();
  Label2->installEventFilter(this);

  btnClose = new QPushButton(QStringLiteral("Close"), pnlAbout);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setGeometry(339, 119, 75, 23);
  btnClose->setDefault(true);
  btnClose->setFocus();
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

  vi = new TVersionInfo(this);
  vi->setObjectName(QStringLiteral("vi"));

  FormCreate();
}

void TfrmAbout::FormCreate() {
  vi->SetApplication(true);
  // A program file without version strings keeps the texts of the design.
  if (vi->HasValues()) {
    vi_ProductVersion->setText(QString::fromStdString(vi->GetValue("ProductVersion")));
    vi_LegalCopyright->setText(QString::fromStdString(vi->GetValue("LegalCopyright")));
  }
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
  // The event's type names its class.
  if (watched == Label2 && event->type() == QEvent::MouseButtonRelease &&
      // NOLINTNEXTLINE(cppcoreguidelines-pro-type-static-cast-downcast)
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Label2Click();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmAbout::reject() {
  btnClose->click();
}

// Whether a browser opens is not ours to report.
void TfrmAbout::Label2Click() {
  QDesktopServices::openUrl(QUrl(QStringLiteral(VORLIXA_PRODUCT_PAGE)));
}

}  // namespace vx
