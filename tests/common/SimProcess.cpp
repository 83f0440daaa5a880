#include "common/SimProcess.h"

#include "common/TestFiles.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace vx {

namespace {

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vorlixa-sim-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  return pattern;
}

// Starts the simulator with standard output and error going to files.
pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath,
            const std::string& errPath) {
  std::vector<std::string> argvText{VORLIXA_SIM_PATH};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argvText.size());
  for (std::string& arg : argvText) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a crashed test
    if (::getppid() != parent) {
      ::_exit(127);
    }
    const int devNull = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (devNull < 0 || out < 0 || err < 0 || ::dup2(devNull, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0) {
      ::_exit(127);
    }
    ::close_range(3, ~0U, 0);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

int StatusOf(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return -1;
}

// Waits for pid to end within limitMs, then kills it; returns its exit status.
int Reap(pid_t pid, int limitMs) {
  int status = 0;
  pid_t done = 0;
  WaitFor(
      [&] {
        done = ::waitpid(pid, &status, WNOHANG);
        return done != 0;
      },
      limitMs);
  if (done == 0) {
    ::kill(pid, SIGKILL);
    done = ::waitpid(pid, &status, 0);
    return -1;
  }
  return done == pid ? StatusOf(status) : -1;
}

bool IsHexByte(std::string_view token) {
  const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  return token.size() == 2 && hex(token[0]) && hex(token[1]);
}

}  // namespace

SimProcess::SimProcess(const Options& options) : dir_(MakeTempDir()) {
  link_ = dir_ + "/tty";
  logPath_ = dir_ + "/frames.log";
  std::vector<std::string> args{"--link",
                                link_,
                                "--log",
                                logPath_,
                                "--no-display",
                                "--boards",
                                std::to_string(options.Boards),
                                "--drop-ms",
                                std::to_string(options.DropMs),
                                "--idle-ms",
                                std::to_string(options.IdleMs)};
  if (!options.Reply.empty()) {
    args.insert(args.end(), {"--reply", options.Reply});
  }
  if (!options.Listen.empty()) {
    // Port 0: tests that run side by side never compete for a port.
    args = {"--listen", options.Listen, "--port", "0", "--log", logPath_, "--no-display"};
  }
  args.insert(args.end(), options.Extra.begin(), options.Extra.end());
  pid_ = Spawn(args, dir_ + "/stdout", dir_ + "/stderr");

  // The link is published before "up" is logged.
  bool exited = false;
  const bool up = WaitFor([&] {
    int status = 0;
    exited = ::waitpid(pid_, &status, WNOHANG) == pid_;
    return exited || !Events("up").empty();
  });
  if (exited) {
    pid_ = -1;
  }
  if (!up || exited) {
    const std::string error = ErrorOutput();
    Stop(SIGKILL);
    std::filesystem::remove_all(dir_);
    throw std::runtime_error("vorlixa-sim did not come up: " + error);
  }
}

SimProcess::~SimProcess() {
  if (Running()) {
    Stop(SIGTERM);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::vector<SimLogEntry> SimProcess::Log() const {
  std::vector<SimLogEntry> entries;
  const std::string text = ReadText(logPath_);
  std::size_t start = 0;
  // Only whole lines: the last one may still be under way.
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    std::istringstream line(text.substr(start, end - start));
    SimLogEntry entry;
    line >> entry.Time;
    std::string token;
    line >> token;
    if (IsHexByte(token)) {
      do {
        entry.Data.push_back(static_cast<std::uint8_t>(std::stoi(token, nullptr, 16)));
      } while (line >> token);
    } else {
      entry.Event = token;
      std::getline(line >> std::ws, entry.Text);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<SimBytes> SimProcess::Units() const {
  std::vector<SimBytes> units;
  for (SimLogEntry& entry : Log()) {
    if (entry.Event.empty()) {
      units.push_back(std::move(entry.Data));
    }
  }
  return units;
}

int SimProcess::ListenPort() const {
  const std::vector<std::string> up = Events("up");
  const std::string prefix = "127.0.0.1:";
  if (up.empty() || !up.front().starts_with(prefix)) {
    return 0;
  }
  return std::atoi(up.front().c_str() + prefix.size());
}

std::vector<std::string> SimProcess::Events(std::string_view name) const {
  std::vector<std::string> texts;
  for (SimLogEntry& entry : Log()) {
    if (entry.Event == name) {
      texts.push_back(std::move(entry.Text));
    }
  }
  return texts;
}

bool SimProcess::WaitForUnits(std::size_t count, int limitMs) const {
  return WaitFor([&] { return Units().size() >= count; }, limitMs);
}

bool SimProcess::WaitForEvents(std::string_view name, std::size_t count, int limitMs) const {
  return WaitFor([&] { return Events(name).size() >= count; }, limitMs);
}

void SimProcess::Signal(int signal) const {
  if (Running()) {
    ::kill(pid_, signal);
  }
}

bool SimProcess::Drop() {
  Signal(SIGUSR1);
  ++drops_;
  return WaitForEvents("drop", drops_);
}

bool SimProcess::WaitUntilBack(int limitMs) const {
  return WaitForEvents("up", drops_ + 1, limitMs);
}

int SimProcess::Stop(int signal) {
  if (!Running()) {
    return -1;
  }
  ::kill(pid_, signal);
  const int status = Reap(pid_, kWaitLimitMs);
  pid_ = -1;
  return status;
}

std::string SimProcess::ErrorOutput() const {
  return ReadText(dir_ + "/stderr");
}

SimRunResult SimProcess::Run(const std::vector<std::string>& args, int limitMs) {
  const std::string dir = MakeTempDir();
  SimRunResult result;
  result.ExitStatus = Reap(Spawn(args, dir + "/stdout", dir + "/stderr"), limitMs);
  result.Out = ReadText(dir + "/stdout");
  result.Err = ReadText(dir + "/stderr");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}

SimBytes ResetAnd(const SimBytes& data) {
  SimBytes unit(data.size() + 1, 0xFF);
  std::copy(data.begin(), data.end(), unit.begin() + 1);
  return unit;
}

std::string HexText(const SimBytes& bytes) {
  static constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) {
      text += ' ';
    }
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::size_t LitLEDs(const SimBytes& unit, std::size_t boards, std::size_t board, std::size_t bar,
                    std::size_t barLEDs) {
  if (unit.size() != 1 + boards * 2 * barLEDs || board >= boards) {
    return 0;
  }
  const auto first = unit.begin() + 1 + static_cast<std::ptrdiff_t>((board * 2 + bar) * barLEDs);
  return static_cast<std::size_t>(std::count_if(first, first + static_cast<std::ptrdiff_t>(barLEDs),
                                                [](std::uint8_t led) { return led != 0; }));
}

}  // namespace vx
