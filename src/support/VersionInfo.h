#pragma once

#include "base/Exceptions.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

// A damaged version block.
VORLIXA_DECLARE_EXCEPTION(EParserError, Exception);

// The version strings of a program file by key ("CompanyName", "FileVersion", ...),
// read from the version block that the build links into the file (see
// tools/versioninfo).
class TVersionInfo : public QObject {
  Q_OBJECT

 public:
  // Sets nothing to read; does not read.
  explicit TVersionInfo(QObject* Owner = nullptr);

  bool Application() const { return application_; }
  // True reads the running program file (taking its path into FileName); false only
  // clears the flag.
  void SetApplication(bool value);

  const std::string& FileName() const { return fileName_; }
  // A different name clears Application and reads that file.
  void SetFileName(const std::string& value);

  // The display name of the block's first language ("Dutch (Netherlands)").
  const std::string& LanguageName() const { return languageName_; }

  // False when the last reading found no strings (no block, or a damaged one).
  bool HasValues() const { return !values_.empty(); }
  // The value stored under key, letter case ignored; empty when absent.
  std::string GetValue(std::string_view key) const;
  // GetValue of standard key number (1 "CompanyName" .. 10 "Comments"); empty outside.
  std::string GetStandardValue(int number) const;

  // Reads the file again: a file without a version block, a missing file or a damaged
  // block gives no keys or the keys read before the damage, never an error.
  void Refresh();

 private:
  struct TValue {
    std::string Key;
    std::string Value;
  };

  bool application_ = false;
  std::string fileName_;
  std::string languageName_;
  std::vector<TValue> values_;  // in the order of the block's strings
};

// The ten standard keys by number, 1..10; empty outside.
std::string_view StandardVersionKey(int number);

// Adds the key of every string of every string table in block (wide layout) to keys, in
// order. Raises EParserError at a damaged node (a length of 0, a header or key that
// does not fit into its parent), leaving the keys found before it.
void WalkVersionBlock(std::span<const std::uint8_t> block, std::vector<std::string>& keys);

// The name of a Windows language identifier (0x0413 "Dutch (Netherlands)"), for the
// common ones; "Unknown language" for the rest.
std::string VersionLanguageName(std::uint16_t languageId);

}  // namespace vx
