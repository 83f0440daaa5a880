#pragma once

#include "common/ScopedEnvironment.h"
#include "common/TestFiles.h"

#include <QLocale>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vx {

// Replaces the content of fileName.
void WriteTextFile(const std::string& fileName, const std::string& content);

// The lines of content, each ended by CR LF; a trailing piece without CR LF is a line too.
std::vector<std::string> CrLfLines(const std::string& content);

// Makes locale the one that QLocale() gives for one test.
class ScopedDefaultLocale {
 public:
  explicit ScopedDefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
  ~ScopedDefaultLocale() { QLocale::setDefault(previous_); }
  ScopedDefaultLocale(const ScopedDefaultLocale&) = delete;
  ScopedDefaultLocale& operator=(const ScopedDefaultLocale&) = delete;

 private:
  QLocale previous_;
};

struct LogChildResult {
  int ExitCode = -1;   // -1 when the child crashed or did not end
  std::string Errors;  // its standard error
};

// Runs this test program again as a short program run of its own that plays scenario
// on fileName (see LogTestHelpers.cpp), under the C locale unless environment, whose
// variables are added last, says otherwise.
LogChildResult RunLogChild(
    const std::string& scenario, const std::string& fileName,
    const std::vector<std::pair<std::string, std::string>>& environment = {});

}  // namespace vx
