// libFuzzer target: the bytes are a settings file. Loads it as the program does (on
// ports that discard what they are sent), saves the configuration into the same
// document, and checks that what was written loads again to the same configuration.

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "config/SettingsFile.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "platform/Prompter.h"
#include "platform/SerialPort.h"
#include "support/DiscardingPort.h"

namespace vx {

namespace {

class SilentPrompter final : public Prompter {
 public:
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
};

std::unique_ptr<SerialPort> MakePort() {
  return std::make_unique<DiscardingPort>();
}

// Every setting, one line each.
std::string Describe(bool autoUpdate, const TPortCfgList& ports) {
  std::string text = std::string(BoolToText(autoUpdate)) + "\n";
  for (int p = 0; p < ports.Count(); ++p) {
    const TPortCfg& port = ports.Items(p);
    const TLEDBarController& link = port.Controller();
    text += link.Port + "|" + std::to_string(link.UpdateInterval()) + "|" +
            BoolToText(port.Enabled) + "|" + std::to_string(link.MinValue) + "|" +
            std::to_string(link.MaxValue) + "\n";
    for (int c = 0; c < port.Controllers().Count(); ++c) {
      const TLEDBarCfg& cfg = port.Controllers().Items(c);
      text += " " + std::to_string(cfg.BarSize) + "\n";
      for (int bar = 0; bar < 2; ++bar) {
        text += "  " + cfg.InputName(bar) + "|" + BoolToText(cfg.Inverted(bar)) +
                BoolToText(cfg.Reversed(bar)) + BoolToText(cfg.FallOff(bar));
        for (int i = 0; i < cfg.Input(bar)->PropCount(); ++i) {
          text += "|" + cfg.Input(bar)->Props(i)->AsText();
        }
        text += "\n";
      }
    }
  }
  return text;
}

// Loads as LoadSettings does; false when the file has no root or applying failed.
bool Load(xmlDoc* doc, bool& autoUpdate, TPortCfgList& ports) {
  xmlNode* root = FindSettingsRoot(doc);
  if (root == nullptr) {
    return false;
  }
  autoUpdate = TextToBoolDef(GetNodeText(root, "AutoUpdate", ""), false);
  try {
    ports.LoadFromXML(root);
  } catch (const std::exception&) {
    return false;  // reported to the user by the program; nothing to compare
  }
  return true;
}

[[noreturn]] void Finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // A sound input would open the recording device at every run: an empty sound
  // configuration makes that fail at once, which the recorder takes in its stride.
  setenv("ALSA_CONFIG_PATH", "/dev/null", 1);
  static QCoreApplication app(*argc, *argv);  // the links' timers need an event dispatcher
  static SilentPrompter prompter;
  SetPrompter(&prompter);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const XmlDocPtr doc = ParseSettingsDocument(text);
  bool autoUpdate = false;
  TPortCfgList ports(MakePort);
  if (!Load(doc.get(), autoUpdate, ports)) {
    return 0;
  }
  const std::string first = Describe(autoUpdate, ports);
  // With two "AutoUpdate" elements the first is read, and the first is rewritten and
  // moved behind the second: the option then comes back from the second.
  const bool singleAutoUpdate = SelectNodes(FindSettingsRoot(doc.get()), "AutoUpdate").size() <= 1;

  // Saving into the loaded document, as SaveSettings does, must work and must give a
  // file that loads to the same configuration.
  std::string saved;
  try {
    xmlNode* root = FindSettingsRoot(doc.get());
    SetChildText(root, "AutoUpdate", BoolToText(autoUpdate), true);
    ports.SaveToXML(root);
    saved = SettingsDocumentText(doc.get());
  } catch (const std::exception& e) {
    Finding("saving a loaded configuration failed", e.what());
  }
  bool loaded = false;
  const XmlDocPtr again = ParseSettingsDocument(saved, &loaded);
  if (!loaded) {
    Finding("the saved file does not load", saved);
  }
  bool autoUpdateAgain = false;
  TPortCfgList portsAgain(MakePort);
  if (!Load(again.get(), autoUpdateAgain, portsAgain)) {
    Finding("the saved file has no root or does not apply", saved);
  }
  // The saved section comes last: a second "Ports" section of the file stays before it.
  const std::string second = Describe(autoUpdateAgain, portsAgain);
  const std::string_view firstPorts = std::string_view(first).substr(first.find('\n') + 1);
  if ((singleAutoUpdate &&
       second.substr(0, second.find('\n')) != first.substr(0, first.find('\n'))) ||
      !std::string_view(second).ends_with(firstPorts)) {
    Finding("the saved configuration differs", first + "----\n" + second);
  }
  return 0;
}

}  // namespace vx
