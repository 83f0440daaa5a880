#pragma once

#include "config/XmlTypes.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vx {

class SerialPort;
class TClock;
class TLEDBarCfgList;
class TLEDBarController;
enum class TLinkState;
class TPortCfg;
class TPortCfgList;

// Makes the serial port of a new link; the platform's port unless a list is given another
// maker (benchmarks and tests).
using TSerialPortFactory = std::function<std::unique_ptr<SerialPort>()>;

// The port dialog: edits item and tells whether the user confirmed. The window layer
// installs it (SetPortCfgDialog), so the configuration itself has no windows.
using TPortCfgDialog = std::function<bool(TPortCfg& item)>;
// Installs dialog (an empty function removes it) and returns the previous one.
TPortCfgDialog SetPortCfgDialog(TPortCfgDialog dialog);

// One configured serial port with its chain of boards. It owns its link, whose properties
// hold the port settings (Port, UpdateInterval, MinValue, MaxValue), and the board
// configurations bound to that link.
class TPortCfg {
 public:
  // Free-standing (the port dialog's working copy), on the platform's serial port.
  TPortCfg();
  // In portList (not owned, may be nullptr), on port; its link goes by clock (nullptr: the
  // steady clock).
  TPortCfg(TPortCfgList* portList, std::unique_ptr<SerialPort> port,
           std::shared_ptr<TClock> clock = nullptr);
  // Closes the link (which darkens the chain) and frees it with the board configurations.
  ~TPortCfg();
  TPortCfg(const TPortCfg&) = delete;
  TPortCfg& operator=(const TPortCfg&) = delete;

  // Port name, update interval, LED min and max, and a deep copy of the board
  // configurations; not Enabled.
  void Assign(const TPortCfg& source);
  // The port name.
  std::string DisplayName() const;
  // Opens the port dialog on this port; when confirmed, applies the port list. Returns
  // whether it was confirmed (false without an installed dialog).
  bool Edit();

  TLEDBarController& Controller() const { return *controller_; }
  TLEDBarCfgList& Controllers() const { return *controllers_; }
  TPortCfgList* PortList() const { return portList_; }
  int Index() const;  // position in PortList, -1 when free-standing

  bool Enabled = false;  // applying the list connects the link

 private:
  // Logs a port that goes down or comes back, once per change; a chain that does not
  // answer is logged lost once, and again only after it has answered.
  void LinkStateChanged(TLinkState previous);

  TPortCfgList* portList_;
  bool silentLoss_ = false;  // a chain that did not answer was logged lost
  // The link first: the board configurations are bound to it and go before it.
  std::unique_ptr<TLEDBarController> controller_;
  std::unique_ptr<TLEDBarCfgList> controllers_;
};

// The configured ports, in the order in which they are driven and saved.
class TPortCfgList {
 public:
  // clock: what the ports' links go by (nullptr: the steady clock; tests give their own).
  explicit TPortCfgList(TSerialPortFactory portFactory = nullptr,
                        std::shared_ptr<TClock> clock = nullptr);
  ~TPortCfgList();
  TPortCfgList(const TPortCfgList&) = delete;
  TPortCfgList& operator=(const TPortCfgList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // EListError "List index out of bounds (%d)" for an index outside the list.
  TPortCfg& Items(int index) const;
  void Delete(int index);  // closes and frees the port
  void Clear();
  int IndexOf(const TPortCfg& item) const;

  // Appends a new port (not enabled), applies the whole list and returns the port.
  TPortCfg& Add();
  // Per port in order: disconnect, push the board configurations into the link, connect
  // when Enabled.
  void Apply();

  // Every link that should be open but is not tries its port again (at most once a
  // second each).
  void KeepOpen();
  // Every open link sends its complete frame with its next send: after a sleep, the
  // boards may have lost what they showed.
  void ResendFrames();
  // Whether a link's state changed since the last call.
  bool TakeStatusChanged() { return std::exchange(statusChanged_, false); }

  // Replaces the list with the ports of the "Ports" sections below root. A port with an
  // unreadable value is left out silently; an error of the document is shown as a
  // message. Then applies, which connects each enabled port once.
  void LoadFromXML(xmlNode* root);
  // Replaces the first "Ports" section below root by a new last one.
  void SaveToXML(xmlNode* root);

 private:
  friend class TPortCfg;  // reports the state changes of its link

  TPortCfg& Append();

  TSerialPortFactory portFactory_;
  std::shared_ptr<TClock> clock_;
  bool statusChanged_ = false;  // before the items, which still report while they go
  std::vector<std::unique_ptr<TPortCfg>> items_;
};

}  // namespace vx
