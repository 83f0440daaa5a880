#pragma once

#include <QDialog>

class QFrame;
class QImage;
class QLabel;
class QPushButton;
class QWidget;

namespace vx {

class TVersionInfo;

// The About dialog: logo, product name, the version and copyright of the running
// program, and a link to the product page. Reads the version anew at each creation.
class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  // parent only places the dialog over it.
  explicit TfrmAbout(QWidget* parent = nullptr);

  QWidget* pnlAbout;
  QFrame* pnlLogo;
  QLabel* imgVorlixa;
  QFrame* shpLogo;
  QLabel* lblAppName;
  QLabel* Label3;
  QLabel* vi_ProductVersion;
  QLabel* vi_LegalCopyright;
  QLabel* Label1;
  QLabel* Label2;
  QPushButton* btnClose;
  TVersionInfo* vi;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Esc and the window manager's close press btnClose.
  void reject() override;

 private:
  void FormCreate();
  void Label2Click();
};

// The logo picture kept in the program: a 150 x 150 JPEG, decoded.
QImage VorlixaLogo();

}  // namespace vx
