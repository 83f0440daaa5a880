#include "ui/SetupDialogs.h"

#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"

#include <QApplication>

namespace vx {

void InstallSetupDialogs() {
  SetPortCfgDialog([](TPortCfg& item) {
    TfrmPortSetup dialog(QApplication::activeWindow());
    return dialog.Execute(item);
  });
  SetLEDBarCfgDialog([](TLEDBarCfg& item) {
    TfrmBarSetup dialog(QApplication::activeWindow());
    return dialog.Execute(item);
  });
}

}  // namespace vx
