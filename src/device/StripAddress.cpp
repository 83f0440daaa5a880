#include "device/StripAddress.h"

#include "base/Exceptions.h"
#include "base/Format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>

namespace vx {

namespace {

struct TScheme {
  std::string_view Prefix;
  TStripProtocol Protocol;
  std::uint16_t Port;
};

constexpr std::array<TScheme, 3> kSchemes{{
    {"ddp://", TStripProtocol::DDP, kDdpPort},
    {"e131://", TStripProtocol::E131, kE131Port},
    {"artnet://", TStripProtocol::ArtNet, kArtNetPort},
}};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

const TScheme* SchemeOf(std::string_view name) {
  for (const TScheme& scheme : kSchemes) {
    if (name.size() >= scheme.Prefix.size() &&
        std::equal(scheme.Prefix.begin(), scheme.Prefix.end(), name.begin(),
                   [](char a, char b) { return a == Lower(b); })) {
      return &scheme;
    }
  }
  return nullptr;
}

[[noreturn]] void Refuse(std::string_view name, std::string_view reason) {
  throw EConvertError(Format("'%s' is not a valid strip address: %s", name, reason));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsNameChar(char c) {
  return IsDigit(c) || (Lower(c) >= 'a' && Lower(c) <= 'z') || c == '-' || c == '.' || c == '_';
}

// Digits only, and at most last; nothing for anything else (a sign, a space, too large).
std::optional<std::uint32_t> Number(std::string_view text, std::uint32_t last) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > last) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

bool IsStripAddress(std::string_view name) {
  return SchemeOf(name) != nullptr;
}

TStripAddress ParseStripAddress(std::string_view name) {
  const TScheme* scheme = SchemeOf(name);
  if (scheme == nullptr) {
    Refuse(name, "it starts with none of ddp://, e131://, artnet://");
  }
  TStripAddress address;
  address.Protocol = scheme->Protocol;
  address.Port = scheme->Port;
  address.Universe = scheme->Protocol == TStripProtocol::E131 ? 1 : 0;

  std::string_view rest = name.substr(scheme->Prefix.size());
  const std::size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  std::optional<std::string_view> port;
  bool ipv6 = false;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      Refuse(name, "the IPv6 address has no closing ]");
    }
    address.Host = authority.substr(1, close - 1);
    ipv6 = true;
    const std::string_view after = authority.substr(close + 1);
    if (after.starts_with(':')) {
      port = after.substr(1);
    } else if (!after.empty()) {
      Refuse(name, "only :PORT may follow the host");
    }
  } else if (std::count(authority.begin(), authority.end(), ':') > 1) {
    // An IPv6 address without brackets cannot carry a port: all of it is the host.
    address.Host = authority;
    ipv6 = true;
  } else {
    const std::size_t colon = authority.find(':');
    address.Host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
    }
  }

  if (address.Host.empty()) {
    Refuse(name, "the host is missing");
  }
  const bool validHost =
      ipv6 ? address.Host.find(':') != std::string::npos &&
                 std::all_of(address.Host.begin(), address.Host.end(),
                             [](char c) { return IsNameChar(c) || c == ':' || c == '%'; })
           : std::all_of(address.Host.begin(), address.Host.end(), IsNameChar);
  if (!validHost) {
    Refuse(name, Format("'%s' is not a host name or address", address.Host));
  }
  if (port) {
    const auto value = Number(*port, 65535);
    if (!value || *value == 0) {
      Refuse(name, "the port must be a number from 1 to 65535");
    }
    address.Port = static_cast<std::uint16_t>(*value);
  }

  if (slash != std::string_view::npos) {
    const std::string_view universe = rest.substr(slash + 1);
    if (address.Protocol == TStripProtocol::DDP) {
      Refuse(name, "DDP has no universe");
    }
    const bool e131 = address.Protocol == TStripProtocol::E131;
    const std::uint32_t last = e131 ? kE131LastUniverse : kArtNetLastUniverse;
    const auto value = Number(universe, last);
    if (!value || (e131 && *value == 0)) {
      Refuse(name, e131 ? "the universe must be a number from 1 to 63999"
                        : "the universe must be a number from 0 to 32767");
    }
    address.Universe = static_cast<std::uint16_t>(*value);
  }
  return address;
}

}  // namespace vx
