#include "config/PortStatus.h"

#include "base/Format.h"
#include "config/unPortCfg.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortChoices.h"

#include <utility>

namespace vx {

namespace {

const char* const kEllipsis = "\u2026";

bool Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Characters (not bytes) of UTF-8 text.
std::size_t Length(const std::string& text) {
  std::size_t characters = 0;
  for (const char byte : text) {
    characters += Continuation(byte) ? 0U : 1U;
  }
  return characters;
}

// The first characters of text.
std::string Head(const std::string& text, std::size_t characters) {
  std::size_t end = 0;
  for (std::size_t seen = 0; end < text.size(); ++end) {
    if (!Continuation(text[end]) && seen++ == characters) {
      break;
    }
  }
  return text.substr(0, end);
}

// text in at most characters, ending in an ellipsis when cut.
std::string Shorten(const std::string& text, std::size_t characters) {
  if (Length(text) <= characters) {
    return text;
  }
  return characters == 0 ? std::string() : Head(text, characters - 1) + kEllipsis;
}

std::string GroupHint(const TPortStatus& status) {
  return status.DeviceGroup.empty()
             ? Format("the user must be in the group that owns %s", status.Device)
             : Format("the user must be in the group \"%s\" that owns %s", status.DeviceGroup,
                      status.Device);
}

std::string WithReason(const std::string& words, const std::string& reason) {
  return reason.empty() ? words : words + " (" + reason + ")";
}

}  // namespace

TPortStatus PortStatusOf(const TPortCfg& port) {
  const TLEDBarController& link = port.Controller();
  TPortStatus status;
  status.State = link.State();
  status.LastError = link.LastError();
  if (link.IsStrip()) {
    status.Strip = true;
    status.Device = link.Port;
    return status;
  }
  status.Device = SerialDeviceName(link.Port);
  if (!link.Connected()) {
    status.PortError = link.PortErrorString();
  }
  if (status.State == TLinkState::Denied) {
    // The device itself: a stable name or an alias only leads to it.
    if (TSerialDeviceOwner owner = SerialDeviceOwner(link.Port); !owner.Device.empty()) {
      status.Device = std::move(owner.Device);
      status.DeviceGroup = std::move(owner.Group);
    }
  }
  return status;
}

std::string PortStatusText(const TPortStatus& status) {
  switch (status.State) {
    case TLinkState::Connected:
      return status.LastError.empty() ? "Connected" : "Connected - " + status.LastError;
    case TLinkState::NoAnswer:
      return status.LastError.empty() ? "The chain does not answer"
                                      : "The chain does not answer - " + status.LastError;
    case TLinkState::Waiting:
      if (status.Strip) {
        return status.LastError;  // looking its host up
      }
      return WithReason("Waiting for the device", status.PortError);
    case TLinkState::Denied:
      return "Permission denied - " + GroupHint(status);
    case TLinkState::Reconnecting:
      return WithReason("Reconnecting", status.PortError);
    case TLinkState::Sending:
      return "Sending";
    case TLinkState::NotSending:
      return status.LastError.empty() ? "Not sending" : status.LastError;
    case TLinkState::Closed:
      break;
  }
  return "Not open";
}

std::string PortStatusLine(const std::string& portName, const TPortStatus& status) {
  std::string words;
  switch (status.State) {
    case TLinkState::Connected:
      words = "connected";
      break;
    case TLinkState::NoAnswer:
      words = "the chain does not answer";
      break;
    case TLinkState::Waiting:
      words = "waiting for the device";
      break;
    case TLinkState::Denied:
      words = status.DeviceGroup.empty() ? "permission denied"
                                         : "permission denied, join group " + status.DeviceGroup;
      break;
    case TLinkState::Reconnecting:
      words = "reconnecting";
      break;
    case TLinkState::Sending:
      words = "sending";
      break;
    case TLinkState::NotSending:
      words = "not sending";
      break;
    case TLinkState::Closed:
      words = "not open";
      break;
  }
  const std::size_t slash = portName.find_last_of('/');
  const std::string name = slash == std::string::npos ? portName : portName.substr(slash + 1);
  return name + ": " + words;
}

std::string PortsTrayHint(const TPortCfgList& ports, std::size_t maxLength) {
  std::vector<std::string> lines;
  for (int i = 0; i < ports.Count(); ++i) {
    const TPortCfg& port = ports.Items(i);
    if (port.Enabled || port.Controller().State() != TLinkState::Closed) {
      lines.push_back(PortStatusLine(port.Controller().Port, PortStatusOf(port)));
    }
  }
  return FitLines(lines, maxLength);
}

std::string FitLines(const std::vector<std::string>& lines, std::size_t maxLength) {
  if (lines.empty()) {
    return {};
  }
  const std::size_t breaks = lines.size() - 1;
  std::size_t total = breaks;
  for (const std::string& line : lines) {
    total += Length(line);
  }
  const bool cut = total > maxLength;
  const std::size_t share = maxLength > breaks ? (maxLength - breaks) / lines.size() : 0;
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) {
      text += '\n';
    }
    if (!cut || Length(line) <= share) {
      text += line;
      continue;
    }
    // The state says more than the name: the name gives way first, all of it if need be.
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) {
      text += Shorten(line, share);
      continue;
    }
    const std::string state = line.substr(colon);
    if (Length(state) < share) {
      text += Shorten(line.substr(0, colon), share - Length(state)) + state;
    } else {
      text += Shorten(line.substr(colon + 2), share);
    }
  }
  return text;
}

}  // namespace vx
