#include "support/unUpdate.h"

#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/Prompter.h"
#include "platform/SystemError.h"
#include "support/HttpClient.h"
#include "support/VersionInfo.h"
#include "support/unLog.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

namespace vx {

namespace {

constexpr const char* kUpdateInfoName = "~vxupd.ini";
constexpr const char* kSetupName = "~vxupd.exe";

// The user said no or the download window was closed without the setup: the check
// ends without a word.
VORLIXA_DECLARE_EXCEPTION(EAbort, Exception);
VORLIXA_DECLARE_EXCEPTION(EFCreateError, Exception);

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

void WriteWholeFile(const std::string& fileName, const std::string& content) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file) {
    throw EIniFileException(Format("Unable to write to %s", fileName));
  }
}

// ---------------------------------------------------------------------------------------
// The steps of the check.

void SaveUpdateInfo(const std::string& fileName, const std::string& body) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file) {
    throw EFCreateError(
        Format("Cannot create file \"%s\". %s", fileName, InOutErrorMessage(errno)));
  }
  file.write(body.data(), static_cast<std::streamsize>(body.size()));
  file.close();
  if (!file) {
    throw EInOutError(InOutErrorMessage(errno), errno);
  }
}

// Starts the setup detached from this program, which is about to end, with "/silent".
void ExecuteSetup(const std::string& fileName) {
  std::error_code error;
  std::filesystem::permissions(fileName,
                               std::filesystem::perms::owner_exec |
                                   std::filesystem::perms::group_exec |
                                   std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add, error);
  if (error ||
      !QProcess::startDetached(QString::fromStdString(fileName), {QStringLiteral("/silent")})) {
    throw Exception("Failed to execute update.");
  }
}

int RunCheck(bool Manual, const TUpdateOptions& options) {
  if (options.UpdateAddress.empty()) {
    LogMessage("Update: off, updates come with the system's packages");
    return 0;
  }
  const TUpdateFiles files = options.ProgramFile.empty() ? TUpdateFiles(ProgramFilePlaces())
                                                         : TUpdateFiles(options.ProgramFile);

  LogMessage("Update: Get version");
  TVersionInfo vi;
  vi.SetApplication(true);
  const std::string ownBuildText = VersionToBuildText(vi.GetValue("FileVersion"));
  const std::uint32_t ownBuild = HexToBuild(ownBuildText);

  WriteIniString(files.VersionRecord, kUpdateSection, "Description", vi.GetValue("ProductName"));
  WriteIniString(files.VersionRecord, kUpdateSection, "Version", vi.GetValue("ProductVersion"));
  WriteIniString(files.VersionRecord, kUpdateSection, "Build", ownBuildText);

  bool automatic = true;
  if (!Manual) {
    LogMessage("Update: check if automatic is set");
    automatic = options.ReadAutoUpdate && options.ReadAutoUpdate(files.SettingsFile);
  }
  if (!automatic) {
    return 0;
  }

  LogMessage("Update: download update info");
  {
    THttpClient client;
    client.ReadTimeout = options.InfoReadTimeout;
    client.TotalTimeout = options.InfoReadTimeout;
    client.MaxBodySize = options.MaxInfoSize;
    SaveUpdateInfo(files.UpdateInfo, client.Get(options.UpdateAddress));
  }

  LogMessage("Update: check update info");
  const std::string description = ReadIniString(files.UpdateInfo, kUpdateSection, "Description");
  const std::string url = ReadIniString(files.UpdateInfo, kUpdateSection, "URL");
  const std::string version = ReadIniString(files.UpdateInfo, kUpdateSection, "Version");
  const std::string signature = ReadIniString(files.UpdateInfo, kUpdateSection, "Signature");
  const std::uint32_t offeredBuild =
      HexToBuild(ReadIniString(files.UpdateInfo, kUpdateSection, "Build"));

  LogMessage("Update: delete update info");
  std::error_code ignored;
  std::filesystem::remove(files.UpdateInfo, ignored);

  LogMessage("Update: compare versions");
  if (offeredBuild <= ownBuild) {
    return 0;
  }
  if (!CurrentPrompter().AskYesNo(Format(
          "%s Update available. Do you want to update to version %s now?", description, version))) {
    throw EAbort("declined");
  }

  LogMessage("Update: download setup");
  if (!options.DownloadSetup) {
    throw Exception("No download window.");
  }
  // Only a setup signed with our key is ever run: the address is plain HTTP, and whoever
  // is on the way could offer any program.
  const TSetupCheck checkSignature = [&](const std::string& fileName) {
    VerifyUpdateFile(fileName, signature, options.UpdatePublicKey);
  };
  if (!options.DownloadSetup(url, files.Setup, checkSignature)) {
    throw EAbort("not downloaded");
  }

  LogMessage("Update: execute setup");
  ExecuteSetup(files.Setup);
  return 1;
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
  std::vector<std::string> lines = Lines(ReadWholeFile(fileName).value_or(std::string()));
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
      UpdateInfo((std::filesystem::path(places.UpdateFolder) / kUpdateInfoName).string()),
      Setup((std::filesystem::path(places.UpdateFolder) / kSetupName).string()) {}

void RemoveLeftoverSetup(const std::string& programFile) {
  RemoveLeftoverSetup(TUpdateFiles(programFile));
}

void RemoveLeftoverSetup(const TUpdateFiles& files) {
  std::error_code ignored;
  std::filesystem::remove(files.Setup, ignored);
}

std::string DefaultUpdateAddress() {
  return VORLIXA_UPDATE_ADDRESS;
}

TUpdateOptions& ProgramUpdateOptions() {
  static TUpdateOptions options;
  return options;
}

bool UpdatesFromPackages() {
  return ProgramUpdateOptions().UpdateAddress.empty();
}

int CheckForUpdates(bool Manual) {
  return CheckForUpdates(Manual, ProgramUpdateOptions());
}

int CheckForUpdates(bool Manual, const TUpdateOptions& options) {
  try {
    return RunCheck(Manual, options);
  } catch (const EAbort&) {
    return -1;
  } catch (const std::exception& e) {
    LogException(e);
    ShowMessage(e.what());
    return -1;
  }
}

}  // namespace vx
