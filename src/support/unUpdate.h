#pragma once

#include "base/Exceptions.h"
#include "support/FilePlaces.h"
#include "support/UpdateSignature.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vx {

// An INI file that cannot be written ("Unable to write to %s").
VORLIXA_DECLARE_EXCEPTION(EIniFileException, Exception);

// ---------------------------------------------------------------------------------------
// Build numbers: a dotted version a.b.c.d as one 32-bit number that orders as the
// versions do, as long as every part lies in 0..255 and the first is below 128.

// The items of version (split at full stops; a blank separates items too), each read as
// a decimal integer and written as upper-case hexadecimal of at least two digits:
// "1.0.7.29" -> "0100071D". Raises EConvertError for an item that is no integer.
std::string VersionToBuildText(std::string_view version);

// text read as a hexadecimal number: EConvertError "'$%s' is not a valid integer value"
// when it is none or does not fit into 32 bits, ERangeError "Range check error" from
// 80000000 up.
std::uint32_t HexToBuild(std::string_view text);

// HexToBuild(VersionToBuildText(version)): "1.0.7.29" -> 16,779,037.
std::uint32_t VersionToBuild(std::string_view version);

// ---------------------------------------------------------------------------------------
// INI files as the platform's profile functions treat them: "[section]" headers and
// "key=value" lines, sections and keys matched without regard to letter case, blanks
// around keys and values dropped, the first match counting.

// The value of key in section, def when the file, the section or the key is missing.
std::string ReadIniString(const std::string& fileName, std::string_view section,
                          std::string_view key, std::string_view def = {});

// Sets key in section to value, adding the section or the key when missing and keeping
// the rest of the file. Raises EIniFileException when the file cannot be written.
void WriteIniString(const std::string& fileName, std::string_view section, std::string_view key,
                    std::string_view value);

// ---------------------------------------------------------------------------------------
// The update check.

// The section of the update information and of the local version record.
inline constexpr const char* kUpdateSection = "Vorlixa";

// The files of the update check, full paths.
struct TUpdateFiles {
  // Beside programFile.
  explicit TUpdateFiles(const std::string& programFile);
  // In the places of a run: the downloads in its UpdateFolder.
  explicit TUpdateFiles(const TFilePlaces& places);
  std::string VersionRecord;  // the program's own version: the program file with ".ini"
  std::string SettingsFile;   // the settings, with "AutoUpdate"
  std::string UpdateInfo;     // "~vxupd.ini": the downloaded update information
  std::string Setup;          // "~vxupd.exe": the downloaded setup, while it runs
};

// Deletes the setup that the previous update left behind, which has done its work by the
// time the program starts again; a failure is ignored.
void RemoveLeftoverSetup(const std::string& programFile);
void RemoveLeftoverSetup(const TUpdateFiles& files);

// The address of the update information built into the program. Empty in a build for a
// system package, whose updates come with the system's packages.
std::string DefaultUpdateAddress();

// Checks a downloaded setup before it is moved into place; raises when it must not run.
using TSetupCheck = std::function<void(const std::string& fileName)>;

// What the check needs from outside this unit.
struct TUpdateOptions {
  // The files are named after it and lie beside it; empty: the places of this run
  // (ProgramFilePlaces). The own version is always that of the running program.
  std::string ProgramFile;
  // GET here for the update information (scheme, host, port, path "/updates"). Empty:
  // the program has no update check of its own (UpdatesFromPackages).
  std::string UpdateAddress = DefaultUpdateAddress();
  // The Ed25519 public key (base64) that a setup's "Signature" must match; empty: no
  // downloaded setup is ever run.
  std::string UpdatePublicKey = BuiltInUpdatePublicKey();
  // [ms] that the update information request may take in all, however slowly the server
  // sends, before it gives up.
  int InfoReadTimeout = 10000;
  // [bytes] of update information at most; a longer answer is an error.
  std::size_t MaxInfoSize = std::size_t{64} * 1024;
  // The settings file's "AutoUpdate" value, asked for by the automatic check only. It
  // logs the errors it forgives and raises the ones that end the check. Unset: false.
  std::function<bool(const std::string& settingsFile)> ReadAutoUpdate;
  // Downloads url into fileName in the download window, running check on the whole
  // download before it takes the name fileName (its error goes to the caller); false
  // when cancelled or failed (the window has shown why).
  std::function<bool(const std::string& url, const std::string& fileName, const TSetupCheck& check)>
      DownloadSetup;
};

// The program's options; the program entry installs the settings reader and the
// download window before the first check.
TUpdateOptions& ProgramUpdateOptions();

// Whether the program leaves its updates to the system's package manager: it has no
// update address (ProgramUpdateOptions), so it never checks by itself and offers no
// check to the user.
bool UpdatesFromPackages();

// Looks for a newer release on the update server, asks the user, downloads its setup,
// checks the setup's signature and starts it with "/silent". 1: a setup runs, end the
// program; 0: nothing newer, or (Manual false) automatic updates are off; -1: declined,
// cancelled, or failed (the error has been logged and shown). Each step is logged as it
// begins. Without an update address it logs that updates are off and gives 0, touching
// no file.
int CheckForUpdates(bool Manual);
int CheckForUpdates(bool Manual, const TUpdateOptions& options);

}  // namespace vx
