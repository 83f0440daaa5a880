#include "config/unPortCfg.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "config/SettingsFile.h"
#include "config/unBarCfg.h"
#include "device/LEDController.h"
#include "platform/Prompter.h"
#include "platform/SerialPort.h"
#include "support/unLog.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace vx {

namespace {

// What a port read from a file without "LEDmax" gets. A new port keeps the link's own
// 0, which sends every LED that is not inverted dark until the user sets it.
constexpr std::uint8_t kDefaultLEDmax = 255;

TPortCfgDialog& PortCfgDialog() {
  static TPortCfgDialog dialog;
  return dialog;
}

}  // namespace

TPortCfgDialog SetPortCfgDialog(TPortCfgDialog dialog) {
  return std::exchange(PortCfgDialog(), std::move(dialog));
}

// ---- TPortCfg -------------------------------------------------------------------------

TPortCfg::TPortCfg() : TPortCfg(nullptr, CreateSerialPort()) {}

TPortCfg::TPortCfg(TPortCfgList* portList, std::unique_ptr<SerialPort> port,
                   std::shared_ptr<TClock> clock)
    : portList_(portList),
      controller_(std::make_unique<TLEDBarController>(std::move(port), std::move(clock))),
      controllers_(std::make_unique<TLEDBarCfgList>(*controller_)) {
  controller_->OnStateChange = [this](TLEDBarController&, TLinkState previous) {
    LinkStateChanged(previous);
  };
}

TPortCfg::~TPortCfg() {
  try {
    controller_->SetConnected(false);
  } catch (const std::exception&) {
    // The port is closed even when the dark frame cannot be built; nobody is left to
    // tell.
  }
}

void TPortCfg::Assign(const TPortCfg& source) {
  if (&source == this) {
    return;
  }
  controller_->SetUpdateInterval(source.Controller().UpdateInterval());
  controller_->Port = source.Controller().Port;
  controller_->MinValue = source.Controller().MinValue;
  controller_->MaxValue = source.Controller().MaxValue;
  controller_->Colour = source.Controller().Colour;
  controllers_->Clear();
  const TLEDBarCfgList& from = source.Controllers();
  for (int i = 0; i < from.Count(); ++i) {
    controllers_->Add().Assign(from.Items(i));
  }
}

std::string TPortCfg::DisplayName() const {
  return controller_->Port;
}

bool TPortCfg::Edit() {
  const TPortCfgDialog& dialog = PortCfgDialog();
  if (!dialog || !dialog(*this)) {
    return false;
  }
  if (portList_ != nullptr) {
    portList_->Apply();
  }
  return true;
}

void TPortCfg::LinkStateChanged(TLinkState previous) {
  if (portList_ != nullptr) {
    portList_->statusChanged_ = true;
  }
  const auto up = [](TLinkState state) {
    return state == TLinkState::Connected || state == TLinkState::NoAnswer;
  };
  const auto down = [](TLinkState state) {
    return state == TLinkState::Waiting || state == TLinkState::Denied ||
           state == TLinkState::Reconnecting;
  };
  const TLEDBarController& link = *controller_;
  const TLinkState state = link.State();
  if (link.IsStrip()) {
    // Once when the strip stops sending, and once when it sends again.
    if (state == TLinkState::NotSending) {
      LogWarning(Format("Port %s not sending: %s", link.Port, link.LastError()));
    } else if (state == TLinkState::Sending && previous == TLinkState::NotSending) {
      LogMessageFmt("Port %s is back", link.Port);
    }
    return;
  }
  // Such a chain (an adapter without boards that stops taking bytes) comes and goes all
  // the time: after its first loss only an answer is news.
  if (down(state) && up(previous)) {
    if (!silentLoss_) {
      LogWarning(Format("Port %s lost: %s", link.Port, link.PortErrorString()));
    }
    silentLoss_ = silentLoss_ || previous == TLinkState::NoAnswer;
  } else if (down(state) && previous == TLinkState::Closed) {
    LogWarning(Format("Port %s not available: %s", link.Port, link.PortErrorString()));
  } else if (up(state) && down(previous) && !(silentLoss_ && state == TLinkState::NoAnswer)) {
    LogMessageFmt("Port %s is back", link.Port);
  }
  if (state == TLinkState::Connected || state == TLinkState::Closed) {
    silentLoss_ = false;
  }
}

int TPortCfg::Index() const {
  return portList_ != nullptr ? portList_->IndexOf(*this) : -1;
}

// ---- TPortCfgList ---------------------------------------------------------------------

TPortCfgList::TPortCfgList(TSerialPortFactory portFactory, std::shared_ptr<TClock> clock)
    : portFactory_(portFactory ? std::move(portFactory) : TSerialPortFactory(CreateSerialPort)),
      clock_(std::move(clock)) {}

