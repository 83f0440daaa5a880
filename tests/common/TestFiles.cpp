#include "common/TestFiles.h"

#include <fstream>
#include <sstream>

namespace vx {

std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace vx
