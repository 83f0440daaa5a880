#pragma once

#include <memory>

namespace vx {

// Where other programs reach the levels of "External" bars on the user's session bus.
inline constexpr const char* kLevelServiceName = "example.tremanic.Vorlixa";
inline constexpr const char* kLevelServicePath = "/example/tremanic/Vorlixa";
inline constexpr const char* kLevelServiceInterface = "example.tremanic.Vorlixa.Levels";

class TLevelsObject;

// The program's own service on the user's session bus: SetLevel(s channel, d level) keeps
// a channel's level for the bars that listen to it, Channels() names those channels.
// Calls are served on the GUI thread; nothing here waits on the bus.
class TLevelService {
 public:
  TLevelService();
  ~TLevelService();
  TLevelService(const TLevelService&) = delete;
  TLevelService& operator=(const TLevelService&) = delete;

  // Serves the object and asks for the name, without waiting for the bus's answer. A
  // missing bus, or a name that another program owns, is one line in the log.
  void Start();

 private:
  std::unique_ptr<TLevelsObject> object_;
};

}  // namespace vx
