#include "platform/ProgramFile.h"

#include "base/Exceptions.h"
#include "platform/SystemError.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

namespace vx {

namespace {

// What the kernel appends to the link when the program file has been replaced or
// removed while running (an update does that); the path is still the one we want.
constexpr std::string_view kDeletedSuffix = " (deleted)";

}  // namespace

std::string ProgramFilePath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      throw EOSError(InOutErrorMessage(errno));
    }
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      if (path.ends_with(kDeletedSuffix)) {
        path.resize(path.size() - kDeletedSuffix.size());
      }
      return path;
    }
    // The link may have been cut off: try again with room to spare.
    buffer.resize(buffer.size() * 2);
  }
}

std::string ChangeFileExt(std::string_view fileName, std::string_view extension) {
  std::filesystem::path path(fileName);
  path.replace_extension(extension);
  return path.string();
}

std::string ProgramFileWithExt(std::string_view extension) {
  return ChangeFileExt(ProgramFilePath(), extension);
}

}  // namespace vx
