#include "common/DiscardingPort.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "platform/SerialPort.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

using namespace vx;

// Loading (and applying, which connects every port) and saving a large configuration:
// 50 enabled ports with 8 boards each, on ports that answer RESET and discard the rest.

namespace {

constexpr int kPorts = 50;
constexpr int kBoards = 8;

std::string Bar(int index, const std::string& input, const std::string& props) {
  return "<Bar Index=\"" + std::to_string(index) + "\"><Input>" + input +
         "</Input><Inverted>0</Inverted><Reversed>-1</Reversed><FallOff>-1</FallOff>" + props +
         "</Bar>";
}

std::string LargeSettings() {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vorlixa><AutoUpdate>0</AutoUpdate>"
      "<Ports>";
  for (int p = 0; p < kPorts; ++p) {
    xml += "<Port><Name>/dev/ttyBench" + std::to_string(p) +
           "</Name><Interval>50</Interval><Enabled>-1</Enabled><LEDmin>0</LEDmin>"
           "<LEDmax>255</LEDmax><Controllers>";
    for (int b = 0; b < kBoards; ++b) {
      xml += "<Controller Index=\"" + std::to_string(b) + "\"><BarSize>40</BarSize><Bars>" +
             Bar(0, "KnightRider",
                 "<Prop.Offset>3</Prop.Offset><Prop.Fading_percentage>20</Prop.Fading_percentage>"
                 "<Prop.Moving_step>1.5</Prop.Moving_step>") +
             Bar(1, "CPUUsage",
                 "<Prop.Processor>1</Prop.Processor><Prop.Fade_perc>60</Prop.Fade_perc>") +
             "</Bars></Controller>";
    }
    xml += "</Controllers></Port>";
  }
  return xml + "</Ports></Vorlixa>\n";
}

class BenchFolder {
 public:
  BenchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vorlixa-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
  std::string File() const { return path_ + "/vorlixa.xml"; }

 private:
  std::string path_;
};

TSerialPortFactory Discarding() {
  return [] { return std::make_unique<DiscardingPort>(); };
}

// Reads the file, replaces the previous ports (closing them), and connects every port.
void BM_LoadAndApply(benchmark::State& state) {
  BenchFolder folder;
  std::ofstream(folder.File()) << LargeSettings();
  TPortCfgList ports(Discarding());
  TSettings settings(ports, folder.File());
  for (auto _ : state) {
    settings.LoadSettings();
    benchmark::DoNotOptimize(ports.Count());
  }
  if (ports.Count() != kPorts) {
    state.SkipWithError("the ports did not load");
  }
}
BENCHMARK(BM_LoadAndApply)->Unit(benchmark::kMillisecond);

// One port with a full chain: 409 boards, the most that one frame carries. Loading
// configures the chain once, not once per board. The figure to watch is below 50 ms.
std::string FullChainSettings() {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vorlixa><AutoUpdate>0</AutoUpdate>"
      "<Ports><Port><Name>/dev/ttyBench</Name><Interval>50</Interval><Enabled>-1</Enabled>"
      "<Controllers>";
  for (int b = 0; b < kMaxBoards; ++b) {
    xml += "<Controller Index=\"" + std::to_string(b) + "\"><BarSize>40</BarSize><Bars>" +
           Bar(0, "KnightRider", "<Prop.Offset>3</Prop.Offset>") +
           Bar(1, "CPUUsage", "<Prop.Processor>1</Prop.Processor>") + "</Bars></Controller>";
  }
  return xml + "</Controllers></Port></Ports></Vorlixa>\n";
}

void BM_LoadFullChain(benchmark::State& state) {
  BenchFolder folder;
  std::ofstream(folder.File()) << FullChainSettings();
  TPortCfgList ports(Discarding());
  TSettings settings(ports, folder.File());
  for (auto _ : state) {
    settings.LoadSettings();
    benchmark::DoNotOptimize(ports.Count());
  }
  if (ports.Count() != 1 || ports.Items(0).Controllers().Count() != kMaxBoards) {
    state.SkipWithError("the chain did not load");
  }
}
BENCHMARK(BM_LoadFullChain)->Unit(benchmark::kMillisecond);

// Loads the existing file, writes the ports into it and replaces it on disk (with fsync).
void BM_Save(benchmark::State& state) {
  BenchFolder folder;
  std::ofstream(folder.File()) << LargeSettings();
  TPortCfgList ports(Discarding());
  TSettings settings(ports, folder.File());
  settings.LoadSettings();
  for (auto _ : state) {
    settings.SaveSettings();
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(folder.File()));
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  QCoreApplication app(argc, argv);  // the links' timers need an event dispatcher
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
