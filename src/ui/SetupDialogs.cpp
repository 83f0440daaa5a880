#include "ui/SetupDialogs.h"

#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "ui/Application.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"

namespace vx {

void InstallSetupDialogs() {
  SetPortCfgDialog([](TPortCfg& item) {
    TfrmPortSetup dialog(DialogParent());
    return dialog.Execute(item);
  });
  SetLEDBarCfgDialog([](TLEDBarCfg& item) {
    TfrmBarSetup dialog(DialogParent());
    return dialog.Execute(item);
  });
}

}  // namespace vx
