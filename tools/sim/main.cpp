#include "sim/SimOptions.h"
#include "sim/Simulator.h"
#include "sim/StripListener.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

using namespace vxsim;

int main(int argc, char** argv) {
  SimOptions options;
  try {
    options = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const SimUsageError& e) {
    std::fprintf(stderr, "vorlixa-sim: %s\nTry 'vorlixa-sim --help' for more information.\n",
                 e.what());
    return 2;
  }
  if (options.Help) {
    std::fputs(SimUsage().c_str(), stdout);
    return 0;
  }
  try {
    if (options.Listen) {
      StripListener listener(std::move(options));
      return listener.Run();
    }
    Simulator simulator(std::move(options));
    return simulator.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorlixa-sim: %s\n", e.what());
    return 1;
  }
}
