#pragma once

namespace vx {

// Lets the port and controller configurations open their dialogs (TPortCfg::Edit and
// TLEDBarCfg::Edit), over the application's active window. The main window calls it
// once when it is created.
void InstallConfigDialogs();

}  // namespace vx
