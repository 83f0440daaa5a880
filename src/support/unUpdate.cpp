#include "support/unUpdate.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/AtomicFile.h"
#include "platform/PrivateFolder.h"
#include "platform/SystemError.h"
#include "support/HttpClient.h"
#include "support/VersionInfo.h"
#include "support/unLog.h"

#include <QTimer>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

namespace vx {

namespace {

constexpr const char* kUpdateFolderName = "~vxupd";
constexpr const char* kUpdateInfoName = "~vxupd.ini";
constexpr const char* kSetupName = "~vxupd.exe";
constexpr const char* kPartSuffix = ".part";
// The setup's signature file lies beside it.
constexpr const char* kSignatureSuffix = ".minisig";

// ---------------------------------------------------------------------------------------
// Text helpers.

// Blanks of the update information: every control character and the space.
bool IsControlOrSpace(char c) {
  return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= ' ';
}

std::string_view TrimLine(std::string_view text) {
  return Trim(text, IsControlOrSpace);
}

// The items of a delimited text: an item ends at a full stop or a blank, blanks around
// the delimiters are skipped, a full stop at the very end adds an empty item.
std::vector<std::string_view> VersionItems(std::string_view text) {
  std::vector<std::string_view> items;
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < text.size() && IsControlOrSpace(text[i])) {
      ++i;
    }
  };
  skipBlanks();
  while (i < text.size()) {
    const std::size_t start = i;
    while (i < text.size() && !IsControlOrSpace(text[i]) && text[i] != '.') {
      ++i;
    }
    items.push_back(text.substr(start, i - start));
    skipBlanks();
    if (i < text.size() && text[i] == '.') {
      if (i + 1 == text.size()) {
        items.emplace_back();
      }
      ++i;
      skipBlanks();
    }
  }
  return items;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// ---------------------------------------------------------------------------------------
// INI files.

std::optional<std::string> ReadWholeFile(const std::string& fileName) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(fileName, error)) {
    return std::nullopt;
  }
  std::ifstream file(fileName, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  if (!file) {
    return std::nullopt;
  }
  return content.str();
}

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::string_view rest(content);
  if (rest.starts_with("\xEF\xBB\xBF")) {
    rest.remove_prefix(3);
  }
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    lines.emplace_back(line);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return lines;
}

// The name of a section header line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = TrimLine(line);
  if (!line.starts_with('[')) {
    return std::nullopt;
  }
  const std::size_t close = line.find(']');
  return TrimLine(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
}

// The key of a "key=value" line, or nullopt for any other line.
std::optional<std::string_view> KeyName(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos || TrimLine(line).starts_with(';')) {
    return std::nullopt;
  }
  return TrimLine(line.substr(0, equals));
}

// Where a section's lines are: its header, and the line after its last non-blank line.
struct TSectionLines {
  std::size_t Header = 0;
  std::size_t End = 0;
};

std::optional<TSectionLines> FindSection(const std::vector<std::string>& lines,
                                         std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i]);
    if (!name || !SameText(*name, section)) {
      continue;
    }
    TSectionLines found{i, i + 1};
    for (std::size_t j = i + 1; j < lines.size() && !SectionName(lines[j]); ++j) {
      if (!TrimLine(lines[j]).empty()) {
        found.End = j + 1;
      }
    }
    return found;
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<std::string>& lines,
                                   const TSectionLines& section, std::string_view key) {
  for (std::size_t i = section.Header + 1; i < section.End; ++i) {
    const auto name = KeyName(lines[i]);
    if (name && SameText(*name, key)) {
      return i;
    }
  }
  return std::nullopt;
}

// In one piece, as the settings are; a link in the file's place is replaced, not
// followed, so the write never lands anywhere else.
void WriteWholeFile(const std::string& fileName, const std::string& content) {
  try {
    ReplaceFileItself(fileName, content);
  } catch (const EInOutError&) {
    throw EIniFileException(Format("Unable to write to %s", fileName));
  }
}

// ---------------------------------------------------------------------------------------
// The steps of the check.

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

std::string VersionToBuildText(std::string_view version) {
  std::string text;
  for (const std::string_view item : VersionItems(version)) {
    text += Format("%02X", static_cast<std::uint32_t>(StrToInt(item)));
  }
  return text;
}

std::uint32_t HexToBuild(std::string_view text) {
  const auto fail = [text]() -> std::uint32_t {
    throw EConvertError(Format("'$%s' is not a valid integer value", std::string(text)));
  };
  if (text.empty()) {
    return fail();
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      return fail();
    }
    value = value * 16 + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFu) {
      return fail();
    }
  }
  // The build is kept as a signed 32-bit number on the way: from 80000000 up it turns
  // negative, which no build number may be.
  if (value >= 0x80000000u) {
    throw ERangeError(kRangeCheckError);
  }
  return static_cast<std::uint32_t>(value);
}

std::uint32_t VersionToBuild(std::string_view version) {
  return HexToBuild(VersionToBuildText(version));
}

std::string ReadIniString(const std::string& fileName, std::string_view section,
                          std::string_view key, std::string_view def) {
  const auto content = ReadWholeFile(fileName);
  if (!content) {
    return std::string(def);
  }
  const std::vector<std::string> lines = Lines(*content);
  const auto found = FindSection(lines, section);
  const auto line = found ? FindKey(lines, *found, key) : std::nullopt;
  if (!line) {
    return std::string(def);
  }
  std::string_view value =
      TrimLine(std::string_view(lines[*line]).substr(lines[*line].find('=') + 1));
  // A value in matching quotes is read without them.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

void WriteIniString(const std::string& fileName, std::string_view section, std::string_view key,
                    std::string_view value) {
  std::error_code error;
  const bool link = std::filesystem::is_symlink(fileName, error);
  std::vector<std::string> lines =
      link ? std::vector<std::string>() : Lines(ReadWholeFile(fileName).value_or(std::string()));
  const std::string entry = Format("%s=%s", std::string(key), std::string(value));
  if (const auto found = FindSection(lines, section)) {
    if (const auto line = FindKey(lines, *found, key)) {
      lines[*line] = entry;
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(found->End), entry);
    }
  } else {
    lines.push_back(Format("[%s]", std::string(section)));
    lines.push_back(entry);
  }
  std::string content;
  for (const std::string& line : lines) {
    content += line + "\r\n";
  }
  WriteWholeFile(fileName, content);
}

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

TUpdateOptions& ProgramUpdateOptions() {
  static TUpdateOptions options;
  return options;
}

bool UpdatesFromPackages() {
  return ProgramUpdateOptions().UpdateAddress.empty() ||
         ProgramUpdateOptions().UpdatePublicKey.empty();
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
