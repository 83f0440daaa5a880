#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <memory>
#include <vector>

namespace vx {

// The processes of a desktop that a test starts: the tools it needs, looked up on the
// PATH, and every process started with it, ended when it goes (the last started first),
// each within a bound.
class TestProcesses {
 public:
  explicit TestProcesses(std::initializer_list<const char*> tools);
  ~TestProcesses();
  TestProcesses(const TestProcesses&) = delete;
  TestProcesses& operator=(const TestProcesses&) = delete;

  // The tools that are not installed, by name; empty when all are there.
  QStringList MissingTools() const;
  // The path of the tool at that place of the list; empty when it is missing.
  const QString& Tool(int index) const { return paths_[index]; }
  // A process with that environment, not started yet; owned here.
  QProcess& NewProcess(const QProcessEnvironment& environment);
  // Ends a process: asked first, killed when it does not end in time.
  static void Stop(QProcess& process);

 private:
  QStringList names_;
  QStringList paths_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

// Runs program in process to its end (bounded) and gives its output; a program that
// does not end in time fails the test.
QString RunToEnd(QProcess& process, const QString& program, const QStringList& arguments);

}  // namespace vx
