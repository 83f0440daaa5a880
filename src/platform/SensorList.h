#pragma once

#include <string>
#include <vector>

namespace vx {

// The machine's temperature sensors, each named "chip/label" as the sensors command prints
// them ("coretemp-isa-0000/Package id 0"). The list is fixed when the object is made.
class SensorList {
 public:
  virtual ~SensorList() = default;

  // Every temperature sensor, in the order found.
  virtual std::vector<std::string> Names() const = 0;
  // The first processor temperature; empty when there is none.
  virtual std::string ProcessorSensor() const = 0;
  // Degrees Celsius, after the user's corrections. Raises Exception when there is no such
  // sensor or it cannot be read. May block in a driver: never on the GUI thread.
  virtual double ReadCelsius(const std::string& name) const = 0;
};

}  // namespace vx
