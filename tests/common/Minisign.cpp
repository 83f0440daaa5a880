#include "Minisign.h"

#include <QFile>
#include <QProcess>

#include <stdexcept>

namespace vx {

namespace {

constexpr int kToolWaitMs = 30000;  // a bound for a busy machine

void RunMinisign(const QStringList& arguments) {
  QProcess tool;
  tool.setProcessChannelMode(QProcess::MergedChannels);
  tool.start(QStringLiteral("minisign"), arguments);
  tool.closeWriteChannel();
  if (!tool.waitForFinished(kToolWaitMs) || tool.exitStatus() != QProcess::NormalExit ||
      tool.exitCode() != 0) {
    throw std::runtime_error("minisign " + arguments.join(' ').toStdString() + ": " +
                             tool.errorString().toStdString() + " " + tool.readAll().toStdString());
  }
}

QByteArray ReadAll(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) {
    throw std::runtime_error("cannot read " + fileName.toStdString());
  }
  return file.readAll();
}

}  // namespace

MinisignKey::MinisignKey() {
  if (!dir_.isValid()) {
    throw std::runtime_error("no temporary folder");
  }
  RunMinisign({"-G", "-W", "-p", dir_.filePath("pub"), "-s", dir_.filePath("sec")});
  const QList<QByteArray> lines = ReadAll(dir_.filePath("pub")).trimmed().split('\n');
  publicKey_ = lines.back().trimmed().toStdString();
}

std::string MinisignKey::Sign(const std::string& bytes, const std::string& trustedComment,
                              bool legacy) const {
  const QString file = dir_.filePath("setup");
  QFile::remove(file + ".minisig");
  {
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size())) {
      throw std::runtime_error("cannot write " + file.toStdString());
    }
  }
  QStringList arguments{
      "-S", "-s", dir_.filePath("sec"), "-m", file, "-t", QString::fromStdString(trustedComment)};
  if (legacy) {
    arguments << "-l";
  }
  RunMinisign(arguments);
  return ReadAll(file + ".minisig").toStdString();
}

std::string MinisignKey::Comment(const std::string& build, const std::string& bytes,
                                 const std::string& product) {
  return "product=" + product + " build=" + build + " size=" + std::to_string(bytes.size());
}

}  // namespace vx
