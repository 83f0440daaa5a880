#include "platform/XdgAutostart.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Text.h"
#include "platform/AtomicFile.h"
#include "platform/ProgramFile.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"
#include "platform/UserFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <utility>
#include <vector>

namespace vx {

namespace {

// Characters after which a desktop entry's Exec argument must be quoted.
constexpr std::string_view kReservedExecChars = " \t\n\"'\\><~|&;$*?#()`";

// One Exec argument: quoted when it holds a reserved character, with the quoting
// escapes, then "%" doubled and the value escapes of a desktop entry.
std::string QuoteExecArgument(const std::string& argument) {
  std::string quoted;
  const bool needsQuotes = argument.find_first_of(kReservedExecChars) != std::string::npos;
  if (needsQuotes) {
    quoted += '"';
  }
  for (const char c : argument) {
    if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) {
      quoted += '\\';
    }
    if (c == '%') {
      quoted += '%';
    }
    quoted += c;
  }
  if (needsQuotes) {
    quoted += '"';
  }
  std::string escaped;
  for (const char c : quoted) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

// The value escapes of a desktop entry (\s \n \t \r \\) removed.
std::string UnescapeValue(std::string_view value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
        text += ' ';
        break;
      case 'n':
        text += '\n';
        break;
      case 't':
        text += '\t';
        break;
      case 'r':
        text += '\r';
        break;
      case '\\':
        text += '\\';
        break;
      default:
        text += '\\';
        text += value[i];
    }
  }
  return text;
}

// The arguments of an Exec command line: split at unquoted blanks, quotes and their
// escapes removed, "%%" as "%".
std::vector<std::string> ExecArguments(const std::string& command) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  while (true) {
    i = command.find_first_not_of(" \t", i);
    if (i == std::string::npos) {
      return arguments;
    }
    std::string argument;
    for (bool quoted = false;
         i < command.size() && (quoted || (command[i] != ' ' && command[i] != '\t')); ++i) {
      if (command[i] == '"') {
        quoted = !quoted;
      } else if (quoted && command[i] == '\\' && i + 1 < command.size()) {
        argument += command[++i];
      } else if (command[i] == '%' && i + 1 < command.size() && command[i + 1] == '%') {
        argument += command[i++];
      } else {
        argument += command[i];
      }
    }
    arguments.push_back(std::move(argument));
  }
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The program that an Exec command runs: its first argument, or, when that is "env", the
// first one after env's options and variable settings ("env X=1 vorlixa").
std::string ExecProgram(const std::vector<std::string>& arguments) {
  std::size_t i = 0;
  if (i < arguments.size() && BaseName(arguments[i]) == "env") {
    for (++i; i < arguments.size(); ++i) {
      const std::string& argument = arguments[i];
      if (argument == "-u" || argument == "-C" || argument == "-S") {
        ++i;  // an option with its value in the next argument
      } else if (!argument.starts_with('-') && argument.find('=') == std::string::npos) {
        break;
      }
    }
  }
  return i < arguments.size() ? arguments[i] : "";
}

// The file that path names with links resolved, or path itself when it does not exist.
std::string ResolvedPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    return path;
  }
  std::string text(resolved);
  std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath allocates with malloc
  return text;
}

// The file that the session starts for program: a path as it is, a bare name the first
// executable of that name on the PATH (empty when there is none).
std::string ProgramOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return ResolvedPath(program);
  }
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return ResolvedPath(candidate);
    }
  }
  return "";
}

// Creates folder and the folders above it that are missing.
void MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      const int error = errno;
      throw EInOutError(Format("Cannot create %s: %s", part, InOutErrorMessage(error)), error);
    }
    if (slash == std::string::npos) {
      return;
    }
  }
}

// The entry's text; false when there is no entry. Raises EInOutError when it cannot be
// read. An entry is a few lines: anything beyond kMaxEntrySize is not read.
bool ReadEntry(const std::string& fileName, std::string& text) {
  constexpr std::size_t kMaxEntrySize = std::size_t{64} * 1024;
  const UniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) {
      return false;
    }
    throw EInOutError(Format("Cannot read %s: %s", fileName, InOutErrorMessage(error)), error);
  }
  std::array<char, 4096> buffer{};
  int error = 0;
  while (text.size() < kMaxEntrySize) {
    const ssize_t count = ::read(fd.Get(), buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      error = errno;
    }
    if (count <= 0) {
      break;
    }
    text.append(buffer.data(), static_cast<std::size_t>(count));
  }
  if (error != 0) {
    throw EInOutError(Format("Cannot read %s: %s", fileName, InOutErrorMessage(error)), error);
  }
  return true;
}

}  // namespace

