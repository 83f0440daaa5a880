#include "config/unSettings.h"

#include "base/Format.h"
#include "config/SettingsFile.h"
#include "config/unPortCfg.h"
#include "platform/AtomicFile.h"
#include "platform/Prompter.h"
#include "support/unLog.h"

#include <exception>
#include <utility>

namespace vx {

namespace {

void Report(const std::exception& e) {
  ShowMessage(e.what());
  LogException(e);
}

}  // namespace

TSettings::TSettings(TPortCfgList& ports, std::string fileName)
    : TSettings(ports, std::move(fileName), SystemFileCalls()) {}

TSettings::TSettings(TPortCfgList& ports, std::string fileName, TFileCalls& fileCalls)
    : ports_(ports), fileName_(std::move(fileName)), fileCalls_(fileCalls) {}

void TSettings::LoadSettings() {
  LogMessageFmt("Loading config from %s", fileName_);
  try {
    const TSettingsFileContent content = ReadSettingsFile(fileName_);
    if (content.State == TSettingsFileState::Unreadable) {
      const std::string problem =
          Format("The settings file %s cannot be read: %s.", fileName_, content.Problem);
      LogError(problem);
      if (!unreadableShown_) {
        unreadableShown_ = true;
        ShowMessage(problem +
                    " Its settings are not used; saving the settings keeps a copy of it as " +
                    fileName_ + ".bad first.");
      }
      return;
    }
    unreadableShown_ = false;
    xmlNode* root = FindSettingsRoot(content.Doc.get());
    if (root == nullptr) {
      return;
    }
    AutoUpdate = TextToBoolDef(GetNodeText(root, "AutoUpdate", ""), false);
    ports_.LoadFromXML(root);
  } catch (const std::exception& e) {
    Report(e);
  }
}

void TSettings::SaveSettings() {
  LogMessageFmt("Saving settings to %s", fileName_);
  try {
    // Loaded first, so that whatever else the file holds is written back.
    const TSettingsFileContent content = ReadSettingsFile(fileName_);
    if (content.State == TSettingsFileState::Unreadable) {
      const std::string kept = KeepBadSettingsFile(fileName_);
      LogWarning(Format("The unreadable settings file %s is kept as %s", fileName_, kept));
    }
    xmlDoc* doc = content.Doc.get();
    xmlNode* root = FindSettingsRoot(doc);
    if (root == nullptr) {
      root = AppendDocumentElement(doc, kSettingsRootName);
    }
    SetChildText(root, "AutoUpdate", BoolToText(AutoUpdate), true);
    ports_.SaveToXML(root);
    SaveSettingsDocument(doc, fileName_, fileCalls_);
    unreadableShown_ = false;  // the file shown as unreadable is gone
  } catch (const std::exception& e) {
    Report(e);
  }
}

bool ReadAutoUpdateSetting(const std::string& fileName) {
  const TSettingsFileContent content = ReadSettingsFile(fileName);
  try {
    xmlNode* root = FindSettingsRoot(content.Doc.get());
    return root != nullptr && TextToBoolDef(GetNodeText(root, "AutoUpdate", ""), false);
  } catch (const std::exception& e) {
    LogException(e);
    return false;
  }
}

}  // namespace vx
