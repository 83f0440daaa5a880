#include "support/Reports.h"

#include <utility>

namespace vx {

namespace {

std::vector<std::string> posted;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

void PostReport(std::string text) {
  posted.push_back(std::move(text));
}

std::vector<std::string> TakeReports() {
  return std::exchange(posted, {});
}

}  // namespace vx
