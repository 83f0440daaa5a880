#pragma once

#include <string>
#include <string_view>

namespace vx {

// Full path of the running program file (from /proc/self/exe). Raises EOSError if the
// system cannot tell.
std::string ProgramFilePath();

// fileName with the extension of its last component replaced by extension (which
// includes its dot), or extension added when there is none: vorlixa -> vorlixa.log,
// /opt/app.bin -> /opt/app.log.
std::string ChangeFileExt(std::string_view fileName, std::string_view extension);

// A file beside the program: ChangeFileExt(ProgramFilePath(), extension).
std::string ProgramFileWithExt(std::string_view extension);

}  // namespace vx
