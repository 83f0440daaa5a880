#pragma once

#include "base/Exceptions.h"
#include "platform/AtomicFile.h"

#include <string>
#include <string_view>

namespace vx {

// An INI file that cannot be written ("Unable to write to %s").
VORLIXA_DECLARE_EXCEPTION(EIniFileException, Exception);

// INI files as the platform's profile functions treat them: "[section]" headers and
// "key=value" lines, sections and keys matched without regard to letter case, blanks
// around keys and values dropped, the first match counting.

// The value of key in section, def when the file, the section or the key is missing.
std::string ReadIniString(const std::string& fileName, std::string_view section,
                          std::string_view key, std::string_view def = {});

// Sets key in section to value, adding the section or the key when missing and keeping
// the rest of the file. The file is replaced in one piece (ReplaceFileItself): whatever
// fails on the way, it holds either its old content or the whole new one, and a link in
// its place is replaced, not followed. Raises EIniFileException when it cannot be written.
void WriteIniString(const std::string& fileName, std::string_view section, std::string_view key,
                    std::string_view value, TFileCalls& calls = SystemFileCalls());

}  // namespace vx
