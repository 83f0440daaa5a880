#include "config/SettingsFile.h"

#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/AtomicFile.h"
#include "platform/SystemError.h"
#include "support/FilePlaces.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vx {

// ---- File ----------------------------------------------------------------------------

std::string SettingsFileName() {
  return ProgramFilePlaces().SettingsFile;
}

TSettingsFileContent ReadSettingsFile(const std::string& fileName) {
  std::error_code statusError;
  const auto status = std::filesystem::status(fileName, statusError);
  if (status.type() == std::filesystem::file_type::not_found) {
    return {NewSettingsDocument(), TSettingsFileState::Missing, {}};
  }
  if (status.type() == std::filesystem::file_type::directory) {
    return {NewSettingsDocument(), TSettingsFileState::Unreadable, "it is a folder"};
  }
  errno = 0;
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    const int error = errno != 0 ? errno : EIO;
    return {NewSettingsDocument(), TSettingsFileState::Unreadable, InOutErrorMessage(error)};
  }
  // Read up to one byte past the limit, so that a file that grows while it is read, or a
  // device that never ends, is caught as well.
  std::string text;
  std::error_code sizeError;
  const std::uintmax_t size = std::filesystem::file_size(fileName, sizeError);
  text.resize(sizeError ? 65536 : std::min<std::uintmax_t>(size + 1, kMaxSettingsFileSize + 1));
  std::size_t filled = 0;
  while (filled <= kMaxSettingsFileSize) {
    if (filled == text.size()) {
      text.resize(std::min(text.size() * 2, kMaxSettingsFileSize + 1));
    }
    file.read(text.data() + filled, static_cast<std::streamsize>(text.size() - filled));
    if (file.gcount() <= 0) {
      break;
    }
    filled += static_cast<std::size_t>(file.gcount());
  }
  if (file.bad()) {
    return {NewSettingsDocument(), TSettingsFileState::Unreadable, InOutErrorMessage(EIO)};
  }
  text.resize(filled);
  // Unreadable as any other file we cannot take, so that a save keeps it as ".bad" and
  // replaces it.
  return ParseSettingsText(text);
}

std::string KeepBadSettingsFile(const std::string& fileName) {
  namespace fs = std::filesystem;
  // The bytes that a save replaces are those of the file that a link points to.
  std::error_code error;
  fs::path source = fs::canonical(fileName, error);
  if (error) {
    source = fileName;
  }
  constexpr int kMaxCopies = 1000;
  for (int n = 0; n < kMaxCopies; ++n) {
    std::string copy = n == 0 ? fileName + ".bad" : Format("%s.bad.%d", fileName, n);
    if (fs::exists(fs::symlink_status(copy, error))) {
      continue;
    }
    // A second name for the same bytes needs no reading (the file may be unreadable to
    // us); a file system without such names gets a copy.
    fs::create_hard_link(source, copy, error);
    if (!error) {
      return copy;
    }
    if (error == std::errc::file_exists) {
      continue;
    }
    if (fs::copy_file(source, copy, fs::copy_options::none, error)) {
      return copy;
    }
    throw EInOutError(Format("Cannot keep a copy of %s: %s", fileName, error.message()),
                      error.value());
  }
  throw EInOutError(Format("Cannot keep a copy of %s: too many copies", fileName), EEXIST);
}

void SaveSettingsDocument(xmlDoc* doc, const std::string& fileName) {
  SaveSettingsDocument(doc, fileName, SystemFileCalls());
}

void SaveSettingsDocument(xmlDoc* doc, const std::string& fileName, TFileCalls& calls) {
  // The user's settings folder is made by the first save. A folder that cannot be made
  // fails the file's own write, which tells why.
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(fileName).parent_path(), ignored);
  ReplaceFileContent(fileName, SettingsDocumentText(doc), calls);
}

// ---- Text forms -----------------------------------------------------------------------

bool TryTextToBool(std::string_view text, bool& value) {
  double number = 0.0;
  if (TryTextToFloat(text, number, '.') || TryTextToFloat(text, number, LocaleDecimalSeparator())) {
    value = number != 0.0;
    return true;
  }
  if (SameText(text, "True")) {
    value = true;
    return true;
  }
  if (SameText(text, "False")) {
    value = false;
    return true;
  }
  return false;
}

bool TextToBool(std::string_view text) {
  bool value = false;
  if (!TryTextToBool(text, value)) {
    throw EConvertError(Format("'%s' is not a valid boolean value", std::string(text)));
  }
  return value;
}

bool TextToBoolDef(std::string_view text, bool def) {
  bool value = def;
  return TryTextToBool(text, value) ? value : def;
}

const char* BoolToText(bool value) {
  return value ? "-1" : "0";
}

TFormatSettings LocaleFormatSettings() {
  TFormatSettings settings;
  settings.DecimalSeparator = LocaleDecimalSeparator();
  if (const std::lconv* conventions = std::localeconv()) {
    settings.ThousandSeparator =
        conventions->thousands_sep != nullptr ? conventions->thousands_sep : "";
    settings.CurrencyString =
        conventions->currency_symbol != nullptr ? conventions->currency_symbol : "";
  }
  return settings;
}

TFormatSettings FixedFormatSettings() {
  TFormatSettings settings = LocaleFormatSettings();
  settings.DecimalSeparator = '.';
  settings.ThousandSeparator = ",";
  settings.DateSeparator = '/';
  settings.TimeSeparator = ':';
  settings.ShortDateFormat = "yyyy/mm/dd";
  settings.LongDateFormat = "yyyy/mm/dd hh:mm:ss";
  settings.ShortTimeFormat = "hh:mm:ss";
  return settings;
}

}  // namespace vx
