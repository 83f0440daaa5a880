// libFuzzer target: the bytes are a settings file. The program's own loader reads it (on
// ports that discard what they are sent), the program's own save writes the configuration
// back into it, and what was written must load again to the same configuration. A file
// that cannot be read must have been kept, byte for byte, before the save replaced it.

#include "common/DiscardingPort.h"
#include "config/SettingsFile.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "platform/AtomicFile.h"
#include "platform/Prompter.h"
#include "platform/SerialPort.h"

#include <QCoreApplication>

#include <libxml/tree.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

namespace {

namespace fs = std::filesystem;

class RecordingPrompter final : public Prompter {
 public:
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  bool AskYesNo(const std::string&) override { return false; }
  std::vector<std::string> Messages;
};

// The real calls without waiting for the disk: the fuzzer writes thousands of files a
// second into a folder that nobody needs after a crash.
class NoSyncFileCalls final : public TFileCalls {
 public:
  int Sync(int) override { return 0; }
  int SyncFolder(const std::string&) override { return 0; }
};

RecordingPrompter* prompter = nullptr;
std::string folder;

std::unique_ptr<SerialPort> MakePort() {
  return std::make_unique<DiscardingPort>();
}

std::string ReadAll(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
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

[[noreturn]] void Finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s\n%s\n", what, detail.c_str());
  std::abort();
}

// Whether a save into the file's document must work: a document whose only top-level
// element is another one cannot take the root, and that save fails on purpose.
bool SaveMustWork(const TSettingsFileContent& content) {
  if (content.State != TSettingsFileState::Loaded || FindSettingsRoot(content.Doc.get())) {
    return true;
  }
  for (const xmlNode* node = content.Doc->children; node != nullptr; node = node->next) {
    if (node->type == XML_ELEMENT_NODE) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // A sound input would open the recording device at every run: an empty sound
  // configuration makes that fail at once, which the recorder takes in its stride.
  setenv("ALSA_CONFIG_PATH", "/dev/null", 1);
  static QCoreApplication app(*argc, *argv);  // the links' timers need an event dispatcher
  static RecordingPrompter recording;
  prompter = &recording;
  SetPrompter(prompter);
  const fs::path base =
      fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "vorlixa-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  folder = pattern;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    fs::remove(entry.path(), ignored);
  }
  const std::string fileName = folder + "/vorlixa.xml";
  { std::ofstream(fileName, std::ios::binary) << input; }
  const TSettingsFileContent before = ReadSettingsFile(fileName);
  // With two "AutoUpdate" elements the first is read, and the first is rewritten and moved
  // behind the second: the option then comes back from the second.
  xmlNode* root = FindSettingsRoot(before.Doc.get());
  const bool singleAutoUpdate = root == nullptr || SelectNodes(root, "AutoUpdate").size() <= 1;

  NoSyncFileCalls calls;
  TPortCfgList ports(MakePort);
  TSettings settings(ports, fileName, calls);
  prompter->Messages.clear();
  settings.LoadSettings();
  const std::string first = Describe(settings.AutoUpdate, ports);
  // A configuration that the program reported trouble with may fail again after the save
  // (a port name too long to open, for one); an unreadable file only leaves the defaults.
  const bool comparable =
      prompter->Messages.empty() || before.State == TSettingsFileState::Unreadable;

  prompter->Messages.clear();
  settings.SaveSettings();
  if (!prompter->Messages.empty()) {
    if (SaveMustWork(before)) {
      Finding("saving a loaded configuration failed", prompter->Messages.front());
    }
    return 0;
  }
  if (before.State == TSettingsFileState::Unreadable && ReadAll(fileName + ".bad") != input) {
    Finding("the unreadable file was not kept before the save", before.Problem);
  }

  if (!comparable) {
    return 0;
  }
  const std::string saved = ReadAll(fileName);
  const TSettingsFileContent after = ReadSettingsFile(fileName);
  if (after.State != TSettingsFileState::Loaded || !FindSettingsRoot(after.Doc.get())) {
    Finding("the saved file does not load", after.Problem + "\n" + saved);
  }
  TPortCfgList portsAgain(MakePort);
  TSettings again(portsAgain, fileName, calls);
  prompter->Messages.clear();
  again.LoadSettings();
  if (!prompter->Messages.empty()) {
    Finding("the saved file loads with an error", prompter->Messages.front() + "\n" + saved);
  }
  // The saved section comes last: a second "Ports" section of the file stays before it.
  const std::string second = Describe(again.AutoUpdate, portsAgain);
  const std::string_view firstPorts = std::string_view(first).substr(first.find('\n') + 1);
  if ((singleAutoUpdate &&
       second.substr(0, second.find('\n')) != first.substr(0, first.find('\n'))) ||
      !std::string_view(second).ends_with(firstPorts)) {
    Finding("the saved configuration differs", first + "----\n" + second);
  }
  return 0;
}

}  // namespace vx
