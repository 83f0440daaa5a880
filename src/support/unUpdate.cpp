#include "support/unUpdate.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "platform/PrivateFolder.h"
#include "platform/SystemError.h"
#include "support/BuildNumbers.h"
#include "support/HttpClient.h"
#include "support/IniFile.h"
#include "support/VersionInfo.h"
#include "support/unLog.h"

#include <QTimer>

#include <filesystem>
#include <optional>
#include <system_error>

namespace vx {

namespace {

constexpr const char* kUpdateFolderName = "~vxupd";
constexpr const char* kUpdateInfoName = "~vxupd.ini";
constexpr const char* kSetupName = "~vxupd.exe";
constexpr const char* kPartSuffix = ".part";
// The setup's signature file lies beside it.
constexpr const char* kSignatureSuffix = ".minisig";

const char* const kSetupArgument = "/silent";

// [bytes] of signed size at most: more is no setup of ours.
constexpr std::uint64_t kMaxSetupSize = std::uint64_t{1} << 40;

std::string ErrorText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------

TUpdateFiles::TUpdateFiles(const std::string& programFile)
    : TUpdateFiles(FilePlacesBeside(programFile)) {}

TUpdateFiles::TUpdateFiles(const TFilePlaces& places)
    : VersionRecord(places.VersionRecord),
      SettingsFile(places.SettingsFile),
      Folder((std::filesystem::path(places.UpdateFolder) / kUpdateFolderName).string()),
      UpdateInfo((std::filesystem::path(Folder) / kUpdateInfoName).string()),
      Setup((std::filesystem::path(Folder) / kSetupName).string()) {}

void RemoveLeftoverSetup(const std::string& programFile) {
  RemoveLeftoverSetup(TUpdateFiles(programFile));
}

void RemoveLeftoverSetup(const TUpdateFiles& files) {
  std::error_code ignored;
  std::filesystem::remove(files.Setup, ignored);
  std::filesystem::remove(files.Setup + kPartSuffix, ignored);
}

bool UpdatesFromPackages(const TUpdateOptions& options) {
  return options.UpdateAddress.empty() || options.UpdatePublicKey.empty();
}

// ---------------------------------------------------------------------------------------

struct TUpdateCheck::TState {
  std::optional<TUpdateFiles> Files;
  std::uint32_t OwnBuild = 0;
  std::uint32_t OfferedBuild = 0;
  std::string Description;
  std::string Version;
  std::string Url;
  std::optional<TUpdatePublicKey> Key;
  std::optional<TUpdateSignature> Signed;
  THttpClient Info;
  THttpClient Signature;
  THttpClient Download;
  std::optional<TPrivateFolder> Folder;
  UniqueFd Part;  // the setup while it downloads, open for writing
  std::uint64_t Received = 0;
  std::unique_ptr<TSetupHash> Hash;
  std::unique_ptr<TDownloadView> View;
};

TUpdateCheck::TUpdateCheck(bool Manual, TUpdateOptions options, QObject* parent)
    : QObject(parent),
      Manual_(Manual),
      options_(std::move(options)),
      state_(std::make_unique<TState>()) {}

TUpdateCheck::~TUpdateCheck() {
  // Whatever runs stops here; a setup that has not been started never is.
  cancelled_ = true;
  DropPart();
}

void TUpdateCheck::Start() {
  if (started_) {
    return;
  }
  started_ = true;
  try {
    Run();
  } catch (...) {
    Fail(std::current_exception());
  }
}

void TUpdateCheck::Run() {
  if (options_.UpdateAddress.empty()) {
    LogMessage("Update: off, updates come with the system's packages");
    Finish(TUpdateResult::NoUpdate);
    return;
  }
  if (options_.UpdatePublicKey.empty()) {
    LogMessage("Update: off, this build has no key to check updates with");
    Finish(TUpdateResult::NoUpdate);
    return;
  }
  state_->Files = options_.ProgramFile.empty() ? TUpdateFiles(ProgramFilePlaces())
                                               : TUpdateFiles(options_.ProgramFile);
  const TUpdateFiles& files = *state_->Files;

  LogMessage("Update: Get version");
  TVersionInfo vi;
  vi.SetApplication(true);
  const std::string ownBuildText = VersionToBuildText(vi.GetValue("FileVersion"));
  state_->OwnBuild = HexToBuild(ownBuildText);

  WriteIniString(files.VersionRecord, kUpdateSection, "Description", vi.GetValue("ProductName"));
  WriteIniString(files.VersionRecord, kUpdateSection, "Version", vi.GetValue("ProductVersion"));
  WriteIniString(files.VersionRecord, kUpdateSection, "Build", ownBuildText);

  bool automatic = true;
  if (!Manual_) {
    LogMessage("Update: check if automatic is set");
    automatic = options_.ReadAutoUpdate && options_.ReadAutoUpdate(files.SettingsFile);
  }
  if (!automatic) {
    Finish(TUpdateResult::NoUpdate);
    return;
  }
  state_->Key.emplace(options_.UpdatePublicKey);

  LogMessage("Update: download update info");
  THttpClient& info = state_->Info;
  info.ReadTimeout = options_.InfoReadTimeout;
  info.TotalTimeout = options_.InfoReadTimeout;
  info.MaxBodySize = options_.MaxInfoSize;
  info.OnDone = ThenOrFail(&TUpdateCheck::InfoArrived);
  info.Get(options_.UpdateAddress);
}

std::function<void(const std::exception_ptr&)> TUpdateCheck::ThenOrFail(
    void (TUpdateCheck::*next)()) {
  return [this, next](const std::exception_ptr& error) {
    if (error) {
      Fail(error);
      return;
    }
    try {
      (this->*next)();
    } catch (...) {
      Fail(std::current_exception());
    }
  };
}

void TUpdateCheck::InfoArrived() {
  const TUpdateFiles& files = *state_->Files;
  state_->Folder.emplace(files.Folder);
  {
    const std::string& body = state_->Info.Body();
    const UniqueFd file = state_->Folder->CreateNew(kUpdateInfoName, 0600);
    if (const int error = WriteAll(file.Get(), body.data(), body.size())) {
      RaiseInOutError(error);
    }
  }

  LogMessage("Update: check update info");
  state_->Description = ReadIniString(files.UpdateInfo, kUpdateSection, "Description");
  state_->Url = ReadIniString(files.UpdateInfo, kUpdateSection, "URL");
  state_->Version = ReadIniString(files.UpdateInfo, kUpdateSection, "Version");
  state_->OfferedBuild = HexToBuild(ReadIniString(files.UpdateInfo, kUpdateSection, "Build"));

  LogMessage("Update: delete update info");
  state_->Folder->Remove(kUpdateInfoName);

  LogMessage("Update: compare versions");
  if (state_->OfferedBuild <= state_->OwnBuild) {
    Finish(TUpdateResult::NoUpdate);
    return;
  }

  // Build, Version and URL come as plain text from whoever answered: the publisher's
  // signature must say the same before the user is asked.
  LogMessage("Update: check signature");
  THttpClient& signature = state_->Signature;
  signature.FollowRedirects = true;
  signature.ReadTimeout = options_.InfoReadTimeout;
  signature.TotalTimeout = options_.InfoReadTimeout;
  signature.MaxBodySize = options_.MaxSignatureSize;
  signature.OnDone = ThenOrFail(&TUpdateCheck::SignatureArrived);
  signature.Get(state_->Url + kSignatureSuffix);
}

void TUpdateCheck::SignatureArrived() {
  const TUpdateSignature signature = ReadUpdateSignature(state_->Signature.Body(), *state_->Key);
  const TSignedSetup& setup = signature.Setup;
  // An older setup under a newer Build, or one of another product, is a replay.
  if (setup.Product != kUpdateSection || setup.Build != state_->OfferedBuild ||
      setup.Build <= state_->OwnBuild || setup.Size == 0 || setup.Size > kMaxSetupSize) {
    throw EUpdateSignature(kNotSignedCorrectly);
  }
  state_->Signed = signature;

  asked_ = true;
  const std::string question =
      Format("%s Update available. Do you want to update to version %s now?", state_->Description,
             state_->Version);
  QTimer::singleShot(0, this, [this, question] {
    if (!asked_) {
      return;  // cancelled meanwhile
    }
    if (OnQuestion) {
      OnQuestion(question);
    } else {
      Answer(false);
    }
  });
}

void TUpdateCheck::Answer(bool yes) {
  if (!asked_ || ended_) {
    return;
  }
  asked_ = false;
  if (!yes) {
    Finish(TUpdateResult::Failed);
    return;
  }
  try {
    BeginDownload();
  } catch (...) {
    Fail(std::current_exception());
  }
}

void TUpdateCheck::BeginDownload() {
  LogMessage("Update: download setup");
  state_->Part = state_->Folder->CreateNew(std::string(kSetupName) + kPartSuffix, 0700);
  state_->Hash = std::make_unique<TSetupHash>();
  state_->Received = 0;
  if (!options_.NewDownloadView) {
    StartDownload();
    return;
  }
  state_->View = options_.NewDownloadView();
  TDownloadView& view = *state_->View;
  view.OnStart = [this] { StartDownload(); };
  view.OnCancel = [this] { CancelDownload(); };
  // Later: the view is not destroyed from inside its own event.
  view.OnClose = [this] {
    QTimer::singleShot(0, this, [this] {
      state_->View.reset();
      DropPart();
      Finish(TUpdateResult::Failed);
    });
  };
  view.Show();
}

void TUpdateCheck::StartDownload() {
  if (state_->View) {
    state_->View->Downloading();
  }
  THttpClient& download = state_->Download;
  download.FollowRedirects = true;
  download.ReadTimeout = options_.SetupReadTimeout;
  download.TotalTimeout = options_.SetupTotalTimeout;
  // More than was signed is not the setup; it is cut off as it comes.
  download.MaxBodySize = state_->Signed->Setup.Size;
  download.OnWorkBegin = [this](std::int64_t size) {
    if (state_->View) {
      state_->View->WorkBegin(size);
    }
  };
  download.OnWork = [this](std::int64_t received) {
    if (state_->View) {
      state_->View->Work(received);
    }
  };
  const THttpClient::TSink sink = [this](const char* data, std::size_t size) {
    if (const int error = WriteAll(state_->Part.Get(), data, size)) {
      throw EInOutError(InOutErrorMessage(error), error);
    }
    state_->Hash->Add(data, size);
    state_->Received += size;
  };
  download.OnDone = [this](const std::exception_ptr& error) { DownloadEnded(error); };
  download.Get(state_->Url, sink);
}

void TUpdateCheck::CancelDownload() {
  state_->Download.Abort();
  if (state_->View) {
    state_->View->Ended("Download cancelled");
  }
}

void TUpdateCheck::DownloadEnded(const std::exception_ptr& error) {
  if (error) {
    // Download errors show in the window only.
    DropPart();
    if (state_->View) {
      state_->View->Ended(ErrorText(error));
    } else {
      Finish(TUpdateResult::Failed);
    }
    return;
  }
  state_->View.reset();
  try {
    ExecuteSetup();
  } catch (...) {
    Fail(std::current_exception());
  }
}

void TUpdateCheck::ExecuteSetup() {
  TState& state = *state_;
  const std::string partName = std::string(kSetupName) + kPartSuffix;
  if (state.Received != state.Signed->Setup.Size) {
    throw EUpdateSignature(kNotSignedCorrectly);
  }
  state.Hash->Verify(*state.Signed, *state.Key);
  // The setup runs from the file that was written and verified, never by its name.
  const UniqueFd setup = ReopenForReading(state.Part.Get());
  state.Part.Reset();
  state.Folder->Remove(kSetupName);
  state.Folder->RenameNoReplace(partName, kSetupName);
  if (static_cast<std::uint64_t>(FileSize(setup.Get())) != state.Signed->Setup.Size) {
    throw EUpdateSignature(kNotSignedCorrectly);
  }

  LogMessage("Update: execute setup");
  if (StartDetachedFromFd(setup.Get(), {kSetupArgument}) != 0) {
    throw Exception("Failed to execute update.");
  }
  Finish(TUpdateResult::UpdateStarted);
}

void TUpdateCheck::Cancel() {
  if (!Running() || ended_) {
    return;
  }
  cancelled_ = true;
  state_->Info.Abort();
  state_->Signature.Abort();
  state_->Download.Abort();
  state_->View.reset();
  DropPart();
  Finish(TUpdateResult::Failed);
}

void TUpdateCheck::DropPart() {
  state_->Part.Reset();
  if (state_->Folder) {
    state_->Folder->Remove(std::string(kSetupName) + kPartSuffix);
  }
}

void TUpdateCheck::Fail(const std::exception_ptr& error) {
  state_->View.reset();
  DropPart();
  std::string text;
  if (!cancelled_) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      LogException(e);
      text = e.what();
    }
  }
  Finish(TUpdateResult::Failed, text);
}

void TUpdateCheck::Finish(TUpdateResult result, const std::string& error) {
  if (ended_) {
    return;
  }
  ended_ = true;
  asked_ = false;
  if (cancelled_ && result != TUpdateResult::UpdateStarted) {
    result = TUpdateResult::Failed;
  }
  QTimer::singleShot(0, this, [this, result, error] {
    finished_ = true;
    if (OnFinished) {
      const auto finished = OnFinished;
      finished(result, error);
    }
  });
}

}  // namespace vx
