#include "ui/ConfigDialogs.h"

#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "ui/Application.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"

namespace vx {

void InstallConfigDialogs() {
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
