#pragma once

#include "platform/SensorList.h"

#include <memory>
#include <string>
#include <vector>

namespace vx {

// The sensors that libsensors finds, with the labels and corrections of the user's
// sensors.conf. The library keeps process-wide state: one object lives at a time, made by
// SystemSensors. Reads may come from any thread.
class LmSensors final : public SensorList {
 public:
  LmSensors();
  ~LmSensors() override;
  LmSensors(const LmSensors&) = delete;
  LmSensors& operator=(const LmSensors&) = delete;

  std::vector<std::string> Names() const override;
  std::string ProcessorSensor() const override;
  double ReadCelsius(const std::string& name) const override;

 private:
  struct Sensor;
  std::vector<Sensor> sensors_;
  std::string initError_;  // why the library could not start; empty when it did
};

// The system's sensors, set up on the first call and shared by every later one.
std::shared_ptr<SensorList> SystemSensors();

}  // namespace vx
