#include "common/LogText.h"

#include "common/TestFiles.h"

#include <sstream>

namespace vx {

std::vector<std::string> LogLineTexts(const std::string& fileName, bool keepBanners) {
  std::istringstream lines(ReadText(fileName));
  std::vector<std::string> texts;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.rfind("========", 0) == 0) {
      if (keepBanners) {
        texts.push_back(line.substr(0, line.find(" --- ")));
      }
      continue;
    }
    const std::size_t date = line.find(" - ");
    const std::size_t time = date == std::string::npos ? date : line.find(" - ", date + 3);
    if (time != std::string::npos) {
      texts.push_back(line.substr(time + 3));
    }
  }
  return texts;
}

}  // namespace vx