TPortCfgList::~TPortCfgList() = default;

TPortCfg& TPortCfgList::Items(int index) const {
  if (index < 0 || index >= Count()) {
    throw EListError(Format("List index out of bounds (%d)", index));
  }
  return *items_[static_cast<std::size_t>(index)];
}

void TPortCfgList::Delete(int index) {
  Items(index);  // checks the index
  items_.erase(items_.begin() + index);
}

void TPortCfgList::Clear() {
  items_.clear();
}

int TPortCfgList::IndexOf(const TPortCfg& item) const {
  const auto found = std::find_if(items_.begin(), items_.end(),
                                  [&](const auto& candidate) { return candidate.get() == &item; });
  return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
}

TPortCfg& TPortCfgList::Append() {
  items_.push_back(std::make_unique<TPortCfg>(this, portFactory_(), clock_));
  return *items_.back();
}

TPortCfg& TPortCfgList::Add() {
  TPortCfg& item = Append();
  Apply();
  return item;
}

void TPortCfgList::Apply() {
  for (const auto& item : items_) {
    TLEDBarController& link = item->Controller();
    link.SetConnected(false);
    item->Controllers().Apply();
    link.SetConnected(item->Enabled);
  }
}

void TPortCfgList::KeepOpen() {
  for (const auto& item : items_) {
    item->Controller().KeepOpen();
  }
}

void TPortCfgList::ResendFrames() {
  for (const auto& item : items_) {
    if (item->Controller().Connected()) {
      item->Controller().InvalidateLastFrame();
    }
  }
}

void TPortCfgList::LoadFromXML(xmlNode* root) {
  Clear();
  try {
    const std::vector<xmlNode*> nodes = SelectNodes(root, Format("%s/%s", "Ports", "Port"));
    for (std::size_t position = 0; position < nodes.size(); ++position) {
      xmlNode* node = nodes[position];
      // Appended without applying: the one Apply at the end connects every enabled port
      // once, where applying at each port would reconnect all the ports before it.
      TPortCfg& item = Append();
      try {
        TLEDBarController& link = item.Controller();
        link.Port = GetNodeText(node, "Name", "");
        const std::int32_t interval = DecimalToInt(GetNodeText(node, "Interval", ""));
        if (interval < 0) {
          throw ERangeError(kRangeCheckError);
        }
        link.SetUpdateInterval(static_cast<std::uint32_t>(interval));
        item.Enabled = TextToBool(GetNodeText(node, "Enabled", ""));
        link.MinValue = DecimalToByte(GetNodeText(node, "LEDmin", "0"));
        link.MaxValue = DecimalToByte(GetNodeText(node, "LEDmax", IntToStr(kDefaultLEDmax)));
        // Files written before network strips have no colour: the meter's.
        const std::string colour = GetNodeText(node, "Colour", "Meter");
        if (const std::optional<TStripColour> parsed = ParseStripColour(colour)) {
          link.Colour = *parsed;
        } else {
          // Not worth the whole port: its strip shows the meter's colours.
          LogWarning(
              Format("Port %d of the settings file: \"%s\" is not a colour (Meter or "
                     "#RRGGBB); the meter's colours are used",
                     static_cast<int>(position), colour));
        }
        item.Controllers().LoadFromXML(node);
      } catch (const std::exception& e) {
        // A port that cannot be read is left out; the others still load.
        LogWarning(Format("Port %d of the settings file is left out: %s - %s",
                          static_cast<int>(position), ExceptionClassName(e), e.what()));
        Delete(IndexOf(item));
      }
    }
  } catch (const std::exception& e) {
    ShowMessage(e.what());
  }
  Apply();
}

void TPortCfgList::SaveToXML(xmlNode* root) {
  if (xmlNode* old = FindChild(root, "Ports")) {
    RemoveNode(old);
  }
  xmlNode* ports = SetChildText(root, "Ports", "", false);
  for (const auto& item : items_) {
    const TLEDBarController& link = item->Controller();
    xmlNode* port = SetChildText(ports, "Port", "", false);
    SetChildText(port, "Name", link.Port, false);
    SetChildText(port, "Interval", IntToStr(link.UpdateInterval()), false);
    SetChildText(port, "Enabled", BoolToText(item->Enabled), false);
    SetChildText(port, "LEDmin", IntToStr(link.MinValue), false);
    SetChildText(port, "LEDmax", IntToStr(link.MaxValue), false);
    // Only a port that has one, so that files of serial chains stay as they were.
    if (link.IsStrip() || link.Colour != TStripColour{}) {
      SetChildText(port, "Colour", StripColourText(link.Colour), false);
    }
    item->Controllers().SaveToXML(port);
  }
}

}  // namespace vx