std::string LoginUserName() {
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : "";
}

std::string XdgAllUsersAutostartFolder() {
  return "/etc/xdg/autostart";
}

std::string XdgUserAutostartFolder() {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  // The base directory rules ignore a relative path.
  if (configHome != nullptr && configHome[0] == '/') {
    return std::string(configHome) + "/autostart";
  }
  return HomeFolder() + "/.config/autostart";
}

std::string AutostartEntryText(const std::string& programPath, bool enabled) {
  // Both keys say it: some desktops read only the one, some only the other.
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Vorlixa\n"
         "Comment=LED bar displays\n"
         "Exec=" +
         QuoteExecArgument(programPath) +
         "\n"
         "Terminal=false\n" +
         (enabled ? "X-GNOME-Autostart-enabled=true\n"
                  : "Hidden=true\n"
                    "X-GNOME-Autostart-enabled=false\n");
}

std::string AutostartEntryProgram(const std::string& entryText, bool* hidden) {
  std::istringstream lines(entryText);
  std::string line;
  bool inEntryGroup = false;
  std::string program;
  bool off = false;
  while (std::getline(lines, line)) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() == '#') {
      continue;
    }
    if (text.front() == '[') {
      inEntryGroup = text == "[Desktop Entry]";
      continue;
    }
    const std::size_t equals = text.find('=');
    if (!inEntryGroup || equals == std::string_view::npos) {
      continue;
    }
    const std::string_view key = Trim(text.substr(0, equals));
    const std::string value = UnescapeValue(Trim(text.substr(equals + 1)));
    if (key == "Exec") {
      program = ExecProgram(ExecArguments(value));
    } else if (key == "Hidden") {
      off = off || value == "true";
    } else if (key == "X-GNOME-Autostart-enabled") {
      off = off || value == "false";
    }
  }
  if (hidden != nullptr) {
    *hidden = off;
  }
  return program;
}

XdgAutostart::XdgAutostart()
    : XdgAutostart(XdgAllUsersAutostartFolder(), XdgUserAutostartFolder(), ProgramFilePath()) {}

XdgAutostart::XdgAutostart(std::string allUsersFolder, std::string userFolder,
                           std::string programPath)
    : allUsersFolder_(std::move(allUsersFolder)),
      userFolder_(std::move(userFolder)),
      programPath_(std::move(programPath)) {}

std::string XdgAutostart::EntryFileName(TAutostartScope scope) const {
  return (scope == TAutostartScope::AllUsers ? allUsersFolder_ : userFolder_) + "/" + kEntryName;
}

bool XdgAutostart::IsEnabled(TAutostartScope scope) const {
  const std::string fileName = EntryFileName(scope);
  std::string text;
  if (!ReadEntry(fileName, text)) {
    return false;
  }
  bool hidden = false;
  const std::string program = AutostartEntryProgram(text, &hidden);
  // The desktop's own tools copy the menu entry ("Exec=vorlixa"); wrappers and links
  // run this program file just as well.
  return !hidden && !program.empty() &&
         (program == programPath_ || ProgramOnPath(program) == ResolvedPath(programPath_));
}

void XdgAutostart::SetEnabled(TAutostartScope scope, bool enabled) {
  const std::string fileName = EntryFileName(scope);
  if (!enabled && scope == TAutostartScope::AllUsers) {
    if (::unlink(fileName.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
      const int error = errno;
      throw EInOutError(Format("Cannot remove %s: %s", fileName, InOutErrorMessage(error)), error);
    }
    return;
  }
  if (!enabled) {
    // The user's entry is switched off, never removed: removing it would bring back the
    // all-users entry of the same name that it hides. One that is off already stays as
    // the user's desktop tools wrote it.
    std::string text;
    if (!ReadEntry(fileName, text)) {
      return;
    }
    bool off = false;
    AutostartEntryProgram(text, &off);
    if (off) {
      return;
    }
    ReplaceFileContent(fileName, AutostartEntryText(programPath_, false));
    return;
  }
  const std::string& folder = scope == TAutostartScope::AllUsers ? allUsersFolder_ : userFolder_;
  MakeFolders(folder);
  ReplaceFileContent(fileName, AutostartEntryText(programPath_));
}

}  // namespace vx
