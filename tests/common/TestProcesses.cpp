#include "common/TestProcesses.h"

#include "common/Wait.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

#include <algorithm>

namespace vx {

namespace {

constexpr int kStopWaitMs = 3000;

}  // namespace

TestProcesses::TestProcesses(std::initializer_list<const char*> tools) {
  for (const char* tool : tools) {
    names_ << QString::fromLatin1(tool);
    paths_ << QStandardPaths::findExecutable(names_.back());
  }
}

TestProcesses::~TestProcesses() {
  // The newest first: clients end before the servers they use.
  std::for_each(processes_.rbegin(), processes_.rend(), [this](auto& process) { Stop(*process); });
}

QStringList TestProcesses::MissingTools() const {
  QStringList missing;
  for (qsizetype i = 0; i < paths_.size(); ++i) {
    if (paths_[i].isEmpty()) {
      missing << names_[i];
    }
  }
  return missing;
}

QProcess& TestProcesses::NewProcess(const QProcessEnvironment& environment) {
  processes_.push_back(std::make_unique<QProcess>());
  QProcess& process = *processes_.back();
  process.setProcessEnvironment(environment);
  return process;
}

void TestProcesses::Stop(QProcess& process) {
  if (process.state() == QProcess::NotRunning) {
    return;
  }
  process.terminate();
  if (!process.waitForFinished(kStopWaitMs)) {
    process.kill();
    process.waitForFinished(kStopWaitMs);
  }
}

QString RunToEnd(QProcess& process, const QString& program, const QStringList& arguments) {
  process.start(program, arguments);
  if (!process.waitForFinished(kWaitLimitMs)) {
    ADD_FAILURE() << program.toStdString() << " did not finish";
    return {};
  }
  return QString::fromLocal8Bit(process.readAllStandardOutput());
}

}  // namespace vx
