#include "platform/LmSensors.h"

#include "base/Exceptions.h"

#include <sensors/error.h>
#include <sensors/sensors.h>

#include <array>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace vx {

namespace {

// Chips that measure the processor itself, as their drivers name them.
constexpr std::array<std::string_view, 7> kProcessorChips{
    "coretemp", "k10temp", "k8temp", "zenpower", "cpu_thermal", "via_cputemp", "cpu-thermal"};

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }  // NOLINT(cppcoreguidelines-no-malloc)
};
using LibraryText = std::unique_ptr<char, FreeDeleter>;

// Every call into libsensors from a reader thread.
std::mutex& LibraryGuard() {
  static std::mutex guard;
  return guard;
}

std::string ErrorText(int code) {
  return sensors_strerror(code);
}

}  // namespace

struct LmSensors::Sensor {
  std::string Name;                         // "chip/label"
  const sensors_chip_name* Chip = nullptr;  // the library's, valid until sensors_cleanup
  int Input = -1;                           // number of the temperature input subfeature
  bool Processor = false;
};

LmSensors::LmSensors() {
  const std::lock_guard<std::mutex> lock(LibraryGuard());
  // nullptr: the system's sensors3.conf and sensors.d, as the sensors command reads them.
  if (const int error = sensors_init(nullptr); error != 0) {
    initError_ = "Cannot start libsensors: " + ErrorText(error);
    return;
  }
  int chipNumber = 0;
  while (const sensors_chip_name* chip = sensors_get_detected_chips(nullptr, &chipNumber)) {
    std::array<char, 256> chipName{};
    if (sensors_snprintf_chip_name(chipName.data(), chipName.size(), chip) < 0) {
      continue;
    }
    bool processor = false;
    for (const std::string_view known : kProcessorChips) {
      processor = processor || (chip->prefix != nullptr && known == chip->prefix);
    }
    int featureNumber = 0;
    while (const sensors_feature* feature = sensors_get_features(chip, &featureNumber)) {
      if (feature->type != SENSORS_FEATURE_TEMP) {
        continue;
      }
      const sensors_subfeature* input =
          sensors_get_subfeature(chip, feature, SENSORS_SUBFEATURE_TEMP_INPUT);
      const LibraryText label(sensors_get_label(chip, feature));
      if (input == nullptr || label == nullptr) {
        continue;
      }
      sensors_.push_back(
          {std::string(chipName.data()) + "/" + label.get(), chip, input->number, processor});
    }
  }
}

LmSensors::~LmSensors() {
  const std::lock_guard<std::mutex> lock(LibraryGuard());
  if (initError_.empty()) {
    sensors_cleanup();
  }
}

std::vector<std::string> LmSensors::Names() const {
  std::vector<std::string> names;
  names.reserve(sensors_.size());
  for (const Sensor& sensor : sensors_) {
    names.push_back(sensor.Name);
  }
  return names;
}

std::string LmSensors::ProcessorSensor() const {
  for (const Sensor& sensor : sensors_) {
    if (sensor.Processor) {
      return sensor.Name;
    }
  }
  return "";
}

double LmSensors::ReadCelsius(const std::string& name) const {
  if (!initError_.empty()) {
    throw Exception(initError_);
  }
  for (const Sensor& sensor : sensors_) {
    if (sensor.Name == name) {
      double value = 0.0;
      // The library keeps process-wide state and is not made for calls from two threads.
      const std::lock_guard<std::mutex> lock(LibraryGuard());
      if (const int error = sensors_get_value(sensor.Chip, sensor.Input, &value); error != 0) {
        throw Exception("Cannot read sensor " + name + ": " + ErrorText(error));
      }
      return value;
    }
  }
  throw Exception("No sensor " + name);
}

std::shared_ptr<SensorList> SystemSensors() {
  // Kept to the end: the library's state is process-wide, and a reader still holding it at
  // exit cleans it up last.
  static const std::shared_ptr<SensorList> sensors = std::make_shared<LmSensors>();
  return sensors;
}

}  // namespace vx
