#pragma once

#include "platform/UniqueFd.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vx {

// A folder that only this user may enter, for files that a program is started from:
// made with mode 0700 when missing, and refused when it is a symbolic link, belongs to
// someone else or is open to others. Its files are reached through the folder's
// descriptor and never through a symbolic link.
class TPrivateFolder {
 public:
  // Raises EInOutError "Cannot use <path>: <reason>" when the folder cannot be used.
  explicit TPrivateFolder(const std::string& path);

  const std::string& Path() const { return path_; }
  std::string PathOf(const std::string& name) const { return path_ + "/" + name; }

  // A new file name (O_EXCL | O_NOFOLLOW), open for reading and writing, after removing
  // what is left of that name. Raises EInOutError "Cannot create file ...".
  UniqueFd CreateNew(const std::string& name, unsigned mode) const;
  // Removes name; a missing file is no error, nor is any other failure.
  void Remove(const std::string& name) const noexcept;
  // Moves from to the name to, which must not exist; false when it could not.
  bool RenameNoReplace(const std::string& from, const std::string& to) const noexcept;

 private:
  std::string path_;
  UniqueFd folder_;
};

// Writes all of data to fd; 0 or the system's error number.
int WriteAll(int fd, const char* data, std::size_t size) noexcept;

// The file open at fd, opened again for reading only: the same file, whatever its name
// now points to. Raises EInOutError.
UniqueFd ReopenForReading(int fd);

// The size of the file at fd, -1 when it cannot be told.
long long FileSize(int fd) noexcept;

// Starts the program in the file open at fd (for reading only) with arguments, in a
// session of its own so that it outlives this program. 0, or the system's error number
// (the program could not be executed: not a program, no permission).
int StartDetachedFromFd(int fd, const std::vector<std::string>& arguments);

}  // namespace vx
