#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vx {

// The file system calls that replacing a file makes. Each returns 0 (Write: the number of
// bytes written, CreateNew: a descriptor) on success and minus the system error number on
// failure. Tests derive from it to make any one call fail.
class TFileCalls {
 public:
  virtual ~TFileCalls() = default;
  // Creates path for writing; fails with EEXIST when it exists. mode before the umask.
  virtual int CreateNew(const std::string& path, unsigned mode);
  virtual long Write(int fd, const char* data, std::size_t count);
  virtual int SetMode(int fd, unsigned mode);  // exact permission bits
  virtual int Sync(int fd);                    // data and size reach the disk
  virtual int Close(int fd);
  virtual int Rename(const std::string& from, const std::string& to);
  virtual int Remove(const std::string& path);
  virtual int SyncFolder(const std::string& folder);  // the folder's entries reach the disk
};

// The calls of this system.
TFileCalls& SystemFileCalls();

// Replaces the content of fileName (the file a symbolic link points to) with data without
// ever leaving a part of it: data goes to a new file in the same folder, which is flushed
// to disk and then renamed over fileName, keeping its permission bits. On any failure
// before the rename the new file is removed, fileName stays as it was and EInOutError
// "Cannot write <file>: <reason>" is raised.
void ReplaceFileContent(const std::string& fileName, std::string_view data,
                        TFileCalls& calls = SystemFileCalls());

// ReplaceFileContent for a file in a place where a link would be no one's choice: a
// symbolic link named fileName is replaced, never followed.
void ReplaceFileItself(const std::string& fileName, std::string_view data,
                       TFileCalls& calls = SystemFileCalls());

}  // namespace vx
